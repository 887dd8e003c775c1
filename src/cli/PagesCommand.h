// quarry-cli pages: every page of the index with its number, path and title.
#pragma once

#include "cli/Command.h"

namespace quarry {

class PagesCommand : public Command {
 public:
  explicit PagesCommand(CLI::App& parent);
  int Run() override;

 private:
  bool nulTerminated_ = false;
};

}  // namespace quarry
