#include "io/SitePages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/SearchPageMarks.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

TEST(SitePagesTest, LeavesOutTheIndexAndTheSearchPagesItWrote) {
  const test::TestDirectory dir("site-pages");
  const std::string page = "<!-- " + std::string(kWebPageMark) + " --><html>";
  const std::string settings = "{\n  " + std::string(kWebSettingsMark) + ",\n}\n";
  struct Row {
    const char* name;
    std::string bytes;
    bool kept;  // among the pages
  };
  const Row rows[] = {
      {"site/a.html", "<html>", true},
      {"site/B.HTM", "<html>", true},
      {"site/notes.txt", "text", false},
      {"site/search.html", page, false},  // the page quarry-cli web wrote
      {"site/quarry-search.js", page, false},
      {"site/sub/search.html", "<html>a site's own search page", true},
      {"site/sub/late/search.html", std::string(kWebPageMarkWithin, ' ') + page, true},
      {"site/case/Search.html", page, true},   // only the page's own name is left out
      {"site/_search/qrywDb.dat", "", false},  // the index folder
      {"site/_search/x.html", "<html>", false},
      {"site/page/quarry-search.json", settings, false},  // a folder the page was written into
      {"site/page/p.html", "<html>", false},
      {"site/page/deeper/q.html", "<html>", false},
      {"site/foreign/quarry-search.json", "{\"generator\": \"another\"}", false},
      {"site/foreign/f.html", "<html>", true},
  };
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    std::filesystem::create_directories(std::filesystem::path(dir / row.name).parent_path());
    dir.Write(row.name, row.bytes);
    if (row.kept) expected.push_back(dir / row.name);
  }
  std::vector<std::string> warnings;
  SitePages pages(dir / "site/_search", [&](const std::string& w) { warnings.push_back(w); });
  EXPECT_TRUE(pages.Add(dir / "site"));
  EXPECT_FALSE(pages.Add(dir / "missing"));
  EXPECT_TRUE(pages.Add(dir / "site/search.html"));  // named on its own, and still left out
  EXPECT_EQ(pages.Count(), expected.size() + 2);     // site/search.html twice, before SortedPages
  std::vector<std::string> sorted = pages.SortedPages();
  std::sort(expected.begin(), expected.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, expected);
  EXPECT_TRUE(warnings.empty());
}

}  // namespace
}  // namespace quarry
