// The HTTP server behind `quarry-cli serve`: cpp-httplib's Server, bounded where the library
// lets a client hold it, answering every request from the files below one folder.
//
// What the library offers is used as it stands: a pool of kWorkers threads (new_task_queue),
// read and write time-outs, a payload limit. Each connection is read through a stream of our
// own (process_and_close_socket), which answers one request and closes (so a body left unread is
// never taken for a request), reads at most kRequestBytes of it (the library reads a request
// line or header lines of any length and any number), and gives a client at most kRequestTime
// to send it. The listening socket's backlog is raised to kBacklog (the library's is 5).
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarry {

class PreviewServer : public httplib::Server {
 public:
  static constexpr std::size_t kWorkers = 32;
  static constexpr int kBacklog = 128;
  static constexpr std::size_t kRequestBytes = 64 * 1024;
  static constexpr std::chrono::seconds kRequestTime{10};
  static constexpr std::chrono::seconds kReadTimeout{5};
  static constexpr std::chrono::seconds kWriteTimeout{5};

  // root: the real path of the folder served. With loopbackOnly, a request whose Host is not
  // this machine's loopback (localhost, *.localhost, 127.0.0.0/8, [::1]) is refused with 403,
  // and one without a Host with 400, so that a page of another site cannot read the folder
  // through a name that it points here (DNS rebinding).
  PreviewServer(std::string root, bool loopbackOnly);
  ~PreviewServer() override = default;

  PreviewServer(const PreviewServer&) = delete;
  PreviewServer& operator=(const PreviewServer&) = delete;

  // Binds to host and port (0: a free one) and raises the backlog. Returns the port, or -1.
  int Bind(const std::string& host, int port);

  // Answers the bytes of one request as a connection would and returns the bytes sent back:
  // for the fuzz target, which drives the library's parser without a socket.
  std::string AnswerBytes(std::string_view request);

  // The Content-Type sent for a file named name, chosen by its extension (ASCII case
  // ignored): .html and .htm text/html, .js and .mjs text/javascript, .css text/css, .json
  // application/json, .txt text/plain (these five with "; charset=utf-8"), a few image and font
  // types, anything else application/octet-stream.
  static std::string ContentType(std::string_view name);

  // True when host (a Host header's value) names this machine's loopback, port aside.
  static bool IsLoopbackHost(std::string_view host);

 private:
  bool process_and_close_socket(socket_t sock) override;
  void Handle(const httplib::Request& request, httplib::Response& response) const;
  // Adds Content-Range: bytes */SIZE to the library's own 416 when request names a file served.
  void NameSize(const httplib::Request& request, httplib::Response& response) const;
  void ServeFile(const httplib::Request& request, const std::string& real,
                 httplib::Response& response) const;

  std::string root_;
  bool loopbackOnly_;
};

}  // namespace quarry
