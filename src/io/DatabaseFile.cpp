#include "io/DatabaseFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "io/DatabaseDirectory.h"
#include "io/FaultInjection.h"
#include "io/FileError.h"

namespace quarry {
namespace {

// How often Open tries again when the name was given to another file between its open and its
// lock (an IndexDatabase replacing its files while holding them).
constexpr int kOpenAttempts = 100;

std::string JoinPath(const std::string& directory, const std::string& name) {
  return DatabaseDirectory(directory).PathOf(name);
}

std::string ResolvedDirectory(const std::string& directory) {
  std::string path = directory.empty() ? std::string(".") : directory;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string result(resolved);
  std::free(resolved);  // NOLINT: realpath's buffer comes from malloc
  return result;
}

off_t ToOffset(std::uint64_t value, const std::string& path) {
  if (value > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    throw FileError(path, EOVERFLOW);
  }
  return static_cast<off_t>(value);
}

void ThrowIfInjected(FileOperation operation, const std::string& path) {
  if (const int error = FaultInjection::Check(operation)) throw FileError(path, error);
}

// True when path names, without following a link, the file described by held.
bool NameGives(const std::string& path, const struct stat& held) {
  struct stat named {};
  return ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

}  // namespace

const bool DatabaseFile::kRenamesOverHeldFiles = true;

DatabaseFile::~DatabaseFile() { Close(); }

bool DatabaseFile::Open(const std::string& directory, const std::string& name, Access access) {
  const std::string path = JoinPath(directory, name);
  const DatabaseDirectory folder(directory);
  openError_.clear();
  openErrorNumber_ = 0;
  auto fail = [&](int error, int fd, std::string text = {}) {
    if (fd >= 0) ::close(fd);
    openErrorNumber_ = error;
    openError_ = text.empty() ? path + ": " + std::strerror(error) : std::move(text);
    if (error == EWOULDBLOCK) openError_ += "; the database is in use by another process";
    return false;
  };
  // Refused before anything is opened or made, so that no device is opened and no file is
  // created beside a name that is refused.
  if (std::string problem = folder.PlainFileProblem(name); !problem.empty()) {
    return fail(EINVAL, -1, std::move(problem));
  }
  const bool reading = access == Access::kRead;
  // O_NOFOLLOW: a link put at the name meanwhile is refused, never followed; O_NONBLOCK: a FIFO
  // put there does not make the open wait (it is refused after fstat).
  const int flags = (reading ? O_RDONLY : O_RDWR | O_CREAT) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
      const int error = errno;
      std::string problem = error == ELOOP ? folder.PlainFileProblem(name) : std::string();
      return fail(error, -1, std::move(problem));
    }
    struct stat held {};
    if (::fstat(fd, &held) != 0) return fail(errno, fd);
    if (!S_ISREG(held.st_mode)) {
      return fail(EINVAL, fd, DatabaseDirectory::NotPlainFileText(path, false));
    }
    const int fileFlags = ::fcntl(fd, F_GETFL);
    if (fileFlags < 0 || ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0) return fail(errno, fd);
    int locked;
    do {
      locked = ::flock(fd, (reading ? LOCK_SH : LOCK_EX) | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) return fail(errno, fd);
    // The holder of a database replaces its files by renaming locked files over them. A file
    // opened just before such a rename and locked after its holder let go is no longer the file
    // of that name: try again with the file the name now gives.
    if (NameGives(path, held)) {
      fd_ = fd;
      directory_ = directory;
      path_ = path;
      fullPath_ = JoinPath(ResolvedDirectory(directory), name);
      position_ = 0;
      return true;
    }
    ::close(fd);
  }
  return fail(EAGAIN, -1);
}

void DatabaseFile::Create(const std::string& directory, const std::string& name) {
  const std::string path = JoinPath(directory, name);
  ThrowIfInjected(FileOperation::kCreate, path);
  // O_EXCL with O_NOFOLLOW: whatever is at the name, a dangling link included, makes this fail.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) {
      throw FileError(path,
                      "another program made " + name + " in the index's folder while it was saved",
                      error);
    }
    throw FileError(path, error);
  }
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    ::close(fd);
    throw FileError(path, error);
  }
  fd_ = fd;
  directory_ = directory;
  path_ = path;
  fullPath_ = JoinPath(ResolvedDirectory(directory), name);
  position_ = 0;
}

std::uint64_t DatabaseFile::Length() const {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) throw FileError(path_, errno);
  return static_cast<std::uint64_t>(status.st_size);
}

std::optional<std::time_t> DatabaseFile::ModificationTime() const {
  if (FaultInjection::Check(FileOperation::kReadTime) != 0) return std::nullopt;
  struct stat status {};
  if (::fstat(fd_, &status) != 0) return std::nullopt;
  return status.st_mtime;
}

std::size_t DatabaseFile::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t chunk = std::min<std::size_t>(size - done, 1u << 30);
    const ssize_t got = ::pread(fd_, bytes + done, chunk, ToOffset(position_, path_));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError(path_, errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
    position_ += static_cast<std::uint64_t>(got);
  }
  return done;
}

void DatabaseFile::Write(const void* data, std::size_t size) {
  ThrowIfInjected(FileOperation::kWrite, path_);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t chunk = std::min<std::size_t>(size - done, 1u << 30);
    const ssize_t put = ::pwrite(fd_, bytes + done, chunk, ToOffset(position_, path_));
    if (put < 0) {
      if (errno == EINTR) continue;
      throw FileError(path_, errno);
    }
    if (put == 0) throw FileError(path_, ENOSPC);
    done += static_cast<std::size_t>(put);
    position_ += static_cast<std::uint64_t>(put);
  }
}

void DatabaseFile::SetLength(std::uint64_t length) {
  ThrowIfInjected(FileOperation::kSetLength, path_);
  int result;
  do {
    result = ::ftruncate(fd_, ToOffset(length, path_));
  } while (result != 0 && errno == EINTR);
  if (result != 0) throw FileError(path_, errno);
  position_ = length;
}

void DatabaseFile::Sync() {
  ThrowIfInjected(FileOperation::kFlush, path_);
  int result;
  do {
    result = ::fsync(fd_);
  } while (result != 0 && errno == EINTR);
  if (result != 0) throw FileError(path_, errno);
}

void DatabaseFile::RenameTo(const std::string& newName) {
  ThrowIfInjected(FileOperation::kRename, path_);
  const std::string newPath = JoinPath(directory_, newName);
  struct stat held {};
  if (::fstat(fd_, &held) != 0) throw FileError(path_, errno);
  if (!NameGives(path_, held)) {
    throw FileError(path_, "another program replaced this file in the index's folder");
  }
  if (::rename(path_.c_str(), newPath.c_str()) != 0) throw FileError(path_, errno);
  path_ = newPath;
  fullPath_ = JoinPath(ResolvedDirectory(directory_), newName);
}

void DatabaseFile::CopyPermissionsFrom(const DatabaseFile& other) noexcept {
  struct stat status {};
  if (::fstat(other.fd_, &status) == 0) ::fchmod(fd_, status.st_mode & 07777);
}

void DatabaseFile::Close() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the last descriptor of the open file releases its lock
  fd_ = -1;
}

}  // namespace quarry
