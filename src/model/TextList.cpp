#include "model/TextList.h"

namespace quarry {

int TextList::Add(std::string_view text) {
  entries_.emplace_back(text);
  return static_cast<int>(entries_.size() - 1);
}

const std::string* TextList::GetFirst() {
  if (entries_.empty()) return nullptr;
  walk_ = 0;
  return &entries_.front();
}

const std::string* TextList::GetNext() {
  if (walk_ < 0 || entries_.empty()) return nullptr;
  const auto next = static_cast<std::size_t>(walk_) + 1;
  if (next >= entries_.size()) return nullptr;
  walk_ = static_cast<long>(next);
  return &entries_[next];
}

void TextList::Clear() { entries_.clear(); }

}  // namespace quarry
