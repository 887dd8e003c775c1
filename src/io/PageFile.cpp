// The POSIX side of PageFile: open(2) without blocking, a shared flock(), and the real path of
// the file held from /proc/self/fd.
#include "io/PageFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "io/FileError.h"
#include "io/FolderReader.h"

namespace quarry {

namespace {

// Smaller pages come from the allocator: a page of its own costs two system calls.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

PageFile::Buffer PageFile::Allocate(std::size_t size) {
  if (size < kMappedFrom) return Buffer(new char[size], Release{size});
  void* bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (bytes == MAP_FAILED) throw std::bad_alloc();
  return Buffer(static_cast<char*>(bytes), Release{size});
}

void PageFile::Release::operator()(char* bytes) const {
  if (size < kMappedFrom) {
    delete[] bytes;
  } else {
    ::munmap(bytes, size);
  }
}

struct PageFile::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) ::close(fd);  // a read-only file has nothing to flush
  }
};

PageFile::PageFile() = default;
PageFile::~PageFile() { Close(); }

bool PageFile::Open(const std::string& path, const Rules& rules) {
  Close();
  openError_.clear();
  // O_NONBLOCK keeps a FIFO from blocking the open; such a file is refused below anyway.
  auto handle = std::make_unique<Handle>();
  handle->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (handle->fd < 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(handle->fd, &info) != 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    openError_ = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
    return false;
  }
  // A file that another process holds exclusively counts as one that cannot be opened. File
  // systems without flock() support are read without the lock.
  if (::flock(handle->fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    openError_ = "Locked by another process";
    return false;
  }
  const int flags = ::fcntl(handle->fd, F_GETFL);
  if (flags >= 0) ::fcntl(handle->fd, F_SETFL, flags & ~O_NONBLOCK);
  handle_ = std::move(handle);
  sizeAtOpen_ = static_cast<std::uint64_t>(info.st_size);
  return CheckOpened(path, rules);
}

std::size_t PageFile::ReadSome(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(handle_->fd, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw FileError(path_, errno);
  }
}

std::string PageFile::HeldRealPath() const {
  // /proc names the file the descriptor holds, whatever has happened to its path since.
  char held[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(handle_->fd);
  const ssize_t length = ::readlink(link.c_str(), held, sizeof held);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof held && held[0] == '/') {
    return std::string(held, static_cast<std::size_t>(length));
  }
  // Without /proc: the path's real path counts only when it names the very file held.
  std::string real = FolderReader::RealPath(path_);
  struct stat named {};
  struct stat opened {};
  if (real.empty() || ::stat(real.c_str(), &named) != 0 || ::fstat(handle_->fd, &opened) != 0 ||
      named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
    return {};
  }
  return real;
}

void PageFile::Close() {
  handle_.reset();
  contents_.reset();
  size_ = 0;
  loaded_ = false;
  position_ = 0;
  sizeAtOpen_ = 0;
}

}  // namespace quarry
