#include "database/IndexDatabase.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>

#include "database/IndexFileReader.h"
#include "database/IndexFileWriter.h"
#include "database/SaveError.h"
#include "indexing/PageScanner.h"
#include "io/DatabaseDirectory.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"
#include "io/System.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {
namespace {

// The three files by slot, in the order Open takes them.
constexpr int kWord = 0;
constexpr int kPage = 1;
constexpr int kTitle = 2;
constexpr std::array<const char*, 3> kFileNames = {kWordFileName, kPageFileName, kTitleFileName};
// The names under which Save writes the new files before renaming them into place.
constexpr std::array<const char*, 3> kTemporaryNames = {"qrywDb.dat.tmp", "qryfDb.dat.tmp",
                                                        "qryiDb.dat.tmp"};
// The roll-forward record: while it exists, the temporary files that exist are complete and
// belong in place of the database files.
constexpr char kRollForwardName[] = "qryDb.commit";
constexpr char kRollForwardText[] =
    "Quarry roll-forward record: rename qryfDb.dat.tmp, qryiDb.dat.tmp and qrywDb.dat.tmp over "
    "the database files, then remove this file.\n";
// Save writes the page file, then the title file, then the word file, and renames them into
// place in the same order.
constexpr std::array<int, 3> kWriteOrder = {kPage, kTitle, kWord};

FileHeader ReadHeader(DatabaseFile& file) {
  std::array<unsigned char, FileHeader::kSize> bytes{};  // what a short file lacks reads as 0
  file.Seek(0);
  file.Read(bytes.data(), bytes.size());
  return FileHeader::Decode(bytes.data());
}

void WriteHeader(DatabaseFile& file, const FileHeader& header) {
  const auto bytes = header.Encode();
  file.Seek(0);
  file.Write(bytes.data(), bytes.size());
}

// True when a roll-forward record is there: a regular file at its name.
bool HasRecord(const DatabaseDirectory& directory) {
  return directory.Exists(kRollForwardName) && directory.PlainFileProblem(kRollForwardName).empty();
}

// The files a replacement has made so far. Undoes the replacement, unless it is kept, when the
// replacement fails before its roll-forward record is safely on disk: removes the record, then
// the temporary files, and only the names it made itself. When the record cannot be removed,
// the temporary files stay complete beside it, so that the next Open puts all of them in place,
// never a part.
class MadeFiles {
 public:
  explicit MadeFiles(const DatabaseDirectory& directory) : directory_(directory) {}
  ~MadeFiles() { Undo(); }
  MadeFiles(const MadeFiles&) = delete;
  MadeFiles& operator=(const MadeFiles&) = delete;

  void AddTemporary(std::size_t index) { temporary_[index] = true; }
  void AddRecord() { record_ = true; }
  void Keep() { kept_ = true; }
  // Returns true when the previous index is what the disk holds afterwards.
  bool Undo() noexcept {
    if (kept_) return false;
    kept_ = true;
    if (record_ && !directory_.RemoveQuietly(kRollForwardName)) return false;
    for (std::size_t index = 0; index < kTemporaryNames.size(); ++index) {
      if (temporary_[index]) directory_.RemoveQuietly(kTemporaryNames[index]);
    }
    return true;
  }

 private:
  const DatabaseDirectory& directory_;
  std::array<bool, 3> temporary_{};
  bool record_ = false;
  bool kept_ = false;
};

}  // namespace

struct IndexDatabase::Files {
  // The folder of the three files, made absolute at Open.
  std::string folder;
  bool readOnly = false;
  // The held files; the title file may be missing when opened for reading.
  std::array<std::unique_ptr<DatabaseFile>, 3> held;
  // A replacement whose roll-forward record is on disk: the files still to be renamed into
  // place, and the headers they carry (unknown when Open found them after a crash).
  std::array<std::unique_ptr<DatabaseFile>, 3> waiting;
  std::array<std::optional<FileHeader>, 3> waitingHeaders;
  bool replacementPending = false;
};

IndexDatabase::IndexDatabase(std::string directory) : directory_(std::move(directory)) {}

IndexDatabase::~IndexDatabase() { Close(); }

bool IndexDatabase::IsOpen() const { return files_ != nullptr; }

const std::string& IndexDatabase::OpenError() const { return openError_; }

FileHeader& IndexDatabase::HeaderOf(int slot) {
  if (slot == kWord) return wordHeader_;
  if (slot == kPage) return pageHeader_;
  return titleHeader_;
}

void IndexDatabase::RequireOpen() const {
  if (!files_) throw FileError(kWordFileName, "the database is not open");
}

void IndexDatabase::RequireWritable() const {
  RequireOpen();
  if (files_->readOnly) throw FileError(kWordFileName, "the database is open for reading only");
}

int IndexDatabase::Open() {
  Close();
  openError_.clear();
  auto files = std::make_unique<Files>();
  files->folder = DatabaseDirectory::AbsolutePath(directory_);
  const DatabaseDirectory directory(files->folder);
  // All three names are looked at before any file is made.
  for (const char* name : kFileNames) {
    openError_ = directory.PlainFileProblem(name);
    if (!openError_.empty()) return 1;
  }
  for (const int slot : {kWord, kPage, kTitle}) {
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(files->folder, kFileNames[static_cast<std::size_t>(slot)])) {
      openError_ = file->OpenError();
      return 1;  // the files opened before are released with files
    }
    files->held[static_cast<std::size_t>(slot)] = std::move(file);
  }
  if (!Recover(*files)) return 1;
  files_ = std::move(files);

  DatabaseFile& word = *files_->held[kWord];
  DatabaseFile& page = *files_->held[kPage];
  DatabaseFile& title = *files_->held[kTitle];
  if (word.Length() == 0 || page.Length() == 0) {
    // A new database. The headers it gets are fresh ones, whatever another database opened
    // earlier left in memory.
    wordHeader_ = FileHeader::Fresh();
    pageHeader_ = FileHeader::Fresh();
    titleHeader_ = FileHeader::Fresh();
    WriteHeader(word, wordHeader_);
    WriteHeader(page, pageHeader_);
    WriteHeader(title, titleHeader_);
    return 1;
  }
  wordHeader_ = ReadHeader(word);
  pageHeader_ = ReadHeader(page);
  if (title.Length() == 0) {
    titleHeader_ = FileHeader::Fresh();
    WriteHeader(title, titleHeader_);
  } else {
    titleHeader_ = ReadHeader(title);
  }
  return 0;
}

IndexDatabase::ReadOpen IndexDatabase::OpenForReading() {
  Close();
  openError_.clear();
  auto files = std::make_unique<Files>();
  files->folder = DatabaseDirectory::AbsolutePath(directory_);
  files->readOnly = true;
  const DatabaseDirectory directory(files->folder);
  for (const char* name : kFileNames) {
    openError_ = directory.PlainFileProblem(name);
    if (!openError_.empty()) return ReadOpen::kCannotOpen;
  }
  for (const int slot : {kWord, kPage, kTitle}) {
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(files->folder, kFileNames[static_cast<std::size_t>(slot)],
                    DatabaseFile::Access::kRead)) {
      if (slot == kTitle && file->OpenErrorNumber() == ENOENT) break;
      openError_ = file->OpenError();
      return ReadOpen::kCannotOpen;
    }
    files->held[static_cast<std::size_t>(slot)] = std::move(file);
  }
  // Under the shared locks no save is running: a record now is one a crash left.
  if (HasRecord(directory)) {
    openError_ = directory.PathOf(kRollForwardName) + ": a save was interrupted";
    return ReadOpen::kSaveInterrupted;
  }
  files_ = std::move(files);
  wordHeader_ = ReadHeader(*files_->held[kWord]);
  pageHeader_ = ReadHeader(*files_->held[kPage]);
  titleHeader_ = files_->held[kTitle] ? ReadHeader(*files_->held[kTitle]) : FileHeader::Fresh();
  return ReadOpen::kOpen;
}

bool IndexDatabase::Recover(Files& files) {
  const DatabaseDirectory directory(files.folder);
  if (!HasRecord(directory)) {
    // Anything else at the record's name (a link, a FIFO) was not written by a save: it goes,
    // like the temporary files (a link itself, never its target).
    directory.RemoveQuietly(kRollForwardName);
    for (const char* name : kTemporaryNames) {
      if (directory.Exists(name)) directory.Remove(name);
    }
    return true;
  }
  for (const int slot : kWriteOrder) {
    const auto index = static_cast<std::size_t>(slot);
    if (!directory.Exists(kTemporaryNames[index])) continue;  // already in place
    // Refuses a link or anything but a regular file; RenameTo then moves only this file.
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(files.folder, kTemporaryNames[index])) {
      openError_ = file->OpenError();
      return false;
    }
    files.waiting[index] = std::move(file);
  }
  files.replacementPending = true;
  CompleteReplacement(files);
  return true;
}

void IndexDatabase::CompleteReplacement(Files& files) {
  const DatabaseDirectory directory(files.folder);
  for (const int slot : kWriteOrder) {
    const auto index = static_cast<std::size_t>(slot);
    if (!files.waiting[index]) continue;
    // The name passes from one file we hold locked to another: no other opener can take it.
    // Where a file held open cannot be replaced (Windows), the file that has the name is let
    // go just before; should the rename fail, the name is taken again. There another opener
    // may take the old file in between: the rename then fails, and the next Save or Open
    // completes it.
    const bool letGo = !DatabaseFile::kRenamesOverHeldFiles && files.held[index];
    if (letGo) files.held[index]->Close();
    try {
      files.waiting[index]->RenameTo(kFileNames[index]);
    } catch (const FileError&) {
      if (letGo) files.held[index]->Open(files.folder, kFileNames[index]);
      throw;
    }
    files.held[index] = std::move(files.waiting[index]);
    if (files.waitingHeaders[index]) HeaderOf(slot) = *files.waitingHeaders[index];
    files.waitingHeaders[index].reset();
  }
  directory.Sync();
  directory.Remove(kRollForwardName);
  directory.Sync();
  files.replacementPending = false;
}

void IndexDatabase::Replace(WordList* wordList, TextList* pageList, TextList* titleList) {
  const std::string action = wordList == nullptr ? "Emptying the index" : "Saving the index";
  try {
    if (files_->replacementPending) CompleteReplacement(*files_);
  } catch (const FileError& error) {
    throw SaveError(action, error, SaveError::OnDisk::kNewIndexPending);
  }
  const std::string& folder = files_->folder;
  const DatabaseDirectory directory(folder);
  MadeFiles made(directory);
  std::array<std::unique_ptr<DatabaseFile>, 3> written;
  std::array<FileHeader, 3> headers;
  try {
    // A record not written by this replacement would make a crash put the half-written files
    // below in place.
    if (directory.Exists(kRollForwardName)) {
      directory.Remove(kRollForwardName);
      directory.Sync();
    }
    for (const int slot : kWriteOrder) {
      const auto index = static_cast<std::size_t>(slot);
      // Whatever a crashed save or another program left at the name goes (a link itself, never
      // its target); should the name be taken again before Create, Create fails.
      directory.Remove(kTemporaryNames[index]);
      auto file = std::make_unique<DatabaseFile>();
      file->Create(folder, kTemporaryNames[index]);
      made.AddTemporary(index);
      file->CopyPermissionsFrom(*files_->held[index]);
      if (wordList == nullptr) {
        headers[index] = FileHeader::Fresh();
        WriteHeader(*file, headers[index]);
      } else {
        IndexFileWriter writer(*file);
        if (slot == kWord) {
          for (WordEntry* entry = wordList->GetFirst(); entry; entry = wordList->GetNext()) {
            writer.AddWord(*entry);
          }
        } else {
          TextList& list = slot == kPage ? *pageList : *titleList;
          for (auto text = list.GetFirst(); text; text = list.GetNext()) {
            writer.AddText(*text);
          }
        }
        headers[index] = writer.Finish();
      }
      file->Sync();
      written[index] = std::move(file);
    }
    directory.Sync();  // the new files' names are on disk before the record that points to them

    DatabaseFile record;
    record.Create(folder, kRollForwardName);
    made.AddRecord();
    record.Write(kRollForwardText, sizeof kRollForwardText - 1);
    record.Sync();
    record.Close();
    directory.Sync();
  } catch (const FileError& error) {
    const bool previousKept = made.Undo();
    throw SaveError(
        action, error,
        previousKept ? SaveError::OnDisk::kPreviousIndex : SaveError::OnDisk::kNewIndexPending);
  }
  // From here on the new index is the one on disk: Open completes it after a crash.
  made.Keep();
  for (std::size_t index = 0; index < 3; ++index) {
    files_->waiting[index] = std::move(written[index]);
    files_->waitingHeaders[index] = headers[index];
  }
  files_->replacementPending = true;
  try {
    CompleteReplacement(*files_);
  } catch (const FileError& error) {
    throw SaveError(action, error, SaveError::OnDisk::kNewIndexPending);
  }
}

void IndexDatabase::Close() { files_.reset(); }

void IndexDatabase::Reset() {
  if (!files_) return;
  RequireWritable();
  Replace(nullptr, nullptr, nullptr);
}

int IndexDatabase::Save(WordList& wordList, TextList& pageList, TextList& titleList) {
  RequireWritable();
  Replace(&wordList, &pageList, &titleList);
  return 0;
}

std::vector<IndexProblem> IndexDatabase::Read(TextList& pageList, TextList& titleList,
                                              const IndexFileReader::WordVisitor& visit) {
  RequireOpen();
  if (files_->replacementPending) CompleteReplacement(*files_);
  IndexFacts facts;
  facts.headers = {wordHeader_, pageHeader_, titleHeader_};
  for (const int slot : {kWord, kPage, kTitle}) {
    const auto& file = files_->held[static_cast<std::size_t>(slot)];
    facts.lengths[static_cast<std::size_t>(slot)] = file ? file->Length() : 0;
  }
  IndexFileReader(*files_->held[kPage]).ReadTexts(pageHeader_, pageList);
  if (files_->held[kTitle]) {
    IndexFileReader(*files_->held[kTitle]).ReadTexts(titleHeader_, titleList);
  } else {
    titleList.Clear();
  }
  const IndexFileReader::WordsRead words =
      IndexFileReader(*files_->held[kWord]).VisitWords(wordHeader_, visit);
  facts.damagedRecords = words.damaged;
  facts.anyPage = words.anyPage;
  facts.minPage = words.minPage;
  facts.maxPage = words.maxPage;
  facts.pages = pageList.Size();
  facts.titles = titleList.Size();
  return FindProblems(facts);
}

int IndexDatabase::Load(WordList& wordList, TextList& pageList, TextList& titleList) {
  RequireOpen();
  if (files_->replacementPending) CompleteReplacement(*files_);
  IndexFileReader(*files_->held[kPage]).ReadTexts(pageHeader_, pageList);
  if (files_->held[kTitle]) {
    IndexFileReader(*files_->held[kTitle]).ReadTexts(titleHeader_, titleList);
  } else {
    titleList.Clear();
  }
  IndexFileReader(*files_->held[kWord]).ReadWords(wordHeader_, wordList);
  return 0;
}

std::string IndexDatabase::GetIndexPath() const {
  if (!files_) return {};
  return files_->held[kWord]->FullPath();
}

std::string IndexDatabase::GetWordCountText() const {
  if (!files_) return {};
  return std::to_string(wordHeader_.recordCount);
}

std::string IndexDatabase::GetPageCountText() const {
  if (!files_) return {};
  return std::to_string(pageHeader_.recordCount);
}

std::string IndexDatabase::GetDateText() const {
  if (!files_) return {};
  const std::optional<std::time_t> modified = files_->held[kWord]->ModificationTime();
  if (!modified) return {};
  const std::optional<std::tm> local = System::LocalTime(*modified);
  if (!local) return {};
  // The classic locale gives the English month names whatever the process's locale is.
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&*local, "%B %d, %Y  %H:%M:%S");
  if (!text) return {};
  return text.str();
}

std::string IndexDatabase::GetSizeText() const {
  if (!files_) return {};
  return std::to_string(files_->held[kWord]->Length() + files_->held[kPage]->Length());
}

int IndexDatabase::ScanPage(WordList& wordList, TextList& pageList, TextList& titleList,
                            const std::string& path, bool& keep) {
  keep = true;
  if (!IsOpen()) return 1;
  PageScanner scanner(wordList, pageList, titleList);
  keep = scanner.ScanFile(path) != PageScanner::Outcome::kNotHtml;
  return 0;
}

}  // namespace quarry
