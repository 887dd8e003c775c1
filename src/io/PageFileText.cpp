// What PageFile does the same on every system: the bounds of a read, the folder test, and the
// two changes made to the bytes read.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "io/FileError.h"
#include "io/PageFile.h"

namespace quarry {

namespace {

// A file that reports size 0 is read in pieces that double from this size.
constexpr std::size_t kFirstPiece = 65536;

// Turns every NUL byte into a blank, in place.
void BlankNuls(char* data, std::size_t size) {
  char* const end = data + size;
  for (char* p = data; p < end; ++p) {
    p = static_cast<char*>(std::memchr(p, '\0', static_cast<std::size_t>(end - p)));
    if (p == nullptr) return;
    *p = ' ';
  }
}

// Folds every CR LF pair into one LF, in place, and returns the new size. A CR that is not
// followed by LF (also one at the very end) stays; pairs are taken from the original bytes, so
// CR CR LF becomes CR LF.
std::size_t FoldCrLf(char* data, std::size_t size) {
  const char* const end = data + size;
  const char* in = static_cast<const char*>(std::memchr(data, '\r', size));
  if (in == nullptr) return size;
  char* out = data + (in - data);
  while (in < end) {
    // in points at a CR.
    if (in + 1 < end && in[1] == '\n') {
      *out++ = '\n';
      in += 2;
    } else {
      *out++ = '\r';
      in += 1;
    }
    const char* cr =
        static_cast<const char*>(std::memchr(in, '\r', static_cast<std::size_t>(end - in)));
    const char* runEnd = cr != nullptr ? cr : end;
    const auto run = static_cast<std::size_t>(runEnd - in);
    std::memmove(out, in, run);
    out += run;
    in = runEnd;
  }
  return static_cast<std::size_t>(out - data);
}

}  // namespace

std::string PageFile::SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024;
  constexpr std::uint64_t kMiB = kKiB * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

bool PageFile::LiesBelow(std::string_view folder, std::string_view path) {
  if (folder.empty() || path.size() < folder.size() || path.substr(0, folder.size()) != folder) {
    return false;
  }
  // "/site" holds "/site" and "/site/a", not "/sites"; a root ("/", "C:/") ends in '/' itself.
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

bool PageFile::CheckOpened(const std::string& path, const Rules& rules) {
  path_ = path;
  const std::string tooLarge = "larger than " + SizeText(rules.maxSize);
  if (sizeAtOpen_ > rules.maxSize) {
    Close();
    openError_ = tooLarge;
    return false;
  }
  if (!rules.within.empty()) {
    const std::string real = HeldRealPath();
    if (real.empty() || !LiesBelow(rules.within, real)) {
      Close();
      const std::string folder(rules.within);
      openError_ = real.empty() ? "its real path cannot be learnt, so it may lie outside " + folder
                                : "its real path " + real + " lies outside " + folder;
      return false;
    }
  }
  if (sizeAtOpen_ == 0) {
    // The size is unknown (a /proc file says 0): read now, one byte past the limit to see
    // whether the file holds more.
    const std::uint64_t limit = rules.maxSize < UINT64_MAX ? rules.maxSize + 1 : UINT64_MAX;
    if (Load(limit) > rules.maxSize) {
      Close();
      openError_ = tooLarge;
      return false;
    }
  }
  return true;
}

std::size_t PageFile::Load(std::uint64_t limit) {
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(limit, PTRDIFF_MAX / 2));
  std::size_t capacity = sizeAtOpen_ > 0 ? wanted : std::min(wanted, kFirstPiece);
  Buffer bytes = Allocate(std::max<std::size_t>(capacity, 1));
  std::size_t filled = 0;
  while (filled < wanted) {
    if (filled == capacity) {
      capacity = capacity > wanted / 2 ? wanted : capacity * 2;
      Buffer grown = Allocate(capacity);
      std::memcpy(grown.get(), bytes.get(), filled);
      bytes = std::move(grown);
    }
    const std::size_t n = ReadSome(bytes.get() + filled, capacity - filled);
    if (n == 0) break;  // the file is shorter now than when it was opened
    filled += n;
  }
  BlankNuls(bytes.get(), filled);
  size_ = FoldCrLf(bytes.get(), filled);
  contents_ = std::move(bytes);
  loaded_ = true;
  return filled;
}

void PageFile::LoadContents() {
  if (!IsOpen()) throw FileError(path_, "no page is open");
  Load(sizeAtOpen_);
}

std::size_t PageFile::ReadPiece(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  if (!loaded_) LoadContents();
  const std::size_t rest = size_ - position_;
  std::size_t take = rest < size - 1 ? rest : size - 1;
  const char* start = contents_.get() + position_;
  if (const void* lf = std::memchr(start, '\n', take)) {
    take = static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1;
  }
  std::memcpy(buffer, start, take);
  buffer[take] = '\0';
  position_ += take;
  return take;
}

std::string_view PageFile::ReadRest() {
  if (!loaded_) LoadContents();
  const std::string_view rest(contents_.get() + position_, size_ - position_);
  position_ = size_;
  return rest;
}

}  // namespace quarry
