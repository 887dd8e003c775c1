// quarry-cli serve SITE: serves a folder over HTTP for a local preview of the site's pages and
// its search page.
#pragma once

#include <string>

#include "cli/Command.h"

namespace quarry {

class ServeCommand : public Command {
 public:
  explicit ServeCommand(CLI::App& parent);
  int Run() override;

  // The Content-Type sent for a file named name, chosen by its extension (ASCII case
  // ignored): .html and .htm text/html, .js text/javascript, .css text/css, .json
  // application/json, a few image and font types, anything else application/octet-stream.
  static const char* ContentType(const std::string& name);

 private:
  std::string site_;
  int port_ = 8000;
  std::string bind_ = "127.0.0.1";
};

}  // namespace quarry
