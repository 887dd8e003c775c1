// What a word is searched by in the search bundle: its terms (the word and the runs of letters,
// marks and digits inside it) and each term's key (the search fold that forgives case and
// accents). Both sides of a search cut text this way; doc/search-bundle.md ("Terms") has the rule
// and tests/data/key-cases.tsv examples.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// A run of a word: bytes [offset, offset + length) holding codePoints code points of the general
// categories L, M and N, with none of them on either side.
struct WordRun {
  std::size_t offset;
  std::size_t length;
  std::size_t codePoints;
};

// Calls run(WordRun) for each run of text, in order. A byte that is not part of a well-formed
// UTF-8 sequence ends a run, as does every code point of another category.
template <class RunCallback>
void ForEachRun(std::string_view text, RunCallback&& run);

// True when every byte of text is an ASCII letter or digit: text is then a single run (when not
// empty) and its own only term.
bool IsAsciiAlphanumeric(std::string_view text);

// Calls part(std::string_view) for each piece of run (a run of ForEachRun) that a run holding
// Chinese, Japanese or Korean is searched by, in order, and returns true; returns false, calling
// nothing, for a run with no code point of the scripts Han, Hiragana, Katakana or Hangul (ICU's
// Script property). The run is cut where it passes between those scripts and any other (a
// letter or mark of the scripts Common or Inherited, such as the Katakana prolonged sound mark,
// belongs with the code point before it); a piece in those scripts gives its overlapping pairs
// of code points (one code point alone, itself), a piece of other scripts of two code points or
// more itself. So "java入門" gives "java" and "入門", "東京都庁" gives "東京", "京都", "都庁".
template <class PartCallback>
bool ForEachCjkPart(std::string_view run, PartCallback&& part);

// Calls term(std::string_view) for each term of word (a word as the index stores it): word
// itself, then each run of two code points or more that is not the whole word, and after each
// run its pieces of ForEachCjkPart that are not the run itself.
template <class TermCallback>
void ForEachTerm(std::string_view word, TermCallback&& term) {
  term(word);
  if (IsAsciiAlphanumeric(word)) return;
  ForEachRun(word, [&](const WordRun& r) {
    const std::string_view run = word.substr(r.offset, r.length);
    const bool runIsTerm = r.codePoints >= 2 && r.length != word.size();
    if (runIsTerm) term(run);
    if (r.length == r.codePoints) return;  // ASCII: no CJK
    ForEachCjkPart(run, [&](std::string_view piece) {
      if (piece.size() == run.size() && (runIsTerm || run.size() == word.size())) return;
      term(piece);
    });
  });
}

// The key of a term: NFKD, full case folding, the combining marks U+0300-U+036F removed, then
// NFC. Bytes outside well-formed UTF-8 stay, and each well-formed part between them is folded
// alone. ASCII text folds A-Z to a-z and nothing else.
std::string SearchKey(std::string_view text);

// Appends the key of text to out (as SearchKey).
void AppendSearchKey(std::string_view text, std::string& out);

// Internal: the length of the UTF-8 sequence at text[0] within size bytes and its code point,
// or 0 for a byte that begins none.
std::size_t DecodeCodePoint(const char* text, std::size_t size, char32_t& codePoint);
bool IsLetterMarkOrNumber(char32_t codePoint);
bool IsLetterOrMark(char32_t codePoint);
// 1 for a code point of Han, Hiragana, Katakana or Hangul, 2 for a letter or mark of Common or
// Inherited, else 0.
int CjkClass(char32_t codePoint);

template <class RunCallback>
void ForEachRun(std::string_view text, RunCallback&& run) {
  std::size_t start = 0;
  std::size_t codePoints = 0;
  std::size_t i = 0;
  const auto end = [&](std::size_t at) {
    if (codePoints > 0) run(WordRun{start, at - start, codePoints});
    codePoints = 0;
  };
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    bool inRun;
    if (b < 0x80) {
      inRun = (b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
    } else {
      char32_t cp = 0;
      length = DecodeCodePoint(text.data() + i, text.size() - i, cp);
      inRun = length > 0 && IsLetterMarkOrNumber(cp);
      if (length == 0) length = 1;
    }
    if (inRun) {
      if (codePoints == 0) start = i;
      ++codePoints;
    } else {
      end(i);
    }
    i += length;
  }
  end(i);
}

template <class PartCallback>
bool ForEachCjkPart(std::string_view run, PartCallback&& part) {
  // Where each code point begins, and whether it belongs with the CJK scripts.
  struct Point {
    std::size_t offset;
    bool cjk;
  };
  std::vector<Point> points;
  bool any = false;
  for (std::size_t i = 0; i < run.size();) {
    char32_t cp = static_cast<unsigned char>(run[i]);
    std::size_t length = 1;
    if (cp >= 0x80) {
      length = DecodeCodePoint(run.data() + i, run.size() - i, cp);
      if (length == 0) length = 1;
    }
    const int kind = cp < 0x80 ? 0 : CjkClass(cp);
    any = any || kind == 1;
    points.push_back({i, kind == 1 || (kind == 2 && !points.empty() && points.back().cjk)});
    i += length;
  }
  if (!any) return false;
  const auto at = [&](std::size_t k) { return k < points.size() ? points[k].offset : run.size(); };
  for (std::size_t a = 0; a < points.size();) {
    std::size_t b = a + 1;
    while (b < points.size() && points[b].cjk == points[a].cjk) ++b;
    if (!points[a].cjk) {
      if (b - a >= 2) part(run.substr(at(a), at(b) - at(a)));
    } else if (b - a == 1) {
      part(run.substr(at(a), at(b) - at(a)));
    } else {
      for (std::size_t k = a; k + 1 < b; ++k) part(run.substr(at(k), at(k + 2) - at(k)));
    }
    a = b;
  }
  return true;
}

}  // namespace quarry
