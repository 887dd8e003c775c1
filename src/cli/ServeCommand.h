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

 private:
  std::string site_;
  int port_ = 8000;
  std::string bind_ = "127.0.0.1";
};

}  // namespace quarry
