// The Win32 side of PageFile: CreateFileW sharing everything (only a process that holds the page
// without sharing keeps it out), ReadFile, and the real path of the handle held.
#include "io/PageFile.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "io/FileError.h"
#include "io/win32/WindowsText.h"

namespace quarry {

namespace {

// Smaller pages come from the allocator: a page of its own costs two system calls.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

PageFile::Buffer PageFile::Allocate(std::size_t size) {
  if (size < kMappedFrom) return Buffer(new char[size], Release{size});
  void* bytes = ::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (bytes == nullptr) throw std::bad_alloc();
  return Buffer(static_cast<char*>(bytes), Release{size});
}

void PageFile::Release::operator()(char* bytes) const {
  if (size < kMappedFrom) {
    delete[] bytes;
  } else {
    ::VirtualFree(bytes, 0, MEM_RELEASE);
  }
}

struct PageFile::Handle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};

PageFile::PageFile() = default;
PageFile::~PageFile() { Close(); }

bool PageFile::Open(const std::string& path, const Rules& rules) {
  Close();
  openError_.clear();
  auto handle = std::make_unique<Handle>();
  handle->handle = ::CreateFileW(windows::Wide(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle->handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    openError_ = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                     ? "Locked by another process"
                     : windows::SystemMessage(error);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle->handle) != FILE_TYPE_DISK ||
      ::GetFileInformationByHandle(handle->handle, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    openError_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? std::strerror(EISDIR)
                                                                         : "Not a regular file";
    return false;
  }
  handle_ = std::move(handle);
  sizeAtOpen_ = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return CheckOpened(path, rules);
}

std::size_t PageFile::ReadSome(char* buffer, std::size_t size) {
  constexpr std::size_t kMaxRead = std::size_t{1} << 30;
  DWORD got = 0;
  if (::ReadFile(handle_->handle, buffer, static_cast<DWORD>(std::min(size, kMaxRead)), &got,
                 nullptr) == 0) {
    const DWORD error = ::GetLastError();
    throw FileError(path_, windows::SystemMessage(error), windows::ErrnoOf(error));
  }
  return got;
}

std::string PageFile::HeldRealPath() const { return windows::FinalPathOf(handle_->handle); }

void PageFile::Close() {
  handle_.reset();
  contents_.reset();
  size_ = 0;
  loaded_ = false;
  position_ = 0;
  sizeAtOpen_ = 0;
}

}  // namespace quarry
