// A page file opened for reading, as the page scanner and the text filter see it.
//
// The bytes read are the file's bytes with two changes: every CR LF pair becomes one LF, and
// every NUL byte becomes a blank (0x20). Nothing else changes. The whole file is read once, on
// the first read after Open; pieces, rewinds and ReadRest then work on that copy.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quarry {

class PageFile {
 public:
  PageFile() = default;
  virtual ~PageFile();  // closes the file

  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Opens path read-only (closing any file open before). Returns false, with the system's reason
  // in OpenError(), when the file does not exist, cannot be opened, is not a regular file (a
  // directory, FIFO or device is never read and never blocks the open), or another process holds
  // an exclusive flock() on it. While open, the file holds a shared flock().
  bool Open(const std::string& path);
  const std::string& OpenError() const { return openError_; }
  bool IsOpen() const { return fd_ >= 0; }

  // Reads the next piece into buffer as a NUL-terminated string: the bytes up to and including
  // the next LF, but at most size - 1 of them. Returns the number of bytes read; 0 at the end.
  // Throws FileError when the file cannot be read. REQUIRES: IsOpen(); size >= 2.
  std::size_t ReadPiece(char* buffer, std::size_t size);

  // Puts the position back at the start.
  void Rewind() { position_ = 0; }

  // Returns every byte from the position to the end and moves the position to the end. The
  // view stays valid until Close. Throws FileError when the file cannot be read.
  std::string_view ReadRest();

  // Closes the file; safe to call more than once.
  void Close();

 private:
  void LoadContents();

  int fd_ = -1;
  std::string path_;
  std::string openError_;
  std::unique_ptr<char[]> contents_;  // the bytes as read, transformed
  std::size_t size_ = 0;
  bool loaded_ = false;
  std::size_t position_ = 0;
  std::size_t sizeAtOpen_ = 0;  // the file's size when opened: the first guess of what to read
};

}  // namespace quarry
