// The word index in memory: one WordEntry per distinct word with its page numbers.
//
// Entries made by AddWord stand in strictly descending order of their (lower-case) texts,
// compared byte by byte as unsigned values, a longer word before its own prefix ("indexes"
// before "index"). Entries put in by Append keep the order they were appended in, which may
// break that order or repeat a text; every operation below still behaves as stated then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace quarry {

class PageWords;
class WordEntry;

class WordList {
 public:
  WordList();
  virtual ~WordList();

  WordList(const WordList&) = delete;
  WordList& operator=(const WordList&) = delete;

  // Records one occurrence of word on page: trims the word (TrimWord) and ignores it if it comes
  // out empty; adds page to the entry Find gives for it; else makes a new entry and puts it in
  // front of the first entry, from the head, whose text is smaller than the new text (at the
  // tail when there is none). A word longer than 511 bytes is cut to 511 bytes first.
  void AddWord(std::string_view word, std::int32_t page);

  // Records every word of words on page, as AddWord of each of them would (they are trimmed and
  // lower-case already).
  void AddPageWords(const PageWords& words, std::int32_t page);

  // The first entry from the head whose text equals text with A-Z folded to a-z in both, or
  // nullptr. Bytes 0x80-0xFF compare exactly.
  WordEntry* Find(std::string_view text);

  // Finds the entry as Find does and destroys it. Returns 1 if one was removed, else 0.
  int RemoveWord(std::string_view text);

  // Starts the list's one walk at the head: the first entry, or nullptr when the list is empty.
  WordEntry* GetFirst();
  // Continues the walk: the next entry, or nullptr at the end (and on every later call until
  // GetFirst). A change to the entries (AddWord making a new entry, a removal, Append, Clear)
  // ends the walk, so a walk never returns a stale or destroyed entry.
  WordEntry* GetNext();

  // Destroys every entry; the list is empty and a new ordering starts from scratch.
  void Clear();

  // Puts entry at the tail, with no ordering and no check for an equal text. Takes ownership.
  void Append(std::unique_ptr<WordEntry> entry);

  // Number of entries.
  std::size_t Size() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quarry
