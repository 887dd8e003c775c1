#include "model/WordList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "model/PageWords.h"
#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/WordEntry.h"

namespace quarry {
namespace {

using Texts = std::vector<std::string>;
using Pages = std::vector<std::int32_t>;

Texts Walk(WordList& list) {
  Texts out;
  for (WordEntry* e = list.GetFirst(); e != nullptr; e = list.GetNext())
    out.push_back(e->GetText());
  return out;
}

std::unique_ptr<WordEntry> Entry(const std::string& text, Pages pages) {
  auto e = std::make_unique<WordEntry>(text, pages.front());
  for (std::size_t i = 1; i < pages.size(); ++i) e->AddPage(pages[i]);
  return e;
}

TEST(WordEntryTest, LowerCasesOnlyAsciiAndKeepsFirstAdditionOrder) {
  WordEntry e(
      "Stra\xdf"
      "E\xc9",
      7);
  EXPECT_EQ(e.GetText(),
            "stra\xdf"
            "e\xc9");
  EXPECT_EQ(e.GetPages(), (Pages{7}));
  for (std::int32_t p : {9, 7, 3, 9, 3, 12, 0, 12}) e.AddPage(p);
  EXPECT_EQ(e.GetPages(), (Pages{7, 9, 3, 12, 0}));
}

// Out-of-order numbers on a long entry take the hash path; the result must match a plain search.
TEST(WordEntryTest, RandomPageOrderKeepsEachNumberOnceInFirstAdditionOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::uniform_int_distribution<std::int32_t> pick(-5, round * 20 + 5);
    Pages expected{pick(rng)};
    WordEntry e("w", expected.front());
    for (int i = 0; i < 500; ++i) {
      const std::int32_t p = (i % 3 == 0) ? expected.back() + 1 : pick(rng);
      e.AddPage(p);
      if (std::find(expected.begin(), expected.end(), p) == expected.end()) expected.push_back(p);
    }
    EXPECT_EQ(e.GetPages(), expected);
  }
}

TEST(WordListTest, EntriesStandInDescendingByteOrderLongerWordBeforeItsPrefix) {
  WordList list;
  list.AddWord("Beta", 0);
  list.AddWord("alpha", 0);
  list.AddWord("gamma", 0);
  EXPECT_EQ(Walk(list), (Texts{"gamma", "beta", "alpha"}));

  WordList a;
  a.AddWord("index", 0);
  a.AddWord("indexes", 0);
  WordList b;
  b.AddWord("indexes", 0);
  b.AddWord("index", 0);
  EXPECT_EQ(Walk(a), (Texts{"indexes", "index"}));
  EXPECT_EQ(Walk(b), Walk(a));

  WordList bytes;  // unsigned bytes: 0xE9 sorts above z, '_' below a
  bytes.AddWord("_x", 0);
  bytes.AddWord("zz", 0);
  bytes.AddWord("z\xe9z", 0);
  bytes.AddWord("ab", 0);
  EXPECT_EQ(Walk(bytes), (Texts{"z\xe9z", "zz", "ab", "_x"}));

  WordList shared;  // texts alike in their first eight bytes and more
  for (const char* w : {"international", "Internationalisation", "internet", "internationally",
                        "internationalization", "interned"}) {
    shared.AddWord(w, 0);
  }
  EXPECT_EQ(Walk(shared), (Texts{"internet", "interned", "internationally", "internationalization",
                                 "internationalisation", "international"}));
}

TEST(WordListTest, CaseFormsShareOneEntryAndPagesAreKeptOnce) {
  WordList list;
  list.AddWord("Word", 0);
  list.AddWord("WORD", 1);
  list.AddWord("word", 0);
  list.AddWord("(word).", 1);
  ASSERT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.GetFirst()->GetText(), "word");
  EXPECT_EQ(list.GetFirst()->GetPages(), (Pages{0, 1}));

  WordList same;
  for (int i = 0; i < 3; ++i) same.AddWord("repeat", 4);
  EXPECT_EQ(same.GetFirst()->GetPages(), (Pages{4}));
}

TEST(WordListTest, WordsThatTrimToEmptyAddNothing) {
  WordList list;
  for (const char* w : {"", "(a)", "...", "a", "\xe9", " ", "[1]"}) list.AddWord(w, 0);
  EXPECT_EQ(list.Size(), 0u);
  EXPECT_EQ(list.GetFirst(), nullptr);
}

TEST(WordListTest, HighBytesStayAndOnlyAsciiCapitalsFold) {
  WordList list;
  list.AddWord(
      "Stra\xdf"
      "e",
      2);
  list.AddWord(
      "STRA\xdf"
      "E",
      3);
  list.AddWord("\xc9T\xc9S\xc9", 3);  // 0xC9 at both ends is trimmed as blank
  EXPECT_EQ(Walk(list), (Texts{"t\xc9s",
                               "stra\xdf"
                               "e"}));
  ASSERT_NE(list.Find("strA\xdf"
                      "e"),
            nullptr);
  EXPECT_EQ(list.Find("stra\xdf"
                      "e")
                ->GetPages(),
            (Pages{2, 3}));
  EXPECT_EQ(list.Find("stra\xff"
                      "e"),
            nullptr);  // 0x80-0xFF compare exactly
  EXPECT_EQ(list.Find("T\xe9S"), nullptr);
}

TEST(WordListTest, LongWordsAreCutTo511Bytes) {
  WordList list;
  list.AddWord(std::string(600, 'Q'), 1);
  list.AddWord(std::string(511, 'q'), 2);
  ASSERT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.GetFirst()->GetText(), std::string(511, 'q'));
  EXPECT_EQ(list.GetFirst()->GetPages(), (Pages{1, 2}));
  EXPECT_EQ(list.Find(std::string(600, 'q')), nullptr);
}

TEST(WordListTest, FindAndRemoveWordFoldCase) {
  WordList list;
  EXPECT_EQ(list.RemoveWord("gamma"), 0);
  list.AddWord("gamma", 0);
  list.AddWord("beta", 0);
  ASSERT_NE(list.Find("GAMMA"), nullptr);
  EXPECT_EQ(list.Find("GAMMA")->GetText(), "gamma");
  EXPECT_EQ(list.Find("gam"), nullptr);
  EXPECT_EQ(list.RemoveWord("GAMMA"), 1);
  EXPECT_EQ(list.RemoveWord("GAMMA"), 0);
  EXPECT_EQ(Walk(list), (Texts{"beta"}));
}

TEST(WordListTest, WalkEndsAndStaysEnded) {
  WordList list;
  EXPECT_EQ(list.GetNext(), nullptr);
  list.AddWord("one", 0);
  EXPECT_EQ(list.GetNext(), nullptr);  // no walk begun
  ASSERT_NE(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetNext(), nullptr);
  list.AddWord("zero", 0);
  EXPECT_EQ(list.GetNext(), nullptr);
  list.Clear();
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetNext(), nullptr);
}

TEST(WordListTest, ChangingTheEntriesEndsAWalkButAddingAPageDoesNot) {
  WordList list;
  for (const char* w : {"dd", "cc", "bb", "aa"}) list.AddWord(w, 0);
  EXPECT_EQ(list.GetFirst()->GetText(), "dd");
  list.AddWord("cc", 1);  // a page for a known word
  EXPECT_EQ(list.GetNext()->GetText(), "cc");
  EXPECT_EQ(list.RemoveWord("zz"), 0);  // nothing removed
  EXPECT_EQ(list.GetNext()->GetText(), "bb");
  EXPECT_EQ(list.RemoveWord("aa"), 1);
  EXPECT_EQ(list.GetNext(), nullptr);

  list.GetFirst();
  list.AddWord("ee", 0);
  EXPECT_EQ(list.GetNext(), nullptr);
  list.GetFirst();
  list.Append(Entry("a", {0}));
  EXPECT_EQ(list.GetNext(), nullptr);
  EXPECT_EQ(Walk(list), (Texts{"ee", "dd", "cc", "bb", "a"}));
}

TEST(WordListTest, AppendKeepsAppendOrderWithoutChecks) {
  WordList list;
  list.Append(Entry("beta", {1}));
  list.Append(Entry("Gamma", {2}));
  list.Append(Entry("beta", {3, 4}));
  list.Append(Entry("alpha", {5}));
  EXPECT_EQ(Walk(list), (Texts{"beta", "gamma", "beta", "alpha"}));
  EXPECT_EQ(list.Size(), 4u);

  // Find and RemoveWord take the first from the head; AddWord adds to that one too.
  EXPECT_EQ(list.Find("BETA")->GetPages(), (Pages{1}));
  list.AddWord("Beta", 9);
  EXPECT_EQ(list.Find("beta")->GetPages(), (Pages{1, 9}));
  EXPECT_EQ(list.RemoveWord("beta"), 1);
  EXPECT_EQ(list.Find("beta")->GetPages(), (Pages{3, 4}));

  // A new entry goes in front of the first smaller text from the head: "delta" < "gamma" is not
  // a stop, "beta" is; "zeta" goes first; "aa" goes to the tail.
  list.AddWord("delta", 0);
  list.AddWord("zeta", 0);
  list.AddWord("aa", 0);
  EXPECT_EQ(Walk(list), (Texts{"zeta", "gamma", "delta", "beta", "alpha", "aa"}));
}

TEST(WordListTest, AppendInDescendingOrderStaysRegularAndClearStartsAfresh) {
  WordList list;
  list.Append(Entry("gamma", {0, 2}));
  list.Append(Entry("beta", {1}));
  list.AddWord("delta", 3);
  EXPECT_EQ(Walk(list), (Texts{"gamma", "delta", "beta"}));

  list.Append(Entry("zz", {1}));  // breaks the order
  list.AddWord("epsilon", 4);
  EXPECT_EQ(Walk(list), (Texts{"gamma", "epsilon", "delta", "beta", "zz"}));

  list.Clear();
  EXPECT_EQ(list.Size(), 0u);
  list.AddWord("a1", 0);
  list.AddWord("zz", 0);
  list.AddWord("m", 0);
  list.AddWord("mm", 0);
  EXPECT_EQ(Walk(list), (Texts{"zz", "mm", "a1"}));
}

// Enough words for the hash index to grow and its probe runs to collide; removals in random
// order must leave every other word findable and the walk in order.
TEST(WordListTest, ManyWordsStayFindableThroughRemovals) {
  std::mt19937 rng(11);
  std::vector<std::string> words;
  words.reserve(6000);
  for (int i = 0; i < 6000; ++i) words.push_back(std::to_string(rng() % 100000).insert(0, 1, 'w'));
  std::set<std::string, std::greater<>> expected(words.begin(), words.end());
  WordList list;
  for (const std::string& w : words) list.AddWord(w, 0);
  std::shuffle(words.begin(), words.end(), rng);
  for (std::size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(list.RemoveWord(words[i]), expected.erase(words[i]) == 1 ? 1 : 0);
    if (i % 500 != 0) continue;
    for (const std::string& w : expected) ASSERT_NE(list.Find(w), nullptr) << w;
    EXPECT_EQ(Walk(list), Texts(expected.begin(), expected.end()));
  }
  EXPECT_EQ(list.Size(), 0u);
}

// A straightforward linked list doing exactly what the list rules say; a change to the entries
// ends its walk.
class ReferenceList {
 public:
  struct Item {
    std::string text;
    Pages pages;
  };

  void AddWord(const std::string& word, std::int32_t page) {
    const std::string cut = word.substr(0, std::min<std::size_t>(word.find('\0'), 511));
    char work[kWordBufferSize];
    const std::string text = LowerAscii(TrimWord(cut.c_str(), work));
    if (text.empty()) return;
    if (Item* found = Find(text)) {
      if (std::find(found->pages.begin(), found->pages.end(), page) == found->pages.end()) {
        found->pages.push_back(page);
      }
      return;
    }
    auto at = items_.begin();
    while (at != items_.end() && !(text > at->text)) ++at;
    items_.insert(at, Item{text, {page}});
    walking_ = false;
  }

  Item* Find(const std::string& text) {
    for (Item& item : items_) {
      if (EqualsFoldingCase(item.text, text)) return &item;
    }
    return nullptr;
  }

  int RemoveWord(const std::string& text) {
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if (!EqualsFoldingCase(it->text, text)) continue;
      items_.erase(it);
      walking_ = false;
      return 1;
    }
    return 0;
  }

  void Append(Item item) {
    items_.push_back(std::move(item));
    walking_ = false;
  }
  void Clear() {
    items_.clear();
    walking_ = false;
  }
  std::size_t Size() const { return items_.size(); }

  const Item* GetFirst() {
    walking_ = !items_.empty();
    next_ = items_.begin();
    return GetNext();
  }
  const Item* GetNext() {
    if (!walking_) return nullptr;
    const Item* item = &*next_;
    walking_ = ++next_ != items_.end();
    return item;
  }

 private:
  std::list<Item> items_;
  std::list<Item>::iterator next_;
  bool walking_ = false;
};

void ExpectSame(const WordEntry* got, const ReferenceList::Item* want, int step) {
  ASSERT_EQ(got == nullptr, want == nullptr) << "step " << step;
  if (got == nullptr) return;
  EXPECT_EQ(got->GetText(), want->text) << "step " << step;
  EXPECT_EQ(got->GetPages(), want->pages) << "step " << step;
}

// Thousands of random operations on the word list and on the linked-list reference: every
// result, the size and the whole walk must agree, on regular and irregular lists alike.
TEST(WordListTest, BehavesLikeTheLinkedListReferenceUnderRandomOperations) {
  const std::string alphabet = "abcAB .(,z\xe9\t";
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    auto roll = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    // A small pool of words, so that repeats, case forms and removals of present words are common.
    std::vector<std::string> pool;
    while (pool.size() < 24) {
      std::string w = seed % 2 == 0 ? "Commonprefix" : "";  // some runs share long prefixes
      const int length = roll(5);
      for (int i = 0; i < length; ++i) w += alphabet[static_cast<std::size_t>(roll(12))];
      pool.push_back(w);
    }
    auto word = [&] { return pool[static_cast<std::size_t>(roll(24))]; };
    WordList list;
    ReferenceList ref;
    const int appendWeight = seed % 3 == 0 ? 0 : 3;  // some runs stay regular throughout
    for (int step = 0; step < 4000; ++step) {
      const int op = roll(100);
      if (op < 50) {
        const std::string w = word();
        const auto page = static_cast<std::int32_t>(roll(8));
        list.AddWord(w, page);
        ref.AddWord(w, page);
      } else if (op < 60) {
        const std::string w = word();
        EXPECT_EQ(list.RemoveWord(w), ref.RemoveWord(w)) << "step " << step;
      } else if (op < 60 + appendWeight) {
        std::string text = LowerAscii(word());
        if (text.empty()) text = "q";
        Pages pages;
        for (int i = roll(3); i >= 0; --i) {
          const auto p = static_cast<std::int32_t>(roll(8));
          if (std::find(pages.begin(), pages.end(), p) == pages.end()) pages.push_back(p);
        }
        list.Append(Entry(text, pages));
        ref.Append({text, pages});
      } else if (op < 64) {
        if (roll(8) == 0) {
          list.Clear();
          ref.Clear();
        }
      } else if (op < 75) {
        const std::string w = word();
        ExpectSame(list.Find(w), ref.Find(w), step);
      } else if (op < 80) {
        ExpectSame(list.GetFirst(), ref.GetFirst(), step);
      } else if (op < 95) {
        ExpectSame(list.GetNext(), ref.GetNext(), step);
      } else {
        const WordEntry* e = list.GetFirst();
        const ReferenceList::Item* r = ref.GetFirst();
        for (; e != nullptr || r != nullptr; e = list.GetNext(), r = ref.GetNext()) {
          ExpectSame(e, r, step);
          if (e == nullptr || r == nullptr) break;
        }
      }
      ASSERT_EQ(list.Size(), ref.Size()) << "seed " << seed << " step " << step;
      if (::testing::Test::HasFailure()) FAIL() << "seed " << seed << " step " << step;
    }
  }
}

}  // namespace
}  // namespace quarry

namespace quarry {
namespace {

// A page's distinct words handed over at once record what each occurrence through AddWord does,
// also on an irregular list (after an out-of-order Append).
TEST(WordListTest, PageWordsRecordWhatEveryOccurrenceDoes) {
  std::mt19937 random(13);
  const char* const kWords[] = {"Alpha", "alpha",  "ALPHA.",  "(beta)",     "e.g.",
                                "a",     "...",    "caf\xe9", "\xe9t\xe9s", "x\ty",
                                "[1]",   "gamma;", "Beta",    "zz",         "z"};
  for (const bool irregular : {false, true}) {
    WordList each;
    WordList atOnce;
    if (irregular) {
      each.Append(Entry("b", {0}));
      each.Append(Entry("c", {0}));
      atOnce.Append(Entry("b", {0}));
      atOnce.Append(Entry("c", {0}));
    }
    for (std::int32_t page = 1; page < 40; ++page) {
      PageWords words;
      for (int k = 0; k < 30; ++k) {
        const std::string word = kWords[random() % std::size(kWords)];
        each.AddWord(word, page);
        words.Add(word);
      }
      atOnce.AddPageWords(words, page);
    }
    std::vector<std::pair<std::string, Pages>> a;
    std::vector<std::pair<std::string, Pages>> b;
    for (WordEntry* e = each.GetFirst(); e != nullptr; e = each.GetNext())
      a.emplace_back(e->GetText(), e->GetPages());
    for (WordEntry* e = atOnce.GetFirst(); e != nullptr; e = atOnce.GetNext())
      b.emplace_back(e->GetText(), e->GetPages());
    EXPECT_EQ(a, b);
    EXPECT_GE(a.size(), 8u);
  }
}

TEST(WordListTest, PageWordsStayASetAfterTheirLookupIsGivenBack) {
  PageWords words;  // large enough for its table to be given back
  for (int i = 0; i < 5000; ++i) {
    std::string word = "w";  // appended, not "w" + ...: mingw's GCC 12 warns falsely on that
    word += std::to_string(i);
    words.Add(word);
  }
  words.ReleaseLookup();
  for (const char* word : {"W17", "w4999", "new", "w17"}) words.Add(word);
  ASSERT_EQ(words.Words().size(), 5001u);
  EXPECT_EQ(words.Text(words.Words().back()), "new");
  WordList list;
  list.AddPageWords(words, 3);
  EXPECT_EQ(list.Size(), 5001u);
}

}  // namespace
}  // namespace quarry
