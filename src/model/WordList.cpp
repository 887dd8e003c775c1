#include "model/WordList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "model/PageWords.h"
#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/WordEntry.h"
#include "model/WordHash.h"

// Two ways to hold the entries.
//
// Regular: the list is in strictly descending order of the texts with no repeats, which is what
// AddWord always makes and what a load of a saved index gives. The list order is then simply the
// sorted order, so it need not be kept up at every word: new entries wait, unsorted, until
// something needs the order (a walk, an Append, a removal), and are then sorted and merged in
// all at once. A hash index finds an entry by its text. Removed entries leave a hole in the
// sorted vector that the next walk closes.
//
// Irregular: an Append broke the order or repeated a text. The entries then sit in a vector in
// list order and every operation works through it from the head, exactly as the list rules read.
// Only a foreign or damaged word file leads here; Clear makes the list regular again.
//
// Any change to the entries ends a walk that is under way.

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

// An entry of the sorted vector, with its text's leading bytes beside it so that most
// comparisons need no visit to the entry. A removed entry leaves a hole: a null entry.
struct OrderedEntry {
  std::uint64_t leadingBytes;
  std::unique_ptr<WordEntry> entry;
};

// Descending order of the texts, bytes compared as unsigned values, a longer text before its
// own prefix (std::string_view compares that way). REQUIRES: no holes.
bool Precedes(const OrderedEntry& a, const OrderedEntry& b) {
  if (a.leadingBytes != b.leadingBytes) return a.leadingBytes > b.leadingBytes;
  return std::string_view(a.entry->GetText()) > std::string_view(b.entry->GetText());
}

// Finds entries by their text: open addressing with linear probing over a power-of-two table
// that is at most half full. Each slot keeps its text's hash, so a probe touches an entry only
// when the hashes agree; a look-up of a known word costs one slot and one entry.
class TextIndex {
 public:
  TextIndex() = default;
  TextIndex(const TextIndex&) = delete;
  TextIndex& operator=(const TextIndex&) = delete;

  static std::uint64_t Hash(std::string_view text) { return HashWord(text); }

  WordEntry* Find(std::string_view text, std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.entry == nullptr) return nullptr;
      if (slot.hash == hash && SameWord(slot.entry->GetText(), text)) return slot.entry;
    }
  }

  // Asks the processor to bring in the slot where a look-up of hash starts.
  void PrefetchSlot(std::uint64_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  }

  // The entry in the slot where a look-up of hash starts, when the hashes agree, or nullptr: a
  // likely result of the look-up, to be prefetched.
  const WordEntry* Likely(std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = slots_[hash & (slots_.size() - 1)];
    return slot.hash == hash ? slot.entry : nullptr;
  }

  // REQUIRES: no entry in the index has the same text. Changes nothing if it throws.
  // Makes room for more entries at once: one table of the size they will need rather than each
  // size on the way there, with the table before it beside it each time.
  void Reserve(std::size_t more) {
    std::size_t size = slots_.empty() ? std::size_t{1024} : slots_.size();
    while ((count_ + more) * 2 > size) size *= 2;
    if (size != slots_.size()) Rehash(size);
  }

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

  void Grow() { Rehash(slots_.empty() ? std::size_t{1024} : slots_.size() * 2); }

  void Rehash(std::size_t size) {
    std::vector<Slot> old(size);
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
  bool irregular = false;
  // Regular: the list is sorted followed by pending in their merged order.
  std::vector<OrderedEntry> sorted;  // descending, with holes where entries were removed
  std::size_t holes = 0;
  std::vector<OrderedEntry> pending;  // new entries not yet in order
  TextIndex byText;                   // every entry of sorted and pending
  // Irregular: the list itself.
  std::vector<std::unique_ptr<WordEntry>> sequence;

  // The walk: the position of the entry to return next; none when walking is false.
  bool walking = false;
  std::size_t walkIndex = 0;

  std::size_t Size() const {
    return irregular ? sequence.size() : sorted.size() - holes + pending.size();
  }

  WordEntry* Find(std::string_view folded) { return Find(folded, TextIndex::Hash(folded)); }

  // As Find, with HashWord(folded) known.
  WordEntry* Find(std::string_view folded, std::uint64_t hash) {
    if (!irregular) return byText.Find(folded, hash);
    for (const auto& e : sequence) {
      if (e->GetText() == folded) return e.get();
    }
    return nullptr;
  }

  // Records page for the folded text whose HashWord is hash: on its entry, or on a new one.
  void Add(std::string_view folded, std::uint64_t hash, std::int32_t page) {
    if (WordEntry* e = Find(folded, hash)) {
      e->AddPage(page);
      return;
    }
    Insert(std::make_unique<WordEntry>(folded, page), hash);
  }

  // Puts a new entry in front of the first entry from the head whose text is smaller, or at the
  // tail. REQUIRES: no entry has the same text; hash is HashWord of the entry's text.
  void Insert(std::unique_ptr<WordEntry> entry, std::uint64_t hash) {
    walking = false;
    if (!irregular) {
      const std::string_view text = entry->GetText();
      pending.push_back(OrderedEntry{LeadingBytes(text), std::move(entry)});
      try {
        byText.Insert(pending.back().entry.get(), hash);
      } catch (...) {  // out of memory: keep the two in step, then let it pass
        pending.pop_back();
        throw;
      }
      return;
    }
    const std::string_view text = entry->GetText();
    std::size_t at = 0;
    while (at < sequence.size() && !(text > std::string_view(sequence[at]->GetText()))) ++at;
    sequence.insert(sequence.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
  }

  // Removes the first entry from the head whose text is folded. Returns whether there was one.
  bool Remove(std::string_view folded) {
    if (!irregular) {
      const std::uint64_t hash = TextIndex::Hash(folded);
      WordEntry* e = byText.Find(folded, hash);
      if (e == nullptr) return false;
      walking = false;
      MergePending();
      // Entries with the same leading bytes stand together; the one to remove is among them.
      const std::uint64_t leading = LeadingBytes(folded);
      auto at = std::partition_point(
          sorted.begin(), sorted.end(),
          [leading](const OrderedEntry& o) { return o.leadingBytes > leading; });
      while (at != sorted.end() && at->entry.get() != e) ++at;
      if (at == sorted.end()) return false;  // cannot happen: the index and the order agree
      byText.Erase(folded, hash);
      at->entry.reset();
      ++holes;
      if (holes > sorted.size() / 2) CloseHoles();
      return true;
    }
    for (std::size_t at = 0; at < sequence.size(); ++at) {
      if (sequence[at]->GetText() != folded) continue;
      walking = false;
      sequence.erase(sequence.begin() + static_cast<std::ptrdiff_t>(at));
      return true;
    }
    return false;
  }

  void Append(std::unique_ptr<WordEntry> entry) {
    walking = false;
    if (!irregular) {
      MergePending();
      CloseHoles();
      const std::string_view text = entry->GetText();
      if (sorted.empty() || text < sorted.back().entry->GetText()) {
        const std::uint64_t hash = TextIndex::Hash(text);
        sorted.push_back(OrderedEntry{LeadingBytes(text), std::move(entry)});
        try {
          byText.Insert(sorted.back().entry.get(), hash);
        } catch (...) {  // out of memory: keep the two in step, then let it pass
          sorted.pop_back();
          throw;
        }
        return;
      }
      MakeIrregular();
    }
    sequence.push_back(std::move(entry));
  }

  // Sorts the new entries and merges them into the sorted vector.
  void MergePending() {
    if (pending.empty()) return;
    CloseHoles();
    std::sort(pending.begin(), pending.end(), Precedes);
    const auto middle = static_cast<std::ptrdiff_t>(sorted.size());
    sorted.insert(sorted.end(), std::make_move_iterator(pending.begin()),
                  std::make_move_iterator(pending.end()));
    std::vector<OrderedEntry>().swap(pending);
    std::inplace_merge(sorted.begin(), sorted.begin() + middle, sorted.end(), Precedes);
  }

  void CloseHoles() {
    if (holes == 0) return;
    std::erase_if(sorted, [](const OrderedEntry& o) { return o.entry == nullptr; });
    holes = 0;
  }

  // Moves the entries, in list order, to the vector of the irregular list.
  void MakeIrregular() {
    MergePending();
    CloseHoles();
    sequence.reserve(sorted.size() + 1);
    for (OrderedEntry& o : sorted) sequence.push_back(std::move(o.entry));
    std::vector<OrderedEntry>().swap(sorted);
    byText.Clear();
    irregular = true;
  }

  void Clear() {
    walking = false;
    byText.Clear();
    std::vector<OrderedEntry>().swap(sorted);
    std::vector<OrderedEntry>().swap(pending);
    holes = 0;
    decltype(sequence)().swap(sequence);
    irregular = false;
  }

  WordEntry* First() {
    if (!irregular) {
      MergePending();
      CloseHoles();
    }
    walking = Size() > 0;
    walkIndex = 0;
    return Next();
  }

  // Returns the entry at the walk position and moves past it; the walk ends after the last.
  WordEntry* Next() {
    if (!walking) return nullptr;
    const std::size_t size = irregular ? sequence.size() : sorted.size();
    WordEntry* e = irregular ? sequence[walkIndex].get() : sorted[walkIndex].entry.get();
    walking = ++walkIndex < size;
    return e;
  }
};

WordList::WordList() : impl_(std::make_unique<Impl>()) {}

WordList::~WordList() { Clear(); }

void WordList::AddWord(std::string_view word, std::int32_t page) {
  // A word cut at 511 bytes, as a word buffer holds it, and then up to its first NUL.
  word = word.substr(0, kWordBufferSize - 1);
  word = word.substr(0, word.find('\0'));
  const std::string_view trimmed = TrimWord(word);
  if (trimmed.empty()) return;
  char folded[kWordBufferSize];
  for (std::size_t i = 0; i < trimmed.size(); ++i) folded[i] = ToLowerAscii(trimmed[i]);
  impl_->Add(std::string_view(folded, trimmed.size()), HashWord({folded, trimmed.size()}), page);
}

void WordList::AddPageWords(const PageWords& words, std::int32_t page) {
  // Most time here goes into waiting for memory: each look-up visits a slot of a large table,
  // then the entry it points to, then the end of the entry's page numbers. So each is fetched
  // some words ahead of its use, once the one before it has arrived.
  constexpr std::size_t kSlotAhead = 12;
  constexpr std::size_t kEntryAhead = 8;
  constexpr std::size_t kPagesAhead = 4;
  const std::vector<PageWords::Word>& list = words.Words();
  if (!impl_->irregular) {
    // Room for the page's words if all were new: a page of millions of distinct words then needs
    // no table or list of twice their size while the old one is still held.
    impl_->byText.Reserve(list.size());
    std::vector<OrderedEntry>& pending = impl_->pending;
    if (pending.size() + list.size() > pending.capacity()) {
      pending.reserve(std::max(pending.size() + list.size(), pending.capacity() * 2));
    }
  }
  const TextIndex& index = impl_->byText;
  const std::size_t n = list.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kSlotAhead < n) index.PrefetchSlot(list[i + kSlotAhead].hash);
    if (i + kEntryAhead < n) {
      if (const WordEntry* e = index.Likely(list[i + kEntryAhead].hash)) __builtin_prefetch(e);
    }
    if (i + kPagesAhead < n) {
      if (const WordEntry* e = index.Likely(list[i + kPagesAhead].hash)) e->PrefetchPages();
    }
    impl_->Add(words.Text(list[i]), list[i].hash, page);
  }
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
