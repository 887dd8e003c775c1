// Cleans up one word before the word list looks it up.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarry {

// Size of the working buffer that TrimWord needs: a word of at most 511 bytes and its NUL.
inline constexpr std::size_t kWordBufferSize = 512;

// Trims word, in this order: strips trailing, then leading blank
// bytes; drops one opening bracket ( [ { at the start; strips the closing marks ) * , . : ; ] }
// from the end together with the non-ASCII blanks among them; empties a word left with one
// character (one byte, or one well-formed UTF-8 sequence). Blank bytes are 0x01-0x20 and the
// bytes 0x80-0xFF that are not part of a well-formed UTF-8 letter, mark or digit (Utf8Class.h);
// a word with ASCII ends is trimmed without looking at UTF-8. Returns the trimmed part of word,
// possibly empty; nothing is copied. A word longer than 511 bytes is cut to its first 511 bytes
// first. The rule is documented in doc/index-format.md ("Word normalisation").
// With dropOneCharacter false, a word left with one character stays (for a search prefix).
// REQUIRES: word holds no NUL byte.
std::string_view TrimWord(std::string_view word, bool dropOneCharacter = true);

// As above, for a NUL-terminated word: copies it into work and trims it there. Returns a pointer
// into work to the trimmed, possibly empty, NUL-terminated word.
// REQUIRES: word is NUL-terminated; work holds kWordBufferSize bytes.
char* TrimWord(const char* word, char* work, bool dropOneCharacter = true);

}  // namespace quarry
