// The constants and the formula of the search bundle's ranking, for the builder that stores each
// form's impact and for the reader that adds them up. doc/ranking.md is their documentation; the
// search page (web/) uses the same numbers.
#pragma once

#include <cmath>
#include <cstdint>

namespace quarry::ranking {

inline constexpr double kK1 = 1.2;
inline constexpr double kBody = 0.75;   // b
inline constexpr double kTitle = 0.75;  // bt
inline constexpr double kWeightTitle = 4;
inline constexpr double kWeightHeadings = 1;
inline constexpr double kWeightUrl = 1.5;
inline constexpr double kWeightTitleStart = 2;   // the title begins with it
inline constexpr double kWeightMainHeading = 2;  // in the page's first h1

// The factors of the kinds of match.
inline constexpr double kExact = 1;
inline constexpr double kFolded = 0.8;
inline constexpr double kStem = 0.6;
inline constexpr double kPrefix = 0.5;
// A prefix of a word that is a key itself: the word as typed is most likely meant whole.
inline constexpr double kPrefixOfKey = 0.2;

// Impacts are stored times this.
inline constexpr double kImpactScale = 256;

// The fields bits of a posting.
inline constexpr unsigned kInTitle = 1;
inline constexpr unsigned kInHeadings = 2;
inline constexpr unsigned kInUrl = 4;
inline constexpr unsigned kAtTitleStart = 8;
inline constexpr unsigned kInMainHeading = 16;
// A posting stores count * kFieldsScale + fields.
inline constexpr std::uint64_t kFieldsScale = 32;

struct PageLengths {
  double body;   // words in the page's word stream
  double title;  // words in its title
};

// The stored impact of a form occurring count times in the body and in fields, on a page of
// lengths page, where df of the bundle's n pages hold the form and average is the mean lengths.
inline std::uint32_t StoredImpact(std::uint32_t count, unsigned fields, PageLengths page,
                                  PageLengths average, double df, double n) {
  // The body's occurrences saturate; a title, heading or URL occurrence adds a fixed part, the
  // title's more for a short title, so that the page a query names comes first.
  const double b = (1 - kBody) + kBody * page.body / average.body;
  const double bt = (1 - kTitle) + kTitle * page.title / average.title;
  const double body = count / b;
  const double fieldsPart = ((fields & kInTitle) != 0 ? kWeightTitle / bt : 0) +
                            ((fields & kInHeadings) != 0 ? kWeightHeadings : 0) +
                            ((fields & kInUrl) != 0 ? kWeightUrl : 0) +
                            ((fields & kAtTitleStart) != 0 ? kWeightTitleStart : 0) +
                            ((fields & kInMainHeading) != 0 ? kWeightMainHeading : 0);
  const double idf = std::log(1 + (n - df + 0.5) / (df + 0.5));
  const double impact = idf * (body * (kK1 + 1) / (kK1 + body) + fieldsPart);
  const double stored = std::round(impact * kImpactScale);
  return stored < 1 ? 1 : static_cast<std::uint32_t>(stored);
}

}  // namespace quarry::ranking
