#include "io/PageFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "io/FileError.h"

namespace quarry {
namespace {

namespace fs = std::filesystem;

class PageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(QUARRY_BINARY_DIR) / "page-file-test" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ / "page.htm", fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  std::string Write(const std::string& bytes, const std::string& name = "page.htm") {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  std::string ReadAll(const std::string& bytes) {
    PageFile file;
    EXPECT_TRUE(file.Open(Write(bytes))) << file.OpenError();
    return std::string(file.ReadRest());
  }

  std::vector<std::string> Pieces(PageFile& file, std::size_t size = 512) {
    std::vector<std::string> out;
    std::vector<char> buffer(size, 'Z');
    while (std::size_t n = file.ReadPiece(buffer.data(), size)) {
      EXPECT_EQ(buffer[n], '\0');
      out.emplace_back(buffer.data(), n);
    }
    return out;
  }

  fs::path dir_;
};

TEST_F(PageFileTest, FoldsCrLfPairsAndBlanksNulsAndChangesNothingElse) {
  const struct {
    std::string bytes, expected;
  } cases[] = {
      {"a\r\nb\r\n", "a\nb\n"},
      {"\r\n\r\n", "\n\n"},
      {"a\r", "a\r"},            // CR at the very end stays
      {"a\r\r\nb", "a\r\nb"},    // CR CR LF: only the pair folds
      {"a\rb\n\r", "a\rb\n\r"},  // lone CR, LF CR
      {std::string("a\0b\0", 4), "a b "},
      {std::string("\0\r\n\0", 4), " \n "},
      {"\x1a\xff\x80\t\v\f", "\x1a\xff\x80\t\v\f"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAll(c.bytes), c.expected) << c.bytes;
}

TEST_F(PageFileTest, FoldingALargeFileMatchesAPlainByteLoop) {
  std::mt19937 random(7);
  const char alphabet[] = {'\r', '\n', '\0', 'a', ' ', '\r'};
  std::string bytes(300000, 'x');
  for (char& c : bytes) c = alphabet[random() % sizeof alphabet];
  std::string expected;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    expected += bytes[i] == '\0' ? ' ' : bytes[i];
  }
  EXPECT_EQ(ReadAll(bytes), expected);
}

TEST_F(PageFileTest, PiecesEndAfterLineFeedOrAt511Bytes) {
  PageFile file;
  ASSERT_TRUE(file.Open(Write(std::string(600, 'x') + "\nab\r\n" + std::string(511, 'y') + "\n" +
                              std::string(509, 'z') + "\r\nc")));
  const std::vector<std::string> expected = {
      std::string(511, 'x'),
      std::string(89, 'x') + "\n",
      "ab\n",
      std::string(511, 'y'),
      "\n",
      std::string(509, 'z') + "\n",  // the folded pair still fits in one piece
      "c"};
  EXPECT_EQ(Pieces(file), expected);
  char buffer[512] = "junk";
  EXPECT_EQ(file.ReadPiece(buffer, sizeof buffer), 0u);  // the end stays the end
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(PageFileTest, ReadRestRewindAndSmallPieces) {
  PageFile file;
  ASSERT_TRUE(file.Open(Write("one\r\ntwo\nthree")));
  EXPECT_EQ(Pieces(file, 3), (std::vector<std::string>{"on", "e\n", "tw", "o\n", "th", "re", "e"}));
  file.Rewind();
  char buffer[512];
  ASSERT_EQ(file.ReadPiece(buffer, sizeof buffer), 4u);
  EXPECT_EQ(file.ReadRest(), "two\nthree");
  EXPECT_EQ(file.ReadRest(), "");
  EXPECT_EQ(file.ReadPiece(buffer, sizeof buffer), 0u);
  file.Rewind();
  EXPECT_EQ(file.ReadRest(), "one\ntwo\nthree");
}

TEST_F(PageFileTest, EmptyFileOpensAndYieldsNothing) {
  PageFile file;
  ASSERT_TRUE(file.Open(Write("")));
  char buffer[512];
  EXPECT_EQ(file.ReadPiece(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.ReadRest(), "");
}

TEST_F(PageFileTest, ReadsUpToTheSizeAtOpenAndRefusesALargerFile) {
  const struct {
    std::string bytes;
    std::uint64_t maxSize;
    const char* error;  // nullptr: opens and reads the bytes
  } rows[] = {
      {"0123456789", 10, nullptr},
      {"0123456789", 9, "larger than 9 bytes"},
      {std::string(2048, 'x'), 1024, "larger than 1 KiB"},
      {std::string(2048, 'x'), 2048, nullptr},
      {"", 0, nullptr},
  };
  for (const auto& row : rows) {
    PageFile file;
    const bool opened = file.Open(Write(row.bytes), {row.maxSize, {}});
    EXPECT_EQ(opened, row.error == nullptr) << row.maxSize;
    EXPECT_EQ(opened ? std::string(file.ReadRest()) : file.OpenError(),
              opened ? row.bytes : std::string(row.error ? row.error : ""));
  }
  EXPECT_EQ(PageFile::SizeText(PageFile::kDefaultMaxSize), "64 MiB");

  // Bytes written after the open are not read: a page that grows is read as it was.
  PageFile file;
  ASSERT_TRUE(file.Open(Write("<html>before")));
  std::ofstream(dir_ / "page.htm", std::ios::binary | std::ios::app) << std::string(100000, 'x');
  EXPECT_EQ(file.ReadRest(), "<html>before");
}

TEST_F(PageFileTest, LiesBelowComparesWholeParts) {
  const struct {
    const char* folder;
    const char* path;
    bool below;
  } rows[] = {
      {"/site", "/site/a.html", true},
      {"/site", "/site", true},
      {"/site", "/sites/a.html", false},
      {"/site", "/private/a.html", false},
      {"/", "/a.html", true},
      {"C:/", "C:/site/a.html", true},
      {"C:/site", "C:/site2/a", false},
      {"", "/a.html", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PageFile::LiesBelow(row.folder, row.path), row.below)
        << row.folder << " " << row.path;
  }
}

#ifdef _WIN32

TEST_F(PageFileTest, DirectoryDeviceAndMissingFileCannotBeOpened) {
  PageFile file;
  EXPECT_FALSE(file.Open(dir_.string()));
  EXPECT_FALSE(file.OpenError().empty());
  EXPECT_FALSE(file.Open((dir_ / "missing.htm").string()));
  EXPECT_FALSE(file.OpenError().empty());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Open("NUL"));
}

TEST_F(PageFileTest, FileHeldWithoutSharingElsewhereCannotBeOpened) {
  const std::string path = Write("<html>");
  const HANDLE holder = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  PageFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_EQ(file.OpenError(), "Locked by another process");
  ::CloseHandle(holder);
  ASSERT_TRUE(file.Open(path));
  PageFile reader;  // readers do not exclude each other
  EXPECT_TRUE(reader.Open(path));
}

#else

TEST_F(PageFileTest, ReadsPastTheSizeTheSystemReportsUpToTheLimit) {
  PageFile file;  // /proc files report size 0 but have contents
  ASSERT_TRUE(file.Open("/proc/self/status"));
  EXPECT_NE(file.ReadRest().find("Name:"), std::string_view::npos);
  EXPECT_FALSE(file.Open("/proc/self/status", {16, {}}));
  EXPECT_EQ(file.OpenError(), "larger than 16 bytes");
}

TEST_F(PageFileTest, FileOutsideTheFolderGivenCannotBeOpened) {
  fs::create_directories(dir_ / "site");
  fs::create_directories(dir_ / "private");
  Write("<html>public", "site/a.html");
  Write("<html>secret", "private/notes.txt");
  fs::create_symlink("../private/notes.txt", dir_ / "site/notes.html");
  fs::create_symlink("a.html", dir_ / "site/inside.html");
  const std::string site = fs::canonical(dir_ / "site").string();
  PageFile file;
  for (const char* name : {"a.html", "inside.html"}) {
    EXPECT_TRUE(file.Open((dir_ / "site" / name).string(), {1024, site})) << file.OpenError();
  }
  EXPECT_FALSE(file.Open((dir_ / "site/notes.html").string(), {1024, site}));
  EXPECT_EQ(file.OpenError(), "its real path " +
                                  fs::canonical(dir_ / "private/notes.txt").string() +
                                  " lies outside " + site);
  EXPECT_TRUE(file.Open((dir_ / "site/notes.html").string()));  // no folder given: as given
}

TEST_F(PageFileTest, DirectoryFifoAndMissingFileCannotBeOpenedAndNeverBlock) {
  PageFile file;
  EXPECT_FALSE(file.Open(dir_.string()));
  EXPECT_FALSE(file.OpenError().empty());
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(file.Open(fifo));  // no writer: a blocking open would hang here
  EXPECT_FALSE(file.Open((dir_ / "missing.htm").string()));
  EXPECT_EQ(file.OpenError(), "No such file or directory");
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Open("/dev/null"));
}

TEST_F(PageFileTest, UnreadableFileCannotBeOpened) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
  const std::string path = Write("<html>");
  fs::permissions(path, fs::perms::none);
  PageFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_EQ(file.OpenError(), "Permission denied");
}

TEST_F(PageFileTest, FileLockedExclusivelyElsewhereCannotBeOpened) {
  const std::string path = Write("<html>");
  // flock() locks belong to an open file description, so a second open in this process
  // conflicts as another process's would.
  const int holder = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  PageFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_EQ(file.OpenError(), "Locked by another process");
  ::close(holder);
  ASSERT_TRUE(file.Open(path));
  PageFile reader;  // shared readers do not exclude each other
  EXPECT_TRUE(reader.Open(path));
}

#endif

TEST_F(PageFileTest, CloseIsIdempotentAndReopenStartsAfresh) {
  PageFile file;
  file.Close();
  ASSERT_TRUE(file.Open(Write("first", "a.htm")));
  EXPECT_EQ(file.ReadRest(), "first");
  file.Close();
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_THROW(file.ReadRest(), FileError);  // nothing open to read
  ASSERT_TRUE(file.Open(Write("second", "b.htm")));
  ASSERT_TRUE(file.Open(Write("third", "c.htm")));  // opening again closes the first
  EXPECT_EQ(file.ReadRest(), "third");
}

}  // namespace
}  // namespace quarry
