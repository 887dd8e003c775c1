// Cleans up one word before the word list looks it up.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarry {

// Size of the working buffer that TrimWord needs: a word of at most 511 bytes and its NUL.
inline constexpr std::size_t kWordBufferSize = 512;

// Trims word, in this order: strips trailing, then leading blank bytes (non-NUL bytes that are
// below 0x21 read as signed 8-bit: 0x01-0x20 and 0x80-0xFF); drops one opening bracket ( [ { at
// the start; strips the closing marks ) * , . : ; ] } from the end; empties a word left with one
// byte. Returns the trimmed part of word, possibly empty; nothing is copied. A word longer than
// 511 bytes is cut to its first 511 bytes first. REQUIRES: word holds no NUL byte.
std::string_view TrimWord(std::string_view word);

// As above, for a NUL-terminated word: copies it into work and trims it there. Returns a pointer
// into work to the trimmed, NUL-terminated word. REQUIRES: work holds kWordBufferSize bytes.
char* TrimWord(const char* word, char* work);

}  // namespace quarry
