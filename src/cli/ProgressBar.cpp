#include "cli/ProgressBar.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <string>

namespace quarry {

namespace {
constexpr std::size_t kBarWidth = 40;

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) == 1;
#endif
}
}  // namespace

ProgressBar::ProgressBar(std::size_t total, bool enabled)
    : total_(total), active_(enabled && total > 0 && StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() { Clear(); }

void ProgressBar::Update(std::size_t done) {
  if (!active_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && done < total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const std::size_t filled = done >= total_ ? kBarWidth : done * kBarWidth / total_;
  const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');
  std::fprintf(stderr, "\rScanning [%s] %zu/%zu pages", bar.c_str(), done, total_);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace quarry
