// quarry-cli index on sites and paths that are not what a site owner means to index: pages that
// are empty, NUL, UTF-16, binary or never finish a tag; a FIFO and a device; names with blanks,
// line feeds and bytes that are not UTF-8; symbolic link loops; links out of the site; pages
// too large to read.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BadInputSupport.h"

namespace quarry::test {
namespace {

#ifdef QUARRY_CLI

class BadCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_ / "db");
    std::filesystem::create_directory(site_);
  }

  RunResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), QUARRY_CLI);
    RunResult r = RunProgram(args, dir_.Path());
    EXPECT_FALSE(r.timedOut) << "quarry-cli did not finish";
    EXPECT_EQ(r.signal, 0) << r.err;
    return r;
  }

  RunResult Index(std::vector<std::string> paths) {
    std::vector<std::string> args = {"index", "--db", dir_ / "db", "--no-progress"};
    args.insert(args.end(), paths.begin(), paths.end());
    return Cli(args);
  }

  std::vector<std::string> SavedPages() { return StringsOf(ReadFile(dir_ / "db/qryfDb.dat")); }

  TestDirectory dir_;
  std::string site_ = dir_ / "site";
};

TEST_F(BadCliTest, SiteOfBadPagesIndexesTheGoodOnesAndDropsTheRest) {
  std::mt19937 random(7);
  std::string binary(100000, '\0');
  for (char& c : binary) {
    c = static_cast<char>(random());
    if (c == 'h' || c == 'H') c = 'x';
  }
  std::string utf16 = "\xff\xfe";
  for (char c : std::string("<html><title>Wide</title>words</html>")) utf16 += {c, '\0'};

  WriteFile(site_ + "/good.html", "<html><title>Good</title>alpha beta</html>");
  WriteFile(site_ + "/empty.html", "");
  WriteFile(site_ + "/nul.html", std::string(4096, '\0'));
  WriteFile(site_ + "/utf16.html", utf16);
  WriteFile(site_ + "/binary.html", binary);
  WriteFile(site_ + "/open-tag.html", "<html>gamma <a href=\"" + std::string(1 << 20, 'x'));
  WriteFile(site_ + "/open-entity.html", "<html>delta &" + std::string(1 << 20, 'x'));
  ASSERT_EQ(mkfifo((site_ + "/fifo.html").c_str(), 0644), 0);

  const RunResult r = Index({site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Indexed 3 pages, dropped 4 (not HTML), skipped 0"), std::string::npos)
      << r.out;
  EXPECT_EQ(SavedPages(),
            (std::vector<std::string>{site_ + "/good.html", site_ + "/open-entity.html",
                                      site_ + "/open-tag.html"}));

  const RunResult words = Cli({"words", "--db", dir_ / "db"});
  EXPECT_EQ(words.exitCode, 0);
  for (const char* w : {"alpha", "beta", "gamma", "delta", "good"})
    EXPECT_NE(words.out.find(w), std::string::npos) << w;
}

TEST_F(BadCliTest, PathsWithBlanksLineFeedsAndOtherBytesAreStoredExactly) {
  const std::vector<std::string> names = {"a page.html", "line\nfeed.html", "\xff\xfe.html",
                                          "caf\xe9 \xc3\xa9t\xc3\xa9.HTML"};
  for (const std::string& name : names) WriteFile(site_ + "/" + name, "<html>text");

  const RunResult r = Index({site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // Ordered by bytes with A-Z folded: 'a' < 'c' < 'l' < 0xff.
  EXPECT_EQ(SavedPages(), (std::vector<std::string>{
                              site_ + "/a page.html", site_ + "/caf\xe9 \xc3\xa9t\xc3\xa9.HTML",
                              site_ + "/line\nfeed.html", site_ + "/\xff\xfe.html"}));

  // Given one by one as arguments, the same bytes come back from "pages -z".
  const RunResult again = Index({site_ + "/line\nfeed.html", site_ + "/\xff\xfe.html"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  const RunResult pages = Cli({"pages", "--db", dir_ / "db", "-z"});
  EXPECT_EQ(pages.exitCode, 0);
  const std::string first = site_ + "/line\nfeed.html";
  EXPECT_EQ(pages.out, std::string("0\t") + first + "\t" + first + '\0' + "1\t" + site_ +
                           "/\xff\xfe.html\t" + site_ + "/\xff\xfe.html" + '\0');
}

TEST_F(BadCliTest, SymbolicLinkLoopsAreNotFollowed) {
  std::filesystem::create_directory(site_ + "/sub");
  WriteFile(site_ + "/a.html", "<html>alpha");
  WriteFile(site_ + "/sub/b.html", "<html>beta");
  ASSERT_EQ(symlink(".", (site_ + "/loop").c_str()), 0);
  ASSERT_EQ(symlink("..", (site_ + "/sub/up").c_str()), 0);
  ASSERT_EQ(symlink(site_.c_str(), (site_ + "/sub/site.html").c_str()), 0);
  ASSERT_EQ(symlink("ring2", (site_ + "/ring1").c_str()), 0);
  ASSERT_EQ(symlink("ring1", (site_ + "/ring2").c_str()), 0);
  ASSERT_EQ(symlink("self.html", (site_ + "/self.html").c_str()), 0);

  const RunResult r = Index({site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SavedPages(), (std::vector<std::string>{site_ + "/a.html", site_ + "/sub/b.html"}));
  EXPECT_NE(r.err.find("self.html"), std::string::npos) << r.err;  // warned, not indexed

  // A loop given as the only PATH: skipped with the reason, and nothing is saved.
  const std::string before = ReadFile(dir_ / "db/qryfDb.dat");
  const RunResult alone = Index({site_ + "/self.html"});
  EXPECT_EQ(alone.exitCode, 1);
  EXPECT_NE(alone.err.find("Too many levels of symbolic links"), std::string::npos) << alone.err;
  EXPECT_NE(alone.err.find("No pages to save."), std::string::npos) << alone.err;
  EXPECT_EQ(ReadFile(dir_ / "db/qryfDb.dat"), before);
}

TEST_F(BadCliTest, FifoAndDeviceGivenAsPagesAreSkippedNotRead) {
  ASSERT_EQ(mkfifo((site_ + "/fifo.html").c_str(), 0644), 0);
  const RunResult r = Index({site_ + "/fifo.html", "/dev/zero"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("skipped " + site_ + "/fifo.html"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("skipped /dev/zero"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("No pages to save."), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "db/qrywDb.dat"));  // nothing left behind
}

TEST_F(BadCliTest, PrivateFileLinkedIntoTheSiteIsNotIndexed) {
  std::filesystem::create_directory(dir_ / "private");
  WriteFile(dir_ / "private/notes.txt", "<html>api_token=SECRET123");
  WriteFile(site_ + "/index.html", "<html>public");
  WriteFile(site_ + "/.env.html", "<html>dotsecret");
  ASSERT_EQ(symlink("../private/notes.txt", (site_ + "/notes.html").c_str()), 0);

  const RunResult r = Index({site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find(site_ + "/notes.html"), std::string::npos) << r.err;
  EXPECT_EQ(SavedPages(), std::vector<std::string>{site_ + "/index.html"});
  const std::string words = ReadFile(dir_ / "db/qrywDb.dat");
  EXPECT_EQ(words.find("secret123"), std::string::npos);
  EXPECT_EQ(words.find("dotsecret"), std::string::npos);

  // Named as a PATH, the link is taken as given.
  EXPECT_EQ(Index({site_ + "/notes.html"}).exitCode, 0);
  EXPECT_NE(ReadFile(dir_ / "db/qrywDb.dat").find("secret123"), std::string::npos);
}

TEST_F(BadCliTest, LargePagesAreSkippedAndMemoryStaysBounded) {
  // A sparse page of 2 GB costs nothing on disk; a page of 64 MiB and one byte is past the
  // limit; eight pages of 24 MiB read on eight threads must not all be held at once.
  const auto sparse = [](const std::string& path, std::string_view head, std::uintmax_t size) {
    WriteFile(path, head);
    std::filesystem::resize_file(path, size);
    std::ofstream(path, std::ios::binary | std::ios::app) << " lastword";
  };
  sparse(site_ + "/sparse.html", "<html>", std::uintmax_t{2} << 30);
  RunResult r = Index({site_ + "/sparse.html"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("skipped " + site_ + "/sparse.html: larger than 64 MiB"), std::string::npos)
      << r.err;
  EXPECT_LT(kMemoryMeasured ? r.maxRssKiB : 0, 100 << 10);
  std::filesystem::remove(site_ + "/sparse.html");

  WriteFile(site_ + "/small.html", "<html>" + std::string(1018, 'x'));  // 1 KiB
  WriteFile(site_ + "/over.html", "<html>" + std::string(1019, 'x'));
  r = Index({"--max-page-size", "1KiB", site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("skipped " + site_ + "/over.html: larger than 1 KiB"), std::string::npos)
      << r.err;
  EXPECT_EQ(SavedPages(), std::vector<std::string>{site_ + "/small.html"});

  for (int i = 0; i < 8; ++i) {
    sparse(site_ + "/page" + std::to_string(i) + ".html", "<html>", std::uintmax_t{24} << 20);
  }
  r = Index({"--jobs", "8", site_});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Indexed 10 pages"), std::string::npos) << r.out;
  EXPECT_LT(kMemoryMeasured ? r.maxRssKiB : 0, 100 << 10);  // all 8 at once: 200 MB
}

#endif  // QUARRY_CLI

}  // namespace
}  // namespace quarry::test
