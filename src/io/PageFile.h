// A page file opened for reading, as the page scanner and the text filter see it.
//
// The bytes read are the file's bytes with two changes: every CR LF pair becomes one LF, and
// every NUL byte becomes a blank (0x20). Nothing else changes. A page is read up to the size it
// had when it was opened, never more, once, on the first read after Open; pieces, rewinds and
// ReadRest then work on that copy. io/PageFile.cpp opens files the POSIX way, io/win32/PageFile.cpp
// the Win32 way; io/PageFileText.cpp holds what both share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quarry {

class PageFile {
 public:
  // The largest page read unless the caller says otherwise: 64 MiB.
  static constexpr std::uint64_t kDefaultMaxSize = std::uint64_t{64} << 20;

  // What Open asks of a page besides being a readable regular file.
  struct Rules {
    // The largest page read, in bytes; a larger one cannot be opened ("larger than 64 MiB").
    std::uint64_t maxSize = kDefaultMaxSize;
    // When not empty, the real path of a folder (FolderReader::RealPath): the file opened must
    // lie below it, as its real path says once it is open, or it cannot be opened. The bytes
    // viewed must stay valid during Open.
    std::string_view within;
  };

  PageFile();
  virtual ~PageFile();  // closes the file

  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Opens path read-only (closing any file open before). Returns false, with the reason in
  // OpenError(), when the file does not exist, cannot be opened, is not a regular file (a
  // directory, FIFO or device is never read and never blocks the open), another process holds
  // it exclusively (an exclusive flock() on Linux), it is larger than rules.maxSize, or it does
  // not lie below rules.within ("its real path PATH lies outside FOLDER"). A file that reports
  // size 0 (as /proc files do) is read at once, up to rules.maxSize bytes. While open, the file
  // holds a shared flock() on Linux.
  bool Open(const std::string& path, const Rules& rules);
  bool Open(const std::string& path) { return Open(path, Rules{}); }
  const std::string& OpenError() const { return openError_; }
  bool IsOpen() const { return handle_ != nullptr; }

  // The size the file had when it was opened; 0 while closed.
  std::uint64_t SizeAtOpen() const { return sizeAtOpen_; }

  // Reads the next piece into buffer as a NUL-terminated string: the bytes up to and including
  // the next LF, but at most size - 1 of them. Returns the number of bytes read; 0 at the end.
  // Throws FileError when the file cannot be read. REQUIRES: IsOpen(); size >= 2.
  std::size_t ReadPiece(char* buffer, std::size_t size);

  // Puts the position back at the start.
  void Rewind() { position_ = 0; }

  // Returns every byte from the position to the end and moves the position to the end. The
  // view stays valid until Close. Throws FileError when the file cannot be read or none is open.
  std::string_view ReadRest();

  // Closes the file; safe to call more than once.
  void Close();

  // "64 MiB", "512 KiB" or "1000 bytes": a size as the open error names it.
  static std::string SizeText(std::uint64_t bytes);

  // True when path is folder or lies below it; both are real paths with '/' between their parts.
  static bool LiesBelow(std::string_view folder, std::string_view path);

 private:
  struct Handle;  // the open file, as the system holds it

  // Reads at most size bytes at the current file offset; 0 at the end of the file. Throws
  // FileError when the file cannot be read.
  std::size_t ReadSome(char* buffer, std::size_t size);
  // The real path of the file held, '/' between its parts; empty when the system cannot say.
  std::string HeldRealPath() const;
  // Open's checks on the file held: the size limit, the folder it must lie below, and the
  // reading of a file that reports size 0. Closes it and returns false when one fails.
  bool CheckOpened(const std::string& path, const Rules& rules);
  // Reads the file into contents_: up to limit bytes, or limit + 1 to learn that there is more.
  std::size_t Load(std::uint64_t limit);
  void LoadContents();

  // The bytes of a large page live in memory taken straight from the system, so that closing
  // the page gives it back: the allocator would keep it for the thread that read the page, and
  // each reading thread would keep the largest page it met.
  struct Release {
    std::size_t size;
    void operator()(char* bytes) const;
  };
  using Buffer = std::unique_ptr<char, Release>;
  static Buffer Allocate(std::size_t size);

  std::unique_ptr<Handle> handle_;
  std::string path_;
  std::string openError_;
  Buffer contents_;  // the bytes as read, transformed
  std::size_t size_ = 0;
  bool loaded_ = false;
  std::size_t position_ = 0;
  std::uint64_t sizeAtOpen_ = 0;  // the file's size when opened: what is read of it
};

}  // namespace quarry
