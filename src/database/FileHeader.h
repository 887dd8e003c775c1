// The 32-byte header that begins each of the three database files.
// The byte layout of the files is documented in doc/index-format.md.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarry {

// The three file names; they carry no directory part.
inline constexpr char kWordFileName[] = "qrywDb.dat";
inline constexpr char kPageFileName[] = "qryfDb.dat";
inline constexpr char kTitleFileName[] = "qryiDb.dat";

struct FileHeader {
  static constexpr std::size_t kSize = 32;

  // Offset 0: the magic, "QR01" as Quarry writes it. Read back as it stands, never checked.
  std::array<unsigned char, 4> magic{'Q', 'R', '0', '1'};
  // Offset 4: the number of records after the header.
  std::int32_t recordCount = 0;
  // Offset 8: the file's length as written, 32 plus all records; 0 in a fresh header.
  std::int32_t totalSize = 0;
  // Offsets 12-31: zero as Quarry writes them; read back as they stand, never used.
  std::array<unsigned char, 20> reserved{};

  // The fresh header: "QR01" and 28 zero bytes.
  static FileHeader Fresh() { return FileHeader{}; }

  // The header's 32 bytes, integers little-endian.
  std::array<unsigned char, kSize> Encode() const;
  // The header held in 32 bytes. REQUIRES: bytes holds kSize bytes.
  static FileHeader Decode(const unsigned char* bytes);

  bool operator==(const FileHeader&) const = default;
};

}  // namespace quarry
