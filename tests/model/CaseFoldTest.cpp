#include "model/CaseFold.h"

#include <gtest/gtest.h>

#include "support/CaseTable.h"

namespace quarry {
namespace {

TEST(CaseFoldTest, SharedCaseTable) {
  for (const test::CaseRow& row : test::ReadCaseTable("fold-cases.tsv")) {
    EXPECT_EQ(FoldCase(row.in), row.out) << "fold-cases.tsv:" << row.line;
  }
}

TEST(CaseFoldTest, BytesOutsideWellFormedUtf8StayAsTheyAre) {
  // Latin-1 "Été", a cut sequence, an encoded surrogate: only A-Z change.
  EXPECT_EQ(FoldCase("\xc9T\xc9 \xd0 \xed\xa0\x80Z"), "\xc9t\xc9 \xd0 \xed\xa0\x80z");
}

}  // namespace
}  // namespace quarry
