// A file held open to be sent over the preview server's connections, and the system's side of
// those connections. POSIX only: the preview server is built where cpp-httplib is (Linux), and
// src/CMakeLists.txt leaves these files out of a build without it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quarry {

class ServedFile {
 public:
  ServedFile() = default;
  virtual ~ServedFile();  // closes the file

  ServedFile(const ServedFile&) = delete;
  ServedFile& operator=(const ServedFile&) = delete;

  // Opens path read-only without following a link at its last part and without blocking.
  // Returns false, holding nothing, when it cannot be opened or is not a regular file.
  bool Open(const std::string& path);

  // The real path of the file held ('/' between its parts), whatever became of its name since
  // it was opened; empty when the system cannot say.
  std::string HeldRealPath() const;

  // The file's size, modification time (nanoseconds since 1970) and identity (device and
  // inode, mixed) when it was opened.
  std::uint64_t Size() const { return size_; }
  std::int64_t ModifiedNs() const { return modifiedNs_; }
  std::uint64_t Identity() const { return identity_; }

  // Reads up to size bytes at offset; 0 at the end of the file, nullopt when it cannot be read.
  std::optional<std::size_t> ReadAt(char* buffer, std::size_t size, std::uint64_t offset) const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::int64_t modifiedNs_ = 0;
  std::uint64_t identity_ = 0;
};

// One accepted connection: waits bounded by time-outs, and reads and writes that never raise
// SIGPIPE. The socket is shut down and closed with the object.
class Connection {
 public:
  explicit Connection(int socket) : socket_(socket) {}
  virtual ~Connection();

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True when bytes can be read (or the peer has closed) within timeout.
  bool WaitReadable(std::chrono::milliseconds timeout) const;
  // True when bytes can be written within timeout and the connection is not broken.
  bool WaitWritable(std::chrono::milliseconds timeout) const;
  // Reads up to size bytes that have arrived: the number read, 0 when the peer closed, -1 on a
  // failure. Does not wait beyond what the system has.
  long Read(char* buffer, std::size_t size);
  // Writes up to size bytes: the number written, -1 on a failure.
  long Write(const char* buffer, std::size_t size);
  // The address and port of the peer, or of this end.
  void Address(bool peer, std::string& ip, int& port) const;
  int Socket() const { return socket_; }

  // Lets the listening socket hold up to backlog connections not yet accepted.
  static bool SetBacklog(int socket, int backlog);

 private:
  int socket_;
};

}  // namespace quarry
