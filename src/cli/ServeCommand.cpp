#include "cli/ServeCommand.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/PreviewServer.h"
#include "io/FolderReader.h"

namespace quarry {

namespace {

constexpr const char* kFooter = R"(
Serves the files of the folder SITE over HTTP, for a preview of a site and its search page:
after 'quarry-cli web --db SITE/_search', open http://127.0.0.1:PORT/_search/search.html.
A folder is answered with its index.html. Only GET and HEAD are answered, one request on
each connection.

Nothing outside SITE is ever served: a path with a ".." part or a NUL byte (percent-encoded or
not) is refused with 403, and so is a file reached through a symbolic link that leads out of
SITE (links that stay inside it are followed); a file or folder whose name begins with '.'
(.git, .env) and a missing file give 404. Listening on this machine only (the default), it
answers only requests for localhost, a name ending in .localhost, 127.x.x.x or [::1] (403 for
any other Host, 400 without one), so that a page of another site cannot read SITE through a
name of its own that it points here.

Files carry an ETag and a Last-Modified date and are revalidated (304 when unchanged). One byte
range is answered with 206; several, or one past the end, with 416. A client gets 10 seconds
and 64 KiB to send its request; 32 requests are answered at a time.

Output: "Serving SITE at http://ADDR:PORT/" on the first line, as soon as it listens; with
--port 0 PORT is the free port the system chose. Stop it with Ctrl-C.

Exit status: 1 it cannot listen at ADDR and PORT; 2 usage error.)";

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

int ServeCommand::Run() {
  const std::string root = FolderReader::RealPath(site_);
  if (root.empty()) {
    PrintError(site_ + ": cannot be resolved");
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a browser that hangs up must not end the server

  PreviewServer server(root, IsLoopback(bind_));
  const int port = server.Bind(bind_, port_);
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
