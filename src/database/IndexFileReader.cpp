#include "database/IndexFileReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "database/LittleEndian.h"
#include "io/DatabaseFile.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {
namespace {

// Reads up to wanted bytes from offset 32, never asking for more than the file holds.
std::vector<unsigned char> ReadPayload(DatabaseFile& file, std::uint64_t wanted) {
  const std::uint64_t length = file.Length();
  const std::uint64_t available = length > FileHeader::kSize ? length - FileHeader::kSize : 0;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(std::min(wanted, available)));
  file.Seek(FileHeader::kSize);
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

// Builds the entry of one record body of length bytes, or returns null when the body is
// too short for text, NUL and page count, or names no page.
std::unique_ptr<WordEntry> DecodeWord(const unsigned char* body, std::size_t length) {
  const void* nul = std::memchr(body, 0, length);
  if (nul == nullptr) return nullptr;
  const auto textLength = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - body);
  if (length - textLength - 1 < 4) return nullptr;
  const std::int32_t pageCount = DecodeInt32(body + textLength + 1);
  if (pageCount <= 0) return nullptr;
  const std::size_t fitting = (length - textLength - 5) / 4;
  const std::size_t count = std::min(static_cast<std::size_t>(pageCount), fitting);
  if (count == 0) return nullptr;
  const unsigned char* pages = body + textLength + 5;
  const std::string_view text(reinterpret_cast<const char*>(body), textLength);
  auto entry = std::make_unique<WordEntry>(text, DecodeInt32(pages));
  for (std::size_t i = 1; i < count; ++i) entry->AddPage(DecodeInt32(pages + 4 * i));
  return entry;
}

}  // namespace

void IndexFileReader::ReadTexts(const FileHeader& header, TextList& list) {
  list.Clear();
  if (header.recordCount <= 0 || header.totalSize < static_cast<std::int32_t>(FileHeader::kSize)) {
    return;
  }
  const std::vector<unsigned char> payload =
      ReadPayload(file_, static_cast<std::uint64_t>(header.totalSize) - FileHeader::kSize);
  const std::string_view bytes(reinterpret_cast<const char*>(payload.data()), payload.size());
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t nul = bytes.find('\0', position);
    if (nul == std::string_view::npos) {
      list.Add(bytes.substr(position));
      break;
    }
    list.Add(bytes.substr(position, nul - position));
    position = nul + 1;
  }
}

void IndexFileReader::ReadWords(const FileHeader& header, WordList& list) {
  list.Clear();
  if (header.recordCount <= 0) return;
  // The whole rest of the file is read at once: one read instead of two per record, and the
  // buffer is bounded by the file's length, not by any length the file claims.
  const std::vector<unsigned char> records = ReadPayload(file_, UINT64_MAX);
  std::size_t position = 0;
  for (std::int32_t i = 0; i < header.recordCount; ++i) {
    if (records.size() - position < 4) break;
    // Read unsigned, a negative length is one beyond any file and ends the reading too.
    const auto length = static_cast<std::uint32_t>(DecodeInt32(records.data() + position));
    if (records.size() - position - 4 < length) break;
    const unsigned char* body = records.data() + position + 4;
    position += 4 + static_cast<std::size_t>(length);
    if (auto entry = DecodeWord(body, length)) list.Append(std::move(entry));
  }
}

}  // namespace quarry
