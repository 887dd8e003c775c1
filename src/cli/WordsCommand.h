// quarry-cli words: every word of the index with the numbers of the pages it occurs on.
#pragma once

#include "cli/Command.h"

namespace quarry {

class WordsCommand : public Command {
 public:
  explicit WordsCommand(CLI::App& parent);
  int Run() override;

 private:
  bool nulTerminated_ = false;
};

}  // namespace quarry
