#include "cli/Command.h"

#include "cli/RecordWriter.h"
#include "database/IndexDatabase.h"
#include "database/IndexMessages.h"
#include "database/IndexProblems.h"
#include "io/DatabaseDirectory.h"
#include "model/WordEntry.h"

namespace quarry {

Command::Command(CLI::App& parent, const std::string& name, const std::string& description,
                 DatabaseOption option)
    : app_(parent.add_subcommand(name, description)) {
  if (option == DatabaseOption::kNone) return;
  CLI::Option* const db =
      app_->add_option("--db", indexDirectory_,
                       option == DatabaseOption::kExisting
                           ? "Directory of the index files qrywDb.dat, qryfDb.dat and "
                             "qryiDb.dat (default: the current directory)"
                           : "Directory of the index files qrywDb.dat, qryfDb.dat and "
                             "qryiDb.dat (default: the current directory); made when missing, "
                             "its parent must exist")
          ->type_name("DIR");
  if (option == DatabaseOption::kExisting) {
    db->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  }
}

bool Command::OpenExisting(IndexDatabase& database) const {
  // A word or page file that is missing or empty holds no index. (A link or anything else that
  // is not a plain file is refused by the database, with its own message.)
  const DatabaseDirectory directory(indexDirectory_);
  for (const char* name : {kWordFileName, kPageFileName}) {
    if (directory.IsMissingOrEmpty(name)) {
      const std::string file = directory.PathOf(name);
      PrintError("No index here: " + file +
                 " is missing or empty. Build one with 'quarry-cli index'.");
      return false;
    }
  }
  // Read-only, with a shared lock: works on a read-only copy and beside other readers, and
  // never creates, completes or writes anything.
  switch (database.OpenForReading()) {
    case IndexDatabase::ReadOpen::kOpen:
      return true;
    case IndexDatabase::ReadOpen::kSaveInterrupted:
      PrintError(
          "a save was interrupted: open the index in the window or run quarry-cli index to "
          "complete it");
      return false;
    case IndexDatabase::ReadOpen::kCannotOpen:
      break;
  }
  PrintError(OpenFailureText(database));
  return false;
}

bool Command::ReadExisting(IndexDatabase& database, LoadedIndex& index,
                           const IndexFileReader::WordVisitor& visit) {
  if (!OpenExisting(database)) return false;
  index.words.Clear();
  WordList& words = index.words;
  const std::vector<IndexProblem> problems = database.Read(
      index.pages, index.titles, visit ? visit : [&words](std::unique_ptr<WordEntry> entry) {
        words.Append(std::move(entry));
      });
  for (const IndexProblem problem : problems) PrintError("damaged index: " + ProblemText(problem));
  damaged_ = damaged_ || !problems.empty();
  return true;
}

int Command::FinishReading() const { return RecordWriter::Finish() && !damaged_ ? 0 : 1; }

void Command::AddNulOption() {
  app_->add_flag("-z,--null", nulTerminated_, "End each line with a NUL byte, not a line feed");
}

std::string Command::OpenFailureText(const IndexDatabase& database) {
  std::string text = kOpenFailureText;
  if (!database.OpenError().empty()) text += " (" + database.OpenError() + ")";
  return text;
}

}  // namespace quarry
