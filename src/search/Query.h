// A search query as people type it, cut into the terms the search bundle is searched by: words
// at white space, phrases in double quotes, `word*` prefixes, and (in the search page) the last
// word as a prefix while it is being typed. doc/search-bundle.md ("Queries") has the rules;
// tests/data/query-cases.tsv holds examples that the page's tests read too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarry {

struct QueryTerm {
  std::string text;  // the term: trimmed, ASCII-lowercased (a run, or the whole word)
  std::vector<std::string> fallback;  // a whole word's runs, searched when it is no key
  bool prefix = false;                // matches the keys that begin with its key
  bool typing = false;                // a prefix only because it is the last word being typed
  int phrase = -1;                    // the phrase it belongs to (0, 1, ...), or -1
  bool cjk = false;  // Chinese, Japanese or Korean: searched by fallback (its pieces) in one word
};

struct Query {
  std::vector<QueryTerm> terms;
  int phrases = 0;
};

// Cuts text into terms. With typing (the search page), the last word is also a prefix unless
// white space follows it or it closes a phrase, when it has at least two code points.
Query ParseQuery(std::string_view text, bool typing);

// The query as the table of query cases writes it: terms separated by blanks, each its text,
// "*" after a prefix ("~" after one only while typing), "[a b]" after a whole word with the runs
// it falls back to, and the terms of a phrase in double quotes.
std::string DescribeQuery(const Query& query);

// The length in bytes of the white space that cuts words at text[at] (WhiteSpaceLength: ASCII
// white space and the Unicode spaces the text filter treats as white space), or 0.
std::size_t WhiteSpaceAt(std::string_view text, std::size_t at);

}  // namespace quarry
