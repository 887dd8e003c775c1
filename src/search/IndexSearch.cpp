#include "search/IndexSearch.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "model/CaseFold.h"
#include "model/TrimWord.h"
#include "model/Utf8Class.h"
#include "model/WordEntry.h"

namespace quarry {

std::vector<IndexQueryWord> IndexQueryWords(std::string_view text) {
  std::vector<IndexQueryWord> words;
  for (std::string_view piece : CutAtWhiteSpace(text)) {
    IndexQueryWord word;
    while (!piece.empty() && piece.back() == '*') {
      piece.remove_suffix(1);
      word.prefix = true;
    }
    word.fold = FoldCase(TrimWord(piece, !word.prefix));
    if (!word.fold.empty()) words.push_back(std::move(word));
  }
  return words;
}

IndexSearch::IndexSearch(std::vector<IndexQueryWord> words)
    : words_(std::move(words)), pagesOf_(words_.size()) {}

void IndexSearch::Take(const WordEntry& entry) {
  const std::string folded = FoldCase(entry.GetText());
  for (std::size_t i = 0; i < words_.size(); ++i) {
    const IndexQueryWord& word = words_[i];
    if (word.prefix ? folded.compare(0, word.fold.size(), word.fold) != 0 : folded != word.fold) {
      continue;
    }
    const std::vector<std::int32_t>& pages = entry.GetPages();
    pagesOf_[i].insert(pagesOf_[i].end(), pages.begin(), pages.end());
  }
}

std::vector<std::int32_t> IndexSearch::Pages() {
  std::vector<std::int32_t> found;
  for (std::size_t i = 0; i < pagesOf_.size(); ++i) {
    std::vector<std::int32_t>& pages = pagesOf_[i];
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    if (i == 0) {
      found = std::move(pages);
    } else {
      std::vector<std::int32_t> both;
      std::set_intersection(found.begin(), found.end(), pages.begin(), pages.end(),
                            std::back_inserter(both));
      found = std::move(both);
    }
  }
  return found;
}

}  // namespace quarry
