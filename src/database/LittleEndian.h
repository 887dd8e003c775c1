// The two helpers through which every 32-bit integer of the database files passes.
#pragma once

#include <cstdint>

namespace quarry {

// Writes v at p as 4 bytes, least significant first (two's complement for negative values).
inline void EncodeInt32(unsigned char* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
  p[3] = static_cast<unsigned char>(u >> 24);
}

// Reads the 4 bytes at p, least significant first, as a two's complement integer.
inline std::int32_t DecodeInt32(const unsigned char* p) {
  const std::uint32_t u =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(u);
}

}  // namespace quarry
