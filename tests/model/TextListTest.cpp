#include "model/TextList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarry {
namespace {

std::vector<std::string> Walk(TextList& list) {
  std::vector<std::string> out;
  for (const std::string* s = list.GetFirst(); s != nullptr; s = list.GetNext()) out.push_back(*s);
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
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetNext(), nullptr);  // never walked
  list.Add("one");
  EXPECT_EQ(list.GetNext(), nullptr);  // still no walk begun
  list.Add("two");
  ASSERT_NE(list.GetFirst(), nullptr);
  EXPECT_EQ(*list.GetNext(), "two");
  EXPECT_EQ(list.GetNext(), nullptr);
  EXPECT_EQ(list.GetNext(), nullptr);
}

TEST(TextListTest, ClearRestartsNumberingAndPointersSurviveLaterAdds) {
  TextList list;
  list.Add("x");
  list.Add("y");
  list.Clear();
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.Add("z"), 0);
  const std::string* first = list.GetFirst();
  for (int i = 0; i < 1000; ++i) list.Add(std::string(static_cast<std::size_t>(i % 40), 'q'));
  EXPECT_EQ(*first, "z");
  EXPECT_EQ(list.Size(), 1001u);
}

}  // namespace
}  // namespace quarry
