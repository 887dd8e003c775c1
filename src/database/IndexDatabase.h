// The index on disk: the word file qrywDb.dat, the page file qryfDb.dat and the title file
// qryiDb.dat, side by side in one directory (doc/index-format.md gives their layout).
//
// The object opens (creating if need be) and holds the three files exclusively from Open to
// Close, so that no other opener, in this process or another, can use them meanwhile (or, from
// OpenForReading, shared with other readers only); keeps their headers in memory; saves the
// in-memory lists into them and loads them back; and describes them in five statistics texts.
// Its operations throw FileError for read, write, seek, flush, rename and set-length failures.
//
// The three files are plain files: a symbolic link or anything but a regular file at one of
// their names is refused, never followed or written. The files a save makes beside them are
// always created new, never opened, so a name planted in the folder is never written through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/FileHeader.h"
#include "database/IndexFileReader.h"
#include "database/IndexProblems.h"

namespace quarry {

class WordList;
class TextList;

class IndexDatabase {
 public:
  // directory: where the three files live; empty means the process's current directory. A
  // relative directory is taken against the current directory at the time of Open; from then
  // until Close, every file of the database is in that folder, whatever the current directory
  // becomes.
  explicit IndexDatabase(std::string directory = {});
  virtual ~IndexDatabase();  // closes the files

  IndexDatabase(const IndexDatabase&) = delete;
  IndexDatabase& operator=(const IndexDatabase&) = delete;

  bool IsOpen() const;

  // Opens the word, page and title files read-write, creating missing ones, never truncating,
  // each locked exclusively without waiting. Returns 0 when an existing database is open and its
  // headers read. Returns 1 when a file cannot be opened (the database stays closed, nothing is
  // held, and OpenError() gives the reason) and also when the database has just been opened as
  // a new one because the word or page file was empty (IsOpen() is then true); all three files
  // then receive fresh headers, in memory and on disk (an empty title file gets one too when
  // the database is not new). A link or anything but a regular file at one of the three names
  // fails the Open before anything is made or written. Once the three are held, a replacement
  // that a crashed Save left half done is completed (when a temporary file it names is not a
  // plain file, Open fails, naming it, and renames nothing), or leftover temporary files are
  // removed (and so is a link or FIFO at the roll-forward record's name: no save made it).
  // Closes first when already open.
  int Open();

  enum class ReadOpen {
    kOpen,            // open for reading; Load and the statistics work, Save and Reset throw
    kCannotOpen,      // OpenError() gives the reason; nothing is held
    kSaveInterrupted  // a roll-forward record is there: only Open may complete it
  };
  // Opens the three files of an existing index for reading only, each with a shared lock taken
  // without waiting: other readers may hold them too, a holder of Open's exclusive locks keeps
  // this out (and is kept out). Creates, completes, removes and writes nothing; a missing title
  // file reads as no titles. Closes first when already open.
  ReadOpen OpenForReading();

  // The reason for the last failed Open or OpenForReading, e.g. "qrywDb.dat: Resource
  // temporarily unavailable; the database is in use by another process"; empty after a
  // successful one.
  const std::string& OpenError() const;

  // Releases the three files if open; otherwise does nothing. The headers in memory stay.
  void Close();

  // Makes each open file a fresh, empty database file of 32 bytes ("QR01" and 28 zero bytes),
  // replacing the files as Save does (and failing as Save does, with "Emptying the index" in
  // place of "Saving the index"). Does nothing when closed.
  void Reset();

  // Writes the page, title and word lists into the files so that afterwards they hold exactly
  // these lists, each under a fresh header ("QR01", its counts, zero reserved bytes) whose total
  // size equals the file's length. The files are replaced as a whole: complete new files are
  // created and flushed beside the old ones, then renamed into place under a roll-forward
  // record. Do not Reset before Save: that would destroy the old index before the new one is
  // safe. A Save that fails throws SaveError, which says why and what is on disk: the previous
  // index, or, once the record is written, the new one, which the next Save, Load or Open
  // completes. The lists stay unchanged and the database open. Returns 0. REQUIRES: IsOpen()
  // and not opened for reading (else throws FileError).
  int Save(WordList& wordList, TextList& pageList, TextList& titleList);

  // Empties the three lists and fills them from the files, by the headers read at Open or
  // written by the last Save. Damaged data is skipped as doc/index-format.md says; no byte beyond
  // the files is ever used. Returns 0. REQUIRES: IsOpen() (else throws FileError).
  int Load(WordList& wordList, TextList& pageList, TextList& titleList);

  // Reads the files as Load does, for a reader that keeps no word list: fills the page and
  // title lists and hands each word entry to visit, in file order, so that memory stays within
  // the page and title files' sizes and a piece of the word file. Returns what is amiss in the
  // files (IndexProblems.h), none for a sound index. REQUIRES: IsOpen() (else throws FileError).
  std::vector<IndexProblem> Read(TextList& pageList, TextList& titleList,
                                 const IndexFileReader::WordVisitor& visit);

  // Scans one page into the lists: the keep flag becomes false only when the file opened and is
  // not an HTML page; a page that is an HTML page gets its title and path registered (the path's
  // number in pageList is its page number) and its words added. Returns 1 at once, keep true,
  // when the database is closed; else 0. A page that cannot be opened leaves everything as it
  // was, keep true. Throws FileError when an opened page cannot be read.
  int ScanPage(WordList& wordList, TextList& pageList, TextList& titleList, const std::string& path,
               bool& keep);

  // The five statistics texts; each is empty while the database is closed, and the date is
  // empty when the file's time cannot be read.
  std::string GetIndexPath() const;      // the word file's full path
  std::string GetWordCountText() const;  // the word file header's record count
  std::string GetPageCountText() const;  // the page file header's record count
  std::string GetDateText() const;       // the word file's modification time, local time
  std::string GetSizeText() const;       // word file length + page file length, in bytes

 private:
  struct Files;  // the held files and a replacement on its way into place

  // Puts three complete new files in place of the database files: written and flushed beside
  // them under temporary names, then renamed over them under a roll-forward record. With null
  // lists the new files are fresh 32-byte files.
  void Replace(WordList* wordList, TextList* pageList, TextList* titleList);
  // Renames the replacement files still waiting into place, then removes the roll-forward
  // record. Run by Replace, and again by Save and Load when an earlier attempt failed.
  void CompleteReplacement(Files& files);
  // Open's step after taking the three locks: completes a replacement that a crash interrupted
  // (its roll-forward record exists) or removes its leftover temporary files. Returns false,
  // with openError_ set, when a replacement file is not a plain file or cannot be opened.
  bool Recover(Files& files);
  FileHeader& HeaderOf(int slot);
  void RequireOpen() const;
  void RequireWritable() const;

  std::string directory_;
  std::unique_ptr<Files> files_;  // null while closed
  std::string openError_;
  FileHeader wordHeader_;
  FileHeader pageHeader_;
  FileHeader titleHeader_;
};

}  // namespace quarry
