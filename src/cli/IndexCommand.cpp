#include "cli/IndexCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/ProgressBar.h"
#include "database/IndexDatabase.h"
#include "database/IndexMessages.h"
#include "indexing/BuildEngine.h"
#include "io/DatabaseDirectory.h"
#include "io/FolderReader.h"
#include "io/SitePages.h"
#include "model/TextList.h"
#include "model/WordList.h"

namespace quarry {

namespace {

constexpr const char* kDescription =
    "Build the index of the pages in PATH... and save it, replacing the index that was there.";

constexpr const char* kFooter = R"(
A PATH that is a folder is walked through all its subfolders for files named *.htm or *.html
in any case. The walk leaves out every file and folder whose name begins with '.', does not
follow links to folders, and takes a link to a page only when the page lies inside the folder:
a page found by the walk whose real path, checked once it is open, is not below the folder's
real path is skipped with a warning. Any other PATH is taken as a page whatever its name. Pages
are numbered from 0 in the order of their paths (bytes compared with A-Z folded to a-z). A page
is indexed when the letters "html" occur in it; other files are dropped. Pages that cannot be
opened, and pages larger than --max-page-size (64 MiB unless given), are skipped with a
warning.

The index files qrywDb.dat, qryfDb.dat and qryiDb.dat are written in --db DIR only when every
page has been read; until then the previous index stays as it was. DIR is made when missing
(its parent must exist). The search page never indexes itself: the --db folder and every folder
holding the page's settings (quarry-search.json from 'quarry-cli web') are left out when they
lie inside a folder walked, and so is a search.html that 'quarry-cli web' wrote.

Output: a summary line, then the five statistics of the saved index ("Index:", "Words:",
"Pages:", "Date:", "Size:"), one per line. Warnings go to standard error, and a progress bar
when standard error is a terminal.

Exit status: 0 saved; 1 nothing to save ("No pages to save.", "Please build word list."), the
database cannot be opened, or a page cannot be read; 2 usage error, a PATH that does not
exist or a --db DIR that cannot be made.)";

// Removes, when it goes out of scope, the folder made for the database unless Keep() was
// called.
class NewFolderGuard {
 public:
  explicit NewFolderGuard(std::string folder) : folder_(std::move(folder)) {}
  ~NewFolderGuard() {
    if (!folder_.empty()) FolderReader::RemoveEmptyFolder(folder_);
  }
  NewFolderGuard(const NewFolderGuard&) = delete;
  NewFolderGuard& operator=(const NewFolderGuard&) = delete;

  void Keep() { folder_.clear(); }

 private:
  std::string folder_;
};

// Removes, when it goes out of scope, those of the database files that did not exist when it
// was made, unless Keep() was called: a run that saves nothing leaves no new files behind.
class NewFilesGuard {
 public:
  explicit NewFilesGuard(const std::string& directory) : directory_(directory) {
    for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
      if (!directory_.Exists(name)) newFiles_.emplace_back(name);
    }
  }
  ~NewFilesGuard() {
    for (const std::string& name : newFiles_) directory_.RemoveQuietly(name);
  }
  NewFilesGuard(const NewFilesGuard&) = delete;
  NewFilesGuard& operator=(const NewFilesGuard&) = delete;

  void Keep() { newFiles_.clear(); }

 private:
  DatabaseDirectory directory_;
  std::vector<std::string> newFiles_;
};

}  // namespace

IndexCommand::IndexCommand(CLI::App& parent)
    : Command(parent, "index", kDescription, DatabaseOption::kMayBeNew) {
  App().footer(kFooter);
  App().add_option("PATH", request_.paths, "Page files and folders of pages")->required();
  App().add_flag("-q,--quiet", request_.quiet, "Print nothing but warnings and errors");
  App().add_flag("-v,--verbose", request_.verbose,
                 "Print each page as it is scanned, with what became of it, on standard error");
  App().add_flag("--no-progress{false}", request_.progress, "Never draw the progress bar");
  App()
      .add_option("-j,--jobs", request_.jobs,
                  "Read pages on N threads (default: one per hardware thread); the index is "
                  "the same for every N")
      ->check(CLI::Range(1u, 1024u))
      ->option_text("N");
  App()
      .add_option("--max-page-size", request_.maxPageSize,
                  "Skip pages larger than SIZE bytes, with a warning (default: 64MiB; a unit "
                  "such as KiB, MiB or GiB may follow the number)")
      ->transform(CLI::AsSizeValue(false))
      ->option_text("SIZE");
}

int IndexCommand::Run() {
  request_.database = IndexDirectory();
  return Index(request_);
}

int IndexCommand::Index(const Request& request) {
  const bool quiet = request.quiet;
  const bool verbose = request.verbose;
  for (const std::string& path : request.paths) {
    std::string error;
    if (FolderReader::KindOf(path, false, &error) == FolderReader::Kind::kMissing) {
      PrintError(path + ": " + error);
      return 2;
    }
  }

  const std::string& directory = request.database;
  std::string madeFolder;
  if (!directory.empty()) {
    const FolderReader::Kind kind = FolderReader::KindOf(directory, true);
    if (kind == FolderReader::Kind::kMissing) {
      std::string error;
      if (!FolderReader::MakeFolder(directory, &error)) {
        PrintError("cannot make the --db folder " + directory + ": " + error);
        return 2;
      }
      madeFolder = directory;
    } else if (kind != FolderReader::Kind::kFolder) {
      PrintError("--db " + directory + " is not a folder");
      return 2;
    }
  }
  // Declared before the files' guard, so that the folder is removed after the files.
  NewFolderGuard newFolder(madeFolder);

  SitePages walker(directory.empty() ? "." : directory,
                   [](const std::string& warning) { PrintError("warning: " + warning); });
  for (const std::string& path : request.paths) walker.Add(path);
  SiteWalker::Pages walk = walker.SortedWalk();
  const std::vector<std::string>& pages = walk.paths;
  if (pages.empty()) {
    PrintError(std::string(kNoPagesToSaveText) + " (no .htm or .html files found)");
    return 1;
  }

  // Declared before the database, so that the files are closed before they are removed.
  NewFilesGuard newFiles(directory);
  IndexDatabase database(directory);
  if (!OpenOrCreate(database)) {
    PrintError(OpenFailureText(database));
    return 1;
  }

  WordList wordList;
  TextList pageList;
  TextList titleList;
  std::size_t dropped = 0;
  std::size_t skipped = 0;
  {
    ProgressBar progress(pages.size(), request.progress && !quiet && !verbose);
    BuildEngine engine(wordList, pageList, titleList);
    engine.SetJobs(request.jobs);
    engine.SetMaxPageSize(request.maxPageSize);
    engine.SetWalkedFolders(std::move(walk.folders), std::move(walk.folderOf));
    engine.Run(pages, {}, [&](const BuildEngine::PageReport& page) {
      switch (page.outcome) {
        case PageScanner::Outcome::kIndexed:
          if (verbose) std::fprintf(stderr, "indexed %s\n", page.path.c_str());
          break;
        case PageScanner::Outcome::kNotHtml:
          ++dropped;
          if (verbose) std::fprintf(stderr, "dropped %s (not an HTML page)\n", page.path.c_str());
          break;
        case PageScanner::Outcome::kCannotOpen:
          ++skipped;
          progress.Clear();
          PrintError("warning: skipped " + page.path + ": " + page.openError);
          break;
      }
      progress.Update(page.index + 1);
    });
  }

  if (const char* refusal = SaveRefusal(pageList, wordList)) {
    PrintError(std::string(refusal) + " (" + std::to_string(dropped) + " dropped, " +
               std::to_string(skipped) + " skipped)");
    return 1;
  }

  database.Save(wordList, pageList, titleList);
  newFiles.Keep();
  newFolder.Keep();

  if (!quiet) {
    std::printf("Indexed %zu pages, dropped %zu (not HTML), skipped %zu (cannot be opened).\n",
                pageList.Size(), dropped, skipped);
    std::fputs(StatisticsLines(database).c_str(), stdout);
  }
  return 0;
}

}  // namespace quarry
