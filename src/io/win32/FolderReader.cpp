// The Win32 side of FolderReader: FindFirstFileW over UTF-16 names, reparse points as links.
#include "io/FolderReader.h"

#include <windows.h>

#include <algorithm>

#include "io/win32/WindowsText.h"

namespace quarry {

namespace {

FolderReader::Kind KindOfAttributes(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FolderReader::Kind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FolderReader::Kind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return FolderReader::Kind::kOther;
  return FolderReader::Kind::kFile;
}

}  // namespace

struct FolderReader::Handle {
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // data holds an entry not yet given out
  ~Handle() {
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  }
};

FolderReader::FolderReader() = default;
FolderReader::~FolderReader() = default;

FolderReader::Kind FolderReader::KindOf(const std::string& path, bool followLinks,
                                        std::string* error) {
  const std::wstring wide = windows::Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (error != nullptr) *error = windows::SystemMessage(::GetLastError());
    return Kind::kMissing;
  }
  if (!followLinks || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return KindOfAttributes(attributes);
  }
  // Open what the link leads to, to learn its kind.
  const HANDLE target =
      ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = windows::SystemMessage(::GetLastError());
    return Kind::kMissing;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(target, &info) != 0;
  const DWORD lastError = ::GetLastError();
  ::CloseHandle(target);
  if (!known) {
    if (error != nullptr) *error = windows::SystemMessage(lastError);
    return Kind::kMissing;
  }
  return KindOfAttributes(info.dwFileAttributes &
                          ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
}

bool FolderReader::Same(const std::string& a, const std::string& b) {
  const auto identity = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE handle = ::CreateFileW(
        windows::Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    return known;
  };
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return identity(a, first) && identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool FolderReader::IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string FolderReader::RealPath(const std::string& path) {
  const HANDLE handle = ::CreateFileW(windows::Wide(path.empty() ? "." : path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  std::string result = windows::FinalPathOf(handle);
  ::CloseHandle(handle);
  return result;
}

bool FolderReader::MakeFolder(const std::string& path, std::string* error) {
  if (::CreateDirectoryW(windows::Wide(path).c_str(), nullptr) != 0) return true;
  if (error != nullptr) *error = windows::SystemMessage(::GetLastError());
  return false;
}

void FolderReader::RemoveEmptyFolder(const std::string& path) noexcept {
  ::RemoveDirectoryW(windows::Wide(path).c_str());
}

bool FolderReader::Open(const std::string& folder) {
  handle_.reset();
  error_.clear();
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
  pattern += '*';
  auto handle = std::make_unique<Handle>();
  handle->find = ::FindFirstFileExW(windows::Wide(pattern).c_str(), FindExInfoBasic, &handle->data,
                                    FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (handle->find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {  // an empty folder has no entries, not even "."
      error_ = windows::SystemMessage(error);
      return false;
    }
  } else {
    handle->pending = true;
  }
  handle_ = std::move(handle);
  return true;
}

bool FolderReader::Next(Entry& entry) {
  if (!handle_) return false;
  for (;;) {
    if (!handle_->pending) {
      if (handle_->find == INVALID_HANDLE_VALUE) return false;
      if (::FindNextFileW(handle_->find, &handle_->data) == 0) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_NO_MORE_FILES) error_ = windows::SystemMessage(error);
        return false;
      }
    }
    handle_->pending = false;
    const std::wstring_view name(handle_->data.cFileName);
    if (name == L"." || name == L"..") continue;
    entry.name = windows::Utf8(name);
    entry.kind = KindOfAttributes(handle_->data.dwFileAttributes);
    return true;
  }
}

}  // namespace quarry
