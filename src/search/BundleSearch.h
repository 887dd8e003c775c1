// Ranks the pages of a search bundle for a query, exactly as the search page does: every term
// must match, each adds the best of its matches on a page, and pages are ordered by the sum.
// doc/ranking.md has the formula; tests/data/ranking-cases.tsv holds orders that both sides
// check.
#pragma once

#include <cstdint>
#include <vector>

#include "search/Query.h"

namespace quarry {

class BundleReader;

struct SearchHit {
  std::int32_t page;
  double score;
};

// The pages that match query, best first (scores equal at nine decimal places go by page
// number). Throws BundleError when a piece it needs is missing or damaged.
std::vector<SearchHit> SearchBundle(BundleReader& bundle, const Query& query);

}  // namespace quarry
