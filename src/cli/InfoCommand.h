// quarry-cli info: the five statistics of the index.
#pragma once

#include "cli/Command.h"

namespace quarry {

class InfoCommand : public Command {
 public:
  explicit InfoCommand(CLI::App& parent);
  int Run() override;
};

}  // namespace quarry
