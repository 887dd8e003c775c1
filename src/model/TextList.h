// An ordered list of byte strings known by zero-based numbers: the page list and the title list.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace quarry {

class TextList {
 public:
  TextList() = default;
  virtual ~TextList() = default;

  TextList(const TextList&) = delete;
  TextList& operator=(const TextList&) = delete;

  // Stores a copy of text, byte for byte (empty texts and repeats included), at the end.
  // Returns its number: the count of entries before the call.
  int Add(std::string_view text);

  // Starts the list's one walk: entry 0, or nullptr when the list is empty (the walk position
  // then stays as it was).
  const std::string* GetFirst();
  // The entry after the one returned last, or nullptr when no walk has begun, when the list is
  // empty or when the last entry was returned. Pointers stay valid until Clear.
  const std::string* GetNext();

  // Removes every entry; numbering starts again at 0. The walk position is not reset.
  void Clear();

  // Number of entries, and entry i (REQUIRES: i < Size()).
  std::size_t Size() const { return entries_.size(); }
  const std::string& At(std::size_t i) const { return entries_[i]; }

 private:
  std::deque<std::string> entries_;  // a deque keeps handed-out pointers valid across Add
  long walk_ = -1;
};

}  // namespace quarry
