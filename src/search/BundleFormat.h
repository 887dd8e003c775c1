// The small building blocks of the search bundle's pieces: varints, the content hash that names a
// piece, and the names and marks of its files. The layout is documented in
// doc/search-bundle.md; web/ reads the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// The manifest, beside the page; the folder of the pieces, and the mark file in it.
inline constexpr char kBundleManifestName[] = "quarry-search.json";
inline constexpr char kBundleFolderName[] = "quarry-bundle";
inline constexpr char kBundleMarkName[] = "QUARRY-BUNDLE";
inline constexpr std::string_view kBundleMarkText = "quarry web: search bundle folder\n";
// The previous build's manifest, kept in the folder so that the next build knows which pieces
// it may delete.
inline constexpr char kBundlePreviousName[] = "previous-manifest.json";

inline constexpr int kBundleFormat = 1;
inline constexpr int kManifestVersion = 2;

// The kinds of piece, as the first letter of a piece's name.
enum class PieceKind : char {
  kKeys = 's',
  kPositions = 'p',
  kPrefixes = 'x',
  kDirectory = 'd',
  kFragment = 'f',
};

// The magic that begins a binary piece's content.
inline constexpr std::string_view kKeysMagic = "QSBs";
inline constexpr std::string_view kPositionsMagic = "QSBp";
inline constexpr std::string_view kPrefixesMagic = "QSBx";

// Pages per directory piece: a result on screen costs its piece, so pieces are small.
inline constexpr std::size_t kDirectoryPages = 64;

// The content hash of bytes: XXH32 with seed 0, then with seed 1, as 16 lower-case hex digits.
std::string ContentHash(std::string_view bytes);

// The file name of a piece: "K-HASH.gz".
std::string PieceName(PieceKind kind, std::string_view hash);

// Appends value as an unsigned LEB128 varint.
inline void PutVarint(std::string& out, std::uint64_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
    return;
  }
  char bytes[10];
  std::size_t n = 0;
  while (value >= 0x80) {
    bytes[n++] = static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  bytes[n++] = static_cast<char>(value);
  out.append(bytes, n);
}

// Appends a varint length and the bytes.
inline void PutBytes(std::string& out, std::string_view bytes) {
  PutVarint(out, bytes.size());
  out.append(bytes);
}

// Reads the pieces' varints and byte strings from a buffer, never past its end. A read past the
// end, or a varint longer than 10 bytes, sets Failed() and gives 0 or an empty string.
class PieceReader {
 public:
  explicit PieceReader(std::string_view bytes) : bytes_(bytes) {}

  std::uint64_t Varint() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ >= bytes_.size()) break;
      const auto b = static_cast<unsigned char>(bytes_[at_++]);
      value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return value;
    }
    failed_ = true;
    at_ = bytes_.size();
    return 0;
  }
  std::string_view Bytes() { return Take(Varint()); }
  std::string_view Take(std::uint64_t count) {
    if (count > bytes_.size() - at_) {
      failed_ = true;
      at_ = bytes_.size();
      return {};
    }
    const std::string_view taken = bytes_.substr(at_, count);
    at_ += count;
    return taken;
  }
  bool AtEnd() const { return at_ >= bytes_.size(); }
  bool Failed() const { return failed_; }
  std::size_t Position() const { return at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

// Keys as the manifest writes them: every byte outside 0x21-0x7E, and '%', as %XX.
std::string EncodeManifestKey(std::string_view key);
// The bytes of a key so written, or none when text is not such an encoding.
std::optional<std::string> DecodeManifestKey(std::string_view text);

// Where keys are: the shard of key is the last one whose first key is at most key (first[0] is
// ""); the keys that begin with prefix lie in the shards from ShardOf(prefix) to
// LastShardOfPrefix(prefix), the last one whose first key is at most prefix or begins with it.
// Bytes compare as unsigned values. REQUIRES: first is sorted and first[0] is "".
std::size_t ShardOf(const std::vector<std::string>& first, std::string_view key);
std::size_t LastShardOfPrefix(const std::vector<std::string>& first, std::string_view prefix);
// The smallest byte string above every string that begins with prefix, or none when there is
// none (prefix is empty or all 0xFF bytes).
std::optional<std::string> PrefixEnd(std::string_view prefix);

// gzip of bytes (one member); Decompressed is its inverse and gives none for data that is not
// gzip or is damaged. level: zlib's 1 (fastest) to 9.
std::string Compressed(std::string_view bytes, int level);
std::optional<std::string> Decompressed(std::string_view gzip, std::size_t limit);

}  // namespace quarry
