// Reads the records of one database file (doc/index-format.md) back into a list, by the header
// read when the database was opened. Damaged data is skipped or cut short as the format
// document says; no byte beyond those read from the file is ever used, and every count and
// length is checked against the bytes the file holds before anything is allocated for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "database/FileHeader.h"

namespace quarry {

class DatabaseFile;
class TextList;
class WordEntry;
class WordList;

class IndexFileReader {
 public:
  // What a reading of the word file found besides its words.
  struct WordsRead {
    // A record was skipped as damaged or held a page count other than the numbers it holds, or
    // the file ended before the header's record count.
    bool damaged = false;
    bool anyPage = false;  // a record was kept; then minPage and maxPage bound its page numbers
    std::int32_t minPage = 0;
    std::int32_t maxPage = 0;
  };
  // Hears each word record kept, in file order, and may keep it.
  using WordVisitor = std::function<void(std::unique_ptr<WordEntry> entry)>;

  // REQUIRES: file is open and stays open while this reader is used.
  explicit IndexFileReader(DatabaseFile& file) : file_(file) {}
  virtual ~IndexFileReader() = default;

  IndexFileReader(const IndexFileReader&) = delete;
  IndexFileReader& operator=(const IndexFileReader&) = delete;

  // Empties list, then adds the NUL-terminated strings of the page or title file's payload
  // (header.totalSize - 32 bytes from offset 32, fewer if the file is shorter). Reads nothing
  // when the record count is 0 or less or the total size is below 32. A last string without a
  // NUL runs to the end of the bytes read. The list holds the payload plus 4 bytes a string.
  void ReadTexts(const FileHeader& header, TextList& list);

  // Empties list, then appends up to header.recordCount word records from offset 32, in file
  // order. A record too short for its text, NUL and page count, or with a page count of 0 or
  // less, is skipped; a page count beyond the record gives the numbers that fit; a record length
  // reaching past the end of the file ends the reading.
  WordsRead ReadWords(const FileHeader& header, WordList& list);

  // Reads the records as ReadWords does, handing each entry to visit instead of a list: the
  // memory used stays within a piece of the file (1 MiB) or its largest record.
  WordsRead VisitWords(const FileHeader& header, const WordVisitor& visit);

 private:
  DatabaseFile& file_;
};

}  // namespace quarry
