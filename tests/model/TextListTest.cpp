#include "model/TextList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarry {
namespace {

std::vector<std::string> Walk(TextList& list) {
  std::vector<std::string> out;
  for (auto s = list.GetFirst(); s; s = list.GetNext()) out.emplace_back(*s);
  return out;
}

TEST(TextListTest, AddNumbersFromZeroAndKeepsBytesRepeatsAndEmptyTexts) {
  TextList list;
  EXPECT_EQ(list.Add("a.htm"), 0);
  EXPECT_EQ(list.Add("A.HTM"), 1);
  EXPECT_EQ(list.Add("a.htm"), 2);
  EXPECT_EQ(list.Add(""), 3);
  EXPECT_EQ(list.Add(std::string("\xff\x80 x", 4)), 4);
  EXPECT_EQ(Walk(list), (std::vector<std::string>{"a.htm", "A.HTM", "a.htm", "",
                                                  std::string("\xff\x80 x", 4)}));
}

TEST(TextListTest, WalkEndsAndStaysEnded) {
  TextList list;
  EXPECT_FALSE(list.GetFirst());
  EXPECT_FALSE(list.GetNext());  // never walked
  list.Add("one");
  EXPECT_FALSE(list.GetNext());  // still no walk begun
  list.Add("two");
  ASSERT_TRUE(list.GetFirst());
  EXPECT_EQ(*list.GetNext(), "two");
  EXPECT_FALSE(list.GetNext());
  EXPECT_FALSE(list.GetNext());
}

TEST(TextListTest, ClearRestartsNumberingAndTextsSurviveGrowth) {
  TextList list;
  list.Add("x");
  list.Add("y");
  list.Clear();
  EXPECT_FALSE(list.GetFirst());
  EXPECT_EQ(list.Add("z"), 0);
  for (int i = 0; i < 1000; ++i) list.Add(std::string(static_cast<std::size_t>(i % 40), 'q'));
  EXPECT_EQ(list.At(0), "z");
  EXPECT_EQ(list.At(1000), std::string(999 % 40, 'q'));
  EXPECT_EQ(list.Size(), 1001u);
}

TEST(TextListTest, AssignNulEndedSplitsAtEachNulAndCostsFourBytesAText) {
  const struct {
    std::string bytes;
    std::vector<std::string> texts;
  } rows[] = {
      {std::string("a.htm\0b.htm\0", 12), {"a.htm", "b.htm"}},
      {std::string("a\0\0b", 4), {"a", "", "b"}},  // a last text without its NUL
      {std::string(3, '\0'), {"", "", ""}},
      {"", {}},
  };
  for (const auto& row : rows) {
    TextList list;
    list.Add("stale");
    EXPECT_EQ(list.AssignNulEnded(row.bytes), row.texts.size());
    EXPECT_EQ(Walk(list), row.texts);
    list.Add("after");
    EXPECT_EQ(list.At(row.texts.size()), "after");
  }
}

}  // namespace
}  // namespace quarry
