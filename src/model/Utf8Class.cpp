#include "model/Utf8Class.h"

#include <utf8proc.h>

#include <cstdint>

namespace quarry {
namespace {

constexpr std::size_t kMaxSequence = 4;

bool IsContinuationByte(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes the sequence at text[0, size); returns its length and sets cp, or 0.
std::size_t Decode(const char* text, std::size_t size, utf8proc_int32_t& cp) {
  if (size == 0) return 0;
  const std::size_t limit = size < kMaxSequence ? size : kMaxSequence;
  const utf8proc_ssize_t n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text),
                                              static_cast<utf8proc_ssize_t>(limit), &cp);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool IsWordCategory(utf8proc_int32_t cp) {
  const utf8proc_category_t category = utf8proc_category(cp);
  return category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_NO;
}

bool IsAsciiWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool IsUnicodeSpace(std::int32_t codePoint) {
  if (codePoint < 0x80) return false;
  // Unicode's White_Space beyond ASCII: the separators (Zs, Zl, Zp) and NEXT LINE, a control.
  const utf8proc_category_t category = utf8proc_category(codePoint);
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP || codePoint == 0x85;
}

namespace {

// The UTF-8 of every Unicode space, for a quick look-up: bit (last byte & 0x3F) of the mask of
// the bytes before it. All of them lie below U+10000 (Utf8ClassTest checks every code point),
// so two and three bytes long.
struct SpaceEncodings {
  std::uint64_t twoBytes[32] = {};         // by first byte - 0xC0
  std::uint64_t threeBytes[16 * 64] = {};  // by (first byte - 0xE0) * 64 + (second byte & 0x3F)

  SpaceEncodings() {
    for (utf8proc_int32_t cp = 0x80; cp < 0x10000; ++cp) {
      if (!IsUnicodeSpace(cp)) continue;
      utf8proc_uint8_t b[4];
      const utf8proc_ssize_t n = utf8proc_encode_char(cp, b);
      const std::uint64_t bit = std::uint64_t{1} << (b[n - 1] & 0x3F);
      if (n == 2) twoBytes[b[0] - 0xC0] |= bit;
      if (n == 3) threeBytes[(b[0] - 0xE0) * 64 + (b[1] & 0x3F)] |= bit;
    }
  }
};

const SpaceEncodings& Spaces() {
  static const SpaceEncodings spaces;
  return spaces;
}

}  // namespace

std::size_t WhiteSpaceLength(const char* text, std::size_t size) {
  if (size == 0) return 0;
  const auto first = static_cast<unsigned char>(text[0]);
  if (first < 0x80) return IsAsciiWhiteSpace(text[0]) ? 1 : 0;
  // Only well-formed sequences were encoded: overlong forms and surrogates find no bit.
  if (first < 0xC0 || first >= 0xF0 || size < 2) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (!IsContinuationByte(second)) return 0;
  const SpaceEncodings& spaces = Spaces();
  if (first < 0xE0) return (spaces.twoBytes[first - 0xC0] >> (second & 0x3F)) & 1 ? 2 : 0;
  if (size < 3 || !IsContinuationByte(static_cast<unsigned char>(text[2]))) return 0;
  const std::uint64_t mask = spaces.threeBytes[(first - 0xE0) * 64 + (second & 0x3F)];
  return (mask >> (static_cast<unsigned char>(text[2]) & 0x3F)) & 1 ? 3 : 0;
}

std::size_t EncodeUtf8(std::int32_t codePoint, char* out) {
  return static_cast<std::size_t>(
      utf8proc_encode_char(codePoint, reinterpret_cast<utf8proc_uint8_t*>(out)));
}

std::vector<std::string_view> CutAtWhiteSpace(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = WhiteSpaceLength(text.data() + at, text.size() - at);
    if (space == 0) {
      ++at;
      continue;
    }
    if (at > start) pieces.push_back(text.substr(start, at - start));
    at += space;
    start = at;
  }
  if (at > start) pieces.push_back(text.substr(start, at - start));
  return pieces;
}

std::size_t Utf8SequenceLength(const char* text, std::size_t size) {
  utf8proc_int32_t cp = 0;
  return Decode(text, size, cp);
}

bool StartsWithWordCharacter(const char* text, std::size_t size) {
  utf8proc_int32_t cp = 0;
  return Decode(text, size, cp) > 0 && IsWordCategory(cp);
}

bool EndsWithWordCharacter(const char* text, std::size_t size) {
  // Step back over continuation bytes to the byte that should begin the last sequence.
  std::size_t back = 1;
  while (back <= size && back <= kMaxSequence) {
    const auto b = static_cast<unsigned char>(text[size - back]);
    if (!IsContinuationByte(b)) {
      utf8proc_int32_t cp = 0;
      return Decode(text + (size - back), back, cp) == back && IsWordCategory(cp);
    }
    ++back;
  }
  return false;
}

}  // namespace quarry
