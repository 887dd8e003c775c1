#include "indexing/BuildEngine.h"

#include <condition_variable>
#include <exception>
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
  ReadAhead(const std::vector<std::string>& paths, std::size_t window)
      : paths_(paths), slots_(window) {}

  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // A reading thread: takes the next page while it fits the window, reads it into its slot.
  void ReadPages() {
    PageScanner::ScannedPage page;
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
      try {
        PageScanner::Read(paths_[index], page);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        Slot& slot = slots_[index % slots_.size()];
        std::swap(slot.page, page);  // the slot's old page, already taken, is reused here
        slot.error = std::move(error);
        slot.ready = true;
      }
      ready_.notify_one();
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
      ++taken_;
    }
    room_.notify_one();
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
    bool ready = false;
  };

  const std::vector<std::string>& paths_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a slot became ready
  std::condition_variable room_;   // a slot was taken, or the readers must stop
  std::vector<Slot> slots_;        // page i lives in slot i % size while in flight
  std::size_t next_ = 0;           // the next page for a reader
  std::size_t taken_ = 0;          // pages taken by the registering thread
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

void BuildEngine::Run(const std::vector<std::string>& paths, const StartCallback& start,
                      const DoneCallback& done) {
  PageScanner::ScannedPage page;
  const unsigned threads = ThreadsFor(jobs_);
  if (threads <= 1 || paths.size() <= 1) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (start) start(i, paths[i]);
      PageScanner::Read(paths[i], page);
      Apply(i, paths[i], page, done);
    }
    return;
  }

  ReadAhead work(paths, kPagesAheadPerThread * threads);
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
