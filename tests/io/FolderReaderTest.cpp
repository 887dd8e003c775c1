#include "io/FolderReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/TestDirectory.h"

namespace quarry {
namespace {

using Kind = FolderReader::Kind;
namespace fs = std::filesystem;

using test::kLinks;

// A folder with a file f, a folder d holding g, and (where links can be made) a link lf to f,
// a link ld to d and a link nowhere that leads nowhere.
class FolderReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("f", "file");
    fs::create_directory(dir_ / "d");
    dir_.Write("d/g", "");
    if (kLinks) {
      fs::create_symlink("f", dir_ / "lf");
      fs::create_directory_symlink("d", dir_ / "ld");
      fs::create_symlink("missing", dir_ / "nowhere");
    }
  }
  test::TestDirectory dir_{"folder-reader"};
};

TEST_F(FolderReaderTest, KindOfWithAndWithoutFollowingLinks) {
  struct Row {
    const char* name;
    bool link;  // the row needs links
    Kind kind;
    Kind followed;
  };
  const Row rows[] = {
      {"f", false, Kind::kFile, Kind::kFile},
      {"d", false, Kind::kFolder, Kind::kFolder},
      {"d/g", false, Kind::kFile, Kind::kFile},
      {"missing", false, Kind::kMissing, Kind::kMissing},
      {"f/g", false, Kind::kMissing, Kind::kMissing},
      {"lf", true, Kind::kLink, Kind::kFile},
      {"ld", true, Kind::kLink, Kind::kFolder},
      {"nowhere", true, Kind::kLink, Kind::kMissing},
  };
  for (const Row& row : rows) {
    if (row.link && !kLinks) continue;
    EXPECT_EQ(FolderReader::KindOf(dir_ / row.name, false), row.kind) << row.name;
    EXPECT_EQ(FolderReader::KindOf(dir_ / row.name, true), row.followed) << row.name;
  }
  std::string error;
  EXPECT_EQ(FolderReader::KindOf(dir_ / "missing", false, &error), Kind::kMissing);
  EXPECT_FALSE(error.empty());
}

TEST_F(FolderReaderTest, NextGivesEveryEntryOnceWithItsKind) {
  FolderReader reader;
  ASSERT_TRUE(reader.Open(dir_.Path())) << reader.Error();
  std::map<std::string, Kind> entries;
  FolderReader::Entry entry;
  while (reader.Next(entry)) EXPECT_TRUE(entries.emplace(entry.name, entry.kind).second);
  EXPECT_TRUE(reader.Error().empty());
  std::map<std::string, Kind> expected{{"f", Kind::kFile}, {"d", Kind::kFolder}};
  if (kLinks) expected.insert({{"lf", Kind::kLink}, {"ld", Kind::kLink}, {"nowhere", Kind::kLink}});
  EXPECT_EQ(entries, expected);

  EXPECT_FALSE(reader.Open(dir_ / "missing"));
  EXPECT_FALSE(reader.Error().empty());
  EXPECT_FALSE(reader.Next(entry));
  EXPECT_FALSE(reader.Open(dir_ / "f"));
}

TEST_F(FolderReaderTest, RealPathAndSameResolveLinksAndDots) {
  const std::string real = FolderReader::RealPath(dir_ / "f");
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.find('\\'), std::string::npos) << real;  // '/' between parts on both systems
  struct Row {
    const char* name;
    bool link;
    const char* sameAs;  // a name giving the same real path, or "" for none
  };
  const Row rows[] = {
      {"f", false, "f"}, {"./d/../f", false, "f"}, {"d/", false, "d"},    {"missing", false, ""},
      {"lf", true, "f"}, {"ld/g", true, "d/g"},    {"nowhere", true, ""},
  };
  for (const Row& row : rows) {
    if (row.link && !kLinks) continue;
    const std::string path = dir_ / row.name;
    if (*row.sameAs == '\0') {
      EXPECT_EQ(FolderReader::RealPath(path), "") << row.name;
      EXPECT_FALSE(FolderReader::Same(path, path)) << row.name;
    } else {
      EXPECT_EQ(FolderReader::RealPath(path), FolderReader::RealPath(dir_ / row.sameAs))
          << row.name;
      EXPECT_TRUE(FolderReader::Same(path, dir_ / row.sameAs)) << row.name;
    }
  }
  EXPECT_FALSE(FolderReader::Same(dir_ / "f", dir_ / "d"));
  EXPECT_EQ(FolderReader::RealPath(""), FolderReader::RealPath("."));
  EXPECT_FALSE(FolderReader::RealPath("").empty());
}

TEST_F(FolderReaderTest, MakeFolderAndRemoveEmptyFolder) {
  std::string error;
  EXPECT_TRUE(FolderReader::MakeFolder(dir_ / "new", &error)) << error;
  EXPECT_EQ(FolderReader::KindOf(dir_ / "new", false), Kind::kFolder);
  EXPECT_FALSE(FolderReader::MakeFolder(dir_ / "new", &error));  // already there
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(FolderReader::MakeFolder(dir_ / "missing/new", &error));  // no parent
  EXPECT_FALSE(error.empty());

  FolderReader::RemoveEmptyFolder(dir_ / "new");
  EXPECT_EQ(FolderReader::KindOf(dir_ / "new", false), Kind::kMissing);
  FolderReader::RemoveEmptyFolder(dir_ / "d");  // not empty: stays, with its file
  EXPECT_EQ(FolderReader::KindOf(dir_ / "d/g", false), Kind::kFile);
  FolderReader::RemoveEmptyFolder(dir_ / "missing");  // nothing there: ignored
}

}  // namespace
}  // namespace quarry
