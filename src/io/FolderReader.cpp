#include "io/FolderReader.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quarry {

namespace {

FolderReader::Kind KindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return FolderReader::Kind::kFolder;
  if (S_ISREG(mode)) return FolderReader::Kind::kFile;
  if (S_ISLNK(mode)) return FolderReader::Kind::kLink;
  return FolderReader::Kind::kOther;
}

}  // namespace

struct FolderReader::Handle {
  DIR* dir = nullptr;
  std::string prefix;  // folder + '/', for the entries whose type readdir does not give
  ~Handle() {
    if (dir != nullptr) ::closedir(dir);
  }
};

FolderReader::FolderReader() = default;
FolderReader::~FolderReader() = default;

FolderReader::Kind FolderReader::KindOf(const std::string& path, bool followLinks,
                                        std::string* error) {
  struct stat info {};
  const int result = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
  if (result != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return Kind::kMissing;
  }
  return KindOfMode(info.st_mode);
}

bool FolderReader::Same(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool FolderReader::IsSeparator(char c) { return c == '/'; }

std::string FolderReader::RealPath(const std::string& path) {
  char* real = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string result(real);
  std::free(real);  // NOLINT: realpath's buffer comes from malloc
  return result;
}

bool FolderReader::MakeFolder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  if (error != nullptr) *error = std::strerror(errno);
  return false;
}

void FolderReader::RemoveEmptyFolder(const std::string& path) noexcept { ::rmdir(path.c_str()); }

bool FolderReader::Open(const std::string& folder) {
  handle_.reset();
  error_.clear();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    error_ = std::strerror(errno);
    return false;
  }
  handle_ = std::make_unique<Handle>();
  handle_->dir = dir;
  handle_->prefix = (!folder.empty() && folder.back() == '/') ? folder : folder + '/';
  return true;
}

bool FolderReader::Next(Entry& entry) {
  if (!handle_) return false;
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(handle_->dir);
    if (found == nullptr) {
      if (errno != 0) error_ = std::strerror(errno);
      return false;
    }
    if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0) continue;
    entry.name = found->d_name;
    switch (found->d_type) {
      case DT_DIR:
        entry.kind = Kind::kFolder;
        break;
      case DT_REG:
        entry.kind = Kind::kFile;
        break;
      case DT_LNK:
        entry.kind = Kind::kLink;
        break;
      case DT_UNKNOWN: {
        // Some file systems do not say; ask for this one entry. One that vanished is passed over.
        entry.kind = KindOf(handle_->prefix + entry.name, false);
        if (entry.kind == Kind::kMissing) continue;
        break;
      }
      default:
        entry.kind = Kind::kOther;
        break;
    }
    return true;
  }
}

}  // namespace quarry
