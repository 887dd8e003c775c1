#include "database/IndexFileReader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "database/LittleEndian.h"
#include "io/DatabaseFile.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {
namespace {

// The bytes of a file from offset 32 on, read a piece at a time: never more than the file
// holds, and never much more than a piece or the record being read.
class PieceReader {
 public:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;

  explicit PieceReader(DatabaseFile& file) : file_(file) {
    const std::uint64_t length = file.Length();
    left_ = length > FileHeader::kSize ? length - FileHeader::kSize : 0;
    file.Seek(FileHeader::kSize);
  }

  // Makes the next size bytes available at Data(); false when the file holds fewer. Nothing is
  // allocated for bytes the file does not hold.
  bool Need(std::uint64_t size) {
    const std::size_t held = filled_ - at_;
    if (held >= size) return true;
    if (size - held > left_) return false;
    if (held > 0) std::memmove(buffer_.data(), buffer_.data() + at_, held);
    filled_ = held;
    at_ = 0;
    const auto wanted = static_cast<std::size_t>(std::max<std::uint64_t>(size, kPiece));
    if (buffer_.size() < wanted) buffer_.resize(std::min<std::uint64_t>(wanted, held + left_));
    while (filled_ < size) {
      const auto room =
          static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - filled_, left_));
      const std::size_t got = file_.Read(buffer_.data() + filled_, room);
      if (got == 0) {  // the file is shorter now than it was
        left_ = 0;
        return false;
      }
      filled_ += got;
      left_ -= got;
    }
    return true;
  }

  const unsigned char* Data() const { return buffer_.data() + at_; }
  void Skip(std::size_t size) { at_ += size; }

 private:
  DatabaseFile& file_;
  std::vector<unsigned char> buffer_;
  std::size_t at_ = 0;      // the next byte to hand out
  std::size_t filled_ = 0;  // the bytes read into buffer_
  std::uint64_t left_ = 0;  // the bytes of the file not yet read
};

// Builds the entry of one record body of length bytes, or returns null when the body is too
// short for text, NUL and page count, or names no page. Notes damage and page numbers in read.
std::unique_ptr<WordEntry> DecodeWord(const unsigned char* body, std::size_t length,
                                      IndexFileReader::WordsRead& read) {
  const void* nul = std::memchr(body, 0, length);
  if (nul == nullptr) {
    read.damaged = true;
    return nullptr;
  }
  const auto textLength = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - body);
  if (length - textLength - 1 < 4) {
    read.damaged = true;
    return nullptr;
  }
  const std::int32_t pageCount = DecodeInt32(body + textLength + 1);
  const std::size_t fitting = (length - textLength - 5) / 4;
  if (pageCount < 0 || static_cast<std::size_t>(pageCount) != fitting) read.damaged = true;
  if (pageCount <= 0) return nullptr;
  const std::size_t count = std::min(static_cast<std::size_t>(pageCount), fitting);
  if (count == 0) return nullptr;
  const unsigned char* pages = body + textLength + 5;
  const std::string_view text(reinterpret_cast<const char*>(body), textLength);
  const auto note = [&read](std::int32_t page) {
    read.minPage = read.anyPage ? std::min(read.minPage, page) : page;
    read.maxPage = read.anyPage ? std::max(read.maxPage, page) : page;
    read.anyPage = true;
  };
  const std::int32_t first = DecodeInt32(pages);
  note(first);
  auto entry = std::make_unique<WordEntry>(text, first);
  for (std::size_t i = 1; i < count; ++i) {
    const std::int32_t page = DecodeInt32(pages + 4 * i);
    note(page);
    entry->AddPage(page);
  }
  return entry;
}

}  // namespace

void IndexFileReader::ReadTexts(const FileHeader& header, TextList& list) {
  list.Clear();
  if (header.recordCount <= 0 || header.totalSize < static_cast<std::int32_t>(FileHeader::kSize)) {
    return;
  }
  const std::uint64_t length = file_.Length();
  const std::uint64_t available = length > FileHeader::kSize ? length - FileHeader::kSize : 0;
  const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(
      static_cast<std::uint64_t>(header.totalSize) - FileHeader::kSize, available));
  std::string payload;
  payload.reserve(size + 1);  // room for the NUL of a last string without one
  payload.resize(size);
  file_.Seek(FileHeader::kSize);
  payload.resize(file_.Read(payload.data(), payload.size()));
  list.AssignNulEnded(std::move(payload));
}

IndexFileReader::WordsRead IndexFileReader::ReadWords(const FileHeader& header, WordList& list) {
  list.Clear();
  return VisitWords(header,
                    [&list](std::unique_ptr<WordEntry> entry) { list.Append(std::move(entry)); });
}

IndexFileReader::WordsRead IndexFileReader::VisitWords(const FileHeader& header,
                                                       const WordVisitor& visit) {
  WordsRead read;
  if (header.recordCount <= 0) return read;
  PieceReader pieces(file_);
  std::int32_t records = 0;
  for (; records < header.recordCount; ++records) {
    if (!pieces.Need(4)) break;
    // Read unsigned, a negative length is one beyond any file and ends the reading too.
    const auto length = static_cast<std::uint32_t>(DecodeInt32(pieces.Data()));
    if (!pieces.Need(std::uint64_t{4} + length)) break;
    std::unique_ptr<WordEntry> entry = DecodeWord(pieces.Data() + 4, length, read);
    pieces.Skip(4 + std::size_t{length});
    if (entry) visit(std::move(entry));
  }
  if (records < header.recordCount) read.damaged = true;
  return read;
}

}  // namespace quarry
