#include "model/PageWords.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/WordHash.h"

namespace quarry {

void PageWords::Add(std::string_view word) {
  const std::string_view trimmed = TrimWord(word);
  if (trimmed.empty()) return;
  char folded[kWordBufferSize];
  for (std::size_t i = 0; i < trimmed.size(); ++i) folded[i] = ToLowerAscii(trimmed[i]);
  const std::string_view text(folded, trimmed.size());
  const std::uint64_t hash = HashWord(text);

  if ((words_.size() + 1) * 2 > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  const auto hashBits = static_cast<std::uint32_t>(hash >> 32);
  std::size_t i = hash & mask;
  for (; slots_[i].word != 0; i = (i + 1) & mask) {
    if (slots_[i].hashBits == hashBits && SameWord(Text(words_[slots_[i].word - 1]), text)) return;
  }
  if (bytes_.size() > std::numeric_limits<std::uint32_t>::max() - kWordBufferSize) {
    throw std::length_error("a page with more than 4 GB of distinct words");
  }
  words_.push_back(Word{hash, static_cast<std::uint32_t>(bytes_.size()),
                        static_cast<std::uint32_t>(text.size())});
  bytes_.append(text);
  slots_[i] = Slot{hashBits, static_cast<std::uint32_t>(words_.size())};
}

namespace {
// A table larger than this is given back (Clear, ReleaseLookup); a smaller one is kept for the
// next page.
constexpr std::size_t kKeptSlots = 4096;
}  // namespace

void PageWords::Clear() {
  // A table that a large page made large is given back, so that small pages after it do not
  // each pay for clearing it.
  if (slots_.size() > kKeptSlots || slots_.empty()) {
    std::vector<Slot>().swap(slots_);
    // So are the texts of a large page: pages read side by side each keep a set, and every set
    // must not keep the memory of the largest page met.
    std::vector<Word>().swap(words_);
    std::string().swap(bytes_);
  } else {
    std::fill(slots_.begin(), slots_.end(), Slot{0, 0});
  }
  bytes_.clear();
  words_.clear();
}

void PageWords::ReleaseLookup() {
  if (slots_.size() > kKeptSlots) std::vector<Slot>().swap(slots_);
}

void PageWords::Grow() {
  // Twice the slots, or (after ReleaseLookup) enough for the words kept and one more.
  std::size_t size = slots_.empty() ? std::size_t{256} : slots_.size() * 2;
  while ((words_.size() + 1) * 2 > size) size *= 2;
  slots_.assign(size, Slot{0, 0});
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t w = 0; w < words_.size(); ++w) {
    std::size_t i = words_[w].hash & mask;
    while (slots_[i].word != 0) i = (i + 1) & mask;
    slots_[i] =
        Slot{static_cast<std::uint32_t>(words_[w].hash >> 32), static_cast<std::uint32_t>(w + 1)};
  }
}

}  // namespace quarry
