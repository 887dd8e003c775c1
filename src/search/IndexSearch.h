// The search of the three index files, without a bundle: every word of the query must be on a
// page, a word matching each stored word whose case fold equals its own (or begins with it, for a
// prefix). quarry-cli search and the page of version-1 settings (web/quarry-search-legacy.js)
// search so; tests/data/search-cases.tsv holds answers that both sides' tests check.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

class WordEntry;

struct IndexQueryWord {
  std::string fold;  // FoldCase of the word, trimmed
  bool prefix = false;
};

// The words of text as the search compares them: cut at white space (CutAtWhiteSpace), each
// trimmed as the word list trims a word (TrimWord) and case-folded (FoldCase); empty results left
// out. A word ending in '*' is a prefix: its '*'s go before trimming, and a single character left
// is kept.
std::vector<IndexQueryWord> IndexQueryWords(std::string_view text);

class IndexSearch {
 public:
  explicit IndexSearch(std::vector<IndexQueryWord> words);
  virtual ~IndexSearch() = default;

  IndexSearch(const IndexSearch&) = delete;
  IndexSearch& operator=(const IndexSearch&) = delete;

  // Takes one stored word with its pages, as the word file is read.
  void Take(const WordEntry& entry);

  // The pages that hold every word, ascending, each once. REQUIRES: every word was taken.
  std::vector<std::int32_t> Pages();

 private:
  std::vector<IndexQueryWord> words_;
  std::vector<std::vector<std::int32_t>> pagesOf_;  // per word, as taken
};

}  // namespace quarry
