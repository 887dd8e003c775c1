// The distinct words of one page, trimmed and lower-cased, each with its hash: what one page
// gives the word list, gathered apart from the list so that pages can be read side by side.
//
// Since the word list records a page once per word, a word that occurs many times on a page is
// kept once; handing the words to WordList::AddPageWords then records exactly what handing every
// occurrence to WordList::AddWord would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

class PageWords {
 public:
  struct Word {
    std::uint64_t hash;    // HashWord of the text
    std::uint32_t offset;  // where the text starts in the set's bytes
    std::uint32_t length;
  };

  PageWords() = default;
  virtual ~PageWords() = default;

  PageWords(const PageWords&) = delete;
  PageWords& operator=(const PageWords&) = delete;
  PageWords(PageWords&&) noexcept = default;
  PageWords& operator=(PageWords&&) noexcept = default;

  // Trims word (TrimWord), folds A-Z to a-z and keeps it, unless it comes out empty or is kept
  // already. REQUIRES: word holds no NUL byte.
  void Add(std::string_view word);

  // The kept words in order of first addition.
  const std::vector<Word>& Words() const { return words_; }
  std::string_view Text(const Word& word) const {
    return std::string_view(bytes_).substr(word.offset, word.length);
  }

  // Forgets every word, keeping the memory for the next page (within reason).
  void Clear();

  // Gives back the look-up table of a large set whose words are all added: the words stay, and
  // a later Add makes the table again. A page of millions of distinct words thus does not keep
  // it while the word list takes the words.
  void ReleaseLookup();

 private:
  void Grow();

  std::string bytes_;  // the kept texts back to back
  std::vector<Word> words_;
  // Open addressing with linear probing, at most half full. A slot holds the upper half of its
  // word's hash, so that most probes need not visit the word, and 1 + the word's index in
  // words_; 0 when free.
  struct Slot {
    std::uint32_t hashBits;
    std::uint32_t word;
  };
  std::vector<Slot> slots_;
};

}  // namespace quarry
