// The folder walk of `quarry-cli index` and of the window's drops (SitePages over SiteWalker):
// what a site's tree gives, and that a page found by the walk stays inside the folder walked,
// also when its file is swapped for a link after the walk.
#include "io/SitePages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/FolderReader.h"
#include "io/PageFile.h"
#include "model/TextOrder.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

using test::kLinks;

// One entry of the tree below the test directory: a folder (no bytes and no target), a file, or
// a link to target; and whether the walk of "site" gives it as a page.
struct Entry {
  const char* path;
  const char* bytes;
  const char* target;
  bool page;
};

const Entry kTree[] = {
    {"site", nullptr, nullptr, false},
    {"site/index.html", "<html>", nullptr, true},
    {"site/UPPER.HTM", "<html>", nullptr, true},
    {"site/notes.txt", "text", nullptr, false},
    {"site/.hidden.html", "<html>", nullptr, false},
    {"site/.git", nullptr, nullptr, false},
    {"site/.git/config.html", "<html>", nullptr, false},
    {"site/sub", nullptr, nullptr, false},
    {"site/sub/page.html", "<html>", nullptr, true},
    {"site/sub/.env.html", "<html>", nullptr, false},
    {"site/db", nullptr, nullptr, false},  // the index folder: left out
    {"site/db/kept.html", "<html>", nullptr, false},
    {"site/_search", nullptr, nullptr, false},  // a search page's folder: left out
    {"site/_search/quarry-search.json", "{\"generator\": \"quarry-cli web\"}", nullptr, false},
    {"site/_search/page.html", "<html>", nullptr, false},
    {"site/search.html", "<html>quarry web: generated file", nullptr, false},
    {"private", nullptr, nullptr, false},
    {"private/notes.txt", "api_token=SECRET123", nullptr, false},
    {"private/page.html", "<html>", nullptr, false},
    {"site/inside.html", nullptr, "index.html", true},
    {"site/around.html", nullptr, "../site/sub/page.html", true},
    {"site/notes.html", nullptr, "../private/notes.txt", false},
    {"site/absolute.html", nullptr, "/etc/hostname", false},
    {"site/linked", nullptr, "../private", false},  // a link to a folder is not followed
    {"site/dangling.html", nullptr, "nowhere.html", false},
};

class SiteWalkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const Entry& entry : kTree) {
      const std::string path = dir_ / entry.path;
      if (entry.target != nullptr) {
        if (kLinks) fs::create_symlink(entry.target, path);
      } else if (entry.bytes == nullptr) {
        fs::create_directory(path);
      } else {
        dir_.Write(entry.path, entry.bytes);
      }
    }
  }

  SiteWalker::Pages Walk(const std::string& path) {
    SitePages pages(dir_ / "site/db",
                    [this](const std::string& line) { warnings_ += line + "\n"; });
    pages.Add(path);
    return pages.SortedWalk();
  }

  test::TestDirectory dir_{"walk"};
  std::string warnings_;
};

TEST_F(SiteWalkerTest, WalkGivesThePagesOfTheSiteAndNothingElse) {
  std::vector<std::string> expected;
  for (const Entry& entry : kTree) {
    if (entry.page && (kLinks || entry.target == nullptr)) expected.push_back(dir_ / entry.path);
  }
  std::sort(expected.begin(), expected.end(), PageOrderLess{});
  const SiteWalker::Pages walk = Walk(dir_ / "site");
  EXPECT_EQ(walk.paths, expected);
  ASSERT_EQ(walk.folders.size(), 1u);
  EXPECT_EQ(walk.folders[0], FolderReader::RealPath(dir_ / "site"));
  EXPECT_EQ(walk.folderOf, std::vector<std::int32_t>(expected.size(), 0));
  if (kLinks) {
    // Each link left out for leading outside is named; the link to a folder is passed over.
    for (const char* name : {"notes.html", "absolute.html", "dangling.html"}) {
      EXPECT_NE(warnings_.find(dir_ / "site/" + name), std::string::npos) << name << warnings_;
    }
    EXPECT_EQ(warnings_.find("SECRET"), std::string::npos);
    EXPECT_EQ(warnings_.find("linked"), std::string::npos) << warnings_;
  }

  // A page or a dot folder named as a path is taken as given, and walked.
  const SiteWalker::Pages given = Walk(dir_ / "site/.hidden.html");
  EXPECT_EQ(given.paths, std::vector<std::string>{dir_ / "site/.hidden.html"});
  EXPECT_EQ(given.folderOf, std::vector<std::int32_t>{-1});
  EXPECT_EQ(Walk(dir_ / "site/.git").paths,
            std::vector<std::string>{dir_ / "site/.git/config.html"});
}

TEST_F(SiteWalkerTest, PageSwappedForALinkAfterTheWalkIsRefusedWhenOpened) {
  if (!kLinks) GTEST_SKIP() << "needs symbolic links";
  const SiteWalker::Pages walk = Walk(dir_ / "site");
  const std::string within = walk.folders[0];
  // Between the walk and the build's open, a page becomes a link out and a folder a link to one.
  fs::remove(dir_ / "site/index.html");
  fs::create_symlink("../private/notes.txt", dir_ / "site/index.html");
  fs::rename(dir_ / "site/sub", dir_ / "site/sub-was");
  fs::create_directory_symlink("../private", dir_ / "site/sub");

  PageFile file;
  for (const char* name : {"site/index.html", "site/sub/page.html"}) {
    EXPECT_FALSE(file.Open(dir_ / name, {PageFile::kDefaultMaxSize, within})) << name;
    EXPECT_NE(file.OpenError().find("lies outside " + within), std::string::npos)
        << file.OpenError();
  }
  EXPECT_TRUE(file.Open(dir_ / "site/UPPER.HTM", {PageFile::kDefaultMaxSize, within}));
}

}  // namespace
}  // namespace quarry
