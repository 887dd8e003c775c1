#include "search/BundleFormat.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quarry {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void PutHex32(std::string& out, std::uint32_t value) {
  for (int shift = 28; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 15];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ContentHash(std::string_view bytes) {
  std::string hash;
  hash.reserve(16);
  PutHex32(hash, XXH32(bytes.data(), bytes.size(), 0));
  PutHex32(hash, XXH32(bytes.data(), bytes.size(), 1));
  return hash;
}

std::string PieceName(PieceKind kind, std::string_view hash) {
  std::string name(1, static_cast<char>(kind));
  name += '-';
  name += hash;
  name += ".gz";
  return name;
}

std::string EncodeManifestKey(std::string_view key) {
  static constexpr char kUpper[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(key.size());
  for (const char c : key) {
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7F && c != '%') {
      text += c;
    } else {
      text += '%';
      text += kUpper[b >> 4];
      text += kUpper[b & 15];
    }
  }
  return text;
}

std::optional<std::string> DecodeManifestKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      key += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    key += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return key;
}

std::optional<std::string> PrefixEnd(std::string_view prefix) {
  std::string end(prefix);
  while (!end.empty()) {
    if (static_cast<unsigned char>(end.back()) != 0xFF) {
      end.back() = static_cast<char>(static_cast<unsigned char>(end.back()) + 1);
      return end;
    }
    end.pop_back();
  }
  return std::nullopt;
}

std::size_t ShardOf(const std::vector<std::string>& first, std::string_view key) {
  const auto it = std::upper_bound(first.begin(), first.end(), key,
                                   [](std::string_view k, const std::string& f) { return k < f; });
  return it == first.begin() ? 0 : static_cast<std::size_t>(it - first.begin()) - 1;
}

std::size_t LastShardOfPrefix(const std::vector<std::string>& first, std::string_view prefix) {
  const std::optional<std::string> end = PrefixEnd(prefix);
  if (!end) return first.empty() ? 0 : first.size() - 1;
  const auto it =
      std::lower_bound(first.begin(), first.end(), *end,
                       [](const std::string& f, const std::string& e) { return f < e; });
  return it == first.begin() ? 0 : static_cast<std::size_t>(it - first.begin()) - 1;
}

std::string Compressed(std::string_view bytes, int level) {
  z_stream stream{};
  // A window no larger than the input (at least 512 bytes), and tables to match: the same
  // output as the full window, without clearing 256 kB of tables for a small piece. 16: a gzip
  // wrapper.
  int windowBits = 9;
  while (windowBits < 15 && (std::size_t{1} << windowBits) < bytes.size()) ++windowBits;
  const int memoryLevel = std::clamp(windowBits - 6, 1, 8);
  if (deflateInit2(&stream, level, Z_DEFLATED, windowBits + 16, memoryLevel, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::bad_alloc();
  }
  // The same bytes on every system: the header names no system (zlib would put its own).
  gz_header header{};
  header.os = 255;
  deflateSetHeader(&stream, &header);
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::bad_alloc();
  out.shrink_to_fit();  // the bound is about the input's size: pieces are kept a while
  return out;
}

std::optional<std::string> Decompressed(std::string_view gzip, std::size_t limit) {
  if (gzip.size() < 2 || static_cast<unsigned char>(gzip[0]) != 0x1F ||
      static_cast<unsigned char>(gzip[1]) != 0x8B || gzip.size() > UINT_MAX) {
    return std::nullopt;
  }
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) throw std::bad_alloc();
  std::string out;
  char buffer[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) break;
    const std::size_t got = sizeof buffer - stream.avail_out;
    if (out.size() + got > limit) {
      status = Z_MEM_ERROR;
      break;
    }
    out.append(buffer, got);
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return out;
}

}  // namespace quarry
