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

  // One word of a search: a stored word matches when its fold equals fold, or, for a prefix,
  // when its fold begins with fold.
  struct QueryWord {
    std::string fold;
    bool prefix = false;
  };

  // The words of one argument as a search compares them: cut at white space, ASCII's and the
  // Unicode spaces (CutAtWhiteSpace), each trimmed as the word list trims a word (TrimWord)
  // and case-folded (FoldCase); empty results left out. A word ending in '*' is a prefix: its
  // trailing '*'s go before trimming, and a single character left is kept.
  static std::vector<QueryWord> IndexWords(const std::string& argument);

 private:
  // With --bundle: the pages ranked from the search bundle in bundle_.
  int RunRanked(const std::string& query);

  std::vector<std::string> words_;
  std::string bundle_;
};

}  // namespace quarry
