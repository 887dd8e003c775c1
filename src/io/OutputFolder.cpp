#include "io/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

#include "io/FileError.h"

namespace quarry {

namespace {

// A number for a temporary file's name. The generator is seeded once per thread: opening the
// system's random device for every file cost more than writing a small piece.
std::uint32_t TemporaryNumber() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<std::uint32_t>(generator() % 1000000000U);
}

}  // namespace

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFolder::Open(const std::string& path, bool create) {
  path_ = path;
  const char* const name = path.empty() ? "." : path.c_str();
  if (create && ::mkdir(name, 0777) != 0 && errno != EEXIST) {
    errorNumber_ = errno;
    error_ = path + ": " + std::strerror(errno);
    return false;
  }
  fd_ = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    errorNumber_ = errno;
    error_ = (path.empty() ? std::string(".") : path) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

OutputFolder::Entry OutputFolder::Inspect(const std::string& name, std::string_view mark,
                                          std::size_t markWithin) const {
  struct stat info {};
  if (::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Entry::kMissing;
    throw FileError(PathOf(name), errno);
  }
  if (!S_ISREG(info.st_mode)) return Entry::kNotRegular;
  const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) return Entry::kNotRegular;  // became a link meanwhile
    throw FileError(PathOf(name), errno);
  }
  std::string head(markWithin, '\0');
  std::size_t filled = 0;
  while (filled < head.size()) {
    const ssize_t got = ::read(fd, head.data() + filled, head.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  head.resize(filled);
  return head.find(mark) != std::string::npos ? Entry::kMarked : Entry::kUnmarked;
}

void OutputFolder::Replace(const std::string& name, std::string_view bytes) const {
  Put(name, bytes, true);
}

void OutputFolder::Write(const std::string& name, std::string_view bytes) const {
  Put(name, bytes, false);
}

void OutputFolder::Put(const std::string& name, std::string_view bytes, bool flush) const {
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = "." + name + "." + std::to_string(TemporaryNumber()) + ".tmp";
    fd = ::openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) throw FileError(PathOf(temporary), errno);
  }
  const auto fail = [&](int error) {
    ::close(fd);
    ::unlinkat(fd_, temporary.c_str(), 0);
    throw FileError(PathOf(temporary), error);
  };
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) fail(errno);
    written += static_cast<std::size_t>(put);
  }
  if (flush && ::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlinkat(fd_, temporary.c_str(), 0);
    throw FileError(PathOf(temporary), error);
  }
  if (::renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(fd_, temporary.c_str(), 0);
    throw FileError(PathOf(name), error);
  }
}

void OutputFolder::Sync() const {
  if (::fsync(fd_) != 0) throw FileError(path_.empty() ? std::string(".") : path_, errno);
}

void OutputFolder::SyncWritten() const {
  if (::syncfs(fd_) != 0) throw FileError(path_.empty() ? std::string(".") : path_, errno);
}

bool OutputFolder::OpenIn(const OutputFolder& parent, const std::string& name, bool create) {
  path_ = parent.PathOf(name);
  if (create && ::mkdirat(parent.fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
    errorNumber_ = errno;
    error_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  fd_ = ::openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    errorNumber_ = errno;
    error_ = path_ + ": " +
             (errno == ELOOP || errno == ENOTDIR ? std::string("it is a link or not a folder")
                                                 : std::string(std::strerror(errno)));
    return false;
  }
  return true;
}

std::optional<std::string> OutputFolder::ReadFile(const std::string& name,
                                                  std::size_t limit) const {
  const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ELOOP) return std::nullopt;
    throw FileError(PathOf(name), errno);
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), limit), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      throw FileError(PathOf(name), error);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  ::close(fd);
  bytes.resize(filled);
  return bytes;
}

void OutputFolder::RemoveFile(const std::string& name) const noexcept {
  struct stat info {};
  if (::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
    ::unlinkat(fd_, name.c_str(), 0);
  }
}

std::string OutputFolder::PathOf(const std::string& name) const {
  if (path_.empty()) return name;
  return path_.back() == '/' ? path_ + name : path_ + '/' + name;
}

}  // namespace quarry
