#include "model/TrimWord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/CaseTable.h"

namespace quarry {
namespace {

std::string Trim(const std::string& word) {
  char work[kWordBufferSize];
  return TrimWord(word.c_str(), work);
}

TEST(TrimWordTest, SharedCaseTable) {
  for (const test::CaseRow& row : test::ReadCaseTable("trim-cases.tsv")) {
    EXPECT_EQ(Trim(row.in), row.out) << "trim-cases.tsv:" << row.line;
  }
}

TEST(TrimWordTest, EmptyWordStaysEmpty) { EXPECT_EQ(Trim(""), ""); }

TEST(TrimWordTest, WordOf511BytesFitsTheBuffer) {
  const std::string word = "(" + std::string(509, 'w') + ".";
  EXPECT_EQ(Trim(word), std::string(509, 'w'));
  EXPECT_EQ(Trim(std::string(511, 'w')), std::string(511, 'w'));
  // The cut falls inside a two-byte letter: its first byte is left alone and is a blank.
  EXPECT_EQ(Trim(std::string(510, 'w') + "\xc3\xa9"), std::string(510, 'w'));
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
