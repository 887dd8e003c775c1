#include "indexing/PageScanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "database/IndexDatabase.h"
#include "io/PageFile.h"
#include "model/TextList.h"
#include "model/TextOrder.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

using test::TestDirectory;

struct Lists {
  WordList words;
  TextList pages;
  TextList titles;
  PageScanner scanner{words, pages, titles};
};

TEST(PageScannerTest, HtmlTestLooksForTheLettersInOnePiece) {
  EXPECT_TRUE(PageScanner::IsHtmlPage("<HTML>"));
  EXPECT_TRUE(PageScanner::IsHtmlPage("see page.HtMl for more"));
  EXPECT_FALSE(PageScanner::IsHtmlPage(""));
  EXPECT_FALSE(PageScanner::IsHtmlPage("<htm l>"));
  // '<HT' ends one 511-byte piece and 'ML>' begins the next.
  EXPECT_FALSE(PageScanner::IsHtmlPage(std::string(508, 'x') + "<HTML>"));
  // The same letters a little further on lie wholly in the second piece.
  EXPECT_TRUE(PageScanner::IsHtmlPage(std::string(511, 'x') + "<HTML>"));
  // A line break ends a piece early, so the next piece starts after it.
  EXPECT_FALSE(PageScanner::IsHtmlPage(std::string(507, 'x') + "<HTML>"));
  EXPECT_TRUE(PageScanner::IsHtmlPage("x\n" + std::string(505, 'x') + "<HTML>"));
  EXPECT_FALSE(PageScanner::IsHtmlPage("<ht\nml>"));
  // A straddling occurrence does not hide a later one.
  EXPECT_TRUE(PageScanner::IsHtmlPage(std::string(509, 'x') + "html\nhtml"));
}

TEST(PageScannerTest, TitleRules) {
  const struct {
    std::string page;
    std::string title;
  } cases[] = {
      {"<TITLE>My Page</TITLE>", "my page"},
      {"<title> My  Page </title>", " my  page "},
      {"<title></title>\n<p>x</p><h1>Introduction</h1>", "introduction"},
      {"<h2>Welcome</h2>", ""},
      {"<title></title><h2>Welcome</h2>", ""},
      {"<title></title><h1></h1><h2></h2><h3></h3><h4></h4><h5></h5><h6></h6>", ""},
      {"<title></title><title>Later</title><h1>Head</h1>", "head"},
      {"<title >Spaced</title><h1 align=center>Centred</h1>", ""},
      {"<title>Runs on\nover two lines</title>", "runs on"},
      {"<title>Ends the file", "ends the file"},
      {"<title>\nBlog</title>", ""},
      {"<title>", ""},
      {"<p>Intro</p><TITLE>Late Title</TITLE>", "late title"},
      // The title never runs past its 511-byte piece.
      {std::string(500, 'x') + "<title>" + std::string(20, 'a') + "</title>", "aaaa"},
      // A tag that straddles two pieces is not seen; the next occurrence is.
      {std::string(508, 'x') + "<title>A</title>\n<title>B</title>", "b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PageScanner::FindTitle(c.page), c.title) << c.page;
  }
}

// The HTML test and the title search done the plain way: piece by piece through PageFile, each
// piece lower-cased and searched with the C string functions, rewinding for each title tag.
bool ReferenceIsHtml(PageFile& file) {
  file.Rewind();
  char piece[512];
  while (file.ReadPiece(piece, sizeof piece) > 0) {
    for (char* c = piece; *c != '\0'; ++c) *c = ToLowerAscii(*c);
    if (std::strstr(piece, "html") != nullptr) return true;
  }
  return false;
}

std::string ReferenceTitle(PageFile& file) {
  for (const char* tag : {"<title>", "<h1>", "<h2>", "<h3>", "<h4>", "<h5>", "<h6>"}) {
    file.Rewind();
    char piece[512];
    bool empty = false;
    while (!empty && file.ReadPiece(piece, sizeof piece) > 0) {
      for (char* c = piece; *c != '\0'; ++c) *c = ToLowerAscii(*c);
      const char* found = std::strstr(piece, tag);
      if (found == nullptr) continue;
      const char* start = found + std::strlen(tag);
      if (*start == '<') {
        empty = true;
        continue;
      }
      const char* end = std::strchr(start, '<');
      std::string title = end != nullptr ? std::string(start, end) : std::string(start);
      if (end == nullptr && !title.empty() && title.back() == '\n') title.pop_back();
      return title;
    }
    if (!empty) return {};
  }
  return {};
}

TEST(PageScannerTest, AgreesWithAPieceByPieceReading) {
  const char* const fragments[] = {"<title>", "<TITLE>", "</title>", "<h1>", "<H2>",
                                   "<h6>",    "<",       "html",     "HT",   "ML",
                                   "\n",      "\r\n",    " ",        "Text", "\0"};
  std::mt19937 random(7);
  TestDirectory dir;
  for (int round = 0; round < 400; ++round) {
    std::string page;
    const int parts = static_cast<int>(random() % 60);
    for (int i = 0; i < parts; ++i) {
      if (random() % 4 == 0) {
        page.append(random() % 600, 'x');  // long runs move the 511-byte piece boundaries
      } else {
        const char* fragment = fragments[random() % std::size(fragments)];
        page.append(fragment, std::max<std::size_t>(std::strlen(fragment), 1));
      }
    }
    const std::string path = dir.File("random.html", page);
    PageFile file;
    ASSERT_TRUE(file.Open(path));
    const std::string contents(file.ReadRest());
    EXPECT_EQ(PageScanner::IsHtmlPage(contents), ReferenceIsHtml(file)) << round;
    EXPECT_EQ(PageScanner::FindTitle(contents), ReferenceTitle(file)) << round;
  }
}

TEST(PageScannerTest, RegistersTitlesAndPathsInStepFromZero) {
  Lists lists;
  using Outcome = PageScanner::Outcome;
  EXPECT_EQ(lists.scanner.ScanContents("<html><title>First</title>one", "a.html"),
            Outcome::kIndexed);
  EXPECT_EQ(lists.scanner.ScanContents("no markup here", "b.html"), Outcome::kNotHtml);
  EXPECT_EQ(lists.scanner.ScanContents("", "c.html"), Outcome::kNotHtml);
  EXPECT_EQ(lists.scanner.ScanContents("<html><h2>Untitled</h2>two", "d.html"), Outcome::kIndexed);

  ASSERT_EQ(lists.pages.Size(), 2u);
  ASSERT_EQ(lists.titles.Size(), 2u);
  EXPECT_EQ(lists.pages.At(0), "a.html");
  EXPECT_EQ(lists.titles.At(0), "first");
  EXPECT_EQ(lists.pages.At(1), "d.html");
  EXPECT_EQ(lists.titles.At(1), "d.html");  // no title: the path stands for it

  const WordEntry* two = lists.words.Find("two");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->GetPages(), std::vector<std::int32_t>{1});
}

TEST(PageScannerTest, IndexesEveryWordOfALine) {
  Lists lists;
  lists.scanner.ScanContents(
      "<html><body><p>alpha  beta &amp; gamma <b>delta</b> epsilon</p>\n"
      "<p>Zeta eta\n<p>theta ends without a tag",
      "p.html");
  for (const char* word : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta",
                           "ends", "without", "tag"}) {
    const WordEntry* entry = lists.words.Find(word);
    ASSERT_NE(entry, nullptr) << word;
    EXPECT_EQ(entry->GetPages(), std::vector<std::int32_t>{0}) << word;
  }
  EXPECT_EQ(lists.words.Find("amp"), nullptr);
  EXPECT_EQ(lists.words.Find("b"), nullptr);
}

TEST(PageScannerTest, PagesThatCannotBeOpenedChangeNothing) {
  TestDirectory dir;
  const std::string fifo = dir.Path() + "/pipe.html";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directory(dir.Path() + "/folder.html");

  Lists lists;
  for (const std::string& path :
       {dir.Path() + "/missing.html", fifo, dir.Path() + "/folder.html"}) {
    EXPECT_EQ(lists.scanner.ScanFile(path), PageScanner::Outcome::kCannotOpen) << path;
    EXPECT_FALSE(lists.scanner.OpenError().empty()) << path;
  }
  EXPECT_EQ(lists.pages.Size(), 0u);
  EXPECT_EQ(lists.titles.Size(), 0u);
  EXPECT_EQ(lists.words.Size(), 0u);
}

TEST(PageScannerTest, ReadsCrLfPagesAsLines) {
  TestDirectory dir;
  const std::string path = dir.File(
      "crlf.htm", "<HTML>\r\n<TITLE>Runs on\r\nnext</TITLE>\r\n<P>First\r\nsecond</P>\r\n");
  Lists lists;
  ASSERT_EQ(lists.scanner.ScanFile(path), PageScanner::Outcome::kIndexed);
  EXPECT_EQ(lists.titles.At(0), "runs on");
  EXPECT_NE(lists.words.Find("first"), nullptr);
  EXPECT_NE(lists.words.Find("second"), nullptr);
}

TEST(PageScannerTest, ScanPageSetsTheKeepFlag) {
  TestDirectory dir;
  const std::string page = dir.File("page.html", "<html><title>T</title>word");
  const std::string text = dir.File("text.html", "plain text");
  Lists lists;

  IndexDatabase closed(dir.Path());
  bool keep = false;
  EXPECT_EQ(closed.ScanPage(lists.words, lists.pages, lists.titles, page, keep), 1);
  EXPECT_TRUE(keep);
  EXPECT_EQ(lists.pages.Size(), 0u);

  IndexDatabase database(dir.Path());
  database.Open();
  ASSERT_TRUE(database.IsOpen());
  keep = false;
  EXPECT_EQ(database.ScanPage(lists.words, lists.pages, lists.titles, page, keep), 0);
  EXPECT_TRUE(keep);
  keep = true;
  EXPECT_EQ(database.ScanPage(lists.words, lists.pages, lists.titles, text, keep), 0);
  EXPECT_FALSE(keep);
  keep = false;
  EXPECT_EQ(
      database.ScanPage(lists.words, lists.pages, lists.titles, dir.Path() + "/none.html", keep),
      0);
  EXPECT_TRUE(keep);
  EXPECT_EQ(lists.pages.Size(), 1u);
  EXPECT_EQ(lists.titles.Size(), 1u);
}

}  // namespace
}  // namespace quarry
