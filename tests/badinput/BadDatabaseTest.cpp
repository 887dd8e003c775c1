// Databases quarry-cli cannot use as they are: a directory that is a file, a read-only one, and
// database files that are truncated or hold random bytes. Each gets a clear message or reads as
// far as it can, nothing crashes, and no file is changed by a command that fails or only reads.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BadInputSupport.h"

namespace quarry::test {
namespace {

#ifdef QUARRY_CLI

constexpr std::array<const char*, 3> kFiles = {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"};

class BadDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(db_);
    std::filesystem::create_directory(site_);
    WriteFile(site_ + "/a.html", "<html><title>First</title>alpha beta gamma</html>");
    WriteFile(site_ + "/b.html", "<html><title>Second</title>beta delta</html>");
  }

  RunResult Cli(std::vector<std::string> args, std::vector<std::string> prefix = {}) {
    args.insert(args.begin(), QUARRY_CLI);
    args.insert(args.begin(), prefix.begin(), prefix.end());
    RunResult r = RunProgram(args, dir_.Path());
    EXPECT_FALSE(r.timedOut) << "quarry-cli did not finish";
    EXPECT_EQ(r.signal, 0) << r.err;
    return r;
  }

  RunResult Build(const std::vector<std::string>& prefix = {}) {
    return Cli({"index", "--db", db_, "--no-progress", site_}, prefix);
  }

  std::array<std::string, 3> Files() {
    return {ReadFile(db_ + "/" + kFiles[0]), ReadFile(db_ + "/" + kFiles[1]),
            ReadFile(db_ + "/" + kFiles[2])};
  }

  TestDirectory dir_;
  std::string db_ = dir_ / "db";
  std::string site_ = dir_ / "site";
};

TEST_F(BadDatabaseTest, DirectoryThatIsAFileIsAUsageError) {
  WriteFile(dir_ / "file", "not a directory");
  for (const char* command : {"index", "info", "pages", "words"}) {
    std::vector<std::string> args = {command, "--db", dir_ / "file"};
    if (std::string(command) == "index") args.push_back(site_);
    const RunResult r = Cli(args);
    EXPECT_EQ(r.exitCode, 2) << command;
    EXPECT_NE(r.err.find("--db"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadFile(dir_ / "file"), "not a directory");
}

TEST_F(BadDatabaseTest, MissingDatabaseIsReportedNotCreatedByReadingCommands) {
  for (const char* command : {"info", "pages", "words"}) {
    const RunResult r = Cli({command, "--db", db_});
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_NE(r.err.find("No index here"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(db_));
}

// Runs the rest of the command line in a private mount namespace in which db is mounted
// read-only, or returns an empty prefix when this process may not do that.
std::vector<std::string> ReadOnlyMountPrefix(const std::string& db, const std::string& cwd) {
  std::vector<std::string> prefix = {"/usr/bin/unshare",
                                     "-m",
                                     "--propagation",
                                     "private",
                                     "/bin/sh",
                                     "-c",
                                     "mount --bind -o ro \"$0\" \"$0\" && exec \"$@\"",
                                     db};
  std::vector<std::string> probe = prefix;
  probe.push_back("/bin/true");
  if (!std::filesystem::exists(prefix[0]) || RunProgram(probe, cwd, 30).exitCode != 0) return {};
  return prefix;
}

TEST_F(BadDatabaseTest, ReadOnlyDatabaseIsReadButNotWritten) {
  ASSERT_EQ(Build().exitCode, 0);
  const auto before = Files();
  const std::vector<std::string> readOnly = ReadOnlyMountPrefix(db_, dir_.Path());
  if (readOnly.empty()) GTEST_SKIP() << "cannot mount a read-only directory here (needs root)";

  WriteFile(site_ + "/c.html", "<html>more");
  const RunResult index = Build(readOnly);
  EXPECT_EQ(index.exitCode, 1);
  EXPECT_NE(index.err.find("Error opening database.  Make sure it is not being used and that it "
                           "has write access."),
            std::string::npos)
      << index.err;
  EXPECT_NE(index.err.find("Read-only file system"), std::string::npos) << index.err;

  // The reading commands open the index read-only: a read-only copy serves them.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info"}, {"pages"}, {"words"}, {"search", "beta"}}) {
    std::vector<std::string> full = args;
    full.insert(full.end(), {"--db", db_});
    const RunResult r = Cli(full, readOnly);
    EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
  }
  EXPECT_EQ(Files(), before);
}

// Runs the rest of the command line as the user nobody, when this process is root and may.
std::vector<std::string> AsNobodyPrefix(const std::string& cwd) {
  std::vector<std::string> prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups"};
  std::vector<std::string> probe = prefix;
  probe.push_back("/bin/true");
  if (geteuid() != 0 || !std::filesystem::exists(prefix[0]) ||
      RunProgram(probe, cwd, 30).exitCode != 0)
    return {};
  return prefix;
}

TEST_F(BadDatabaseTest, SaveIntoDirectoryThatCannotTakeNewFilesKeepsTheOldIndex) {
  ASSERT_EQ(Build().exitCode, 0);
  const auto before = Files();
  const std::vector<std::string> nobody = AsNobodyPrefix(dir_.Path());
  if (nobody.empty()) GTEST_SKIP() << "cannot run as another user here (needs root and setpriv)";

  // nobody may open and lock the three files, read the site and write its output, but may not
  // create a file in the database directory.
  namespace fs = std::filesystem;
  fs::permissions(dir_.Path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(site_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  for (const char* name : kFiles)
    fs::permissions(db_ + "/" + name, fs::perms::others_read | fs::perms::others_write,
                    fs::perm_options::add);
  fs::permissions(db_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> help = nobody;
  help.insert(help.end(), {QUARRY_CLI, "--help"});
  if (RunProgram(help, dir_.Path()).exitCode != 0)
    GTEST_SKIP() << "nobody cannot run " << QUARRY_CLI;

  WriteFile(site_ + "/c.html", "<html>more");
  fs::permissions(site_ + "/c.html", fs::perms::others_read, fs::perm_options::add);
  const RunResult r = Build(nobody);
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.err.find("quarry-cli: Saving the index failed: Permission denied; the previous "
                       "index is kept.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Files(), before);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(db_)) names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{kFiles.begin(), kFiles.end()}));
}

TEST_F(BadDatabaseTest, PageFileOfNulBytesIsReadWithinSixTimesItsSize) {
  // A header claiming a payload of 32 MiB, all NUL bytes (sparse: nothing on disk): 32 Mi empty
  // paths. A string a record took 35 times the payload.
  ASSERT_EQ(Build().exitCode, 0);
  constexpr std::int32_t kPayload = 32 << 20;
  std::string header = ReadFile(db_ + "/qryfDb.dat").substr(0, 32);
  for (std::size_t i = 0; i < 4; ++i) {
    header[8 + i] = static_cast<char>(((kPayload + 32) >> (8 * i)) & 0xff);
  }
  WriteFile(db_ + "/qryfDb.dat", header);
  std::filesystem::resize_file(db_ + "/qryfDb.dat", kPayload + 32);
  const RunResult r = Cli({"search", "--db", db_, "beta"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("damaged index: page and title files differ in length"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "0\t\tfirst\n");  // the page of "beta", its path now empty
  EXPECT_LT(kMemoryMeasured ? r.maxRssKiB : 0, 6 * (kPayload >> 10));
}

// Damages the built database in one way, then runs every reading command and a new build.
class DamagedDatabaseTest : public BadDatabaseTest,
                            public ::testing::WithParamInterface<const char*> {
 protected:
  void Damage(const std::string& how) {
    std::mt19937 random(11);
    const auto noise = [&random](std::size_t n) {
      std::string s(n, '\0');
      for (char& c : s) c = static_cast<char>(random());
      return s;
    };
    const auto path = [this](int i) { return db_ + "/" + kFiles[static_cast<std::size_t>(i)]; };
    const auto cut = [&](int i, std::size_t n) {
      std::filesystem::resize_file(
          path(i), std::min<std::uintmax_t>(n, std::filesystem::file_size(path(i))));
    };
    if (how == "word-file-cut-in-a-record") cut(0, 45);
    if (how == "page-file-cut-in-its-header") cut(1, 10);
    if (how == "title-file-cut-in-a-string") cut(2, 36);
    if (how == "headers-only-kept") {
      for (int i = 0; i < 3; ++i) cut(i, 32);
    }
    if (how == "page-file-emptied") WriteFile(path(1), "");
    if (how == "page-file-removed") std::filesystem::remove(path(1));
    if (how == "random-bytes-same-sizes") {
      for (int i = 0; i < 3; ++i) WriteFile(path(i), noise(std::filesystem::file_size(path(i))));
    }
    if (how == "random-bytes-any-sizes") {
      WriteFile(path(0), noise(7));
      WriteFile(path(1), noise(3000));
      WriteFile(path(2), noise(100));
    }
    if (how == "random-after-headers") {
      for (int i = 0; i < 3; ++i) {
        const std::string header = ReadFile(path(i)).substr(0, 32);
        WriteFile(path(i), header + noise(200));
      }
    }
  }
};

// The problems each reading command names for a damage, as the search page names them; the
// damages not listed give problems that depend on the random bytes, or are refused outright.
const std::map<std::string, std::string> kProblems = {
    {"word-file-cut-in-a-record",
     "qrywDb.dat: size differs from its header\nqrywDb.dat: damaged records\n"},
    {"page-file-cut-in-its-header",
     "qryfDb.dat: size differs from its header\npage and title files differ in length\n"
     "page numbers beyond the page file\n"},
    {"title-file-cut-in-a-string",
     "qryiDb.dat: size differs from its header\npage and title files differ in length\n"},
    {"headers-only-kept",
     "qrywDb.dat: size differs from its header\nqryfDb.dat: size differs from its header\n"
     "qryiDb.dat: size differs from its header\nqrywDb.dat: damaged records\n"},
    {"sound", ""},
};

TEST_P(DamagedDatabaseTest, ReadsWithoutHarmAndBuildsAnew) {
  ASSERT_EQ(Build().exitCode, 0);
  Damage(GetParam());
  const auto damaged = Files();

  const auto expected = kProblems.find(GetParam());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info"}, {"pages"}, {"words"}, {"search", "beta"}}) {
    std::vector<std::string> full = args;
    full.insert(full.end(), {"--db", db_});
    const RunResult r = Cli(full);
    EXPECT_TRUE(r.exitCode == 0 || (r.exitCode == 1 && !r.err.empty())) << args[0] << ": " << r.err;
    EXPECT_EQ(Files(), damaged) << args[0] << " changed the files";
    if (expected != kProblems.end()) {
      std::string named;
      for (std::size_t at = 0; (at = r.err.find("damaged index: ", at)) != std::string::npos;) {
        at += 15;
        named += r.err.substr(at, r.err.find('\n', at) + 1 - at);
      }
      EXPECT_EQ(named, expected->second) << args[0] << ": " << r.err;
      EXPECT_EQ(r.exitCode, expected->second.empty() ? 0 : 1) << args[0];
      EXPECT_EQ(expected->second.empty() ? r.err : "", "") << args[0];
    }
  }

  // A new build replaces the damaged index with a sound one.
  const RunResult build = Build();
  EXPECT_EQ(build.exitCode, 0) << build.err;
  EXPECT_NE(build.out.find("Words: 5\nPages: 2\n"), std::string::npos) << build.out;
  const RunResult pages = Cli({"pages", "--db", db_});
  EXPECT_EQ(pages.out, "0\t" + site_ + "/a.html\tfirst\n1\t" + site_ + "/b.html\tsecond\n");
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedDatabaseTest,
                         ::testing::Values("sound", "word-file-cut-in-a-record",
                                           "page-file-cut-in-its-header",
                                           "title-file-cut-in-a-string", "headers-only-kept",
                                           "page-file-emptied", "page-file-removed",
                                           "random-bytes-same-sizes", "random-bytes-any-sizes",
                                           "random-after-headers"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           std::string name = param.param;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

#endif  // QUARRY_CLI

}  // namespace
}  // namespace quarry::test
