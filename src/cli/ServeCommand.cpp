#include "cli/ServeCommand.h"

#include <fcntl.h>
#include <httplib.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "cli/WebCommand.h"
#include "model/TextOrder.h"

namespace quarry {

namespace {

constexpr const char* kFooter = R"(
Serves the files of the folder SITE over HTTP, for a preview of a site and its search page:
after 'quarry-cli web --db SITE/_search', open http://127.0.0.1:PORT/_search/search.html.
A folder is answered with its index.html. Only GET and HEAD are answered.

Nothing outside SITE is ever served: a path with a ".." part or a NUL byte (percent-encoded or
not) is refused with 403, and so is a file reached through a symbolic link that leads out of
SITE (links that stay inside it are followed); a missing file gives 404.

Output: "Serving SITE at http://ADDR:PORT/" on the first line, as soon as it listens; with
--port 0 PORT is the free port the system chose. Stop it with Ctrl-C.

Exit status: 1 it cannot listen at ADDR and PORT; 2 usage error.)";

// The real path of path, or "" when it does not resolve.
std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  return real ? std::string(real.get()) : std::string();
}

// True when path is root or lies below it (both real paths, no trailing '/').
bool IsBeneath(const std::string& root, const std::string& path) {
  if (root == "/") return !path.empty() && path.front() == '/';
  return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

void SetText(httplib::Response& response, int status, const char* text) {
  response.status = status;
  response.set_content(text, "text/plain; charset=utf-8");
}

// Answers every request from the files below one folder.
class SiteHandler {
 public:
  explicit SiteHandler(std::string root) : root_(std::move(root)) {}

  void Handle(const httplib::Request& request, httplib::Response& response) const {
    response.set_header("X-Content-Type-Options", "nosniff");
    if (request.method != "GET" && request.method != "HEAD") {
      response.set_header("Allow", "GET, HEAD");
      SetText(response, 405, "405 Method Not Allowed\n");
      return;
    }
    // The path comes percent-decoded: "%2e%2e" and "%2f" are plain dots and slashes here.
    const std::string& path = request.path;
    if (path.find('\0') != std::string::npos) return SetText(response, 403, "403 Forbidden\n");
    std::string relative;
    std::size_t start = 0;
    while (start <= path.size()) {
      std::size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string_view part = std::string_view(path).substr(start, end - start);
      if (part == "..") return SetText(response, 403, "403 Forbidden\n");
      if (!part.empty() && part != ".") {
        relative += '/';
        relative += part;
      }
      start = end + 1;
    }

    std::string real = RealPath(root_ + relative);
    if (real.empty()) return SetText(response, 404, "404 Not Found\n");
    if (!IsBeneath(root_, real)) return SetText(response, 403, "403 Forbidden\n");
    struct stat info {};
    if (::stat(real.c_str(), &info) != 0) return SetText(response, 404, "404 Not Found\n");
    if (S_ISDIR(info.st_mode)) {
      if (path.empty() || path.back() != '/') {
        // Relative links in the folder's index.html need the folder's URL to end in '/'. The
        // location is made from the cleaned path, so it always names this server.
        response.set_redirect(WebCommand::PercentEncode(relative) + "/", 301);
        return;
      }
      real = RealPath(real + "/index.html");
      if (real.empty()) return SetText(response, 404, "404 Not Found\n");
      if (!IsBeneath(root_, real)) return SetText(response, 403, "403 Forbidden\n");
    }
    ServeFile(real, response);
  }

 private:
  // Sends the file at real, a resolved path below the root, checking after opening that the
  // file held is still below the root (a link may have been swapped in meanwhile).
  void ServeFile(const std::string& real, httplib::Response& response) const {
    const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return SetText(response, 404, "404 Not Found\n");
    auto closer = std::make_shared<int>(fd);
    const auto release = [closer](bool) {
      ::close(*closer);
      *closer = -1;
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      release(false);
      return SetText(response, 404, "404 Not Found\n");
    }
    char held[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), held, sizeof held);
    if (length > 0 && !IsBeneath(root_, std::string(held, static_cast<std::size_t>(length)))) {
      release(false);
      return SetText(response, 403, "403 Forbidden\n");
    }
    response.status = 200;
    response.set_header("Cache-Control", "no-cache");
    response.set_content_provider(
        static_cast<std::size_t>(info.st_size), ServeCommand::ContentType(real),
        [closer](std::size_t offset, std::size_t size, httplib::DataSink& sink) {
          char buffer[65536];
          const ssize_t got =
              ::pread(*closer, buffer, std::min(size, sizeof buffer), static_cast<off_t>(offset));
          if (got <= 0) return false;  // the file shrank or cannot be read: end the response
          sink.write(buffer, static_cast<std::size_t>(got));
          return true;
        },
        release);
  }

  std::string root_;
};

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

}  // namespace

ServeCommand::ServeCommand(CLI::App& parent)
    : Command(parent, "serve", "Serve the files of a folder over HTTP for a local preview.",
              DatabaseOption::kNone) {
  App().footer(kFooter);
  App()
      .add_option("SITE", site_, "Folder to serve")
      ->required()
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""));
  App()
      .add_option("--port", port_, "Port to listen on; 0 picks a free one (default: 8000)")
      ->check(CLI::Range(0, 65535))
      ->type_name("N");
  App()
      .add_option("--bind", bind_,
                  "Address to listen on (default: 127.0.0.1, this machine only); any other "
                  "address lets other machines read the folder")
      ->type_name("ADDR");
}

const char* ServeCommand::ContentType(const std::string& name) {
  static constexpr std::pair<std::string_view, const char*> kTypes[] = {
      {".html", "text/html"},
      {".htm", "text/html"},
      {".js", "text/javascript"},
      {".mjs", "text/javascript"},
      {".css", "text/css"},
      {".json", "application/json"},
      {".txt", "text/plain"},
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
  const std::string_view whole(name);
  for (const auto& [extension, type] : kTypes) {
    if (whole.size() > extension.size() &&
        EqualsFoldingCase(whole.substr(whole.size() - extension.size()), extension)) {
      return type;
    }
  }
  return "application/octet-stream";
}

int ServeCommand::Run() {
  const std::string root = RealPath(site_);
  if (root.empty()) {
    PrintError(site_ + ": cannot be resolved");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a browser that hangs up must not end the server

  httplib::Server server;
  const SiteHandler handler(root);
  server.set_pre_routing_handler(
      [&handler](const httplib::Request& request, httplib::Response& response) {
        handler.Handle(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });

  int port = port_;
  if (port == 0) {
    port = server.bind_to_any_port(bind_);
  } else if (!server.bind_to_port(bind_, port)) {
    port = -1;
  }
  const std::string host = bind_.find(':') != std::string::npos ? "[" + bind_ + "]" : bind_;
  if (port < 0) {
    PrintError("cannot listen on " + host + " port " + std::to_string(port_) +
               " (the port is in use, or the address is not one of this machine's)");
    return 1;
  }
  if (!IsLoopback(bind_)) {
    PrintError("warning: listening on " + host + ": other machines can read " + site_);
  }
  std::printf("Serving %s at http://%s:%d/\nPress Ctrl-C to stop.\n", site_.c_str(), host.c_str(),
              port);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}

}  // namespace quarry
