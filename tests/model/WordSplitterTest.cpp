#include "model/WordSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarry {
namespace {

// Calls NextWord `calls` times on line and collects what each call wrote.
std::vector<std::string> Words(const char* line, int calls) {
  WordSplitter splitter;
  splitter.SetLine(line);
  std::vector<std::string> out;
  char word[512];
  for (int i = 0; i < calls; ++i) {
    word[0] = 'a';
    splitter.NextWord(word);
    out.emplace_back(word);
  }
  return out;
}

using V = std::vector<std::string>;

TEST(WordSplitterTest, EachCallConsumesAtMostOneSpace) {
  EXPECT_EQ(Words("alpha beta", 4), (V{"alpha", "beta", "", ""}));
  EXPECT_EQ(Words("alpha  beta", 4), (V{"alpha", "", "beta", ""}));
  EXPECT_EQ(Words(" alpha", 3), (V{"", "alpha", ""}));
  EXPECT_EQ(Words("alpha ", 3), (V{"alpha", "", ""}));
  EXPECT_EQ(Words("", 2), (V{"", ""}));
}

TEST(WordSplitterTest, OnlyTheSpaceSeparatesWords) {
  EXPECT_EQ(Words("one\ttwo\x01three\xa0"
                  "four",
                  2),
            (V{"one\ttwo\x01three\xa0"
               "four",
               ""}));
}

TEST(WordSplitterTest, LineEndsAtLineFeedOrCarriageReturn) {
  EXPECT_EQ(Words("alpha\nbeta gamma", 3), (V{"alpha", "", ""}));
  EXPECT_EQ(Words("alpha beta\rgamma", 4), (V{"alpha", "beta", "", ""}));
  EXPECT_EQ(Words("\r\nalpha", 2), (V{"", ""}));
}

TEST(WordSplitterTest, AtEndOfLineTellsTheEndFromAnEmptyWordInside) {
  WordSplitter splitter;
  EXPECT_FALSE(splitter.AtEndOfLine());  // no line yet
  char word[512];
  splitter.NextWord(word);  // no line yet: an empty word, no crash
  EXPECT_STREQ(word, "");

  splitter.SetLine("a  b\nc");
  EXPECT_FALSE(splitter.AtEndOfLine());
  splitter.NextWord(word);
  EXPECT_STREQ(word, "a");
  splitter.NextWord(word);
  EXPECT_STREQ(word, "");
  EXPECT_FALSE(splitter.AtEndOfLine());  // empty word inside the line
  splitter.NextWord(word);
  EXPECT_STREQ(word, "b");
  EXPECT_TRUE(splitter.AtEndOfLine());

  splitter.SetLine("next");  // a new line starts at its beginning
  EXPECT_FALSE(splitter.AtEndOfLine());
  splitter.NextWord(word);
  EXPECT_STREQ(word, "next");
  EXPECT_TRUE(splitter.AtEndOfLine());
}

TEST(WordSplitterTest, LongLineGivesEveryByteOfTheWord) {
  const std::string line(511, 'x');
  EXPECT_EQ(Words(line.c_str(), 2), (V{line, ""}));
}

}  // namespace
}  // namespace quarry
