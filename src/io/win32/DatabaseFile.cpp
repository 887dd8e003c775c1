// The Win32 side of DatabaseFile. Files are opened with every kind of sharing, so that the
// holder can replace them by renaming (Windows cannot replace a file that is held without
// sharing); the exclusion is a byte-range lock far past any data instead, exclusive for a writer
// and shared for a reader, which a second opener cannot take while it is held, in this process
// or another. Names are UTF-8, converted to UTF-16 for every call; no call follows a reparse
// point (a symbolic link or a junction).
#include "io/DatabaseFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "io/DatabaseDirectory.h"
#include "io/FaultInjection.h"
#include "io/FileError.h"
#include "io/win32/WindowsText.h"

namespace quarry {
namespace {

// How often Open tries again when the name was given to another file between its open and its
// lock (an IndexDatabase replacing its files while holding them).
constexpr int kOpenAttempts = 100;

// The locked byte: far past the end of any database file, so that reads and writes never meet
// the lock.
constexpr DWORD kLockOffsetHigh = 0x40000000;
constexpr DWORD kLockOffsetLow = 0;

// The C runtime gives the descriptor's handle as an integer.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

// Where a positional read or write starts.
OVERLAPPED At(std::uint64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(position >> 32);
  return at;
}

void ThrowIfInjected(FileOperation operation, const std::string& path) {
  if (const int error = FaultInjection::Check(operation)) throw FileError(path, error);
}

[[noreturn]] void ThrowSystemError(const std::string& path, DWORD error) {
  throw FileError(path, windows::SystemMessage(error), windows::ErrnoOf(error));
}

std::string ResolvedPath(const std::string& directory, const std::string& name) {
  const std::wstring given = windows::Wide(directory.empty() ? std::string(".") : directory);
  const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  if (size == 0 || ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr) == 0) {
    return DatabaseDirectory(directory).PathOf(name);
  }
  full.resize(std::wcslen(full.c_str()));
  std::string resolved = windows::Utf8(full);
  std::replace(resolved.begin(), resolved.end(), '\\', '/');  // as the paths Quarry joins
  return DatabaseDirectory(resolved).PathOf(name);
}

bool Lock(HANDLE handle, bool exclusive) {
  OVERLAPPED where{};
  where.Offset = kLockOffsetLow;
  where.OffsetHigh = kLockOffsetHigh;
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return ::LockFileEx(handle, flags, 0, 1, 0, &where) != 0;
}

// The identity of an open file: its volume and its index on the volume.
struct FileIdentity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileIdentity&) const = default;
};

bool IdentityOf(HANDLE handle, FileIdentity& identity, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info) == 0) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

// True when path names, without following a link, the file open as held.
bool NameGives(const std::string& path, HANDLE held) {
  FileIdentity heldIdentity;
  if (!IdentityOf(held, heldIdentity)) return false;
  const HANDLE named = ::CreateFileW(
      windows::Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  FileIdentity namedIdentity;
  const bool same = IdentityOf(named, namedIdentity) && namedIdentity == heldIdentity;
  ::CloseHandle(named);
  return same;
}

HANDLE OpenHandle(const std::string& path, bool reading, DWORD disposition) {
  const DWORD access = reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  return ::CreateFileW(windows::Wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Wraps handle in a C runtime descriptor, which owns it from then on; -1 (handle closed) when
// that fails.
int Adopt(HANDLE handle) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) ::CloseHandle(handle);
  return fd;
}

}  // namespace

const bool DatabaseFile::kRenamesOverHeldFiles = false;

DatabaseFile::~DatabaseFile() { Close(); }

bool DatabaseFile::Open(const std::string& directory, const std::string& name, Access access) {
  const DatabaseDirectory folder(directory);
  const std::string path = folder.PathOf(name);
  openError_.clear();
  openErrorNumber_ = 0;
  auto fail = [&](int error, HANDLE handle, std::string text) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    openErrorNumber_ = error;
    openError_ = std::move(text);
    if (error == EWOULDBLOCK) openError_ += "; the database is in use by another process";
    return false;
  };
  if (std::string problem = folder.PlainFileProblem(name); !problem.empty()) {
    return fail(EINVAL, INVALID_HANDLE_VALUE, std::move(problem));
  }
  const bool reading = access == Access::kRead;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    const HANDLE handle = OpenHandle(path, reading, reading ? OPEN_EXISTING : OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      return fail(windows::ErrnoOf(error), handle, path + ": " + windows::SystemMessage(error));
    }
    FileIdentity identity;
    DWORD attributes = 0;
    if (!IdentityOf(handle, identity, &attributes)) {
      const DWORD error = ::GetLastError();
      return fail(windows::ErrnoOf(error), handle, path + ": " + windows::SystemMessage(error));
    }
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        ::GetFileType(handle) != FILE_TYPE_DISK) {
      const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      return fail(EINVAL, handle, DatabaseDirectory::NotPlainFileText(path, link));
    }
    if (!Lock(handle, !reading)) {
      const DWORD error = ::GetLastError();
      return fail(EWOULDBLOCK, handle, path + ": " + windows::SystemMessage(error));
    }
    // As on POSIX: a file opened just before its holder renamed another over its name is no
    // longer the file of that name; try again with the one the name now gives.
    if (NameGives(path, handle)) {
      const int fd = Adopt(handle);
      if (fd < 0) return fail(errno, INVALID_HANDLE_VALUE, path + ": " + std::strerror(errno));
      fd_ = fd;
      directory_ = directory;
      path_ = path;
      fullPath_ = ResolvedPath(directory, name);
      position_ = 0;
      return true;
    }
    ::CloseHandle(handle);
  }
  return fail(EAGAIN, INVALID_HANDLE_VALUE, path + ": " + std::strerror(EAGAIN));
}

void DatabaseFile::Create(const std::string& directory, const std::string& name) {
  const std::string path = DatabaseDirectory(directory).PathOf(name);
  ThrowIfInjected(FileOperation::kCreate, path);
  // CREATE_NEW never opens what is there, a link or a junction included.
  const HANDLE handle = OpenHandle(path, false, CREATE_NEW);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      throw FileError(path,
                      "another program made " + name + " in the index's folder while it was saved",
                      EEXIST);
    }
    ThrowSystemError(path, error);
  }
  if (!Lock(handle, true)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ThrowSystemError(path, error);
  }
  const int fd = Adopt(handle);
  if (fd < 0) throw FileError(path, errno);
  fd_ = fd;
  directory_ = directory;
  path_ = path;
  fullPath_ = ResolvedPath(directory, name);
  position_ = 0;
}

std::uint64_t DatabaseFile::Length() const {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(HandleOf(fd_), &size) == 0) ThrowSystemError(path_, ::GetLastError());
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::time_t> DatabaseFile::ModificationTime() const {
  if (FaultInjection::Check(FileOperation::kReadTime) != 0) return std::nullopt;
  FILETIME written{};
  if (::GetFileTime(HandleOf(fd_), nullptr, nullptr, &written) == 0) return std::nullopt;
  // 100-nanosecond ticks since 1601-01-01 to seconds since 1970-01-01.
  const std::uint64_t ticks = (std::uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ULL;
  if (ticks < kTicksTo1970) return std::nullopt;
  return static_cast<std::time_t>((ticks - kTicksTo1970) / 10000000ULL);
}

std::size_t DatabaseFile::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1U << 30));
    OVERLAPPED at = At(position_);
    DWORD got = 0;
    if (::ReadFile(HandleOf(fd_), bytes + done, chunk, &got, &at) == 0) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      ThrowSystemError(path_, error);
    }
    if (got == 0) break;
    done += got;
    position_ += got;
  }
  return done;
}

void DatabaseFile::Write(const void* data, std::size_t size) {
  ThrowIfInjected(FileOperation::kWrite, path_);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1U << 30));
    OVERLAPPED at = At(position_);
    DWORD put = 0;
    if (::WriteFile(HandleOf(fd_), bytes + done, chunk, &put, &at) == 0) {
      ThrowSystemError(path_, ::GetLastError());
    }
    if (put == 0) throw FileError(path_, ENOSPC);
    done += put;
    position_ += put;
  }
}

void DatabaseFile::SetLength(std::uint64_t length) {
  ThrowIfInjected(FileOperation::kSetLength, path_);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  if (::SetFileInformationByHandle(HandleOf(fd_), FileEndOfFileInfo, &end, sizeof end) == 0) {
    ThrowSystemError(path_, ::GetLastError());
  }
  position_ = length;
}

void DatabaseFile::Sync() {
  ThrowIfInjected(FileOperation::kFlush, path_);
  if (::FlushFileBuffers(HandleOf(fd_)) == 0) ThrowSystemError(path_, ::GetLastError());
}

void DatabaseFile::RenameTo(const std::string& newName) {
  ThrowIfInjected(FileOperation::kRename, path_);
  const std::string newPath = DatabaseDirectory(directory_).PathOf(newName);
  if (!NameGives(path_, HandleOf(fd_))) {
    throw FileError(path_, "another program replaced this file in the index's folder");
  }
  // The file that newName gives must not be held open, by this process or another: Windows
  // cannot replace it then. The database lets go of its own before it renames.
  if (::MoveFileExW(windows::Wide(path_).c_str(), windows::Wide(newPath).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    ThrowSystemError(path_, ::GetLastError());
  }
  path_ = newPath;
  fullPath_ = ResolvedPath(directory_, newName);
}

void DatabaseFile::CopyPermissionsFrom(const DatabaseFile& /*other*/) noexcept {
  // A new file takes the folder's inherited access rules, as the file it replaces did.
}

void DatabaseFile::Close() {
  if (fd_ < 0) return;
  ::_close(fd_);  // closes the handle, which releases its lock
  fd_ = -1;
}

}  // namespace quarry
