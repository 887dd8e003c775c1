// Ranks the pages of a search bundle for a query, exactly as the search page does: every term
// must match, each adds the best of its matches on a page, and pages are ordered by the sum.
// doc/ranking.md has the formula; tests/data/ranking-cases.tsv holds orders that both sides
// check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/Query.h"

namespace quarry {

class BundleReader;

struct SearchHit {
  std::int32_t page;
  double score;
  bool stemmed;  // a term matches the page only by a stem group
};

struct SearchResult {
  std::vector<SearchHit> hits;
  // Each query word that matched nothing and was searched as the key nearest to its spelling.
  std::vector<std::pair<std::string, std::string>> corrections;
};

// The pages that match query, best first: those that some term matches only by a stem group
// after the others, then by score (scores equal at nine decimal places go by page number). Throws
// BundleError when a piece it needs is missing or damaged.
SearchResult SearchBundle(BundleReader& bundle, const Query& query);

// The optimal-string-alignment distance between a and b, counted in code points, or limit + 1
// when it is above limit.
std::size_t EditDistance(std::string_view a, std::string_view b, std::size_t limit);

}  // namespace quarry
