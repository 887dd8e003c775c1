#include "model/WordList.h"

#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <unordered_set>
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
// (in front of the first smaller text), and a hash set finds an entry by its text.
//
// Irregular: an Append broke the order or repeated a text. The entries then sit in a vector in
// list order and every operation works through it from the head, exactly as the list rules read.
// Only a foreign or damaged word file leads here; Clear makes the list regular again.

namespace quarry {
namespace {

struct DescendingText {
  using is_transparent = void;
  static std::string_view Text(const std::unique_ptr<WordEntry>& e) { return e->GetText(); }
  static std::string_view Text(std::string_view s) { return s; }
  // std::string_view compares bytes as unsigned values, a prefix before the longer text.
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return Text(a) > Text(b);
  }
};

// Not noexcept on purpose: the standard library then keeps each element's hash beside it instead
// of hashing the text again while it walks a bucket.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  std::size_t operator()(const WordEntry* e) const { return (*this)(e->GetText()); }
};

struct TextEqual {
  using is_transparent = void;
  static std::string_view Text(const WordEntry* e) { return e->GetText(); }
  static std::string_view Text(std::string_view s) { return s; }
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return Text(a) == Text(b);
  }
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
  using Ordered = std::set<std::unique_ptr<WordEntry>, DescendingText>;

  bool irregular = false;
  Ordered ordered;                                             // regular: the list itself
  std::unordered_set<WordEntry*, TextHash, TextEqual> byText;  // regular: the same entries
  std::vector<std::unique_ptr<WordEntry>> sequence;            // irregular: the list itself

  // The walk: the entry to return next, none when walking is false.
  bool walking = false;
  Ordered::iterator walkNext;  // regular
  std::size_t walkIndex = 0;   // irregular

  std::size_t Size() const { return irregular ? sequence.size() : ordered.size(); }

  WordEntry* Find(std::string_view folded) {
    if (!irregular) {
      const auto it = byText.find(folded);
      return it == byText.end() ? nullptr : *it;
    }
    for (const auto& e : sequence) {
      if (e->GetText() == folded) return e.get();
    }
    return nullptr;
  }

  // Puts a new entry in front of the first entry from the head whose text is smaller, or at the
  // tail. REQUIRES: no entry has the same text.
  void Insert(std::unique_ptr<WordEntry> entry) {
    if (!irregular) {
      WordEntry* raw = entry.get();
      ordered.insert(std::move(entry));
      byText.insert(raw);
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
      const auto found = byText.find(folded);
      if (found == byText.end()) return false;
      byText.erase(found);
      const auto it = ordered.find(folded);
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
      if (ordered.empty() || entry->GetText() < (*ordered.rbegin())->GetText()) {
        WordEntry* raw = entry.get();
        ordered.emplace_hint(ordered.end(), std::move(entry));
        byText.insert(raw);
        return;
      }
      MakeIrregular();
    }
    sequence.push_back(std::move(entry));
  }

  // Moves the entries, in list order, from the sorted set to the vector; the walk keeps its place.
  void MakeIrregular() {
    if (walking) walkIndex = static_cast<std::size_t>(std::distance(ordered.begin(), walkNext));
    sequence.reserve(ordered.size() + 1);
    while (!ordered.empty())
      sequence.push_back(std::move(ordered.extract(ordered.begin()).value()));
    decltype(byText)().swap(byText);
    irregular = true;
  }

  void Clear() {
    walking = false;
    byText.clear();
    ordered.clear();
    decltype(byText)().swap(byText);
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
    WordEntry* e = irregular ? sequence[walkIndex].get() : walkNext->get();
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
