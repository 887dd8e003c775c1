#include "io/DatabaseDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "io/FaultInjection.h"
#include "io/FileError.h"

namespace quarry {

std::string DatabaseDirectory::AbsolutePath(const std::string& directory) {
  if (!directory.empty() && directory.front() == '/') return directory;
  char* current = ::getcwd(nullptr, 0);
  if (current == nullptr) return directory;
  std::string result(current);
  std::free(current);  // NOLINT: getcwd's buffer comes from malloc
  if (directory.empty()) return result;
  if (result.back() != '/') result += '/';
  return result + directory;
}

std::string DatabaseDirectory::NotPlainFileText(const std::string& path, bool isLink) {
  return path + (isLink ? " is a symbolic link" : " is not a regular file") +
         ": Quarry keeps its index in plain files";
}

std::string DatabaseDirectory::PathOf(const std::string& name) const {
  if (directory_.empty()) return name;
  if (directory_.back() == '/') return directory_ + name;
  return directory_ + "/" + name;
}

bool DatabaseDirectory::Exists(const std::string& name) const {
  struct stat status {};
  return ::lstat(PathOf(name).c_str(), &status) == 0;
}

std::string DatabaseDirectory::PlainFileProblem(const std::string& name) const {
  const std::string path = PathOf(name);
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return {};
  return NotPlainFileText(path, S_ISLNK(status.st_mode));
}

void DatabaseDirectory::Remove(const std::string& name) const {
  const std::string path = PathOf(name);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw FileError(path, errno);
}

bool DatabaseDirectory::RemoveQuietly(const std::string& name) const noexcept {
  return ::unlink(PathOf(name).c_str()) == 0 || errno == ENOENT;
}

void DatabaseDirectory::Sync() const {
  const std::string path = directory_.empty() ? std::string(".") : directory_;
  if (const int error = FaultInjection::Check(FileOperation::kFlush)) throw FileError(path, error);
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileError(path, errno);
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  if (result != 0) throw FileError(path, error);
}

}  // namespace quarry
