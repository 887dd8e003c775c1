#include "search/BundleSearch.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "model/CaseFold.h"
#include "search/BundleReader.h"
#include "search/Ranking.h"
#include "search/SearchTerms.h"

namespace quarry {

namespace {

// What one term matches: its best score on each page (-1: none), and the forms of its own key
// whose positions a phrase needs.
struct TermMatch {
  std::string key;
  std::vector<double> best;
  std::vector<bool> direct;  // matched by more than its stem groups
  std::vector<std::string> forms;
  int phrase = -1;
  std::size_t slot = 0;  // its place in the query: fallback runs share their word's
  bool any = false;

  // A match other than a stem group's (stem false) or a stem group's.
  void Consider(std::int32_t page, double score, bool stem = false) {
    if (page < 0 || static_cast<std::size_t>(page) >= best.size()) return;
    auto& b = best[static_cast<std::size_t>(page)];
    if (score > b) b = score;
    if (!stem) direct[static_cast<std::size_t>(page)] = true;
    any = true;
  }
};

TermMatch Match(BundleReader& bundle, const std::string& text, bool prefix) {
  TermMatch match;
  match.key = SearchKey(text);
  match.best.assign(bundle.Pages(), -1);
  match.direct.assign(bundle.Pages(), false);
  const std::string folded = FoldCase(text);
  bool isKey = false;
  if (const auto entry = bundle.FindKey(match.key)) {
    isKey = !entry->forms.empty();
    for (const BundleReader::Form& form : entry->forms) {
      const double factor = FoldCase(form.text) == folded ? ranking::kExact : ranking::kFolded;
      for (const BundleReader::Posting& p : form.postings) {
        match.Consider(p.page, factor * p.impact / ranking::kImpactScale);
      }
      match.forms.push_back(form.text);
    }
    for (const std::string& stem : entry->stems) {
      if (const auto group = bundle.FindStem(stem)) {
        for (const auto& [page, impact] : group->best) {
          match.Consider(page, ranking::kStem * impact / ranking::kImpactScale, true);
        }
      }
    }
  }
  if (prefix && !match.key.empty()) {
    const double factor = isKey ? ranking::kPrefixOfKey : ranking::kPrefix;
    for (const auto& [page, impact] : bundle.FindPrefix(match.key).best) {
      match.Consider(page, factor * impact / ranking::kImpactScale);
    }
  }
  return match;
}

// The positions on page shared by every term of a slot (the runs of one word stand at its one
// position).
std::set<std::uint32_t> SlotPositions(
    const std::vector<const TermMatch*>& terms,
    std::vector<std::map<std::int32_t, std::vector<std::uint32_t>>>& positions,
    const std::vector<std::size_t>& indices, std::int32_t page) {
  std::set<std::uint32_t> shared;
  for (std::size_t k = 0; k < indices.size(); ++k) {
    std::set<std::uint32_t> own;
    const auto found = positions[indices[k]].find(page);
    if (found != positions[indices[k]].end())
      own.insert(found->second.begin(), found->second.end());
    if (k == 0) {
      shared = std::move(own);
    } else {
      std::set<std::uint32_t> both;
      std::set_intersection(shared.begin(), shared.end(), own.begin(), own.end(),
                            std::inserter(both, both.begin()));
      shared = std::move(both);
    }
  }
  (void)terms;
  return shared;
}

std::vector<char32_t> CodePoints(std::string_view text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeCodePoint(text.data() + i, text.size() - i, cp);
    points.push_back(length > 0 ? cp : 0xDC00 + static_cast<unsigned char>(text[i]));
    i += length > 0 ? length : 1;
  }
  return points;
}

// The typo rule: words of three code points or more, within one edit (two from eight code
// points on); fewest edits, then most pages, then the lower key bytes.
constexpr std::size_t kShortestCorrected = 3;
constexpr std::size_t kTwoEditsFrom = 8;

std::optional<std::string> Correction(BundleReader& bundle, const std::string& key) {
  const std::size_t length = CodePoints(key).size();
  if (length < kShortestCorrected) return std::nullopt;
  const std::size_t limit = length >= kTwoEditsFrom ? 2 : 1;
  std::optional<std::string> best;
  std::size_t bestEdits = limit + 1;
  std::uint32_t bestPages = 0;
  for (const auto& [text, pages] : bundle.NeighbourKeys(key)) {
    const std::size_t edits = EditDistance(key, text, limit);
    if (edits == 0 || edits > limit) continue;
    if (edits < bestEdits || (edits == bestEdits && pages > bestPages)) {
      best = text;
      bestEdits = edits;
      bestPages = pages;
    }
  }
  return best;
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t limit) {
  const std::vector<char32_t> x = CodePoints(a);
  const std::vector<char32_t> y = CodePoints(b);
  const std::size_t n = x.size();
  const std::size_t m = y.size();
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  // Three rows of the optimal-string-alignment table.
  std::vector<std::size_t> before(m + 1), previous(m + 1), row(m + 1);
  for (std::size_t j = 0; j <= m; ++j) previous[j] = j;
  std::size_t previousSmallest = 0;
  for (std::size_t i = 1; i <= n; ++i) {
    row[0] = i;
    std::size_t smallest = row[0];
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
      row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
        row[j] = std::min(row[j], before[j - 2] + 1);
      }
      smallest = std::min(smallest, row[j]);
    }
    // A transposition reaches back two rows, so both must be past the limit.
    if (smallest > limit && previousSmallest > limit) return limit + 1;
    previousSmallest = smallest;
    std::swap(before, previous);
    std::swap(previous, row);
  }
  return std::min(previous[m], limit + 1);
}

SearchResult SearchBundle(BundleReader& bundle, const Query& query) {
  SearchResult result;
  std::vector<TermMatch> matches;
  int phrases = query.phrases;
  for (std::size_t i = 0; i < query.terms.size(); ++i) {
    const QueryTerm& term = query.terms[i];
    if (term.cjk) {
      // Its pieces at one position: in the phrase it stands in, else as a phrase of its own.
      const int phrase = term.phrase >= 0 ? term.phrase : phrases++;
      for (const std::string& piece : term.fallback) {
        TermMatch part = Match(bundle, piece, false);
        part.phrase = phrase;
        part.slot = i;
        matches.push_back(std::move(part));
      }
      continue;
    }
    TermMatch match = Match(bundle, term.text, term.prefix);
    if (!match.any && term.fallback.empty()) {
      if (const std::optional<std::string> corrected = Correction(bundle, match.key)) {
        result.corrections.push_back({term.text, *corrected});
        match = Match(bundle, *corrected, false);
      }
    }
    if (!match.any && !term.fallback.empty()) {
      // The last run keeps the word's prefix (pg_du* is pg and du*).
      for (std::size_t k = 0; k < term.fallback.size(); ++k) {
        const std::string& run = term.fallback[k];
        TermMatch part = Match(bundle, run, term.prefix && k + 1 == term.fallback.size());
        part.phrase = term.phrase;
        part.slot = i;
        matches.push_back(std::move(part));
      }
      continue;
    }
    match.phrase = term.phrase;
    match.slot = i;
    matches.push_back(std::move(match));
  }
  if (matches.empty()) return result;
  for (const TermMatch& m : matches) {
    if (!m.any) return result;
  }

  // Positions of the phrases' terms, read only when there is a phrase.
  std::vector<std::map<std::int32_t, std::vector<std::uint32_t>>> positions(matches.size());
  for (std::size_t i = 0; i < matches.size(); ++i) {
    if (matches[i].phrase < 0) continue;
    for (const std::string& form : matches[i].forms) {
      for (auto& [page, list] : bundle.Positions(matches[i].key, form)) {
        auto& mine = positions[i][page];
        mine.insert(mine.end(), list.begin(), list.end());
      }
    }
    for (auto& [page, list] : positions[i]) std::sort(list.begin(), list.end());
  }

  std::vector<SearchHit>& hits = result.hits;
  const std::size_t pages = bundle.Pages();
  for (std::size_t page = 0; page < pages; ++page) {
    bool all = true;
    for (const TermMatch& m : matches) {
      if (m.best[page] < 0) {
        all = false;
        break;
      }
    }
    if (!all) continue;
    const auto number = static_cast<std::int32_t>(page);
    // Each phrase: its slots at consecutive positions.
    for (int phrase = 0; all && phrase < phrases; ++phrase) {
      std::vector<std::vector<std::size_t>> slots;
      std::size_t lastSlot = static_cast<std::size_t>(-1);
      for (std::size_t i = 0; i < matches.size(); ++i) {
        if (matches[i].phrase != phrase) continue;
        if (slots.empty() || matches[i].slot != lastSlot) slots.emplace_back();
        slots.back().push_back(i);
        lastSlot = matches[i].slot;
      }
      std::vector<const TermMatch*> unused;
      std::set<std::uint32_t> starts = SlotPositions(unused, positions, slots[0], number);
      for (std::size_t s = 1; s < slots.size() && !starts.empty(); ++s) {
        const std::set<std::uint32_t> next = SlotPositions(unused, positions, slots[s], number);
        std::set<std::uint32_t> kept;
        for (const std::uint32_t start : starts) {
          if (next.count(static_cast<std::uint32_t>(start + s)) != 0) kept.insert(start);
        }
        starts = std::move(kept);
      }
      all = !starts.empty();
    }
    if (!all) continue;
    double score = 0;
    bool stemmed = false;
    for (const TermMatch& m : matches) {
      score += m.best[page];
      stemmed = stemmed || !m.direct[page];
    }
    hits.push_back({number, score, stemmed});
  }
  // Pages that need a stem group come last; scores are compared at nine decimal places (as the
  // page compares them); equal ones go by page number.
  std::sort(hits.begin(), hits.end(), [](const SearchHit& a, const SearchHit& b) {
    if (a.stemmed != b.stemmed) return b.stemmed;
    const double x = std::round(a.score * 1e9);
    const double y = std::round(b.score * 1e9);
    if (x != y) return x > y;
    return a.page < b.page;
  });
  return result;
}

}  // namespace quarry
