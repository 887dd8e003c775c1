// Cleans up one word before the word list looks it up.
#pragma once

#include <cstddef>

namespace quarry {

// Size of the working buffer that TrimWord needs: a word of at most 511 bytes and its NUL.
inline constexpr std::size_t kWordBufferSize = 512;

// Copies word into work and trims it there, in this order: strips trailing, then leading blank
// bytes (non-NUL bytes that are below 0x21 read as signed 8-bit: 0x01-0x20 and 0x80-0xFF); drops
// one opening bracket ( [ { at the start; strips the closing marks ) * , . : ; ] } from the end;
// empties a word left with one byte. Returns a pointer into work to the trimmed, possibly empty,
// NUL-terminated word. A word longer than 511 bytes is cut to its first 511 bytes first.
// REQUIRES: word is NUL-terminated; work holds kWordBufferSize bytes.
char* TrimWord(const char* word, char* work);

}  // namespace quarry
