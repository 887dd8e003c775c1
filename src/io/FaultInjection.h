// A switch for tests: makes one chosen write, flush, rename, set-length, creation of a new file or
// reading of a file's time in the file layer fail as if the system had refused it, or calls a
// function before each of them (a test may change the directory from there, as another program
// could). Every file operation of those kinds passes Check() first; unarmed, that costs one
// counter increment.
// Process-wide; the counter is atomic, the settings are meant to be changed by one thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace quarry {

enum class FileOperation { kWrite, kFlush, kRename, kSetLength, kCreate, kReadTime };

class FaultInjection {
 public:
  // Called before each counted operation with its kind and its number (1 for the first after
  // ResetCount). A test may end the process from here to simulate a crash.
  using Hook = void (*)(FileOperation operation, std::uint64_t number);

  // Makes the counted operation with number n (counted from the last ResetCount, 1-based) fail
  // with errorNumber (e.g. ENOSPC, EIO), once. n == 0 disarms.
  static void FailAt(std::uint64_t n, int errorNumber);
  // Installs hook (nullptr removes it).
  static void SetHook(Hook hook);
  // Sets the counter back to 0.
  static void ResetCount();
  // The number of counted operations since the last ResetCount.
  static std::uint64_t Count();
  // Disarms, removes the hook and resets the counter.
  static void Clear();

  // For the file layer: counts one operation; returns the errno it must fail with, or 0.
  static int Check(FileOperation operation);

 private:
  static std::atomic<std::uint64_t> count_;
  static std::atomic<std::uint64_t> failAt_;
  static std::atomic<int> errorNumber_;
  static std::atomic<Hook> hook_;
};

}  // namespace quarry
