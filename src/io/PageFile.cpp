#include "io/PageFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "io/win32/WindowsText.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "io/FileError.h"

namespace quarry {

namespace {

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

// Reads up to size bytes from fd; -1 with errno set on failure.
long ReadSome(int fd, char* buffer, std::size_t size) {
#ifdef _WIN32
  constexpr std::size_t kMaxRead = 1U << 30;
  return ::_read(fd, buffer, static_cast<unsigned>(size < kMaxRead ? size : kMaxRead));
#else
  return ::read(fd, buffer, size);
#endif
}

}  // namespace

PageFile::~PageFile() { Close(); }

#ifdef _WIN32
bool PageFile::Open(const std::string& path) {
  Close();
  openError_.clear();
  // Every kind of sharing: only a process that holds the page without sharing keeps it out,
  // as only an exclusive lock does on Linux.
  const HANDLE handle = ::CreateFileW(windows::Wide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    openError_ = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                     ? "Locked by another process"
                     : windows::SystemMessage(error);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || ::GetFileInformationByHandle(handle, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    openError_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? std::strerror(EISDIR)
                                                                         : "Not a regular file";
    ::CloseHandle(handle);
    return false;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    openError_ = std::strerror(errno);
    ::CloseHandle(handle);
    return false;
  }
  fd_ = fd;
  path_ = path;
  sizeAtOpen_ =
      static_cast<std::size_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  return true;
}

#else
bool PageFile::Open(const std::string& path) {
  Close();
  openError_.clear();
  // O_NONBLOCK keeps a FIFO from blocking the open; such a file is refused below anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    openError_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    openError_ = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
    ::close(fd);
    return false;
  }
  // A file that another process holds exclusively counts as one that cannot be opened. File
  // systems without flock() support are read without the lock.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    openError_ = "Locked by another process";
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  path_ = path;
  sizeAtOpen_ = static_cast<std::size_t>(info.st_size);
  return true;
}
#endif

void PageFile::LoadContents() {
  // The size at open is only a guess: the file may have grown, or report 0 (as /proc files do).
  // Reading on until read() gives 0 takes in whatever is there.
  std::size_t capacity = sizeAtOpen_ + 1;
  auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      capacity = capacity < 65536 ? 65536 : capacity * 2;
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(grown.get(), bytes.get(), filled);
      bytes = std::move(grown);
    }
    const long n = ReadSome(fd_, bytes.get() + filled, capacity - filled);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(path_, errno);
    }
    filled += static_cast<std::size_t>(n);
  }
  BlankNuls(bytes.get(), filled);
  size_ = FoldCrLf(bytes.get(), filled);
  contents_ = std::move(bytes);
  loaded_ = true;
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

void PageFile::Close() {
#ifdef _WIN32
  if (fd_ >= 0) ::_close(fd_);  // closes the handle too
#else
  if (fd_ >= 0) ::close(fd_);  // a read-only file has nothing to flush
#endif  // a read-only file has nothing to flush
  fd_ = -1;
  contents_.reset();
  size_ = 0;
  loaded_ = false;
  position_ = 0;
  sizeAtOpen_ = 0;
}

}  // namespace quarry
