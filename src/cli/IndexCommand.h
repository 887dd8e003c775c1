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

 private:
  std::vector<std::string> paths_;
  bool quiet_ = false;
  bool verbose_ = false;
  bool noProgress_ = false;
  unsigned jobs_ = 0;  // 0: one reading thread per hardware thread
  std::uint64_t maxPageSize_ = PageFile::kDefaultMaxSize;
};

}  // namespace quarry
