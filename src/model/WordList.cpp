#include "model/WordList.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/WordEntry.h"

// Two ways to hold the entries.
//
// Regular: the list is in strictly descending order of the texts with no repeats, which is what
// AddWord always makes and what a load of a saved index gives. Then the list order is the order
// of a sorted set, the walk is a walk of that set, a new entry's place is where the set puts it
// (in front of the first smaller text), and a hash index finds an entry by its text.
//
// Irregular: an Append broke the order or repeated a text. The entries then sit in a vector in
// list order and every operation works through it from the head, exactly as the list rules read.
// Only a foreign or damaged word file leads here; Clear makes the list regular again.

namespace quarry {
namespace {

// The first eight bytes of a text as one big-endian number, missing bytes as zero: comparing two
// of these orders texts as their bytes do, except that a tie needs the whole texts.
std::uint64_t LeadingBytes(std::string_view text) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    key = (key << 8) | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return key;
}

// An entry of the sorted set. The leading bytes kept beside it settle most comparisons without
// a visit to the entry, which matters on a large list.
struct OrderedEntry {
  OrderedEntry(std::uint64_t leading, std::unique_ptr<WordEntry> e)
      : leadingBytes(leading), entry(std::move(e)) {}
  std::uint64_t leadingBytes;
  std::unique_ptr<WordEntry> entry;
};

struct TextKey {
  std::uint64_t leadingBytes;
  std::string_view text;
};

// Descending order of the texts, bytes compared as unsigned values, a longer text before its
// own prefix (std::string_view compares that way).
struct DescendingText {
  using is_transparent = void;
  static TextKey Key(const OrderedEntry& e) { return {e.leadingBytes, e.entry->GetText()}; }
  static TextKey Key(const TextKey& k) { return k; }
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    const TextKey x = Key(a);
    const TextKey y = Key(b);
    if (x.leadingBytes != y.leadingBytes) return x.leadingBytes > y.leadingBytes;
    return x.text > y.text;
  }
};

// Finds entries by their text: open addressing with linear probing over a power-of-two table
// that is at most half full. Each slot keeps its text's hash, so a probe touches an entry only
// when the hashes agree; a look-up of a known word costs one slot and one entry.
class TextIndex {
 public:
  TextIndex() = default;
  TextIndex(const TextIndex&) = delete;
  TextIndex& operator=(const TextIndex&) = delete;

  static std::uint64_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

  WordEntry* Find(std::string_view text, std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.entry == nullptr) return nullptr;
      if (slot.hash == hash && slot.entry->GetText() == text) return slot.entry;
    }
  }

  // REQUIRES: no entry in the index has the same text. Changes nothing if it throws.
  void Insert(WordEntry* entry, std::uint64_t hash) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    Place(Slot{hash, entry});
    ++count_;
  }

  // Removes the entry with this text, if there is one, and closes the gap it leaves.
  void Erase(std::string_view text, std::uint64_t hash) {
    if (slots_.empty()) return;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = hash & mask;
    for (;; hole = (hole + 1) & mask) {
      const Slot& slot = slots_[hole];
      if (slot.entry == nullptr) return;
      if (slot.hash == hash && slot.entry->GetText() == text) break;
    }
    // Shift back every later slot of the run that may move into the hole.
    for (std::size_t j = (hole + 1) & mask; slots_[j].entry != nullptr; j = (j + 1) & mask) {
      const std::size_t home = slots_[j].hash & mask;
      const bool staysPut = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
      if (staysPut) continue;
      slots_[hole] = slots_[j];
      hole = j;
    }
    slots_[hole] = Slot{};
    --count_;
  }

  void Clear() {
    std::vector<Slot>().swap(slots_);
    count_ = 0;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    WordEntry* entry = nullptr;  // nullptr: the slot is free
  };

  void Place(Slot s) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = s.hash & mask;
    while (slots_[i].entry != nullptr) i = (i + 1) & mask;
    slots_[i] = s;
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? std::size_t{1024} : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.entry != nullptr) Place(s);
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

// A text with A-Z folded to a-z; on the stack when it fits a word buffer.
class FoldedText {
 public:
  explicit FoldedText(std::string_view text) {
    if (text.size() < sizeof buffer_) {
      for (std::size_t i = 0; i < text.size(); ++i) buffer_[i] = ToLowerAscii(text[i]);
      view_ = std::string_view(buffer_, text.size());
    } else {
      heap_ = LowerAscii(text);
      view_ = heap_;
    }
  }
  FoldedText(const FoldedText&) = delete;
  FoldedText& operator=(const FoldedText&) = delete;

  std::string_view View() const { return view_; }

 private:
  char buffer_[kWordBufferSize];
  std::string heap_;
  std::string_view view_;
};

}  // namespace

struct WordList::Impl {
  using Ordered = std::set<OrderedEntry, DescendingText>;

  bool irregular = false;
  Ordered ordered;                                   // regular: the list itself
  TextIndex byText;                                  // regular: the same entries by text
  std::vector<std::unique_ptr<WordEntry>> sequence;  // irregular: the list itself

  // The walk: the entry to return next, none when walking is false.
  bool walking = false;
  Ordered::iterator walkNext;  // regular
  std::size_t walkIndex = 0;   // irregular

  std::size_t Size() const { return irregular ? sequence.size() : ordered.size(); }

  WordEntry* Find(std::string_view folded) {
    if (!irregular) return byText.Find(folded, TextIndex::Hash(folded));
    for (const auto& e : sequence) {
      if (e->GetText() == folded) return e.get();
    }
    return nullptr;
  }

  // Puts a new entry in front of the first entry from the head whose text is smaller, or at the
  // tail. REQUIRES: no entry has the same text.
  void Insert(std::unique_ptr<WordEntry> entry) {
    if (!irregular) {
      AddToSet(std::move(entry));
      return;
    }
    const std::string_view text = entry->GetText();
    std::size_t at = 0;
    while (at < sequence.size() && !(text > std::string_view(sequence[at]->GetText()))) ++at;
    sequence.insert(sequence.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    if (walking && at <= walkIndex) ++walkIndex;
  }

  // Removes the first entry from the head whose text is folded. Returns whether there was one.
  bool Remove(std::string_view folded) {
    if (!irregular) {
      const auto it = ordered.find(TextKey{LeadingBytes(folded), folded});
      if (it == ordered.end()) return false;
      byText.Erase(folded, TextIndex::Hash(folded));
      if (walking && it == walkNext) Advance();
      ordered.erase(it);
      return true;
    }
    for (std::size_t at = 0; at < sequence.size(); ++at) {
      if (sequence[at]->GetText() != folded) continue;
      sequence.erase(sequence.begin() + static_cast<std::ptrdiff_t>(at));
      if (walking) {
        if (at < walkIndex) --walkIndex;
        if (walkIndex >= sequence.size()) walking = false;
      }
      return true;
    }
    return false;
  }

  void Append(std::unique_ptr<WordEntry> entry) {
    if (!irregular) {
      if (ordered.empty() || entry->GetText() < ordered.rbegin()->entry->GetText()) {
        AddToSet(std::move(entry));
        return;
      }
      MakeIrregular();
    }
    sequence.push_back(std::move(entry));
  }

  // Puts an entry with a new text into the sorted set and the hash index, both or neither.
  void AddToSet(std::unique_ptr<WordEntry> entry) {
    const std::string_view text = entry->GetText();
    const std::uint64_t hash = TextIndex::Hash(text);
    const auto it = ordered.emplace_hint(ordered.end(), LeadingBytes(text), std::move(entry));
    try {
      byText.Insert(it->entry.get(), hash);
    } catch (...) {  // out of memory: keep the two in step, then let it pass
      ordered.erase(it);
      throw;
    }
  }

  // Moves the entries, in list order, from the sorted set to the vector; the walk keeps its place.
  void MakeIrregular() {
    if (walking) walkIndex = static_cast<std::size_t>(std::distance(ordered.begin(), walkNext));
    sequence.reserve(ordered.size() + 1);
    while (!ordered.empty())
      sequence.push_back(std::move(ordered.extract(ordered.begin()).value().entry));
    byText.Clear();
    irregular = true;
  }

  void Clear() {
    walking = false;
    byText.Clear();
    ordered.clear();
    decltype(sequence)().swap(sequence);
    irregular = false;
  }

  WordEntry* First() {
    walking = Size() > 0;
    if (!walking) return nullptr;
    if (irregular) {
      walkIndex = 0;
    } else {
      walkNext = ordered.begin();
    }
    return Next();
  }

  // Returns the entry at the walk position and moves past it; the walk ends after the last.
  WordEntry* Next() {
    if (!walking) return nullptr;
    WordEntry* e = irregular ? sequence[walkIndex].get() : walkNext->entry.get();
    Advance();
    return e;
  }

  void Advance() {
    if (irregular) {
      walking = ++walkIndex < sequence.size();
    } else {
      walking = ++walkNext != ordered.end();
    }
  }
};

WordList::WordList() : impl_(std::make_unique<Impl>()) {}

WordList::~WordList() { Clear(); }

void WordList::AddWord(std::string_view word, std::int32_t page) {
  char in[kWordBufferSize];
  const std::size_t n = word.size() < kWordBufferSize ? word.size() : kWordBufferSize - 1;
  std::memcpy(in, word.data(), n);
  in[n] = '\0';

  char work[kWordBufferSize];
  char* trimmed = TrimWord(in, work);
  std::size_t length = 0;
  for (; trimmed[length] != '\0'; ++length) trimmed[length] = ToLowerAscii(trimmed[length]);
  if (length == 0) return;
  const std::string_view text(trimmed, length);

  if (WordEntry* e = impl_->Find(text)) {
    e->AddPage(page);
    return;
  }
  impl_->Insert(std::make_unique<WordEntry>(text, page));
}

WordEntry* WordList::Find(std::string_view text) {
  const FoldedText folded(text);
  return impl_->Find(folded.View());
}

int WordList::RemoveWord(std::string_view text) {
  const FoldedText folded(text);
  return impl_->Remove(folded.View()) ? 1 : 0;
}

WordEntry* WordList::GetFirst() { return impl_->First(); }

WordEntry* WordList::GetNext() { return impl_->Next(); }

void WordList::Clear() { impl_->Clear(); }

void WordList::Append(std::unique_ptr<WordEntry> entry) {
  if (entry) impl_->Append(std::move(entry));
}

std::size_t WordList::Size() const { return impl_->Size(); }

}  // namespace quarry
