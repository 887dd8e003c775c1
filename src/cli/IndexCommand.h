// quarry-cli index PATH...: builds the index of the given pages and folders and saves it, as
// Build followed by Save does in the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "io/PageFile.h"

namespace quarry {

class IndexCommand : public Command {
 public:
  explicit IndexCommand(CLI::App& parent);

  // Exit status 0 when saved; 1 when nothing could be saved, the database could not be opened
  // or a page could not be read (nothing is written then); 2 when a PATH does not exist.
  int Run() override;

  // What to index, where, and how much to say: what Run does, for 'web --site' as well.
  struct Request {
    std::vector<std::string> paths;
    std::string database;  // "" for the current folder; made when missing
    unsigned jobs = 0;     // 0: one reading thread per hardware thread
    bool quiet = false;
    bool verbose = false;
    bool progress = true;
    std::uint64_t maxPageSize = PageFile::kDefaultMaxSize;
  };
  // Indexes request.paths into request.database and saves; returns Run's exit status.
  static int Index(const Request& request);

 private:
  Request request_;
};

}  // namespace quarry
