// The entries of one folder, and what kind of thing a path names: the one place where the folder
// walk asks the system about folders and links (POSIX here, Win32 in win32/FolderReader.cpp).
// On Windows, names are UTF-8 and a reparse point (a symbolic link or a junction) is a link.
#pragma once

#include <memory>
#include <string>

namespace quarry {

class FolderReader {
 public:
  enum class Kind { kMissing, kFolder, kFile, kLink, kOther };

  struct Entry {
    std::string name;  // the entry's own name, never "." or ".."
    Kind kind = Kind::kOther;
  };

  FolderReader();
  virtual ~FolderReader();

  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  // What path names. A link is kLink unless followLinks, which gives what it leads to (kMissing
  // for a link that leads nowhere). kMissing sets *error, when given, to the system's text.
  static Kind KindOf(const std::string& path, bool followLinks, std::string* error = nullptr);

  // True when a and b name the same existing file or folder, links followed.
  static bool Same(const std::string& a, const std::string& b);

  // True when c separates the parts of a path: '/', and on Windows '\\' too.
  static bool IsSeparator(char c);

  // path made absolute with every link in it resolved, with '/' between its parts; empty when
  // nothing is there.
  static std::string RealPath(const std::string& path);

  // Makes the folder path (its parent must exist). Returns false, with the system's text in
  // *error, when it cannot be made.
  static bool MakeFolder(const std::string& path, std::string* error);

  // Removes the folder path if it is empty; failures are ignored.
  static void RemoveEmptyFolder(const std::string& path) noexcept;

  // Starts reading folder's entries. Returns false, with Error() set, when it cannot be read.
  bool Open(const std::string& folder);

  // The next entry, in no particular order. Returns false at the end, and also when reading
  // failed part-way, which sets Error().
  bool Next(Entry& entry);

  // The system's text for the last failure, or empty.
  const std::string& Error() const { return error_; }

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  std::string error_;
};

}  // namespace quarry
