// The page order that the window's lists and quarry-cli's page numbers share.
#include "model/TextOrder.h"

#include <gtest/gtest.h>

#include <string_view>

namespace quarry {
namespace {

TEST(TextOrderTest, ComparePageOrderFoldsAsciiThenBreaksTiesByBytes) {
  struct Row {
    std::string_view a, b;
    int expected;
  };
  const Row rows[] = {
      {"a", "B", -1},                           // A-Z compare as a-z
      {"_x", "Ax", -1},                         // '_' sorts before letters once they are folded
      {"ab", "abc", -1},                        // a prefix comes first
      {"A", "a", -1},                           // equal when folded: plain bytes decide
      {"same", "same", 0},  {"z", "\xE9", -1},  // bytes are unsigned
      {"\xC9", "\xE9", -1},                     // nothing above 0x7F is folded
      {"d-a/x", "d/b", -1},                     // '-' 0x2D before '/' 0x2F
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ComparePageOrder(row.a, row.b), row.expected) << row.a << " vs " << row.b;
    EXPECT_EQ(ComparePageOrder(row.b, row.a), -row.expected) << row.b << " vs " << row.a;
    EXPECT_EQ(PageOrderLess{}(row.a, row.b), row.expected < 0);
  }
}

}  // namespace
}  // namespace quarry
