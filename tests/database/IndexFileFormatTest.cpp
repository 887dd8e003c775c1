// The byte layout of the three files, and how the reader treats damaged ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "database/FileHeader.h"
#include "database/IndexFileReader.h"
#include "database/IndexFileWriter.h"
#include "io/DatabaseFile.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

using test::TestDirectory;

// Byte-poking helpers: each damaged file below is a line or two of these.
std::string Int(std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  return {static_cast<char>(u & 0xff), static_cast<char>((u >> 8) & 0xff),
          static_cast<char>((u >> 16) & 0xff), static_cast<char>((u >> 24) & 0xff)};
}
std::string Header(std::int32_t count, std::int32_t total) {
  return "QR01" + Int(count) + Int(total) + std::string(20, '\0');
}
std::string Word(const std::string& text, std::initializer_list<std::int32_t> pages) {
  std::string body = text + '\0' + Int(static_cast<std::int32_t>(pages.size()));
  for (const std::int32_t page : pages) body += Int(page);
  return Int(static_cast<std::int32_t>(body.size())) + body;
}
std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

struct LoadedWord {
  std::string text;
  std::vector<std::int32_t> pages;
  bool operator==(const LoadedWord&) const = default;
};

class IndexFileFormatTest : public ::testing::Test {
 protected:
  // Reads words from a word file holding exactly bytes, by the header at its start.
  std::vector<LoadedWord> ReadWords(const std::string& bytes) {
    dir_.Write("w.dat", bytes);
    DatabaseFile file;
    EXPECT_TRUE(file.Open(dir_.Path(), "w.dat"));
    WordList list;
    list.Append(std::make_unique<WordEntry>("stale", 1));
    IndexFileReader(file).ReadWords(HeaderOf(file), list);
    std::vector<LoadedWord> words;
    for (WordEntry* e = list.GetFirst(); e; e = list.GetNext()) {
      words.push_back({e->GetText(), e->GetPages()});
    }
    return words;
  }
  std::vector<std::string> ReadTexts(const std::string& bytes) {
    dir_.Write("t.dat", bytes);
    DatabaseFile file;
    EXPECT_TRUE(file.Open(dir_.Path(), "t.dat"));
    TextList list;
    list.Add("stale");
    IndexFileReader(file).ReadTexts(HeaderOf(file), list);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < list.Size(); ++i) texts.emplace_back(list.At(i));
    return texts;
  }
  static FileHeader HeaderOf(DatabaseFile& file) {
    unsigned char bytes[FileHeader::kSize] = {};
    file.Seek(0);
    file.Read(bytes, sizeof bytes);
    return FileHeader::Decode(bytes);
  }

  TestDirectory dir_;
};

using Texts = std::vector<std::string>;
using Words = std::vector<LoadedWord>;

TEST_F(IndexFileFormatTest, WorkedExampleBytes) {
  DatabaseFile file;
  ASSERT_TRUE(file.Open(dir_.Path(), "w.dat"));
  WordEntry abc("abc", 5);
  abc.AddPage(7);
  IndexFileWriter writer(file);
  writer.AddWord(abc);
  const FileHeader header = writer.Finish();
  EXPECT_EQ(header.recordCount, 1);
  EXPECT_EQ(header.totalSize, 52);
  EXPECT_EQ(Hex(dir_.Read("w.dat")),
            "51 52 30 31 01 00 00 00 34 00 00 00 " + Hex(std::string(20, '\0')) +
                " 10 00 00 00 61 62 63 00 02 00 00 00 05 00 00 00 07 00 00 00");
}

TEST_F(IndexFileFormatTest, PageFileExampleAndNoRecords) {
  DatabaseFile pages;
  ASSERT_TRUE(pages.Open(dir_.Path(), "p.dat"));
  IndexFileWriter writer(pages);
  writer.AddText("a.htm");
  writer.AddText("b.htm");
  EXPECT_EQ(writer.Finish().totalSize, 44);
  EXPECT_EQ(dir_.Read("p.dat"), Header(2, 44) + std::string("a.htm\0b.htm\0", 12));

  DatabaseFile empty;
  ASSERT_TRUE(empty.Open(dir_.Path(), "e.dat"));
  IndexFileWriter none(empty);
  EXPECT_EQ(none.Finish().totalSize, 32);
  EXPECT_EQ(dir_.Read("e.dat"), Header(0, 32));
}

TEST_F(IndexFileFormatTest, WordOnMorePagesThanAnOldRecordBufferHeld) {
  // 9000 pages need a 36014-byte record, beyond a fixed buffer of 32000 bytes.
  WordEntry entry("often", 8999);
  for (std::int32_t page = 0; page < 9000; ++page) entry.AddPage(page);
  DatabaseFile file;
  ASSERT_TRUE(file.Open(dir_.Path(), "w.dat"));
  IndexFileWriter writer(file);
  writer.AddWord(entry);
  writer.AddWord(WordEntry("after", 3));
  const FileHeader header = writer.Finish();
  EXPECT_EQ(header.totalSize, 32 + (4 + 6 + 4 + 4 * 9000) + (4 + 6 + 4 + 4));
  EXPECT_EQ(file.Length(), static_cast<std::uint64_t>(header.totalSize));
  file.Close();
  const Words words = ReadWords(dir_.Read("w.dat"));
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[0].pages, entry.GetPages());
  EXPECT_EQ(words[1], (LoadedWord{"after", {3}}));
}

TEST_F(IndexFileFormatTest, TextsAreCutAtAnEmbeddedNul) {
  DatabaseFile file;
  ASSERT_TRUE(file.Open(dir_.Path(), "p.dat"));
  IndexFileWriter writer(file);
  writer.AddText(std::string("a\0b", 3));
  writer.AddText("c");
  writer.Finish();
  file.Close();
  EXPECT_EQ(ReadTexts(dir_.Read("p.dat")), (Texts{"a", "c"}));
}

// Reading: well-formed input first, then one case per kind of damage.

TEST_F(IndexFileFormatTest, ReadsWordsInFileOrderFoldingCaseAndRepeats) {
  const std::string file = Header(2, 0) + Word("b", {3, 1, 2}) + Word("ZZ", {4, 4, 1});
  EXPECT_EQ(ReadWords(file), (Words{{"b", {3, 1, 2}}, {"zz", {4, 1}}}));
}

TEST_F(IndexFileFormatTest, RecordCountBoundsTheWordsRead) {
  EXPECT_EQ(ReadWords(Header(1, 0) + Word("b", {1}) + Word("a", {2})), (Words{{"b", {1}}}));
  EXPECT_EQ(ReadWords(Header(0, 0) + Word("b", {1})), Words{});
  EXPECT_EQ(ReadWords(Header(-1, 0) + Word("b", {1})), Words{});
}

TEST_F(IndexFileFormatTest, BadRecordLength) {
  // Too short for text, NUL and page count: skipped, the next record is still read.
  EXPECT_EQ(ReadWords(Header(3, 0) + Int(3) + std::string("ab\0", 3) + Int(6) + "ab" +
                      std::string(4, '\0') + Word("c", {1})),
            (Words{{"c", {1}}}));
  // A body without any NUL is skipped too.
  EXPECT_EQ(ReadWords(Header(2, 0) + Int(2) + "xy" + Word("c", {1})), (Words{{"c", {1}}}));
}

TEST_F(IndexFileFormatTest, ZeroPageCount) {
  EXPECT_EQ(ReadWords(Header(3, 0) + Int(6) + std::string("a\0", 2) + Int(0) + Int(10) +
                      std::string("b\0", 2) + Int(-5) + Int(1) + Word("c", {1})),
            (Words{{"c", {1}}}));
}

TEST_F(IndexFileFormatTest, PageCountBeyondRecord) {
  // Claims 100 pages, holds 2 whole numbers and a stray byte.
  const std::string body = std::string("a\0", 2) + Int(100) + Int(7) + Int(8) + "x";
  EXPECT_EQ(
      ReadWords(Header(2, 0) + Int(static_cast<std::int32_t>(body.size())) + body + Word("c", {1})),
      (Words{{"a", {7, 8}}, {"c", {1}}}));
  // Claims pages but holds none: skipped.
  EXPECT_EQ(ReadWords(Header(2, 0) + Int(6) + std::string("a\0", 2) + Int(3) + Word("c", {1})),
            (Words{{"c", {1}}}));
}

TEST_F(IndexFileFormatTest, RecordPastEndOfFile) {
  const std::string whole = Word("abc", {5, 7});
  EXPECT_EQ(ReadWords(Header(2, 0) + Word("b", {1}) + whole.substr(0, whole.size() - 1)),
            (Words{{"b", {1}}}));
  EXPECT_EQ(ReadWords(Header(2, 0) + Word("b", {1}) + std::string("\x10\x00", 2)),
            (Words{{"b", {1}}}));
  EXPECT_EQ(ReadWords(Header(2, 0) + Int(-4) + Word("b", {1})), Words{});
}

TEST_F(IndexFileFormatTest, HostileLength) {
  // Lengths and counts near 2^31 in a tiny file: nothing is allocated beyond the file, the
  // sanitizer build would catch an overread.
  EXPECT_EQ(ReadWords(Header(0x7fffffff, 0x7fffffff) + Int(0x7ffffff0) + "abc"), Words{});
  EXPECT_EQ(ReadTexts(Header(0x7fffffff, 0x7fffffff) + std::string("a\0b\0", 4)),
            (Texts{"a", "b"}));
}

TEST_F(IndexFileFormatTest, ShortWordFileHeader) {
  EXPECT_EQ(ReadWords("QR01\x01"), Words{});
  EXPECT_EQ(ReadWords(""), Words{});
}

TEST_F(IndexFileFormatTest, ReadsTextsByThePayload) {
  EXPECT_EQ(ReadTexts(Header(2, 44) + std::string("a.htm\0b.htm\0", 12)),
            (Texts{"a.htm", "b.htm"}));
  // The count only decides whether the payload is read; empty strings are strings.
  EXPECT_EQ(ReadTexts(Header(1, 38) + std::string("a\0\0b\0\0", 6)), (Texts{"a", "", "b", ""}));
  EXPECT_EQ(ReadTexts(Header(0, 44) + std::string("a.htm\0b.htm\0", 12)), Texts{});
}

TEST_F(IndexFileFormatTest, TruncatedPayload) {
  EXPECT_EQ(ReadTexts(Header(2, 44) + std::string("a.htm\0b.h", 9)), (Texts{"a.htm", "b.h"}));
  EXPECT_EQ(ReadTexts(Header(2, 44)), Texts{});
  EXPECT_EQ(ReadTexts(Header(2, 44).substr(0, 20)), Texts{});
}

TEST_F(IndexFileFormatTest, PayloadWithoutNul) {
  // The total size cuts the payload inside the last string.
  EXPECT_EQ(ReadTexts(Header(2, 40) + std::string("a.htm\0b.htm\0", 12)), (Texts{"a.htm", "b."}));
}

TEST_F(IndexFileFormatTest, TotalSizeBelowHeader) {
  EXPECT_EQ(ReadTexts(Header(2, 31) + std::string("a\0", 2)), Texts{});
  EXPECT_EQ(ReadTexts(Header(2, -1) + std::string("a\0", 2)), Texts{});
}

}  // namespace
}  // namespace quarry
