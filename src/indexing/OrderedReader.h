// Reads a list of items on worker threads, a bounded number ahead, and hands each one to the
// calling thread strictly in list order. What the build engine and the search bundle's builder
// share: the reading (of pages) runs in parallel, what is done with each result stays in order,
// so the outcome is the same whatever the number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quarry {

// Item: default-constructible and swappable; an item handed back to a reader is reused, so that
// its buffers are kept from one item to the next.
template <class Item>
class OrderedReader {
 public:
  // Calls read(index, item) for every index below count, on `threads` threads (1: all on the
  // calling thread), at most window items ahead of the one taken; calls take(index, item) on the
  // calling thread for each, in index order. An exception from read is rethrown from Run when its
  // item's turn comes; an exception from take ends the run at once. Every thread has ended when
  // Run returns or throws.
  template <class Read, class Take>
  static void Run(std::size_t count, unsigned threads, std::size_t window, Read&& read,
                  Take&& take) {
    Item item;
    if (threads <= 1 || count <= 1) {
      for (std::size_t i = 0; i < count; ++i) {
        read(i, item);
        take(i, item);
      }
      return;
    }
    Shared<Read> shared(count, window < 1 ? 1 : window, read);
    Workers<Read> workers(shared, threads);
    for (std::size_t i = 0; i < count; ++i) {
      shared.Take(i, item);
      take(i, item);
    }
  }

 private:
  template <class Read>
  class Shared {
   public:
    Shared(std::size_t count, std::size_t window, Read& read)
        : count_(count), read_(read), slots_(window) {}

    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    void Work() {
      Item item;
      for (;;) {
        std::size_t index = 0;
        {
          std::unique_lock lock(mutex_);
          room_.wait(
              lock, [&] { return stopping_ || next_ >= count_ || next_ < taken_ + slots_.size(); });
          if (stopping_ || next_ >= count_) return;
          index = next_++;
        }
        std::exception_ptr error;
        try {
          read_(index, item);
        } catch (...) {
          error = std::current_exception();
        }
        {
          std::lock_guard lock(mutex_);
          Slot& slot = slots_[index % slots_.size()];
          std::swap(slot.item, item);  // the slot's old item, already taken, is reused here
          slot.error = std::move(error);
          slot.ready = true;
        }
        ready_.notify_all();
      }
    }

    void Take(std::size_t index, Item& item) {
      std::exception_ptr error;
      {
        std::unique_lock lock(mutex_);
        Slot& slot = slots_[index % slots_.size()];
        ready_.wait(lock, [&] { return slot.ready; });
        std::swap(slot.item, item);
        std::swap(slot.error, error);
        slot.ready = false;
        ++taken_;
      }
      room_.notify_all();
      if (error) std::rethrow_exception(error);
    }

    void Stop() {
      {
        std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      room_.notify_all();
    }

   private:
    struct Slot {
      Item item;
      std::exception_ptr error;
      bool ready = false;
    };

    const std::size_t count_;
    Read& read_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable room_;
    std::vector<Slot> slots_;  // item i lives in slot i % size while in flight
    std::size_t next_ = 0;
    std::size_t taken_ = 0;
    bool stopping_ = false;
  };

  // Stops the workers and waits for them, however the run ends.
  template <class Read>
  class Workers {
   public:
    Workers(Shared<Read>& shared, unsigned count) : shared_(shared) {
      threads_.reserve(count);
      try {
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([&shared] { shared.Work(); });
      } catch (...) {
        Join();
        throw;
      }
    }
    ~Workers() { Join(); }

    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

   private:
    void Join() {
      shared_.Stop();
      for (std::thread& t : threads_) t.join();
      threads_.clear();
    }

    Shared<Read>& shared_;
    std::vector<std::thread> threads_;
  };
};

}  // namespace quarry
