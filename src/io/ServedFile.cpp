#include "io/ServedFile.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quarry {

ServedFile::~ServedFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ServedFile::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) return false;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  modifiedNs_ = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  identity_ =
      (static_cast<std::uint64_t>(info.st_dev) << 32) ^ static_cast<std::uint64_t>(info.st_ino);
  return true;
}

std::string ServedFile::HeldRealPath() const {
  char held[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd_);
  const ssize_t length = ::readlink(link.c_str(), held, sizeof held);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof held || held[0] != '/') return {};
  return std::string(held, static_cast<std::size_t>(length));
}

std::optional<std::size_t> ServedFile::ReadAt(char* buffer, std::size_t size,
                                              std::uint64_t offset) const {
  for (;;) {
    const ssize_t got = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::nullopt;
  }
}

Connection::~Connection() {
  ::shutdown(socket_, SHUT_RDWR);
  ::close(socket_);
}

namespace {

bool Wait(int socket, short events, std::chrono::milliseconds timeout) {
  pollfd wanted{socket, events, 0};
  for (;;) {
    const int ready = ::poll(&wanted, 1, static_cast<int>(timeout.count()));
    if (ready >= 0) return ready > 0 && (wanted.revents & (events | POLLHUP)) != 0;
    if (errno != EINTR) return false;
  }
}

}  // namespace

bool Connection::WaitReadable(std::chrono::milliseconds timeout) const {
  return Wait(socket_, POLLIN, timeout);
}

bool Connection::WaitWritable(std::chrono::milliseconds timeout) const {
  pollfd wanted{socket_, POLLOUT, 0};
  return Wait(socket_, POLLOUT, timeout) && ::poll(&wanted, 1, 0) == 1 &&
         (wanted.revents & (POLLERR | POLLHUP)) == 0;
}

long Connection::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::recv(socket_, buffer, size, MSG_DONTWAIT);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

long Connection::Write(const char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t sent = ::send(socket_, buffer, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return sent;
    if (errno != EINTR) return -1;
  }
}

void Connection::Address(bool peer, std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  ip.clear();
  port = -1;
  if ((peer ? ::getpeername(socket_, raw, &length) : ::getsockname(socket_, raw, &length)) != 0) {
    return;
  }
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

bool Connection::SetBacklog(int socket, int backlog) { return ::listen(socket, backlog) == 0; }

}  // namespace quarry
