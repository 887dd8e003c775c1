// A folder that a command writes whole files into, safely: a name is only ever replaced by a
// rename from a temporary file this object created, so no link or foreign file there is written
// through. Operations work relative to the folder opened, whatever happens to its path later.
#pragma once

#include <cstddef>
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

  // name as a path for messages: "<path>/<name>", or name for the current folder.
  std::string PathOf(const std::string& name) const;

 private:
  int fd_ = -1;
  std::string path_;
  std::string error_;
  int errorNumber_ = 0;
};

}  // namespace quarry
