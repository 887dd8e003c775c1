#include "model/Utf8Class.h"

#include <utf8proc.h>

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

}  // namespace

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
