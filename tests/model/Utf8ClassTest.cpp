#include "model/Utf8Class.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "support/CaseTable.h"

namespace quarry {
namespace {

TEST(Utf8ClassTest, SharedSpaceTable) {
  for (const test::CaseRow& row : test::ReadCaseTable("space-cases.tsv")) {
    std::string words;
    for (std::string_view piece : CutAtWhiteSpace(row.in)) {
      words.append(words.empty() ? "" : " ").append(piece);
    }
    EXPECT_EQ(words, row.out) << "space-cases.tsv:" << row.line;
  }
}

// The Unicode data gives exactly the spaces that doc/index-format.md lists: a newer utf8proc
// that changed them would change the words of pages.
TEST(Utf8ClassTest, UnicodeSpacesAreTheDocumentedOnes) {
  const auto listed = [](std::int32_t cp) {
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
  };
  for (std::int32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    ASSERT_EQ(IsUnicodeSpace(cp), listed(cp)) << std::hex << cp;
  }
}

}  // namespace
}  // namespace quarry
