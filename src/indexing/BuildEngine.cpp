#include "indexing/BuildEngine.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace quarry {

namespace {

// How many pages each reading thread may have read ahead of the page being registered: enough
// to keep the readers busy while a large page is registered, few enough to bound the memory.
constexpr std::size_t kPagesAheadPerThread = 4;

// What the reading threads and the registering thread share, guarded by one mutex.
class ReadAhead {
 public:
  using RulesOf = std::function<PageFile::Rules(std::size_t)>;

  ReadAhead(const std::vector<std::string>& paths, std::size_t window, RulesOf rulesOf)
      : paths_(paths), slots_(window), rulesOf_(std::move(rulesOf)) {}

  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // A reading thread: takes the next page while it fits the window, opens it, waits until its
  // bytes fit the budget (the next page in order always does), and reads it into its slot.
  void ReadPages() {
    PageScanner::ScannedPage page;
    PageFile file;
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] {
          return stopping_ || next_ >= paths_.size() || next_ < taken_ + slots_.size();
        });
        if (stopping_ || next_ >= paths_.size()) return;
        index = next_++;
      }
      std::exception_ptr error;
      std::uint64_t bytes = 0;
      try {
        if (PageScanner::Open(paths_[index], rulesOf_(index), file, page)) {
          bytes = file.SizeAtOpen();
          {
            std::unique_lock lock(mutex_);
            room_.wait(lock, [&] {
              return stopping_ || index == taken_ ||
                     bytesAhead_ + bytes <= BuildEngine::kBytesAhead;
            });
            if (stopping_) return;
            bytesAhead_ += bytes;
          }
          PageScanner::ReadOpened(file, page);
        }
      } catch (...) {
        file.Close();
        error = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[index % slots_.size()];
        std::swap(slot.page, page);  // the slot's old page, already taken, is reused here
        slot.error = std::move(error);
        slot.bytes = bytes;
        slot.ready = true;
      }
      ready_.notify_all();
    }
  }

  // The registering thread: waits for page index (taken in order, one after another) and swaps
  // it into page. Rethrows the error its reading raised.
  void Take(std::size_t index, PageScanner::ScannedPage& page) {
    std::exception_ptr error;
    {
      std::unique_lock lock(mutex_);
      Slot& slot = slots_[index % slots_.size()];
      ready_.wait(lock, [&] { return slot.ready; });
      std::swap(slot.page, page);
      std::swap(slot.error, error);
      slot.ready = false;
      bytesAhead_ -= slot.bytes;
      slot.bytes = 0;
      ++taken_;
    }
    // Readers wait for a slot, for bytes, or for their page to come next: wake them all.
    room_.notify_all();
    if (error) std::rethrow_exception(error);
  }

  // Makes every reading thread return after the page it is reading.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    room_.notify_all();
  }

 private:
  struct Slot {
    PageScanner::ScannedPage page;
    std::exception_ptr error;
    std::uint64_t bytes = 0;  // the page file's size counted against the budget
    bool ready = false;
  };

  const std::vector<std::string>& paths_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a slot became ready
  std::condition_variable room_;   // a slot was taken, or the readers must stop
  std::vector<Slot> slots_;        // page i lives in slot i % size while in flight
  RulesOf rulesOf_;
  std::size_t next_ = 0;          // the next page for a reader
  std::size_t taken_ = 0;         // pages taken by the registering thread
  std::uint64_t bytesAhead_ = 0;  // the bytes of the pages being read or waiting in slots
  bool stopping_ = false;
};

// Stops the readers and waits for them, however the run ends.
class ReaderThreads {
 public:
  ReaderThreads(ReadAhead& work, unsigned count) : work_(work) {
    threads_.reserve(count);
    try {
      for (unsigned i = 0; i < count; ++i) threads_.emplace_back([&work] { work.ReadPages(); });
    } catch (...) {
      Join();
      throw;
    }
  }
  ~ReaderThreads() { Join(); }

  ReaderThreads(const ReaderThreads&) = delete;
  ReaderThreads& operator=(const ReaderThreads&) = delete;

 private:
  void Join() {
    work_.Stop();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  ReadAhead& work_;
  std::vector<std::thread> threads_;
};

}  // namespace

BuildEngine::BuildEngine(WordList& wordList, TextList& pageList, TextList& titleList)
    : scanner_(wordList, pageList, titleList) {}

unsigned BuildEngine::ThreadsFor(unsigned jobs) {
  if (jobs != 0) return jobs;
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware != 0 ? hardware : 1;
}

void BuildEngine::SetWalkedFolders(std::vector<std::string> folders,
                                   std::vector<std::int32_t> folderOf) {
  folders_ = std::move(folders);
  folderOf_ = std::move(folderOf);
}

PageFile::Rules BuildEngine::RulesFor(std::size_t index) const {
  PageFile::Rules rules;
  rules.maxSize = maxPageSize_;
  if (index < folderOf_.size() && folderOf_[index] >= 0 &&
      static_cast<std::size_t>(folderOf_[index]) < folders_.size()) {
    rules.within = folders_[static_cast<std::size_t>(folderOf_[index])];
  }
  return rules;
}

void BuildEngine::Run(const std::vector<std::string>& paths, const StartCallback& start,
                      const DoneCallback& done) {
  PageScanner::ScannedPage page;
  const unsigned threads = ThreadsFor(jobs_);
  if (threads <= 1 || paths.size() <= 1) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (start) start(i, paths[i]);
      PageScanner::Read(paths[i], RulesFor(i), page);
      Apply(i, paths[i], page, done);
    }
    return;
  }

  ReadAhead work(paths, kPagesAheadPerThread * threads,
                 [this](std::size_t index) { return RulesFor(index); });
  ReaderThreads readers(work, threads);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (start) start(i, paths[i]);
    work.Take(i, page);
    Apply(i, paths[i], page, done);
  }
}

void BuildEngine::Apply(std::size_t index, const std::string& path,
                        const PageScanner::ScannedPage& page, const DoneCallback& done) {
  const std::int32_t number = scanner_.Register(page, path);
  if (done) done(PageReport{index, path, page.outcome, page.openError, number});
}

}  // namespace quarry
