// quarry-cli search WORD...: the pages that hold every given word.
#pragma once

#include <string>
#include <vector>

#include "cli/Command.h"

namespace quarry {

class SearchCommand : public Command {
 public:
  explicit SearchCommand(CLI::App& parent);
  int Run() override;

 private:
  // With --bundle: the pages ranked from the search bundle in bundle_.
  int RunRanked(const std::string& query);

  std::vector<std::string> words_;
  std::string bundle_;
};

}  // namespace quarry
