// The Win32 side of OutputFolder: the folder is held open (so it cannot be removed or renamed
// meanwhile) and names are looked at and replaced without following a reparse point.
#include "io/OutputFolder.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <random>

#include "io/FileError.h"
#include "io/win32/WindowsText.h"

namespace quarry {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

[[noreturn]] void ThrowSystemError(const std::string& path, DWORD error) {
  throw FileError(path, windows::SystemMessage(error), windows::ErrnoOf(error));
}

// The folder's handle is kept in the int member that the POSIX side keeps its descriptor in.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));  // NOLINT(performance-no-int-to-ptr)
}

// A number for a temporary file's name. The generator is seeded once per thread: opening the
// system's random device for every file cost more than writing a small piece.
std::uint32_t TemporaryNumber() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<std::uint32_t>(generator() % 1000000000U);
}
}  // namespace

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::CloseHandle(HandleOf(fd_));
}

bool OutputFolder::Open(const std::string& path, bool create) {
  path_ = path;
  const std::string name = path.empty() ? std::string(".") : path;
  const std::wstring wide = windows::Wide(name);
  if (create && ::CreateDirectoryW(wide.c_str(), nullptr) == 0 &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = ::GetLastError();
    errorNumber_ = windows::ErrnoOf(error);
    error_ = name + ": " + windows::SystemMessage(error);
    return false;
  }
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || ::GetFileInformationByHandle(handle, &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const DWORD error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_DIRECTORY;
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    errorNumber_ = windows::ErrnoOf(error);
    error_ = name + ": " + windows::SystemMessage(error);
    return false;
  }
  // The handle is kept as a number: it is never used as a C runtime descriptor.
  fd_ = static_cast<int>(reinterpret_cast<intptr_t>(handle));
  return true;
}

OutputFolder::Entry OutputFolder::Inspect(const std::string& name, std::string_view mark,
                                          std::size_t markWithin) const {
  const std::string path = PathOf(name);
  const std::wstring wide = windows::Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Entry::kMissing;
    ThrowSystemError(path, error);
  }
  const DWORD notPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if ((attributes & notPlain) != 0) return Entry::kNotRegular;
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowSystemError(path, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(file, &info) == 0 || (info.dwFileAttributes & notPlain) != 0) {
    ::CloseHandle(file);
    return Entry::kNotRegular;  // became something else meanwhile
  }
  std::string head(markWithin, '\0');
  DWORD got = 0;
  if (::ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr) == 0) got = 0;
  ::CloseHandle(file);
  head.resize(got);
  return head.find(mark) != std::string::npos ? Entry::kMarked : Entry::kUnmarked;
}

void OutputFolder::Replace(const std::string& name, std::string_view bytes) const {
  Put(name, bytes, true);
}

// Windows has no flush for many files at once: each is flushed as it is written.
void OutputFolder::Write(const std::string& name, std::string_view bytes) const {
  Put(name, bytes, true);
}

void OutputFolder::SyncWritten() const {}

void OutputFolder::Put(const std::string& name, std::string_view bytes, bool flush) const {
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = "." + name + "." + std::to_string(TemporaryNumber()) + ".tmp";
    // CREATE_NEW: never opens what is there, a link included.
    file = ::CreateFileW(windows::Wide(PathOf(temporary)).c_str(), GENERIC_WRITE, kShareAll,
                         nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS || attempt == 100) ThrowSystemError(PathOf(temporary), error);
    }
  }
  const std::wstring wideTemporary = windows::Wide(PathOf(temporary));
  const auto fail = [&](DWORD error, const std::string& path) {
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    ::DeleteFileW(wideTemporary.c_str());
    ThrowSystemError(path, error);
  };
  std::size_t written = 0;
  while (written < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1U << 30));
    DWORD put = 0;
    if (::WriteFile(file, bytes.data() + written, chunk, &put, nullptr) == 0) {
      fail(::GetLastError(), PathOf(temporary));
    }
    written += put;
  }
  if (flush && ::FlushFileBuffers(file) == 0) fail(::GetLastError(), PathOf(temporary));
  ::CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  if (::MoveFileExW(wideTemporary.c_str(), windows::Wide(PathOf(name)).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    fail(::GetLastError(), PathOf(name));
  }
}

void OutputFolder::Sync() const {
  // The renames above are written through; Windows has no flush for a folder's entries.
}

bool OutputFolder::OpenIn(const OutputFolder& parent, const std::string& name, bool create) {
  const std::string path = parent.PathOf(name);
  const std::wstring wide = windows::Wide(path);
  if (create && ::CreateDirectoryW(wide.c_str(), nullptr) == 0 &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    const DWORD error = ::GetLastError();
    path_ = path;
    errorNumber_ = windows::ErrnoOf(error);
    error_ = path + ": " + windows::SystemMessage(error);
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    path_ = path;
    errorNumber_ = ENOTDIR;
    error_ = path + ": it is a link or not a folder";
    return false;
  }
  return Open(path, false);
}

std::optional<std::string> OutputFolder::ReadFile(const std::string& name,
                                                  std::size_t limit) const {
  const std::string path = PathOf(name);
  const HANDLE file = ::CreateFileW(windows::Wide(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    ThrowSystemError(path, error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD notPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if (::GetFileInformationByHandle(file, &info) == 0 || (info.dwFileAttributes & notPlain) != 0) {
    ::CloseHandle(file);
    return std::nullopt;
  }
  const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, limit)), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1U << 30));
    DWORD got = 0;
    if (::ReadFile(file, bytes.data() + filled, chunk, &got, nullptr) == 0) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(file);
      ThrowSystemError(path, error);
    }
    if (got == 0) break;
    filled += got;
  }
  ::CloseHandle(file);
  bytes.resize(filled);
  return bytes;
}

void OutputFolder::RemoveFile(const std::string& name) const noexcept {
  try {
    const std::wstring wide = windows::Wide(PathOf(name));
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const DWORD notPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & notPlain) == 0) {
      ::DeleteFileW(wide.c_str());
    }
  } catch (...) {
  }
}

std::string OutputFolder::PathOf(const std::string& name) const {
  if (path_.empty()) return name;
  return path_.back() == '/' || path_.back() == '\\' ? path_ + name : path_ + '/' + name;
}

}  // namespace quarry
