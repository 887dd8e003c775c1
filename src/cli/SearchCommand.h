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

  // The words of one argument as a search compares them: cut at blanks, each trimmed as the
  // word list trims a word (TrimWord) and case-folded (FoldCase); empty results left out.
  static std::vector<std::string> IndexWords(const std::string& argument);

 private:
  std::vector<std::string> words_;
};

}  // namespace quarry
