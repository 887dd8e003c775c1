#include "database/IndexDatabase.h"

#include <array>
#include <ctime>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>

#include "database/IndexFileReader.h"
#include "database/IndexFileWriter.h"
#include "indexing/PageScanner.h"
#include "io/DatabaseDirectory.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"
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

// Undoes a replacement that failed before its roll-forward record was safely on disk: removes
// the record, then the temporary files. When the record cannot be removed, the temporary files
// stay complete beside it, so that the next Open puts all of them in place, never a part.
class TemporaryFilesGuard {
 public:
  explicit TemporaryFilesGuard(const DatabaseDirectory& directory) : directory_(directory) {}
  ~TemporaryFilesGuard() {
    if (!armed_) return;
    if (!directory_.RemoveQuietly(kRollForwardName)) return;
    for (const char* name : kTemporaryNames) directory_.RemoveQuietly(name);
  }
  TemporaryFilesGuard(const TemporaryFilesGuard&) = delete;
  TemporaryFilesGuard& operator=(const TemporaryFilesGuard&) = delete;
  void Disarm() { armed_ = false; }

 private:
  const DatabaseDirectory& directory_;
  bool armed_ = true;
};

}  // namespace

struct IndexDatabase::Files {
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
  if (!files_) throw FileError(std::string(kWordFileName) + ": the database is not open");
}

int IndexDatabase::Open() {
  Close();
  openError_.clear();
  auto files = std::make_unique<Files>();
  for (const int slot : {kWord, kPage, kTitle}) {
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(directory_, kFileNames[static_cast<std::size_t>(slot)])) {
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
    WriteHeader(word, wordHeader_);
    WriteHeader(page, pageHeader_);
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

bool IndexDatabase::Recover(Files& files) {
  const DatabaseDirectory directory(directory_);
  if (!directory.Exists(kRollForwardName)) {
    for (const char* name : kTemporaryNames) {
      if (directory.Exists(name)) directory.Remove(name);
    }
    return true;
  }
  for (const int slot : kWriteOrder) {
    const auto index = static_cast<std::size_t>(slot);
    if (!directory.Exists(kTemporaryNames[index])) continue;  // already in place
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(directory_, kTemporaryNames[index])) {
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
  const DatabaseDirectory directory(directory_);
  for (const int slot : kWriteOrder) {
    const auto index = static_cast<std::size_t>(slot);
    if (!files.waiting[index]) continue;
    // The name passes from one file we hold locked to another: no other opener can take it.
    files.waiting[index]->RenameTo(kFileNames[index]);
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
  if (files_->replacementPending) CompleteReplacement(*files_);
  const DatabaseDirectory directory(directory_);
  TemporaryFilesGuard guard(directory);

  std::array<std::unique_ptr<DatabaseFile>, 3> written;
  std::array<FileHeader, 3> headers;
  for (const int slot : kWriteOrder) {
    const auto index = static_cast<std::size_t>(slot);
    auto file = std::make_unique<DatabaseFile>();
    if (!file->Open(directory_, kTemporaryNames[index])) throw FileError(file->OpenError());
    file->CopyPermissionsFrom(*files_->held[index]);
    file->SetLength(0);
    if (wordList == nullptr) {
      headers[index] = FileHeader::Fresh();
      WriteHeader(*file, headers[index]);
    } else {
      IndexFileWriter writer(*file, HeaderOf(slot));
      if (slot == kWord) {
        for (WordEntry* entry = wordList->GetFirst(); entry; entry = wordList->GetNext()) {
          writer.AddWord(*entry);
        }
      } else {
        TextList& list = slot == kPage ? *pageList : *titleList;
        for (const std::string* text = list.GetFirst(); text; text = list.GetNext()) {
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
  if (!record.Open(directory_, kRollForwardName)) throw FileError(record.OpenError());
  record.SetLength(0);
  record.Write(kRollForwardText, sizeof kRollForwardText - 1);
  record.Sync();
  record.Close();
  directory.Sync();
  // From here on the new index is the one on disk: Open completes it after a crash.
  guard.Disarm();
  for (std::size_t index = 0; index < 3; ++index) {
    files_->waiting[index] = std::move(written[index]);
    files_->waitingHeaders[index] = headers[index];
  }
  files_->replacementPending = true;
  CompleteReplacement(*files_);
}

void IndexDatabase::Close() { files_.reset(); }

void IndexDatabase::Reset() {
  if (!files_) return;
  Replace(nullptr, nullptr, nullptr);
}

int IndexDatabase::Save(WordList& wordList, TextList& pageList, TextList& titleList) {
  RequireOpen();
  Replace(&wordList, &pageList, &titleList);
  return 0;
}

int IndexDatabase::Load(WordList& wordList, TextList& pageList, TextList& titleList) {
  RequireOpen();
  if (files_->replacementPending) CompleteReplacement(*files_);
  IndexFileReader(*files_->held[kPage]).ReadTexts(pageHeader_, pageList);
  IndexFileReader(*files_->held[kTitle]).ReadTexts(titleHeader_, titleList);
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
  const std::time_t modified = files_->held[kWord]->ModificationTime();
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &modified) != 0) return {};
#else
  if (localtime_r(&modified, &local) == nullptr) return {};
#endif
  // The classic locale gives the English month names whatever the process's locale is.
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&local, "%B %d, %Y  %H:%M:%S");
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
