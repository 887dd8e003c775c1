// The Win32 side of DatabaseDirectory: names are UTF-8, converted to UTF-16 for every call; a
// reparse point (a symbolic link or a junction) is never followed, only removed as itself.
#include "io/DatabaseDirectory.h"

#include <windows.h>

#include <cerrno>

#include "io/FaultInjection.h"
#include "io/FileError.h"
#include "io/win32/WindowsText.h"

namespace quarry {

namespace {

bool IsAbsolute(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '/' || path[0] == '\\') &&
      (path[1] == '/' || path[1] == '\\'))
    return true;  // \\server\share
  return path.size() >= 3 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::string DatabaseDirectory::AbsolutePath(const std::string& directory) {
  if (IsAbsolute(directory)) return directory;
  const std::wstring given = windows::Wide(directory.empty() ? std::string(".") : directory);
  const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return directory;
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return directory;
  full.resize(length);
  return windows::Utf8(full);
}

std::string DatabaseDirectory::NotPlainFileText(const std::string& path, bool isLink) {
  return path + (isLink ? " is a symbolic link" : " is not a regular file") +
         ": Quarry keeps its index in plain files";
}

std::string DatabaseDirectory::PathOf(const std::string& name) const {
  if (directory_.empty()) return name;
  if (directory_.back() == '/' || directory_.back() == '\\') return directory_ + name;
  return directory_ + "/" + name;
}

bool DatabaseDirectory::Exists(const std::string& name) const {
  return ::GetFileAttributesW(windows::Wide(PathOf(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string DatabaseDirectory::PlainFileProblem(const std::string& name) const {
  const std::string path = PathOf(name);
  const DWORD attributes = ::GetFileAttributesW(windows::Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return NotPlainFileText(path, true);
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return NotPlainFileText(path, false);
  }
  return {};
}

bool DatabaseDirectory::IsMissingOrEmpty(const std::string& name) const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(windows::Wide(PathOf(name)).c_str(), GetFileExInfoStandard, &data) ==
      0) {
    return true;
  }
  const DWORD notPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return (data.dwFileAttributes & notPlain) == 0 && data.nFileSizeHigh == 0 &&
         data.nFileSizeLow == 0;
}

void DatabaseDirectory::Remove(const std::string& name) const {
  const std::string path = PathOf(name);
  const std::wstring wide = windows::Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (IsMissing(error)) return;
    throw FileError(path, windows::SystemMessage(error), windows::ErrnoOf(error));
  }
  // A link to a folder is removed as a folder entry; what it leads to is never touched.
  const bool folderLink = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const BOOL removed = folderLink ? ::RemoveDirectoryW(wide.c_str()) : ::DeleteFileW(wide.c_str());
  if (removed == 0) {
    const DWORD error = ::GetLastError();
    if (!IsMissing(error)) {
      throw FileError(path, windows::SystemMessage(error), windows::ErrnoOf(error));
    }
  }
}

bool DatabaseDirectory::RemoveQuietly(const std::string& name) const noexcept {
  try {
    Remove(name);
    return true;
  } catch (...) {
    return false;
  }
}

void DatabaseDirectory::Sync() const {
  // Windows writes a folder's entries through with the renames (MOVEFILE_WRITE_THROUGH); there
  // is no handle to flush. The fault seam still counts the flush, so that the same fault tests
  // run on both systems.
  const std::string path = directory_.empty() ? std::string(".") : directory_;
  if (const int error = FaultInjection::Check(FileOperation::kFlush)) throw FileError(path, error);
}

}  // namespace quarry
