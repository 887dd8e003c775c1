// What bytes 0x80-0xFF are when they belong to UTF-8 text: the questions TrimWord asks about a
// word's end bytes, and where text is cut at white space, answered from the Unicode character
// data of utf8proc.
//
// A well-formed sequence is shortest-form UTF-8 of a code point up to U+10FFFF that is not a
// surrogate. A word character is a code point of the general categories L (letter), M (mark)
// or N (number). See doc/index-format.md, "Word normalisation".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quarry {

// Length in bytes (1 to 4) of the well-formed sequence that begins at text[0] and lies within
// the first size bytes, or 0 when there is none (size 0, a stray or cut sequence).
std::size_t Utf8SequenceLength(const char* text, std::size_t size);

// True when the first size bytes of text begin with a well-formed sequence encoding a word
// character.
bool StartsWithWordCharacter(const char* text, std::size_t size);

// True when the last bytes of text[0, size) complete a well-formed sequence encoding a word
// character. Looks back at most 4 bytes and never before text.
bool EndsWithWordCharacter(const char* text, std::size_t size);

// True when codePoint, beyond ASCII, is white space: U+0085 and the space, line and paragraph
// separators (U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
bool IsUnicodeSpace(std::int32_t codePoint);

// Length in bytes of the white space character that begins at text[0] within the first size
// bytes: 1 for ASCII white space (blank, tab, LF, VT, FF, CR), 2 or 3 for the well-formed
// UTF-8 of a Unicode space (IsUnicodeSpace), 0 otherwise. A lone byte 0xA0 (a no-break space in
// an 8-bit code page) is not white space.
std::size_t WhiteSpaceLength(const char* text, std::size_t size);

// The most bytes EncodeUtf8 writes.
inline constexpr std::size_t kMaxUtf8Length = 4;

// Writes the UTF-8 of codePoint (at most U+10FFFF, not a surrogate) at out and returns its
// length (1 to kMaxUtf8Length).
std::size_t EncodeUtf8(std::int32_t codePoint, char* out);

// The pieces of text between runs of white space (WhiteSpaceLength), in order, none empty:
// how a search query is cut into words.
std::vector<std::string_view> CutAtWhiteSpace(std::string_view text);

}  // namespace quarry
