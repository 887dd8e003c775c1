// ASCII case folding and the page order, shared by the core, the window and the command line.
//
// Quarry treats every word, title and path as bytes with no locale: the only case folding is
// ASCII (A-Z become a-z; every other byte, 0x80-0xFF included, stays as it is).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarry {

// Returns c with A-Z folded to a-z; every other byte unchanged.
constexpr char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Returns c with a-z raised to A-Z; every other byte unchanged.
constexpr char ToUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Folds A-Z to a-z in place.
inline void LowerAsciiInPlace(std::string& s) {
  for (char& c : s) c = ToLowerAscii(c);
}

// Returns a copy of s with A-Z folded to a-z.
inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  LowerAsciiInPlace(out);
  return out;
}

// True when a and b are equal once A-Z are folded to a-z in both.
inline bool EqualsFoldingCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

// The order of both list boxes and of the command line's page list: bytes compared after folding
// A-Z to a-z (as strcasecmp does in the C locale, so '_' sorts before 'a'), as unsigned values;
// texts equal that way are ordered by plain unsigned byte comparison. Returns <0, 0 or >0.
inline int ComparePageOrder(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(ToLowerAscii(a[i]));
    const auto y = static_cast<unsigned char>(ToLowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// Strict weak ordering for ComparePageOrder, for std::sort and sorted containers.
struct PageOrderLess {
  bool operator()(std::string_view a, std::string_view b) const {
    return ComparePageOrder(a, b) < 0;
  }
};

}  // namespace quarry
