// The index on disk: the word file qrywDb.dat, the page file qryfDb.dat and the title file
// qryiDb.dat, side by side in one directory (doc/index-format.md gives their layout).
//
// The object opens (creating if need be) and holds the three files exclusively from Open to
// Close, so that no other opener, in this process or another, can use them meanwhile; keeps
// their headers in memory; saves the in-memory lists into them and loads them back; and
// describes them in five statistics texts. Its operations throw FileError for read, write,
// seek, flush, rename and set-length failures and never catch it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "database/FileHeader.h"

namespace quarry {

class WordList;
class TextList;

class IndexDatabase {
 public:
  // directory: where the three files live; empty means the process's current directory at the
  // time of Open (the files are then opened by their bare names).
  explicit IndexDatabase(std::string directory = {});
  virtual ~IndexDatabase();  // closes the files

  IndexDatabase(const IndexDatabase&) = delete;
  IndexDatabase& operator=(const IndexDatabase&) = delete;

  bool IsOpen() const;

  // Opens the word, page and title files read-write, creating missing ones, never truncating,
  // each locked exclusively without waiting. Returns 0 when an existing database is open and its
  // headers read. Returns 1 when a file cannot be opened (the database stays closed, nothing is
  // held, and OpenError() gives the system's reason) and also when the database has just been
  // opened as a new one because the word or page file was empty (IsOpen() is then true).
  int Open();
  // The system's reason for the last failed Open, e.g. "qrywDb.dat: Resource temporarily
  // unavailable"; empty after a successful one.
  const std::string& OpenError() const;

  // Releases the three files if open; otherwise does nothing. The headers in memory stay.
  void Close();

  // Makes each open file a fresh, empty database file of 32 bytes. Does nothing when closed.
  void Reset();

  // Writes the page, title and word lists into the files so that afterwards they hold exactly
  // these lists (no earlier Reset is needed) and each file's length equals its header's total
  // size. The files are replaced as a whole: if Save fails, the previous index stays on disk and
  // the lists are unchanged. Returns 0. REQUIRES: IsOpen().
  int Save(WordList& wordList, TextList& pageList, TextList& titleList);

  // Empties the three lists and fills them from the files, by the headers read at Open or
  // written by the last Save. Damaged data is skipped as doc/index-format.md says; no byte beyond
  // the files is ever used. Returns 0. REQUIRES: IsOpen().
  int Load(WordList& wordList, TextList& pageList, TextList& titleList);

  // Scans one page into the lists: the keep flag becomes false only when the file opened and is
  // not an HTML page; a page that is an HTML page gets its title and path registered (the path's
  // number in pageList is its page number) and its words added. Returns 1 at once, keep true,
  // when the database is closed; else 0. A page that cannot be opened leaves everything as it
  // was, keep true. Throws FileError when an opened page cannot be read.
  int ScanPage(WordList& wordList, TextList& pageList, TextList& titleList,
               const std::string& path, bool& keep);

  // The five statistics texts; each is empty while the database is closed.
  std::string GetIndexPath() const;       // the word file's full path
  std::string GetWordCountText() const;   // the word file header's record count
  std::string GetPageCountText() const;   // the page file header's record count
  std::string GetDateText() const;        // the word file's modification time, local time
  std::string GetSizeText() const;        // word file length + page file length, in bytes

 private:
  struct Files;

  std::string directory_;
  std::unique_ptr<Files> files_;  // null while closed
  std::string openError_;
  FileHeader wordHeader_;
  FileHeader pageHeader_;
  FileHeader titleHeader_;
};

}  // namespace quarry
