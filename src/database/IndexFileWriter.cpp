#include "database/IndexFileWriter.h"

#include <cstring>
#include <limits>

#include "database/LittleEndian.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"
#include "model/WordEntry.h"

namespace quarry {
namespace {

// Records gather in memory and go to the file in pieces of about this size.
constexpr std::size_t kFlushSize = std::size_t{1} << 20;
constexpr std::uint64_t kLargestFile = std::numeric_limits<std::int32_t>::max();

std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace

IndexFileWriter::IndexFileWriter(DatabaseFile& file) : file_(file), header_(FileHeader::Fresh()) {
  buffer_.reserve(kFlushSize);
}

unsigned char* IndexFileWriter::Extend(std::size_t size) {
  const std::uint64_t end = position_ + buffer_.size() + size;
  if (end > kLargestFile) {
    throw FileError(file_.Path(), "the index would pass the file format's limit of " +
                                      std::to_string(kLargestFile) + " bytes");
  }
  const std::size_t start = buffer_.size();
  buffer_.resize(start + size);  // new bytes are zero
  ++recordCount_;
  return buffer_.data() + start;
}

void IndexFileWriter::AddText(std::string_view text) {
  const std::string_view bytes = UpToNul(text);
  unsigned char* record = Extend(bytes.size() + 1);
  std::memcpy(record, bytes.data(), bytes.size());
  if (buffer_.size() >= kFlushSize) Flush();
}

void IndexFileWriter::AddWord(const WordEntry& entry) {
  const std::string_view text = UpToNul(entry.GetText());
  const auto& pages = entry.GetPages();
  // Record length L = t + 1 + 4 + 4n; the record takes L + 4 bytes.
  const std::uint64_t length = text.size() + 5 + 4 * static_cast<std::uint64_t>(pages.size());
  if (length > kLargestFile) {
    throw FileError(file_.Path(), "the word record of \"" + std::string(text) +
                                      "\" passes the file format's limit");
  }
  unsigned char* record = Extend(static_cast<std::size_t>(length) + 4);
  EncodeInt32(record, static_cast<std::int32_t>(length));
  std::memcpy(record + 4, text.data(), text.size());
  unsigned char* p = record + 4 + text.size() + 1;
  EncodeInt32(p, static_cast<std::int32_t>(pages.size()));
  for (const std::int32_t page : pages) {
    p += 4;
    EncodeInt32(p, page);
  }
  if (buffer_.size() >= kFlushSize) Flush();
}

void IndexFileWriter::Flush() {
  if (buffer_.empty()) return;
  file_.Seek(position_);
  file_.Write(buffer_.data(), buffer_.size());
  position_ += buffer_.size();
  buffer_.clear();
}

FileHeader IndexFileWriter::Finish() {
  Flush();
  if (recordCount_ > kLargestFile) {
    throw FileError(file_.Path(), "too many records for the file format");
  }
  header_.recordCount = static_cast<std::int32_t>(recordCount_);
  header_.totalSize = static_cast<std::int32_t>(position_);
  const auto bytes = header_.Encode();
  file_.Seek(0);
  file_.Write(bytes.data(), bytes.size());
  return header_;
}

}  // namespace quarry
