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

char* TrimWord(const char* word, char* work) {
  // Copy at most 511 bytes and the NUL, so the work buffer is never overrun.
  std::size_t len = 0;
  while (len < kWordBufferSize - 1 && word[len] != '\0') ++len;
  std::memcpy(work, word, len);
  work[len] = '\0';

  // Trailing blanks; the first byte is left to the leading step.
  while (len > 1 && IsBlankByte(work[len - 1])) work[--len] = '\0';

  // Leading blanks; the terminating NUL stops this.
  char* s = work;
  while (IsBlankByte(*s)) {
    ++s;
    --len;
  }

  // One opening bracket at most.
  if (IsOpeningBracket(*s)) {
    ++s;
    --len;
  }

  while (len > 0 && IsClosingMark(s[len - 1])) s[--len] = '\0';

  if (len == 1) s[0] = '\0';
  return s;
}

}  // namespace quarry
