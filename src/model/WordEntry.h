// One distinct word of the index and the numbers of the pages it occurs on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace quarry {

class WordEntry {
 public:
  // Copies text, folds A-Z to a-z in the copy (every other byte unchanged) and records
  // firstPage as the entry's first page number.
  WordEntry(std::string_view text, std::int32_t firstPage);
  virtual ~WordEntry() = default;

  WordEntry(const WordEntry&) = delete;
  WordEntry& operator=(const WordEntry&) = delete;

  // Adds page at the end of the page numbers unless the entry holds it already. The last number
  // is compared first, so adding pages in increasing order costs O(1) each; numbers out of
  // order cost at most a short search, or a hash look-up once the entry has many numbers.
  void AddPage(std::int32_t page);

  // Asks the processor to bring in the memory that the next AddPage writes.
  void PrefetchPages() const { __builtin_prefetch(pages_.data() + pages_.size()); }

  // The lower-cased text. It never changes after construction.
  const std::string& GetText() const { return text_; }

  // The page numbers in order of first addition, each once; never empty.
  const std::vector<std::int32_t>& GetPages() const { return pages_; }

 private:
  std::string text_;
  std::vector<std::int32_t> pages_;
  std::int32_t maxPage_;  // the largest number in pages_: any larger number is new
  // Every number in pages_, made only once an entry with many numbers gets one out of order.
  std::unique_ptr<std::unordered_set<std::int32_t>> pageSet_;
};

}  // namespace quarry
