#include "model/TrimWord.h"

#include <cstring>

#include "model/Utf8Class.h"

namespace quarry {
namespace {

// 0x21-0x7F: never a blank. Most words begin and end with such a byte, so one range check
// settles them; only bytes 0x80-0xFF go on to the UTF-8 check (Utf8Class.h).
bool IsAsciiNonBlank(unsigned char b) { return b - 0x21U < 0x5FU; }

bool IsHighByte(unsigned char b) { return b >= 0x80; }

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

std::string_view TrimWord(std::string_view word, bool dropOneCharacter) {
  const char* const start = word.data();
  std::size_t len = word.size() < kWordBufferSize ? word.size() : kWordBufferSize - 1;

  // Trailing blanks; the first byte is left to the leading step. A byte 0x80-0xFF is a blank
  // unless it ends a UTF-8 letter, mark or digit.
  while (len > 1) {
    const auto b = static_cast<unsigned char>(start[len - 1]);
    if (IsAsciiNonBlank(b) || (IsHighByte(b) && EndsWithWordCharacter(start, len))) break;
    --len;
  }

  // Leading blanks, likewise; the end of the text (len 0) stops this.
  const char* s = start;
  while (len > 0) {
    const auto b = static_cast<unsigned char>(*s);
    if (IsAsciiNonBlank(b) || (IsHighByte(b) && StartsWithWordCharacter(s, len))) break;
    ++s;
    --len;
  }

  // One opening bracket at most.
  if (len > 0 && IsOpeningBracket(*s)) {
    ++s;
    --len;
  }

  // Closing marks, and the non-ASCII blanks among them; ASCII blanks stay.
  while (len > 0) {
    const char c = s[len - 1];
    if (!IsClosingMark(c) &&
        !(IsHighByte(static_cast<unsigned char>(c)) && !EndsWithWordCharacter(s, len))) {
      break;
    }
    --len;
  }

  // One character left: one byte, or one well-formed UTF-8 sequence.
  if (dropOneCharacter &&
      (len == 1 || (len > 0 && len <= 4 && IsHighByte(static_cast<unsigned char>(s[0])) &&
                    Utf8SequenceLength(s, len) == len))) {
    len = 0;
  }
  return {s, len};
}

char* TrimWord(const char* word, char* work, bool dropOneCharacter) {
  // Copy at most 511 bytes and the NUL, so the work buffer is never overrun.
  std::size_t len = 0;
  while (len < kWordBufferSize - 1 && word[len] != '\0') ++len;
  std::memcpy(work, word, len);
  const std::string_view trimmed = TrimWord(std::string_view(work, len), dropOneCharacter);
  char* s = work + (trimmed.data() - work);
  s[trimmed.size()] = '\0';
  return s;
}

}  // namespace quarry
