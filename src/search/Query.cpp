#include "search/Query.h"

#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/Utf8Class.h"
#include "search/SearchTerms.h"

namespace quarry {

namespace {

struct RawWord {
  std::string bytes;
  int phrase = -1;
  bool last = false;  // the query's last word, with nothing after it
};

}  // namespace

std::size_t WhiteSpaceAt(std::string_view text, std::size_t at) {
  return WhiteSpaceLength(text.data() + at, text.size() - at);
}

Query ParseQuery(std::string_view text, bool typing) {
  Query query;
  std::vector<RawWord> words;
  std::string word;
  int phrase = -1;
  bool phraseHasWords = false;
  const auto end = [&]() {
    if (!word.empty()) {
      words.push_back({word, phrase, false});
      if (phrase >= 0) phraseHasWords = true;
    }
    word.clear();
  };
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      end();
      if (phrase >= 0) {
        if (phraseHasWords) ++query.phrases;
        phrase = -1;
      } else {
        phrase = query.phrases;
        phraseHasWords = false;
      }
      ++i;
      continue;
    }
    if (const std::size_t space = WhiteSpaceAt(text, i); space > 0) {
      end();
      i += space;
      continue;
    }
    word += text[i++];
  }
  // The last word is still being typed when nothing follows it.
  const bool open = !word.empty();
  end();
  if (phrase >= 0 && phraseHasWords) ++query.phrases;
  if (open && !words.empty()) words.back().last = true;
  // A phrase of one word is that word alone.
  std::vector<int> wordsIn(static_cast<std::size_t>(query.phrases), 0);
  for (const RawWord& raw : words) {
    if (raw.phrase >= 0) ++wordsIn[static_cast<std::size_t>(raw.phrase)];
  }
  for (RawWord& raw : words) {
    if (raw.phrase >= 0 && wordsIn[static_cast<std::size_t>(raw.phrase)] < 2) raw.phrase = -1;
  }

  for (const RawWord& raw : words) {
    std::string bytes = raw.bytes;
    QueryTerm term;
    while (!bytes.empty() && bytes.back() == '*') {
      bytes.pop_back();
      term.prefix = raw.phrase < 0;
    }
    const std::string_view trimmed = TrimWord(bytes, !term.prefix);
    if (trimmed.empty()) continue;
    const std::string lowered = LowerAscii(trimmed);
    std::vector<WordRun> runs;
    ForEachRun(lowered, [&runs](const WordRun& run) { runs.push_back(run); });
    if (runs.size() == 1 && runs[0].codePoints >= 2) {
      term.text = lowered.substr(runs[0].offset, runs[0].length);
    } else {
      term.text = lowered;
      if (runs.size() >= 2) {
        for (const WordRun& run : runs) {
          if (run.codePoints >= 2) term.fallback.push_back(lowered.substr(run.offset, run.length));
        }
      }
    }
    // Chinese, Japanese and Korean: the pieces the bundle holds, all in one word.
    if (!IsAsciiAlphanumeric(term.text)) {
      std::vector<std::string> pieces;
      const std::string_view whole = term.text;
      ForEachRun(whole, [&](const WordRun& r) {
        const std::string_view run = whole.substr(r.offset, r.length);
        const bool split =
            ForEachCjkPart(run, [&](std::string_view piece) { pieces.emplace_back(piece); });
        term.cjk = term.cjk || split;
        if (!split && r.codePoints >= 2) pieces.emplace_back(run);
      });
      if (term.cjk) {
        term.fallback = std::move(pieces);
        term.prefix = false;
      }
    }
    term.phrase = raw.phrase;
    if (typing && raw.last && raw.phrase < 0 && !term.prefix && !term.cjk) {
      std::size_t codePoints = 0;
      for (const char c : term.text) codePoints += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
      if (codePoints >= 2) {
        term.prefix = true;
        term.typing = true;
      }
    }
    query.terms.push_back(std::move(term));
  }
  // Phrases left with fewer than two terms are plain words.
  std::vector<int> count(static_cast<std::size_t>(query.phrases), 0);
  for (const QueryTerm& t : query.terms) {
    if (t.phrase >= 0) ++count[static_cast<std::size_t>(t.phrase)];
  }
  std::vector<int> renumber(count.size(), -1);
  int phrases = 0;
  for (std::size_t p = 0; p < count.size(); ++p) {
    if (count[p] >= 2) renumber[p] = phrases++;
  }
  for (QueryTerm& t : query.terms) {
    if (t.phrase >= 0) t.phrase = renumber[static_cast<std::size_t>(t.phrase)];
  }
  query.phrases = phrases;
  return query;
}

std::string DescribeQuery(const Query& query) {
  std::string out;
  int open = -1;
  for (std::size_t i = 0; i < query.terms.size(); ++i) {
    const QueryTerm& t = query.terms[i];
    if (open >= 0 && t.phrase != open) {
      out += '"';
      open = -1;
    }
    if (!out.empty()) out += ' ';
    if (t.phrase >= 0 && open != t.phrase) {
      out += '"';
      open = t.phrase;
    }
    out += t.text;
    if (t.prefix) out += t.typing ? "~" : "*";
    if (!t.fallback.empty()) {
      out += '[';
      for (std::size_t k = 0; k < t.fallback.size(); ++k) {
        if (k > 0) out += ' ';
        out += t.fallback[k];
      }
      out += ']';
    }
  }
  if (open >= 0) out += '"';
  return out;
}

}  // namespace quarry
