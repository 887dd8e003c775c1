#include "io/FolderReader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
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
