// Pages no site owner means to index, through the page scanner as the window's Build and the
// command line run it: huge, binary, empty, all NUL bytes, UTF-16, unfinished constructs, and
// paths with blanks, line feeds and bytes that are not UTF-8.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "BadInputSupport.h"
#include "database/IndexDatabase.h"
#include "io/PageFile.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry::test {
namespace {

// Huge enough to matter in the normal build, and just below the largest page read; smaller
// under the sanitizers, which are many times slower. QUARRY_HUGE_PAGE_MB overrides both.
std::size_t HugePageBytes() {
  if (const char* mb = std::getenv("QUARRY_HUGE_PAGE_MB")) return std::stoul(mb) << 20;
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
  return std::size_t{24} << 20;
#else
  return std::size_t{63} << 20;
#endif
}

class BadPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_ / "db");
    database_.Open();
    ASSERT_TRUE(database_.IsOpen());
  }

  // Scans the page at path; returns the keep flag.
  bool Scan(const std::string& path) {
    bool keep = false;
    EXPECT_EQ(database_.ScanPage(words_, pages_, titles_, path, keep), 0);
    EXPECT_EQ(pages_.Size(), titles_.Size());
    return keep;
  }

  // Writes bytes as a page and scans it.
  bool ScanBytes(std::string_view bytes, const std::string& name = "page.html") {
    WriteFile(dir_ / name, bytes);
    return Scan(dir_ / name);
  }

  std::set<std::string> Words() {
    std::set<std::string> out;
    for (WordEntry* e = words_.GetFirst(); e != nullptr; e = words_.GetNext()) {
      EXPECT_EQ(e->GetPages(), std::vector<std::int32_t>{0}) << e->GetText();
      out.insert(e->GetText());
    }
    return out;
  }

  TestDirectory dir_;
  IndexDatabase database_{dir_ / "db"};
  WordList words_;
  TextList pages_;
  TextList titles_;
};

using Set = std::set<std::string>;

TEST_F(BadPageTest, HugePageIsIndexedWholeUpToTheLimitAndNotBeyond) {
  const std::size_t target = HugePageBytes();
  const std::string path = dir_ / "huge.html";
  {
    std::ofstream out(path, std::ios::binary);
    out << "<html><head><title>Huge page</title></head><body>\n";
    // Short lines with entities, then one line of 98,000 bytes without a break, cut by the
    // filter into 511-byte lines that here end between two words.
    std::string block;
    for (int i = 0; i < 500; ++i) block += "alpha beta gamma<br>delta &amp; epsilon<p>";
    for (int i = 0; i < 14000; ++i) block += "sixsix ";
    block += "<br>";
    std::size_t written = 0;
    while (written < target) {
      out << block;
      written += block.size();
    }
    out << "omega</body></html>\n";
  }
  EXPECT_TRUE(Scan(path));
  ASSERT_EQ(titles_.Size(), 1u);
  EXPECT_EQ(titles_.At(0), "huge page");
  EXPECT_EQ(Words(),
            (Set{"alpha", "beta", "delta", "epsilon", "gamma", "huge", "omega", "page", "sixsix"}));

  // One byte past the largest page read: it cannot be opened, and stays listed, unscanned.
  std::filesystem::resize_file(path, PageFile::kDefaultMaxSize + 1);
  EXPECT_TRUE(Scan(path));
  EXPECT_EQ(pages_.Size(), 1u);
}

TEST_F(BadPageTest, EmptyPageAndAllNulPageAreNotHtml) {
  EXPECT_FALSE(ScanBytes(""));
  EXPECT_FALSE(ScanBytes(std::string(65536, '\0')));
  EXPECT_EQ(pages_.Size(), 0u);
  EXPECT_EQ(words_.Size(), 0u);
}

TEST_F(BadPageTest, NulBytesAreBlanksAndHideNothingAfterThem) {
  using namespace std::string_literals;
  const std::string page =
      "<html>\0\0<title>Nul\0page</title>\0after\0\0nul"s + std::string(1000, '\0') + "end";
  EXPECT_TRUE(ScanBytes(page));
  EXPECT_EQ(titles_.At(0), "nul page");
  EXPECT_EQ(Words(), (Set{"after", "end", "nul", "page"}));
}

TEST_F(BadPageTest, BinaryPageIsDroppedOrIndexedWithoutHarm) {
  std::mt19937 random(20261208);
  std::string bytes(1 << 20, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
    if (c == 'h' || c == 'H') c = 'x';  // so that "html" cannot occur by chance
  }
  EXPECT_FALSE(ScanBytes(bytes));
  EXPECT_EQ(pages_.Size(), 0u);

  // With the four letters in front it is an HTML page: whatever words come out are sound ones.
  EXPECT_TRUE(ScanBytes("<html>" + bytes));
  ASSERT_EQ(pages_.Size(), 1u);
  EXPECT_GT(words_.Size(), 0u);
  for (const std::string& w : Words()) {
    EXPECT_GE(w.size(), 2u);
    EXPECT_LE(w.size(), 511u);
    EXPECT_EQ(w.find_first_of(std::string_view(" \n\r\0", 4)), std::string::npos);
  }
}

TEST_F(BadPageTest, Utf16PageIsNotHtml) {
  // Every other byte is NUL, which reads as a blank: "h t m l" never matches, so the page is
  // dropped like any other file that is not HTML.
  const std::string text = "<html><head><title>Hello</title></head><body>Hello world</body></html>";
  std::string le = "\xff\xfe";
  std::string be = "\xfe\xff";
  for (char c : text) {
    le += c;
    le += '\0';
    be += '\0';
    be += c;
  }
  EXPECT_FALSE(ScanBytes(le, "le.html"));
  EXPECT_FALSE(ScanBytes(be, "be.html"));
  EXPECT_EQ(pages_.Size(), 0u);
}

TEST_F(BadPageTest, ConstructThatNeverEndsEndsTheText) {
  const std::string tail(8 << 20, 'x');
  const char* starts[] = {"<a href=\"", "&", "<script>", "<!-- "};
  for (const char* start : starts) {
    SCOPED_TRACE(start);
    words_.Clear();
    pages_.Clear();
    titles_.Clear();
    EXPECT_TRUE(ScanBytes("<html><title>Open end</title> before " + std::string(start) + tail));
    EXPECT_EQ(titles_.At(0), "open end");
    EXPECT_EQ(Words(), (Set{"before", "end", "open"}));
  }
}

TEST_F(BadPageTest, PathBytesAreKeptExactly) {
  const std::string names[] = {"with blanks  .html", "line\nfeed.html", "\xff\xfe latin\xe9.html",
                               "-starts-with-dash.html"};
  for (const std::string& name : names) EXPECT_TRUE(ScanBytes("<html>text", name));
  ASSERT_EQ(pages_.Size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(pages_.At(i), dir_ / names[i]);
    EXPECT_EQ(titles_.At(i), dir_ / names[i]);  // no title: the path stands in for it
  }
}

TEST_F(BadPageTest, WhatIsNotARegularFileIsNeverRead) {
  ASSERT_EQ(mkfifo((dir_ / "fifo.html").c_str(), 0644), 0);
  std::filesystem::create_directory(dir_ / "dir.html");
  ASSERT_EQ(symlink("loop.html", (dir_ / "loop.html").c_str()), 0);
  for (const std::string& path : {dir_ / "fifo.html", dir_ / "dir.html", dir_ / "loop.html",
                                  std::string("/dev/zero"), dir_ / "missing.html", std::string()}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(Scan(path));  // cannot be opened: stays in the list, unscanned
  }
  EXPECT_EQ(pages_.Size(), 0u);
  EXPECT_EQ(words_.Size(), 0u);
}

}  // namespace
}  // namespace quarry::test
