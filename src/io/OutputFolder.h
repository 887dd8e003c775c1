// A folder that a command writes whole files into, safely: a name is only ever replaced by a
// rename from a temporary file this object created, so no link or foreign file there is written
// through. Operations work relative to the folder opened, whatever happens to its path later.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarry {

class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();

  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Opens the folder at path ("" for the current one), following a link to it; with create, a
  // missing folder is made first (its parent must exist). False when it cannot be opened or
  // made, with Error() giving "<path>: <the system's text>".
  bool Open(const std::string& path, bool create);
  const std::string& Error() const { return error_; }
  // The errno behind Error().
  int ErrorNumber() const { return errorNumber_; }

  // What is at name in the folder, looked at without following a link.
  enum class Entry {
    kMissing,     // nothing: name may be written
    kMarked,      // a regular file holding mark within its first markWithin bytes
    kUnmarked,    // a regular file without the mark
    kNotRegular,  // a link, a folder or anything else that is not a regular file
  };
  // REQUIRES: Open succeeded (also for Replace and Sync).
  Entry Inspect(const std::string& name, std::string_view mark, std::size_t markWithin) const;

  // Gives name the contents bytes: written to a new file of a fresh name in the folder (created
  // exclusively, never through a link), flushed, then renamed over name. Throws FileError; the
  // temporary file is removed then.
  void Replace(const std::string& name, std::string_view bytes) const;

  // Flushes the folder's entries to stable storage.
  void Sync() const;

  // Opens the folder name inside parent, made first when missing and create is set, never
  // through a link. False, with Error() set, when it cannot be made or opened, or is a link or
  // not a folder. REQUIRES: parent is open.
  bool OpenIn(const OutputFolder& parent, const std::string& name, bool create);

  // As Replace, but the new file is not flushed on its own: SyncWritten flushes every file
  // written so, for a command that writes many at once. Throws FileError.
  void Write(const std::string& name, std::string_view bytes) const;
  // Flushes to stable storage every file Write gave this folder, and the folder's entries.
  void SyncWritten() const;

  // The bytes of the regular file name, read without following a link, at most limit of them;
  // none when nothing is there or it is not a regular file. Throws FileError when it cannot be
  // read.
  std::optional<std::string> ReadFile(const std::string& name, std::size_t limit) const;

  // Removes name when it is a regular file (never a link's target, never a folder). Failures
  // are ignored.
  void RemoveFile(const std::string& name) const noexcept;

  // name as a path for messages: "<path>/<name>", or name for the current folder.
  std::string PathOf(const std::string& name) const;

 private:
  void Put(const std::string& name, std::string_view bytes, bool flush) const;

  int fd_ = -1;
  std::string path_;
  std::string error_;
  int errorNumber_ = 0;
};

}  // namespace quarry
