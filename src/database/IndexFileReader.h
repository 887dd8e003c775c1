// Reads the records of one database file (doc/index-format.md) back into a list, by the header
// read when the database was opened. Damaged data is skipped or cut short as the format
// document says; no byte beyond those read from the file is ever used, and no buffer larger than
// the file is ever allocated, whatever the header or a record claims.
#pragma once

#include "database/FileHeader.h"

namespace quarry {

class DatabaseFile;
class TextList;
class WordList;

class IndexFileReader {
 public:
  // REQUIRES: file is open and stays open while this reader is used.
  explicit IndexFileReader(DatabaseFile& file) : file_(file) {}
  virtual ~IndexFileReader() = default;

  IndexFileReader(const IndexFileReader&) = delete;
  IndexFileReader& operator=(const IndexFileReader&) = delete;

  // Empties list, then adds the NUL-terminated strings of the page or title file's payload
  // (header.totalSize - 32 bytes from offset 32, fewer if the file is shorter). Reads nothing
  // when the record count is 0 or less or the total size is below 32. A last string without a
  // NUL runs to the end of the bytes read.
  void ReadTexts(const FileHeader& header, TextList& list);

  // Empties list, then appends up to header.recordCount word records from offset 32, in file
  // order. A record too short for its text, NUL and page count, or with a page count of 0 or
  // less, is skipped; a page count beyond the record gives the numbers that fit; a record length
  // reaching past the end of the file ends the reading.
  void ReadWords(const FileHeader& header, WordList& list);

 private:
  DatabaseFile& file_;
};

}  // namespace quarry
