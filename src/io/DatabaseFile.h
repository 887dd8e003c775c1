// One file of the database directory, held from Open (or Create) to Close: read-write and
// exclusively, or read-only and shared.
//
// This class and DatabaseDirectory are the only places where the core calls the operating
// system for the database (POSIX in DatabaseFile.cpp, Win32 in win32/DatabaseFile.cpp).
// "Exclusively" is an advisory lock (flock; on Windows a byte-range lock) taken without waiting: a
// second opener of the same file, in this process or another, fails until Close; a shared holder
// keeps exclusive openers out but not other shared ones. Only plain files are ever used: a symbolic
// link is never followed, and anything but a regular file is refused. Every failure of an operation
// after Open throws FileError with the system's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace quarry {

class DatabaseFile {
 public:
  DatabaseFile() = default;
  virtual ~DatabaseFile();  // closes the file, releasing its lock

  DatabaseFile(const DatabaseFile&) = delete;
  DatabaseFile& operator=(const DatabaseFile&) = delete;

  enum class Access {
    kReadWrite,  // creates a missing file; exclusive lock
    kRead,       // never creates; shared lock
  };

  // Opens name in directory (empty: the current directory, name used bare), never truncating
  // it, then locks it without waiting. Returns false when the file cannot be opened or is
  // locked; OpenError() then gives "<path>: <the system's text>" and nothing is held. A
  // symbolic link or anything but a regular file at name is refused without being opened or
  // followed; OpenError() is then DatabaseDirectory::NotPlainFileText. REQUIRES: !IsOpen().
  bool Open(const std::string& directory, const std::string& name,
            Access access = Access::kReadWrite);
  // Creates name in directory as a new, empty file, held read-write and exclusively. Never
  // opens what is already there: throws FileError when name exists in any form (a file, a link,
  // a FIFO) or cannot be created, and then holds nothing. REQUIRES: !IsOpen().
  void Create(const std::string& directory, const std::string& name);
  const std::string& OpenError() const { return openError_; }
  // The errno behind OpenError() (EWOULDBLOCK when another opener holds the file), or 0.
  int OpenErrorNumber() const { return openErrorNumber_; }

  bool IsOpen() const { return fd_ >= 0; }
  // The path as opened ("<directory>/<name>" or the bare name) and the absolute path resolved
  // at Open; both follow RenameTo.
  const std::string& Path() const { return path_; }
  const std::string& FullPath() const { return fullPath_; }

  // The file's current length in bytes. REQUIRES: IsOpen() (for all operations below).
  std::uint64_t Length() const;
  // The file's last-modification time; none when the system cannot give it.
  std::optional<std::time_t> ModificationTime() const;

  // Sets the position for the next Read or Write.
  void Seek(std::uint64_t offset) { position_ = offset; }
  // Reads up to size bytes at the position and advances past them; fewer (0 at the end) when
  // the file ends first.
  std::size_t Read(void* buffer, std::size_t size);
  // Writes all size bytes at the position and advances past them.
  void Write(const void* data, std::size_t size);
  // Cuts or extends the file to length bytes and puts the position at the new end.
  void SetLength(std::uint64_t length);
  // Flushes the file's contents and length to stable storage (fsync).
  void Sync();
  // Renames the held file to newName in the same directory, atomically replacing any file of
  // that name; the file stays open and locked. Path() and FullPath() follow. Throws FileError,
  // renaming nothing, when the file's own name no longer gives the held file (another program
  // replaced it), so that only the file this object holds is ever renamed.
  void RenameTo(const std::string& newName);
  // Whether RenameTo may replace a file that is held open. POSIX renames over it; Windows
  // cannot, so there the holder of the name must Close it first.
  static const bool kRenamesOverHeldFiles;

  // Gives this file the access permissions of other, as far as the system allows; a file that
  // replaces another keeps what its owner set. Failures are ignored.
  void CopyPermissionsFrom(const DatabaseFile& other) noexcept;

  // Releases the lock and closes the file; safe to call more than once.
  void Close();

 private:
  int fd_ = -1;
  std::string directory_;
  std::string path_;
  std::string fullPath_;
  std::string openError_;
  int openErrorNumber_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace quarry
