// What a word's end bytes are when they belong to UTF-8 text: the questions TrimWord asks about
// bytes 0x80-0xFF, answered from the Unicode character data of utf8proc.
//
// A well-formed sequence is shortest-form UTF-8 of a code point up to U+10FFFF that is not a
// surrogate. A word character is a code point of the general categories L (letter), M (mark)
// or N (number). See doc/index-format.md, "Word normalisation".
#pragma once

#include <cstddef>

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

}  // namespace quarry
