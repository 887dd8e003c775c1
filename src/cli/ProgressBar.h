// A one-line progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstddef>

namespace quarry {

class ProgressBar {
 public:
  // total: the number of steps; the bar is drawn when enabled and standard error is a terminal.
  ProgressBar(std::size_t total, bool enabled);
  virtual ~ProgressBar();  // clears the line if it was drawn

  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Shows that done of the total steps are finished; redraws at most ten times a second.
  void Update(std::size_t done);
  // Removes the bar from the terminal.
  void Clear();

 private:
  std::size_t total_;
  bool active_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace quarry
