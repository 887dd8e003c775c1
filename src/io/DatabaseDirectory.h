// The directory that holds the database files, for the few operations that work on names
// rather than on held files: testing for, removing and flushing them.
#pragma once

#include <string>
#include <utility>

namespace quarry {

class DatabaseDirectory {
 public:
  // directory: as given to IndexDatabase; empty means the current directory.
  explicit DatabaseDirectory(std::string directory) : directory_(std::move(directory)) {}

  // directory as an absolute path, taken against the process's current directory now (empty:
  // the current directory itself), so that it names the same folder whatever the current
  // directory is later. Unchanged when already absolute or when the current directory is unknown.
  static std::string AbsolutePath(const std::string& directory);

  // The text that refuses path because it is not a plain file: "<path> is a symbolic link:
  // Quarry keeps its index in plain files", or "... is not a regular file: ..." for the rest.
  static std::string NotPlainFileText(const std::string& path, bool isLink);

  // name joined to the directory ("<directory>/<name>", or name when the directory is empty).
  std::string PathOf(const std::string& name) const;

  // True when a directory entry called name exists (of any kind; a link is not followed).
  bool Exists(const std::string& name) const;
  // Empty when name is missing or a regular file; otherwise NotPlainFileText for it. A link is
  // never followed.
  std::string PlainFileProblem(const std::string& name) const;
  // Removes name (a link itself, never what it points to); a missing name is no error. Throws
  // FileError on any other failure.
  void Remove(const std::string& name) const;
  // Removes name without throwing, for clean-up while another error passes. Returns true when
  // name is gone (removed or missing).
  bool RemoveQuietly(const std::string& name) const noexcept;
  // Flushes the directory's entries (creations, renames, removals) to stable storage.
  void Sync() const;

 private:
  std::string directory_;
};

}  // namespace quarry
