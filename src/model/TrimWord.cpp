#include "model/TrimWord.h"

#include <cstring>

#include "model/Utf8Class.h"

namespace quarry {
namespace {

// 0x01-0x20: always a blank at a word's end.
bool IsAsciiBlank(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - 1U < 0x20U;
}

// 0x80-0xFF: a blank at a word's end unless it belongs to a UTF-8 letter, mark or digit, which
// only the UTF-8 check (Utf8Class.h) can tell; ASCII ends never reach it.
bool IsHighByte(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// The last byte of text[0, len) is a blank.
bool EndsWithBlank(const char* text, std::size_t len) {
  const char c = text[len - 1];
  return IsAsciiBlank(c) || (IsHighByte(c) && !EndsWithWordCharacter(text, len));
}

// The first byte of text[0, len) is a blank.
bool StartsWithBlank(const char* text, std::size_t len) {
  const char c = text[0];
  return IsAsciiBlank(c) || (IsHighByte(c) && !StartsWithWordCharacter(text, len));
}

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
  while (len > 1 && EndsWithBlank(s, len)) --len;

  // Leading blanks.
  while (len > 0 && StartsWithBlank(s, len)) {
    ++s;
    --len;
  }

  // One opening bracket at most.
  if (len > 0 && IsOpeningBracket(*s)) {
    ++s;
    --len;
  }

  // Closing marks, then the non-ASCII blanks they uncovered (ASCII ones stay).
  if (len > 0 && IsClosingMark(s[len - 1])) {
    while (len > 0 && IsClosingMark(s[len - 1])) --len;
    while (len > 0 && IsHighByte(s[len - 1]) && EndsWithBlank(s, len)) --len;
  }

  // One character left: one byte, or one well-formed UTF-8 sequence.
  if (len == 1 || (len <= 4 && len > 0 && IsHighByte(s[0]) && Utf8SequenceLength(s, len) == len)) {
    len = 0;
  }
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
