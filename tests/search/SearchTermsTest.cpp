#include "search/SearchTerms.h"

#include <gtest/gtest.h>

#include "support/CaseTable.h"

#include <string>
#include <vector>

namespace quarry::test {

std::vector<std::string> Terms(std::string_view word) {
  std::vector<std::string> terms;
  ForEachTerm(word, [&](std::string_view t) { terms.emplace_back(t); });
  return terms;
}

TEST(SearchTermsTest, TermsAreTheWordAndItsLongerRuns) {
  EXPECT_EQ(Terms("hello"), (std::vector<std::string>{"hello"}));
  EXPECT_EQ(Terms("pg_dump"), (std::vector<std::string>{"pg_dump", "pg", "dump"}));
  EXPECT_EQ(Terms("\"hello\""), (std::vector<std::string>{"\"hello\"", "hello"}));
  EXPECT_EQ(Terms("c++"), (std::vector<std::string>{"c++"}));
  EXPECT_EQ(Terms("x_y"), (std::vector<std::string>{"x_y"}));
  EXPECT_EQ(Terms("caf\xC3\xA9-bar"),
            (std::vector<std::string>{"caf\xC3\xA9-bar", "caf\xC3\xA9", "bar"}));
  EXPECT_EQ(Terms("ab\xE9"
                  "cd"),
            (std::vector<std::string>{"ab\xE9"
                                      "cd",
                                      "ab", "cd"}));
}

TEST(SearchTermsTest, KeysAreTheTablesKeys) {
  for (const CaseRow& row : ReadCaseTable("key-cases.tsv")) {
    EXPECT_EQ(SearchKey(row.in), row.out) << "key-cases.tsv:" << row.line;
  }
}

}  // namespace quarry::test
