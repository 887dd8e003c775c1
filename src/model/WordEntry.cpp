#include "model/WordEntry.h"

#include <algorithm>

#include "model/TextOrder.h"

namespace quarry {
namespace {

// Up to this many numbers an out-of-order number is looked for by a plain search; beyond it the
// entry keeps a hash set, so that no order of numbers makes adding them quadratic.
constexpr std::size_t kSearchLimit = 32;

// Room for this many numbers costs the allocator no more than room for one.
constexpr std::size_t kFirstCapacity = 6;

}  // namespace

WordEntry::WordEntry(std::string_view text, std::int32_t firstPage)
    : text_(text), maxPage_(firstPage) {
  LowerAsciiInPlace(text_);
  pages_.reserve(kFirstCapacity);
  pages_.push_back(firstPage);
}

void WordEntry::AddPage(std::int32_t page) {
  if (page > maxPage_) {  // the usual case: pages come in increasing order
    maxPage_ = page;
    pages_.push_back(page);
    if (pageSet_) pageSet_->insert(page);
    return;
  }
  if (page == maxPage_ || page == pages_.back()) return;
  if (!pageSet_) {
    if (pages_.size() <= kSearchLimit) {
      if (std::find(pages_.rbegin(), pages_.rend(), page) == pages_.rend()) pages_.push_back(page);
      return;
    }
    pageSet_ = std::make_unique<std::unordered_set<std::int32_t>>(pages_.begin(), pages_.end());
  }
  if (pageSet_->insert(page).second) pages_.push_back(page);
}

}  // namespace quarry
