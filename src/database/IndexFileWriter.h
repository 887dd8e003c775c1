// Writes the records of one database file (doc/index-format.md) into a held, empty file:
// records from offset 32 on, then a fresh header with their count and size at offset 0, last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "database/FileHeader.h"

namespace quarry {

class DatabaseFile;
class WordEntry;

class IndexFileWriter {
 public:
  // Writes into file. REQUIRES: file is open and stays open until Finish; nothing else writes to
  // it meanwhile.
  explicit IndexFileWriter(DatabaseFile& file);
  virtual ~IndexFileWriter() = default;

  IndexFileWriter(const IndexFileWriter&) = delete;
  IndexFileWriter& operator=(const IndexFileWriter&) = delete;

  // Adds one page or title record: text up to its first NUL byte, then a NUL.
  void AddText(std::string_view text);
  // Adds one word record: length, text up to its first NUL and a NUL, page count, page numbers.
  // There is no limit on the number of pages; the record is built in a buffer of its own size.
  void AddWord(const WordEntry& entry);
  // Writes what is still buffered, then the header ("QR01", record count, total size = 32 + all
  // record bytes, zero reserved bytes) at offset 0, and returns that header. Throws FileError when
  // the file would pass the format's limit of 2^31 - 1 bytes.
  FileHeader Finish();

 private:
  unsigned char* Extend(std::size_t size);
  void Flush();

  DatabaseFile& file_;
  FileHeader header_;
  std::vector<unsigned char> buffer_;
  std::uint64_t position_ = FileHeader::kSize;
  std::uint64_t recordCount_ = 0;
};

}  // namespace quarry
