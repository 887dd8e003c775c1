// One subcommand of quarry-cli: registers its options with the command-line parser and runs.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

#include "cli/PrintError.h"  // the subcommands' one way to report a failure
#include "database/IndexFileReader.h"
#include "model/TextList.h"
#include "model/WordList.h"

namespace quarry {

class IndexDatabase;

class Command {
 public:
  virtual ~Command() = default;

  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // True when this subcommand was named on the command line.
  bool WasChosen() const { return app_->parsed(); }

  // Runs the parsed subcommand. Returns the exit status: 0 success, 1 failure, 2 usage error.
  // Messages go to standard error; FileError passes through to the caller.
  virtual int Run() = 0;

 protected:
  // Whether the subcommand takes --db DIR, and whether DIR must exist when given.
  enum class DatabaseOption { kExisting, kMayBeNew, kNone };

  // Adds the subcommand name to parent, with description as its help text and --db DIR as
  // option says.
  Command(CLI::App& parent, const std::string& name, const std::string& description,
          DatabaseOption option = DatabaseOption::kExisting);

  CLI::App& App() { return *app_; }

  // The directory given with --db; empty for the current directory.
  const std::string& IndexDirectory() const { return indexDirectory_; }

  // Opens database for reading (shared, never written), which must already hold an index (the
  // word and page files exist and are not empty) and no interrupted save: for the commands that
  // only read. Prints the reason to standard error and returns false when it cannot.
  bool OpenExisting(IndexDatabase& database) const;

  // The three lists of an index.
  struct LoadedIndex {
    WordList words;
    TextList pages;
    TextList titles;
  };
  // OpenExisting, then reads the index as IndexDatabase::Read does: the page and title lists
  // into index, and each word to visit, or, when visit is empty, into index.words. Prints each
  // problem found in the files ("quarry-cli: damaged index: qrywDb.dat: damaged records") and
  // notes it for FinishReading. False (reason printed) when it cannot open.
  bool ReadExisting(IndexDatabase& database, LoadedIndex& index,
                    const IndexFileReader::WordVisitor& visit = {});
  bool LoadExisting(IndexDatabase& database, LoadedIndex& index) {
    return ReadExisting(database, index);
  }

  // The exit status of a reading command once its output is written: 1 when the output could
  // not be written (RecordWriter::Finish) or ReadExisting found the index damaged, else 0.
  int FinishReading() const;

  // Offers -z/--null, which ends each output line with a NUL byte instead of a line feed.
  void AddNulOption();
  bool NulTerminated() const { return nulTerminated_; }

  // The message for a failed Open, with the system's reason.
  static std::string OpenFailureText(const IndexDatabase& database);

 private:
  CLI::App* app_;
  std::string indexDirectory_;
  bool damaged_ = false;
  bool nulTerminated_ = false;
};

}  // namespace quarry
