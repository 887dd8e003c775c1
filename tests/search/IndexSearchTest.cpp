#include "search/IndexSearch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "support/CaseTable.h"

namespace quarry::test {

TEST(IndexSearchTest, FindsWhatTheTableSaysInTheSampleIndex) {
  IndexDatabase database(std::string(QUARRY_TEST_DATA_DIR) + "/site-expected");
  ASSERT_EQ(database.OpenForReading(), IndexDatabase::ReadOpen::kOpen);
  WordList words;
  TextList pages;
  TextList titles;
  database.Load(words, pages, titles);
  for (const CaseRow& row : ReadCaseTable("search-cases.tsv")) {
    IndexSearch search(IndexQueryWords(row.in));
    for (const WordEntry* e = words.GetFirst(); e != nullptr; e = words.GetNext()) search.Take(*e);
    std::string found;
    for (const std::int32_t page : search.Pages()) {
      if (!found.empty()) found += ' ';
      found.append(std::to_string(page));
    }
    EXPECT_EQ(found, row.out) << "search-cases.tsv:" << row.line << " " << row.in;
  }
}

}  // namespace quarry::test
