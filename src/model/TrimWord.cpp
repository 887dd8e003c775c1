#include "model/TrimWord.h"

#include <cstring>

namespace quarry {
namespace {

// A blank byte at a word's end: not NUL and below 0x21 when read as a signed 8-bit value, which
// takes in 0x01-0x20 and every byte from 0x80 to 0xFF.
bool IsBlankByte(char c) { return c != '\0' && static_cast<signed char>(c) < 0x21; }

bool IsOpeningBracket(char c) { return c == '(' || c == '[' || c == '{'; }

bool IsClosingMark(char c) {
  switch (c) {
    case ')':
    case '*':
    case ',':
    case '.':
    case ':':
    case ';':
    case ']':
    case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string_view TrimWord(std::string_view word) {
  const char* s = word.data();
  std::size_t len = word.size() < kWordBufferSize ? word.size() : kWordBufferSize - 1;

  // Trailing blanks; the first byte is left to the leading step.
  while (len > 1 && IsBlankByte(s[len - 1])) --len;

  // Leading blanks.
  while (len > 0 && IsBlankByte(*s)) {
    ++s;
    --len;
  }

  // One opening bracket at most.
  if (len > 0 && IsOpeningBracket(*s)) {
    ++s;
    --len;
  }

  while (len > 0 && IsClosingMark(s[len - 1])) --len;

  if (len == 1) len = 0;
  return {s, len};
}

char* TrimWord(const char* word, char* work) {
  // Copy at most 511 bytes and the NUL, so the work buffer is never overrun.
  std::size_t len = 0;
  while (len < kWordBufferSize - 1 && word[len] != '\0') ++len;
  std::memcpy(work, word, len);
  const std::string_view trimmed = TrimWord(std::string_view(work, len));
  char* s = work + (trimmed.data() - work);
  s[trimmed.size()] = '\0';
  return s;
}

}  // namespace quarry
