#include "cli/PreviewServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "cli/WebCommand.h"
#include "io/FolderReader.h"
#include "io/PageFile.h"
#include "io/ServedFile.h"
#include "model/SplitPath.h"
#include "model/TextOrder.h"

namespace quarry {

namespace {

using Clock = std::chrono::steady_clock;

void SetText(httplib::Response& response, int status, const char* text) {
  response.status = status;
  response.set_content(text, "text/plain; charset=utf-8");
}

// True when a part of path below root (both real paths) begins with '.'.
bool HasDotPart(const std::string& root, const std::string& path) {
  const std::string_view below = std::string_view(path).substr(std::min(root.size(), path.size()));
  const auto parts = SplitPath(below);
  return !parts || std::any_of(parts->begin(), parts->end(),
                               [](std::string_view part) { return part.front() == '.'; });
}

// A request's stream over one connection: buffered reads that stop after kRequestBytes or once
// kRequestTime has passed since the connection was taken, each wait bounded by the read
// time-out; writes bounded by the write time-out.
class BoundedStream : public httplib::Stream {
 public:
  BoundedStream(Connection& connection, std::chrono::milliseconds readTimeout,
                std::chrono::milliseconds writeTimeout)
      : connection_(connection),
        readTimeout_(readTimeout),
        writeTimeout_(writeTimeout),
        deadline_(Clock::now() + PreviewServer::kRequestTime) {}

  bool is_readable() const override {
    return start_ < end_ || connection_.WaitReadable(readTimeout_);
  }
  bool is_writable() const override { return connection_.WaitWritable(writeTimeout_); }

  ssize_t read(char* ptr, size_t size) override {
    if (start_ == end_) {
      if (received_ >= PreviewServer::kRequestBytes) return -1;  // a head beyond the limit
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0 || !connection_.WaitReadable(std::min(left, readTimeout_))) return -1;
      const long got = connection_.Read(
          buffer_, std::min(sizeof buffer_, PreviewServer::kRequestBytes - received_));
      if (got <= 0) return got;
      received_ += static_cast<std::size_t>(got);
      start_ = 0;
      end_ = static_cast<std::size_t>(got);
    }
    const std::size_t n = std::min(size, end_ - start_);
    std::memcpy(ptr, buffer_ + start_, n);
    start_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!connection_.WaitWritable(writeTimeout_)) return -1;
    return connection_.Write(ptr, size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    connection_.Address(true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    connection_.Address(false, ip, port);
  }
  socket_t socket() const override { return connection_.Socket(); }

 private:
  Connection& connection_;
  std::chrono::milliseconds readTimeout_;
  std::chrono::milliseconds writeTimeout_;
  Clock::time_point deadline_;
  char buffer_[4096];
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::size_t received_ = 0;
};

// A request given as bytes, for AnswerBytes: what it writes is kept.
class MemoryStream : public httplib::Stream {
 public:
  explicit MemoryStream(std::string_view input) : input_(input) {}
  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const std::size_t n = std::min(size, input_.size());
    std::memcpy(ptr, input_.data(), n);
    input_.remove_prefix(n);
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    output_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 8000;
  }
  socket_t socket() const override { return INVALID_SOCKET; }
  std::string& Output() { return output_; }

 private:
  std::string_view input_;
  std::string output_;
};

// The ranges are answered here, checked against the file, not by the library: it takes a
// request's ranges whatever they are.
void ForgetRanges(httplib::Request& request) { request.ranges.clear(); }

// An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT") for seconds since 1970.
std::string HttpDate(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds time{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                kDays[weekday(day).c_encoding()], static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

// What a Range header asks of a file of size bytes.
struct RangeAnswer {
  enum { kWhole, kPart, kUnsatisfiable } kind = kWhole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};

std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// One range of bytes (first-last, first- or -suffix) gives a part when it lies in the file;
// more than one range, or one wholly past the end, cannot be satisfied; a header that is not a
// byte range at all is ignored, as HTTP says, and the whole file is sent.
RangeAnswer AnswerRange(std::string_view header, std::uint64_t size) {
  RangeAnswer answer;
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() || !EqualsFoldingCase(header.substr(0, kUnit.size()), kUnit)) {
    return answer;
  }
  std::string_view spec = header.substr(kUnit.size());
  while (!spec.empty() && (spec.front() == ' ' || spec.front() == '\t')) spec.remove_prefix(1);
  while (!spec.empty() && (spec.back() == ' ' || spec.back() == '\t')) spec.remove_suffix(1);
  if (spec.find(',') != std::string_view::npos) {
    answer.kind = RangeAnswer::kUnsatisfiable;  // several ranges: one answer is all we send
    return answer;
  }
  const std::size_t dash = spec.find('-');
  if (dash == std::string_view::npos) return answer;
  const std::optional<std::uint64_t> first = Number(spec.substr(0, dash));
  const std::optional<std::uint64_t> last = Number(spec.substr(dash + 1));
  if (!first && !last) return answer;
  if (!first) {  // the last *last bytes
    if (*last == 0 || size == 0) {
      answer.kind = RangeAnswer::kUnsatisfiable;
      return answer;
    }
    answer.kind = RangeAnswer::kPart;
    answer.first = size - std::min(*last, size);
    answer.last = size - 1;
    return answer;
  }
  if (last && *last < *first) return answer;  // not a valid range: ignored
  if (*first >= size) {
    answer.kind = RangeAnswer::kUnsatisfiable;
    return answer;
  }
  answer.kind = RangeAnswer::kPart;
  answer.first = *first;
  answer.last = last ? std::min(*last, size - 1) : size - 1;
  return answer;
}

// True when the If-None-Match header's list holds etag (or is "*"), weak or not.
bool MatchesEtag(std::string_view header, std::string_view etag) {
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(',', start);
    if (end == std::string_view::npos) end = header.size();
    std::string_view tag = header.substr(start, end - start);
    while (!tag.empty() && tag.front() == ' ') tag.remove_prefix(1);
    while (!tag.empty() && tag.back() == ' ') tag.remove_suffix(1);
    if (tag.substr(0, 2) == "W/") tag.remove_prefix(2);
    if (tag == "*" || tag == etag) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

PreviewServer::PreviewServer(std::string root, bool loopbackOnly)
    : root_(std::move(root)), loopbackOnly_(loopbackOnly) {
  new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  set_keep_alive_max_count(1);
  set_read_timeout(kReadTimeout);
  set_write_timeout(kWriteTimeout);
  set_payload_max_length(kRequestBytes);
  set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
    return httplib::Server::HandlerResponse::Handled;
  });
  set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (response.status == 416 && !response.has_header("Content-Range")) {
      NameSize(request, response);
    }
  });
}

void PreviewServer::NameSize(const httplib::Request& request, httplib::Response& response) const {
  // The library answers a Range header it cannot parse ("bytes=0-1,5-2") with a bare 416 before
  // any handler runs. Asked for a range past any end instead, Handle gives the same answer with
  // the file's size, after every check of the Host and the path.
  httplib::Request beyond = request;
  beyond.headers.erase("Range");
  beyond.headers.emplace("Range", "bytes=999999999999999999-");
  httplib::Response answer;
  Handle(beyond, answer);
  if (answer.status == 416 && answer.has_header("Content-Range")) {
    response.set_header("Content-Range", answer.get_header_value("Content-Range"));
  }
}

int PreviewServer::Bind(const std::string& host, int port) {
  int bound = port;
  if (port == 0) {
    bound = bind_to_any_port(host);
  } else if (!bind_to_port(host, port)) {
    bound = -1;
  }
  if (bound >= 0) Connection::SetBacklog(svr_sock_, kBacklog);
  return bound;
}

bool PreviewServer::process_and_close_socket(socket_t sock) {
  Connection connection(sock);
  BoundedStream stream(connection,
                       std::chrono::seconds(read_timeout_sec_) +
                           std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::microseconds(read_timeout_usec_)),
                       std::chrono::seconds(write_timeout_sec_) +
                           std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::microseconds(write_timeout_usec_)));
  bool closed = false;
  return process_request(stream, true, closed, ForgetRanges);
}

std::string PreviewServer::AnswerBytes(std::string_view request) {
  MemoryStream stream(request);
  bool closed = false;
  process_request(stream, true, closed, ForgetRanges);
  return std::move(stream.Output());
}

bool PreviewServer::IsLoopbackHost(std::string_view host) {
  std::string name;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = LowerAscii(host.substr(0, close + 1));
    host.remove_prefix(close + 1);
  } else {
    const std::size_t colon = host.find(':');
    name = LowerAscii(host.substr(0, colon));
    host.remove_prefix(colon == std::string_view::npos ? host.size() : colon);
  }
  if (!host.empty() && (host.front() != ':' || !Number(host.substr(1)))) return false;
  if (name == "localhost" || name == "[::1]") return true;
  constexpr std::string_view kLocal = ".localhost";
  if (name.size() > kLocal.size() &&
      name.compare(name.size() - kLocal.size(), kLocal.size(), kLocal) == 0) {
    return true;
  }
  // Four decimal parts of at most 255, the first 127.
  int parts = 0;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('.', start);
    if (end == std::string::npos) end = name.size();
    const std::optional<std::uint64_t> part =
        Number(std::string_view(name).substr(start, end - start));
    if (!part || *part > 255 || end - start > 3 || (parts == 0 && *part != 127)) return false;
    ++parts;
    start = end + 1;
  }
  return parts == 4;
}

void PreviewServer::Handle(const httplib::Request& request, httplib::Response& response) const {
  response.set_header("X-Content-Type-Options", "nosniff");
  if (loopbackOnly_) {
    if (!request.has_header("Host")) return SetText(response, 400, "400 Bad Request: no Host\n");
    if (!IsLoopbackHost(request.get_header_value("Host"))) {
      return SetText(response, 403, "403 Forbidden: this server answers for localhost only\n");
    }
  }
  if (request.method != "GET" && request.method != "HEAD") {
    response.set_header("Allow", "GET, HEAD");
    return SetText(response, 405, "405 Method Not Allowed\n");
  }
  // The path comes percent-decoded: "%2e%2e" and "%2f" are plain dots and slashes here.
  const std::string& path = request.path;
  if (path.find('\0') != std::string::npos) return SetText(response, 403, "403 Forbidden\n");
  const auto parts = SplitPath(path);
  if (!parts) return SetText(response, 403, "403 Forbidden\n");
  std::string relative;
  for (const std::string_view part : *parts) {
    // .git, .env and the like are no part of a site.
    if (part.front() == '.') return SetText(response, 404, "404 Not Found\n");
    relative += '/';
    relative += part;
  }

  std::string real = FolderReader::RealPath(root_ + relative);
  if (real.empty()) return SetText(response, 404, "404 Not Found\n");
  if (!PageFile::LiesBelow(root_, real)) return SetText(response, 403, "403 Forbidden\n");
  if (HasDotPart(root_, real)) return SetText(response, 404, "404 Not Found\n");
  if (FolderReader::KindOf(real, false) == FolderReader::Kind::kFolder) {
    if (path.empty() || path.back() != '/') {
      // Relative links in the folder's index.html need the folder's URL to end in '/'. The
      // location is made from the cleaned path, so it always names this server.
      response.set_redirect(WebCommand::PercentEncode(relative) + "/", 301);
      return;
    }
    real = FolderReader::RealPath(real + "/index.html");
    if (real.empty()) return SetText(response, 404, "404 Not Found\n");
    if (!PageFile::LiesBelow(root_, real)) return SetText(response, 403, "403 Forbidden\n");
    if (HasDotPart(root_, real)) return SetText(response, 404, "404 Not Found\n");
  }
  ServeFile(request, real, response);
}

void PreviewServer::ServeFile(const httplib::Request& request, const std::string& real,
                              httplib::Response& response) const {
  // The file held is checked again once open: a link may have been swapped in meanwhile.
  auto file = std::make_shared<ServedFile>();
  if (!file->Open(real)) return SetText(response, 404, "404 Not Found\n");
  const std::string held = file->HeldRealPath();
  if (!held.empty() && !PageFile::LiesBelow(root_, held)) {
    return SetText(response, 403, "403 Forbidden\n");
  }
  if (!held.empty() && HasDotPart(root_, held)) return SetText(response, 404, "404 Not Found\n");

  const std::uint64_t size = file->Size();
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(file->ModifiedNs()),
                static_cast<unsigned long long>(file->Identity()));
  const std::string modified = HttpDate(file->ModifiedNs() / 1000000000);
  response.set_header("ETag", etag);
  response.set_header("Last-Modified", modified);
  response.set_header("Cache-Control", "no-cache");
  response.set_header("Accept-Ranges", "bytes");
  const bool unchanged = request.has_header("If-None-Match")
                             ? MatchesEtag(request.get_header_value("If-None-Match"), etag)
                             : request.get_header_value("If-Modified-Since") == modified;
  if (unchanged) {
    response.status = 304;
    return;
  }

  const RangeAnswer range = AnswerRange(request.get_header_value("Range"), size);
  if (range.kind == RangeAnswer::kUnsatisfiable) {
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    return SetText(response, 416, "416 Range Not Satisfiable\n");
  }
  std::uint64_t start = 0;
  std::uint64_t length = size;
  response.status = 200;
  if (range.kind == RangeAnswer::kPart) {
    start = range.first;
    length = range.last - range.first + 1;
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                             std::to_string(range.last) + "/" +
                                             std::to_string(size));
  }
  response.set_content_provider(
      static_cast<std::size_t>(length), ContentType(real),
      [file, start](std::size_t offset, std::size_t wanted, httplib::DataSink& sink) {
        char buffer[65536];
        const std::optional<std::size_t> got =
            file->ReadAt(buffer, std::min(wanted, sizeof buffer), start + offset);
        if (!got || *got == 0) return false;  // the file shrank or cannot be read: end here
        sink.write(buffer, *got);
        return true;
      });
}

std::string PreviewServer::ContentType(std::string_view name) {
  static constexpr std::pair<std::string_view, const char*> kTypes[] = {
      {".html", "text/html"},
      {".htm", "text/html"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".webp", "image/webp"},
      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},
      {".woff", "font/woff"},
      {".dat", "application/octet-stream"},
  };
  for (const auto& [extension, type] : kTypes) {
    if (name.size() > extension.size() &&
        EqualsFoldingCase(name.substr(name.size() - extension.size()), extension)) {
      return type;
    }
  }
  return "application/octet-stream";
}

}  // namespace quarry
