// An ordered list of byte strings known by zero-based numbers: the page list and the title list.
//
// The texts live back to back in one buffer, each followed by a NUL byte, with the place where
// each ends: a list costs its bytes plus five per text, whatever the texts are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

class TextList {
 public:
  TextList() = default;
  virtual ~TextList() = default;

  TextList(const TextList&) = delete;
  TextList& operator=(const TextList&) = delete;

  // Stores a copy of text, byte for byte (empty texts and repeats included), at the end.
  // Returns its number: the count of entries before the call. Throws std::length_error when
  // the list's texts would pass 4 GiB together.
  int Add(std::string_view text);

  // Replaces every entry with the texts that bytes holds, each ended by a NUL byte; a last text
  // without one runs to the end of bytes. The list takes bytes over as its buffer (give it room
  // for one more byte when it may not end in a NUL). Returns the number of texts.
  std::size_t AssignNulEnded(std::string bytes);

  // Starts the list's one walk: entry 0, or nothing when the list is empty (the walk position
  // then stays as it was).
  std::optional<std::string_view> GetFirst();
  // The entry after the one returned last, or nothing when no walk has begun, when the list is
  // empty or when the last entry was returned.
  std::optional<std::string_view> GetNext();

  // Removes every entry; numbering starts again at 0. The walk position is not reset.
  void Clear();

  // Number of entries, and entry i (REQUIRES: i < Size()). The texts viewed stay valid until
  // the next Add, AssignNulEnded or Clear.
  std::size_t Size() const { return ends_.size(); }
  std::string_view At(std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : std::size_t{ends_[i - 1]} + 1;
    return std::string_view(bytes_).substr(start, ends_[i] - start);
  }

 private:
  std::string bytes_;                // every text followed by a NUL byte
  std::vector<std::uint32_t> ends_;  // where text i ends: the place of its NUL in bytes_
  long walk_ = -1;
};

}  // namespace quarry
