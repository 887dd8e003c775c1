#include "model/TrimWord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

namespace quarry {
namespace {

std::string Trim(const std::string& word) {
  char work[kWordBufferSize];
  return TrimWord(word.c_str(), work);
}

struct TrimCase {
  const char* name;
  std::string in;
  std::string out;
};

void PrintTo(const TrimCase& c, std::ostream* os) { *os << c.name; }

class TrimWordTableTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimWordTableTest, Trims) { EXPECT_EQ(Trim(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimWordTableTest,
    ::testing::Values(
        TrimCase{"Plain", "alpha", "alpha"}, TrimCase{"Empty", "", ""},
        TrimCase{"BracketsAndMarks", "(alpha).", "alpha"},
        TrimCase{"OnlyOneOpeningBracket", "((alpha", "(alpha"},
        TrimCase{"SquareAndCurly", "[alpha]}", "alpha"}, TrimCase{"CurlyOpen", "{x}y", "x}y"},
        TrimCase{"InnerMarksStay", "e.g.", "e.g"}, TrimCase{"SeveralMarks", "alpha);", "alpha"},
        TrimCase{"AllMarks", "a)*,.:;]}", ""}, TrimCase{"OnlyDots", "...", ""},
        TrimCase{"OtherPunctuationStays", "-alpha!?\"", "-alpha!?\""},
        TrimCase{"SingleByte", "a", ""}, TrimCase{"SingleAfterMark", "a,", ""},
        TrimCase{"SingleInBrackets", "(a)", ""}, TrimCase{"DigitInSquare", "[1]", ""},
        TrimCase{"TwoBytesStay", "ab", "ab"},
        TrimCase{"BlanksBothEnds", "\t\x01 alpha \x1f\r", "alpha"},
        TrimCase{"TabBeforeClosingMarkStays", "alpha\t.", "alpha\t"},
        TrimCase{"TabAfterOpeningBracketStays", "(\talpha", "\talpha"},
        TrimCase{"BlankBeforeBracketGoes", " (alpha)", "alpha"},
        TrimCase{"HighByteAtEndIsBlank", "stra\xdf", "stra"},
        TrimCase{"HighBytesAndBlanksAtEnd", "caf\xe9 \xa0\xff", "caf"},
        TrimCase{"HighByteAtStartIsBlank", "\xe9t\xe9s", "t\xe9s"},
        TrimCase{"HighByteInsideStays",
                 "stra\xdf"
                 "e",
                 "stra\xdf"
                 "e"},
        TrimCase{"OnlyHighBytes", "\x80\xff\xc3\xa9", ""}, TrimCase{"OneHighByte", "\x80", ""},
        TrimCase{"OneTab", "\t", ""}, TrimCase{"HighByteLeftAfterMark", "x\xe9.", "x\xe9"},
        TrimCase{"SpaceAndHighByteLeaveOneByte", "\xe9x ", ""}),
    [](const ::testing::TestParamInfo<TrimCase>& c) { return std::string(c.param.name); });

TEST(TrimWordTest, WordOf511BytesFitsTheBuffer) {
  const std::string word = "(" + std::string(509, 'w') + ".";
  EXPECT_EQ(Trim(word), std::string(509, 'w'));
  EXPECT_EQ(Trim(std::string(511, 'w')), std::string(511, 'w'));
}

TEST(TrimWordTest, LongerWordIsCutTo511BytesAndNothingWrittenBeyondTheBuffer) {
  char work[kWordBufferSize + 8];
  std::memset(work, '#', sizeof work);
  const std::string word = std::string(511, 'w') + "xyz";
  const char* out = TrimWord(word.c_str(), work);
  EXPECT_EQ(std::string(out), std::string(511, 'w'));
  for (std::size_t i = kWordBufferSize; i < sizeof work; ++i) EXPECT_EQ(work[i], '#');
}

TEST(TrimWordTest, ResultPointsIntoWorkAndInputIsUntouched) {
  const char word[] = " (alpha";
  char work[kWordBufferSize];
  const char* out = TrimWord(word, work);
  EXPECT_EQ(out, work + 2);
  EXPECT_STREQ(word, " (alpha");
}

}  // namespace
}  // namespace quarry
