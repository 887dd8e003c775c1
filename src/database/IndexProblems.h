// What a reader of an index reports as damaged: the search page's list (web/quarry-search.js,
// findProblems), in its words, written once for every face that reports it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "database/FileHeader.h"

namespace quarry {

enum class IndexProblem {
  kWordFileSize,    // "qrywDb.dat: size differs from its header"
  kPageFileSize,    // "qryfDb.dat: size differs from its header"
  kTitleFileSize,   // "qryiDb.dat: size differs from its header"
  kDamagedRecords,  // "qrywDb.dat: damaged records"
  kLengthsDiffer,   // "page and title files differ in length"
  kPagesBeyond,     // "page numbers beyond the page file"
};

// The problem's text, as the search page words it.
std::string ProblemText(IndexProblem problem);

// What a reading of the three files found, for FindProblems.
struct IndexFacts {
  // The headers and lengths of the word, page and title files, in that order (a missing
  // title file: a fresh header and length 0).
  std::array<FileHeader, 3> headers;
  std::array<std::uint64_t, 3> lengths{};
  // The word file: whether a record was skipped as damaged, held a page count other than the
  // numbers it holds, or the file ended before the header's count; and the smallest and largest
  // page number of the records kept, when any was kept.
  bool damagedRecords = false;
  bool anyPage = false;
  std::int32_t minPage = 0;
  std::int32_t maxPage = 0;
  // The strings read from the page and title files.
  std::size_t pages = 0;
  std::size_t titles = 0;
};

// The problems of facts, in the order of IndexProblem; none for a sound index. A file of a fresh
// or empty header (count 0, total size 0 or 32) has no size to differ.
std::vector<IndexProblem> FindProblems(const IndexFacts& facts);

}  // namespace quarry
