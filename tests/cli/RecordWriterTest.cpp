#include "cli/RecordWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TestDirectory.h"

namespace quarry {
namespace {

TEST(RecordWriterTest, FieldsAndRecordsGoOutAsBytes) {
  using Records = std::vector<std::vector<std::string>>;
  struct Row {
    bool nul;
    Records records;
    std::string bytes;
  };
  const Row rows[] = {
      {false, {}, ""},
      {false, {{"a"}}, "a\n"},
      {false, {{"7", "site/a.html", "A title"}, {"8"}}, "7\tsite/a.html\tA title\n8\n"},
      {false, {{"", ""}, {}}, "\t\n\n"},
      {true, {{"a\nb", "c"}, {"d"}}, std::string("a\nb\tc\0d\0", 8)},
      {false, {{std::string("\xff\0\r\n", 4)}}, std::string("\xff\0\r\n\n", 5)},
  };
  const test::TestDirectory dir("records");
  for (const Row& row : rows) {
    std::FILE* file = std::fopen(dir.PathOf("out").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
      RecordWriter out(row.nul, file);
      for (const std::vector<std::string>& record : row.records) {
        for (const std::string& field : record) out.Field(field);
        out.EndRecord();
      }
      EXPECT_TRUE(RecordWriter::Finish(file));
    }
    std::fclose(file);
    EXPECT_EQ(dir.Read("out"), row.bytes) << row.bytes;
  }
}

TEST(RecordWriterTest, FailedWriteIsReportedWithTheSystemsReason) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full here";
  RecordWriter out(false, full);
  out.Field("a");
  out.EndRecord();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(RecordWriter::Finish(full));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "quarry-cli: cannot write the output: No space left on device\n");
  std::fclose(full);
}

}  // namespace
}  // namespace quarry
