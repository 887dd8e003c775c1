#include "cli/ProgressBar.h"

#include <cstdio>
#include <string>

#include "io/System.h"

namespace quarry {

namespace {
constexpr std::size_t kBarWidth = 40;
}  // namespace

ProgressBar::ProgressBar(std::size_t total, bool enabled)
    : total_(total), active_(enabled && total > 0 && System::StandardErrorIsTerminal()) {}

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
