// Runs a Build: scans a list of pages into the word list, the page list and the title list, as
// scanning them one after another with PageScanner::ScanFile does, and tells the caller about
// each page in page order. The window's Build and the command line's index both run on it.
//
// Reading a page, the HTML test, the title and cutting the text into words happen on worker
// threads, a bounded number of pages ahead; registering titles, paths and words happens on the
// calling thread, strictly in page order. So the lists, and the files saved from them, are the
// same whatever the number of threads.
//
// Memory stays bounded whatever the number of threads: a page is read only up to the largest
// page size (64 MiB unless set), and the pages read ahead and not yet registered hold at most
// kBytesAhead bytes of page files between them (their sizes when opened); the page next in
// order is always read, so a page larger than that still goes through, alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "indexing/PageScanner.h"
#include "io/PageFile.h"

namespace quarry {

class TextList;
class WordList;

class BuildEngine {
 public:
  // One page's outcome, as the callback gets it.
  struct PageReport {
    std::size_t index;  // the page's position in the list given to Run
    const std::string& path;
    PageScanner::Outcome outcome;
    const std::string& openError;  // kCannotOpen: the system's reason
    std::int32_t pageNumber;       // kIndexed: the number it got; else -1
  };
  // Called on the calling thread for each page, in page order. Starting comes before the page
  // is registered (and before its read error, if any, ends the run); Done after it.
  using StartCallback = std::function<void(std::size_t index, const std::string& path)>;
  using DoneCallback = std::function<void(const PageReport& report)>;

  // The lists are borrowed and must outlive the engine. Run adds to them without emptying them.
  BuildEngine(WordList& wordList, TextList& pageList, TextList& titleList);
  virtual ~BuildEngine() = default;

  BuildEngine(const BuildEngine&) = delete;
  BuildEngine& operator=(const BuildEngine&) = delete;

  // The number of threads that read pages; 0 (the default) means one per hardware thread. With
  // 1 every page is read on the calling thread.
  void SetJobs(unsigned jobs) { jobs_ = jobs; }
  // The number of threads Run uses for jobs: jobs itself, or the hardware threads for 0.
  static unsigned ThreadsFor(unsigned jobs);

  // The bytes of page files that the pages read ahead may hold between them.
  static constexpr std::uint64_t kBytesAhead = std::uint64_t{32} << 20;

  // The largest page read (PageFile::kDefaultMaxSize unless set); a larger one is kCannotOpen.
  void SetMaxPageSize(std::uint64_t bytes) { maxPageSize_ = bytes; }

  // Keeps the pages of later Runs that a folder walk found inside the folder walked: folders
  // holds real paths, and folderOf[i] the number in folders of the folder walked for page i of
  // the paths given to Run, or -1 for a page given as it is (so is every page past its end). A
  // page whose real path, once open, does not lie below its folder is kCannotOpen.
  void SetWalkedFolders(std::vector<std::string> folders, std::vector<std::int32_t> folderOf);

  // Scans every page of paths in order; start and done may be empty. A page that cannot be
  // read (FileError) ends the run at that page: its start callback has run, the lists hold what
  // the pages before it added, and the error passes to the caller. An exception from a callback
  // ends the run the same way. Every thread has ended when Run returns or throws.
  void Run(const std::vector<std::string>& paths, const StartCallback& start,
           const DoneCallback& done);

 private:
  void Apply(std::size_t index, const std::string& path, const PageScanner::ScannedPage& page,
             const DoneCallback& done);

  PageFile::Rules RulesFor(std::size_t index) const;

  PageScanner scanner_;
  unsigned jobs_ = 0;
  std::uint64_t maxPageSize_ = PageFile::kDefaultMaxSize;
  std::vector<std::string> folders_;
  std::vector<std::int32_t> folderOf_;
};

}  // namespace quarry
