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

  // name joined to the directory ("<directory>/<name>", or name when the directory is empty).
  std::string PathOf(const std::string& name) const;

  // True when a directory entry called name exists (of any kind).
  bool Exists(const std::string& name) const;
  // Removes name; a missing name is no error. Throws FileError on any other failure.
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
