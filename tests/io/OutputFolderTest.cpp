#include "io/OutputFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "io/FileError.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

using Entry = OutputFolder::Entry;
namespace fs = std::filesystem;

using test::kLinks;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(OutputFolderTest, OpenMakesOnlyTheLastFolder) {
  const test::TestDirectory dir("output-folder");
  dir.Write("file", "");
  struct Row {
    const char* name;
    bool create;
    int error;  // 0 when it opens
  };
  const Row rows[] = {
      {"", false, 0},           {"missing", false, ENOENT}, {"new", true, 0},
      {"new", true, 0},         {"new/", false, 0},         {"no/parent", true, ENOENT},
      {"file", false, ENOTDIR}, {"file", true, ENOTDIR},
  };
  for (const Row& row : rows) {
    OutputFolder out;
    const std::string path = *row.name == '\0' ? dir.Path() : dir / row.name;
    EXPECT_EQ(out.Open(path, row.create), row.error == 0) << row.name;
    EXPECT_EQ(out.ErrorNumber(), row.error) << row.name << ": " << out.Error();
    EXPECT_TRUE(row.error == 0 || out.Error().rfind(path + ": ", 0) == 0) << out.Error();
  }
  EXPECT_FALSE(dir.Exists("no"));
}

TEST(OutputFolderTest, InspectTellsWhatMayBeReplaced) {
  const test::TestDirectory dir("output-folder");
  dir.Write("marked", "<!-- made here --> page");
  dir.Write("late", std::string(100, ' ') + "made here");
  dir.Write("other", "<html>a site's own page");
  dir.Write("empty", "");
  fs::create_directory(dir / "folder");
  if (kLinks) fs::create_symlink("marked", dir / "link");
  struct Row {
    const char* name;
    Entry entry;
  };
  const Row rows[] = {
      {"missing", Entry::kMissing}, {"marked", Entry::kMarked},  {"late", Entry::kUnmarked},
      {"other", Entry::kUnmarked},  {"empty", Entry::kUnmarked}, {"folder", Entry::kNotRegular},
      {"link", Entry::kNotRegular},
  };
  OutputFolder out;
  ASSERT_TRUE(out.Open(dir.Path(), false)) << out.Error();
  for (const Row& row : rows) {
    if (std::string(row.name) == "link" && !kLinks) continue;
    EXPECT_EQ(out.Inspect(row.name, "made here", 64), row.entry) << row.name;
  }
  EXPECT_EQ(out.Inspect("late", "made here", 200), Entry::kMarked);
  EXPECT_EQ(out.Inspect("other", "", 0), Entry::kMarked);  // no mark asked: any regular file
}

TEST(OutputFolderTest, ReplaceRenamesANewFileOverTheName) {
  const test::TestDirectory dir("output-folder");
  dir.Write("old", "old bytes");
  dir.Write("target", "kept");
  if (kLinks) fs::create_symlink("target", dir / "link");
  OutputFolder out;
  ASSERT_TRUE(out.Open(dir.Path(), false)) << out.Error();
  out.Replace("new", std::string("new\0bytes", 9));
  out.Replace("old", "");
  if (kLinks) out.Replace("link", "the link's place");  // the link goes, not through it
  out.Sync();
  EXPECT_EQ(dir.Read("new"), std::string("new\0bytes", 9));
  EXPECT_EQ(dir.Read("old"), "");
  EXPECT_EQ(dir.Read("target"), "kept");
  std::vector<std::string> expected{"new", "old", "target"};
  if (kLinks) {
    EXPECT_FALSE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(dir.Read("link"), "the link's place");
    expected.insert(expected.begin(), "link");
  }
  EXPECT_EQ(Names(dir.Path()), expected);  // no temporary file left

  fs::create_directory(dir / "folder");
  dir.Write("folder/inside", "");
  EXPECT_THROW(out.Replace("folder", "x"), FileError);  // a folder is never replaced
  EXPECT_EQ(Names(dir.Path()).size(), expected.size() + 1);
}

TEST(OutputFolderTest, PathOfNamesTheFolderAsGiven) {
  const test::TestDirectory dir("output-folder");
  struct Here {  // the test's folder is the current one until the test ends
    explicit Here(const std::string& path) { fs::current_path(path); }
    ~Here() { fs::current_path(before); }
    fs::path before = fs::current_path();
  } here(dir.Path());
  for (const auto& [given, shown] : std::vector<std::pair<std::string, std::string>>{
           {"", "a.html"}, {".", "./a.html"}, {"out", "out/a.html"}, {"out/", "out/a.html"}}) {
    OutputFolder out;
    ASSERT_TRUE(out.Open(given, true)) << out.Error();
    EXPECT_EQ(out.PathOf("a.html"), shown) << given;
  }
}

}  // namespace
}  // namespace quarry
