#include "database/IndexProblems.h"

#include <utility>

namespace quarry {

namespace {

constexpr std::pair<IndexProblem, const char*> kProblemTexts[] = {
    {IndexProblem::kWordFileSize, "qrywDb.dat: size differs from its header"},
    {IndexProblem::kPageFileSize, "qryfDb.dat: size differs from its header"},
    {IndexProblem::kTitleFileSize, "qryiDb.dat: size differs from its header"},
    {IndexProblem::kDamagedRecords, "qrywDb.dat: damaged records"},
    {IndexProblem::kLengthsDiffer, "page and title files differ in length"},
    {IndexProblem::kPagesBeyond, "page numbers beyond the page file"},
};

}  // namespace

std::string ProblemText(IndexProblem problem) {
  for (const auto& [known, text] : kProblemTexts) {
    if (known == problem) return text;
  }
  return "unknown problem";
}

std::vector<IndexProblem> FindProblems(const IndexFacts& facts) {
  std::vector<IndexProblem> problems;
  constexpr IndexProblem kSizes[] = {IndexProblem::kWordFileSize, IndexProblem::kPageFileSize,
                                     IndexProblem::kTitleFileSize};
  for (std::size_t i = 0; i < facts.headers.size(); ++i) {
    const FileHeader& header = facts.headers[i];
    const bool empty =
        header.recordCount == 0 &&
        (header.totalSize == 0 || header.totalSize == static_cast<std::int32_t>(FileHeader::kSize));
    if (!empty && (header.totalSize < 0 ||
                   static_cast<std::uint64_t>(header.totalSize) != facts.lengths[i])) {
      problems.push_back(kSizes[i]);
    }
  }
  if (facts.damagedRecords) problems.push_back(IndexProblem::kDamagedRecords);
  if (facts.pages != facts.titles) problems.push_back(IndexProblem::kLengthsDiffer);
  if (facts.anyPage && (facts.minPage < 0 || static_cast<std::uint64_t>(facts.maxPage) >=
                                                 static_cast<std::uint64_t>(facts.pages))) {
    problems.push_back(IndexProblem::kPagesBeyond);
  }
  return problems;
}

}  // namespace quarry
