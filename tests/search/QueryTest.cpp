#include "search/Query.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "search/BundleSearch.h"
#include "search/SearchTerms.h"
#include "support/CaseTable.h"

namespace quarry::test {

// The terms as the table writes them: no fallback runs, a prefix of either kind ends in '*'.
std::string TableTerms(const Query& query) {
  Query plain = query;
  for (QueryTerm& term : plain.terms) {
    term.fallback.clear();
    term.typing = false;
  }
  return DescribeQuery(plain);
}

TEST(QueryTest, CutsQueriesAsTheTableSays) {
  for (CaseFields& row : ReadCaseFields("query-cases.tsv", 1, 3)) {
    row.fields.resize(3);
    const std::vector<std::string>& f = row.fields;
    EXPECT_EQ(TableTerms(ParseQuery(f[0], false)), f[1]) << "query-cases.tsv:" << row.line;
    EXPECT_EQ(TableTerms(ParseQuery(f[0], true)), f[2]) << "query-cases.tsv:" << row.line;
  }
}

// Each query word of the table is searched by its pieces, and the bundle holds each as a term of
// the word.
TEST(QueryTest, CjkWordsAreSearchedByTheTablesPieces) {
  for (const CaseRow& row : ReadCaseTable("cjk-cases.tsv")) {
    const Query query = ParseQuery(row.in, true);
    ASSERT_EQ(query.terms.size(), 1U) << "cjk-cases.tsv:" << row.line;
    const QueryTerm& term = query.terms[0];
    std::string pieces;
    for (const std::string& piece : term.cjk ? term.fallback : std::vector<std::string>{}) {
      pieces += (pieces.empty() ? "" : " ") + piece;
    }
    EXPECT_EQ(pieces, row.out) << "cjk-cases.tsv:" << row.line;
    EXPECT_FALSE(term.cjk && term.prefix) << "cjk-cases.tsv:" << row.line;
    std::vector<std::string> terms;
    ForEachTerm(term.text, [&](std::string_view t) { terms.emplace_back(t); });
    for (const std::string& piece : term.cjk ? term.fallback : std::vector<std::string>{}) {
      EXPECT_EQ(std::count(terms.begin(), terms.end(), piece), 1)
          << "cjk-cases.tsv:" << row.line << " " << piece;
    }
  }
}

TEST(QueryTest, WholeWordsFallBackToTheirRuns) {
  EXPECT_EQ(DescribeQuery(ParseQuery("pg_dump don't", false)), "pg_dump[pg dump] don't[don]");
  EXPECT_EQ(DescribeQuery(ParseQuery("gui", true)), "gui~");
}

TEST(QueryTest, EditDistanceCountsCodePointsAndTranspositions) {
  const struct {
    const char* a;
    const char* b;
    std::size_t limit;
    std::size_t distance;
  } rows[] = {
      {"configuraton", "configuration", 2, 1},
      {"teh", "the", 1, 1},
      {"abcd", "acbd", 1, 1},
      {"caf\xC3\xA9", "cafe", 1, 1},
      {"abc", "xyz", 1, 2},
      {"kitten", "sitting", 3, 3},
      {"ca", "abc", 3, 3},
      {"same", "same", 1, 0},
      {"a", "abcdef", 2, 3},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(EditDistance(row.a, row.b, row.limit), row.distance) << row.a << " " << row.b;
  }
}

}  // namespace quarry::test
