// How the word list and a page's word set find a word: 64 bits of XXH3 over the word's bytes,
// then a comparison of the bytes where the hashes agree. Both must use this one hash, since a
// page hands its words' hashes on to the word list.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quarry {

inline std::uint64_t HashWord(std::string_view word) {
  return XXH3_64bits(word.data(), word.size());
}

// True when a and b hold the same bytes. Compares short words (most are) in a few loads, without
// reading past either.
inline bool SameWord(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* x = a.data();
  const char* y = b.data();
  if (n >= 8) {  // 8 bytes at a time, the last 8 overlapping what came before
    std::uint64_t u, v;
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&u, x + i, 8);
      std::memcpy(&v, y + i, 8);
      if (u != v) return false;
    }
    std::memcpy(&u, x + n - 8, 8);
    std::memcpy(&v, y + n - 8, 8);
    return u == v;
  }
  if (n >= 4) {
    std::uint32_t u0, u1, v0, v1;
    std::memcpy(&u0, x, 4);
    std::memcpy(&v0, y, 4);
    std::memcpy(&u1, x + n - 4, 4);
    std::memcpy(&v1, y + n - 4, 4);
    return ((u0 ^ v0) | (u1 ^ v1)) == 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return false;
  }
  return true;
}

}  // namespace quarry
