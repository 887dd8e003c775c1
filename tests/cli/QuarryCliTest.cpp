// Runs quarry-cli on the sample site under tests/data/site and on pages made at run time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "database/IndexDatabase.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class QuarryCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarry-cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::chmod(dir_.c_str(), 0755);  // readable by the unprivileged runs below
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::all, ignored);
    for (auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
      if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    }
    fs::remove_all(dir_, ignored);
  }

  // Runs quarry-cli with args in the test directory, as uid when it is not the current one
  // (only possible for root; the program is then the copy CopyProgram made).
  Result Run(const std::vector<std::string>& args, uid_t uid = ::geteuid()) {
    return RunIn("", args, uid);
  }
  // As Run, in the folder below the test directory (its own path when "").
  Result RunIn(const std::string& folder, const std::vector<std::string>& args,
               uid_t uid = ::geteuid()) {
    const std::string cwd = folder.empty() ? dir_ : dir_ + "/" + folder;
    const std::string program = uid == ::geteuid() ? std::string(QUARRY_CLI) : Path("quarry-cli");
    const std::string outPath = dir_ + "/.out";
    const std::string errPath = dir_ + "/.err";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
      if (::chdir(cwd.c_str()) != 0) ::_exit(127);
      if (uid != ::geteuid() && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(127);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    Result result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return result;
  }

  // Copies the sample site to <test dir>/site.
  void CopySite() {
    fs::copy(std::string(QUARRY_TEST_DATA_DIR) + "/site", dir_ + "/site",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // The three database files of folder, read whole ("" for a missing file).
  std::vector<std::string> Database(const std::string& folder) const {
    std::vector<std::string> files;
    for (const char* name : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
      const std::string path = Path(folder) + "/" + name;
      files.push_back(fs::exists(path) ? ReadFile(path) : std::string("(missing)"));
    }
    return files;
  }

  // The bundle whose manifest is in folder lists url as the link of page 0.
  void BundleDirectoryMustLink(const std::string& folder, const std::string& url) const {
    std::string found;
    for (const auto& entry : fs::directory_iterator(Path(folder) + "/quarry-bundle")) {
      const std::string name = entry.path().filename();
      if (name.rfind("d-", 0) != 0) continue;
      const std::string command = "gzip -dc '" + entry.path().string() + "'";
      if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) found.append(buffer, got);
        ::pclose(pipe);
      }
    }
    EXPECT_NE(found.find("\"" + url + "\""), std::string::npos) << found;
  }

  std::string dir_;
};

const char* const kSitePages =
    "0\tsite/_hidden.html\thidden page\n"
    "1\tsite/assets/sidebar.HTML\tsidebar\n"
    "2\tsite/blog/2024/post.Html\ta title that runs on\n"
    "3\tsite/blog/index.htm\tsite/blog/index.htm\n"
    "4\tsite/docs/api/notes.html\tsite/docs/api/notes.html\n"
    "5\tsite/docs/api/reference.htm\tapi reference\n"
    "6\tsite/docs/guide.html\t  the guide  \n"
    "7\tsite/docs/INDEX.HTM\tdocumentation index\n"
    "8\tsite/guide-link.html\t  the guide  \n"
    "9\tsite/index.html\tquarry sample site\n"
    "10\tsite/spacing.html\tspacing\n";

TEST_F(QuarryCliTest, IndexesTheSampleSite) {
  CopySite();
  // Things the walk must pass over or survive: a FIFO (given again by name, so it is skipped
  // with a warning), a dangling link, a link loop and a folder named like a page.
  ASSERT_EQ(::mkfifo(Path("site/fifo.html").c_str(), 0644), 0);
  fs::create_symlink("nowhere.html", Path("site/dangling.html"));
  fs::create_symlink("..", Path("site/docs/loop"));
  fs::create_symlink("self.html", Path("site/docs/self.html"));
  fs::create_directory(Path("site/folder.html"));
  fs::create_directory(Path("db"));

  const Result index = Run({"index", "--db", "db", "site", "site/fifo.html"});
  ASSERT_EQ(index.status, 0) << index.err;
  EXPECT_NE(index.out.find("Indexed 11 pages, dropped 2 (not HTML), skipped 1 (cannot be "
                           "opened).\n"),
            std::string::npos)
      << index.out;
  EXPECT_NE(index.out.find("Pages: 11\n"), std::string::npos) << index.out;
  EXPECT_NE(index.err.find("skipped site/fifo.html"), std::string::npos) << index.err;
  EXPECT_NE(index.err.find("site/dangling.html"), std::string::npos) << index.err;
  EXPECT_NE(index.err.find("site/docs/self.html"), std::string::npos) << index.err;

  // The files are those the window's Build and Save make of the same pages.
  const std::string expected = std::string(QUARRY_TEST_DATA_DIR) + "/site-expected/";
  const std::vector<std::string> files = Database("db");
  EXPECT_EQ(files[0], ReadFile(expected + "qrywDb.dat"));
  EXPECT_EQ(files[1], ReadFile(expected + "qryfDb.dat"));
  EXPECT_EQ(files[2], ReadFile(expected + "qryiDb.dat"));

  const Result pages = Run({"pages", "--db", "db"});
  EXPECT_EQ(pages.status, 0);
  EXPECT_EQ(pages.out, kSitePages);

  const Result words = Run({"words", "--db", "db"});
  EXPECT_EQ(words.status, 0);
  EXPECT_NE(words.out.find("\nfinale\t9\n"), std::string::npos) << words.out;
  EXPECT_NE(words.out.find("\ncaf\xc3\xa9\t9\n"), std::string::npos) << words.out;
  EXPECT_EQ(words.out.find("scriptword"), std::string::npos);
  EXPECT_EQ(words.out.find("markup"), std::string::npos);  // readme.html was dropped

  const Result info = Run({"info", "--db", "db"});
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("Words: "), std::string::npos);
  EXPECT_NE(info.out.find("qrywDb.dat\n"), std::string::npos);
}

TEST_F(QuarryCliTest, SearchFindsPagesHoldingEveryWord) {
  CopySite();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);

  const Result both = Run({"search", "Guide,", "REFERENCE"});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out,
            "2\tsite/blog/2024/post.Html\ta title that runs on\n"
            "7\tsite/docs/INDEX.HTM\tdocumentation index\n");

  const Result phrase = Run({"search", "the guide"});
  EXPECT_EQ(phrase.status, 0);
  EXPECT_NE(phrase.out.find("7\tsite/docs/INDEX.HTM"), std::string::npos);

  const Result none = Run({"search", "nosuchword"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");

  EXPECT_EQ(Run({"search", "..."}).status, 2);  // nothing left once trimmed
}

TEST_F(QuarryCliTest, WordsOfEveryScriptAreKeptWholeAndFoundInAnyCase) {
  fs::create_directory(Path("intl"));
  WriteFile(Path("intl/a.html"),
            "<html><title>\u041f\u0440\u0438\u0432\u0435\u0442 world</title>\n"
            "Быстрый поиск. Résumé café — Ελληνικά 中文搜索 «word» ПРИВЕТ हिन्दी। я\n");
  WriteFile(Path("intl/b.html"), "<html>привет, Word.");
  ASSERT_EQ(Run({"index", "-q", "intl"}).status, 0);

  const Result words = Run({"words"});
  EXPECT_EQ(words.out,
            "中文搜索\t0\n"
            "हिन्दी\t0\n"
            "привет\t1\n"
            "поиск\t0\n"
            "Привет\t0\n"
            "ПРИВЕТ\t0\n"
            "Быстрый\t0\n"
            "Ελληνικά\t0\n"
            "world\t0\n"
            "word\t0 1\n"
            "résumé\t0\n"
            "café\t0\n");

  EXPECT_EQ(Run({"search", "пРиВеТ"}).out,
            "0\tintl/a.html\tПривет world\n1\tintl/b.html\tintl/b.html\n");
  EXPECT_EQ(Run({"search", "ελληνικά", "RÉSUMÉ", "WORD"}).out, "0\tintl/a.html\tПривет world\n");
  EXPECT_EQ(Run({"search", "Caf"}).out, "");

  // Prefixes: the *s go, the rest is trimmed (a single letter kept) and folded. White space of
  // every kind cuts an argument into words.
  const std::string a = "0\tintl/a.html\tПривет world\n";
  const std::string b = "1\tintl/b.html\tintl/b.html\n";
  const struct {
    std::vector<std::string> words;
    std::string out;
  } rows[] = {
      {{"пРиВ*"}, a + b},   {{"Caf*"}, a},
      {{"w*"}, a + b},      {{"(ελλ**"}, a},
      {{"* word"}, a + b},  {{"wor* привет*"}, a + b},
      {{"worl*", "б*"}, a}, {{"caf.*"}, a},
      {{"wordy*"}, ""},     {{"worl*\u00a0б*\tcafé\u3000"}, a},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args{"search"};
    args.insert(args.end(), row.words.begin(), row.words.end());
    const Result search = Run(args);
    EXPECT_EQ(search.status, 0) << row.words[0];
    EXPECT_EQ(search.out, row.out) << row.words[0];
  }
  EXPECT_EQ(Run({"search", "*"}).status, 2);  // a bare * is no word
}

TEST_F(QuarryCliTest, UsageErrorsTouchNothing) {
  CopySite();
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"frobnicate"}).status, 2);
  EXPECT_EQ(Run({"index"}).status, 2);
  EXPECT_EQ(Run({"index", "--db", "no-such-dir/db", "site"}).status, 2);
  EXPECT_FALSE(fs::exists(Path("no-such-dir")));

  const Result missing = Run({"index", "site", "no-such-page.html"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("no-such-page.html"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("qrywDb.dat")));

  for (const char* command : {"index", "info", "pages", "words", "search", "web", "serve"}) {
    const Result help = Run({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << command;
  }
  EXPECT_EQ(Run({"--help"}).status, 0);
  EXPECT_EQ(Run({"--version"}).out, "quarry-cli " QUARRY_VERSION "\n");  // the project's version

  // The reading commands do not make an index where there is none.
  const Result info = Run({"info"});
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.err.find("qrywDb.dat"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("qrywDb.dat")));
}

TEST_F(QuarryCliTest, RefusesToSaveNothingAndKeepsTheOldIndex) {
  CopySite();
  fs::create_directory(Path("plain"));
  WriteFile(Path("plain/a.html"), "no markup at all");
  WriteFile(Path("plain/b.htm"), "");
  fs::create_directory(Path("bare"));
  WriteFile(Path("bare/only-tags.html"), "<html><head></head><body></body></html>");

  // No database yet: the refusal leaves none behind.
  Result result = Run({"index", "plain"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("No pages to save."), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(Path("qrywDb.dat")));

  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  const std::vector<std::string> before = Database(".");

  result = Run({"index", "plain"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("No pages to save."), std::string::npos);
  result = Run({"index", "bare"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Please build word list."), std::string::npos) << result.err;
  fs::create_directory(Path("empty"));
  EXPECT_EQ(Run({"index", "empty"}).status, 1);

  EXPECT_EQ(Database("."), before);
}

TEST_F(QuarryCliTest, ADatabaseHeldByAnotherProcessIsRefused) {
  CopySite();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  const std::vector<std::string> before = Database(".");

  // A holder of the index for writing (the window, index) keeps every command out; a reader
  // keeps out only index: the reading commands share.
  for (const bool holderReads : {false, true}) {
    SCOPED_TRACE(holderReads ? "held by a reader" : "held by a writer");
    int toChild[2];
    int toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      quarry::IndexDatabase database(dir_);
      if (holderReads) {
        database.OpenForReading();
      } else {
        database.Open();
      }
      const char ready = database.IsOpen() ? 'y' : 'n';
      if (::write(toParent[1], &ready, 1) != 1) ::_exit(1);
      char done = 0;
      if (::read(toChild[0], &done, 1) < 0) ::_exit(1);  // hold the files until told
      ::_exit(0);
    }
    char ready = 0;
    ASSERT_EQ(::read(toParent[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"index", "site"}, std::vector<std::string>{"info"},
          std::vector<std::string>{"words"}, std::vector<std::string>{"search", "guide"}}) {
      const Result result = Run(args);
      if (holderReads && args[0] != "index") {
        EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
        continue;
      }
      EXPECT_EQ(result.status, 1) << args[0];
      EXPECT_NE(result.err.find("Error opening database.  Make sure it is not being used and "
                                "that it has write access."),
                std::string::npos)
          << result.err;
      EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    const char done = 'x';
    ASSERT_EQ(::write(toChild[1], &done, 1), 1);
    int status = 0;
    ::waitpid(holder, &status, 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
    EXPECT_EQ(Database("."), before);
  }
  EXPECT_EQ(Run({"info"}).status, 0);
}

TEST_F(QuarryCliTest, LinksAndFifosAtTheDatabaseNamesAreRefused) {
  CopySite();
  fs::create_directory(Path("db"));
  ASSERT_EQ(Run({"index", "-q", "--db", "db", "site"}).status, 0);
  for (const char* name : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
    for (const bool fifo : {false, true}) {
      SCOPED_TRACE(std::string(name) + (fifo ? " (FIFO)" : " (link)"));
      // The link points at a copy of the file it replaces, as a site wanting its index
      // elsewhere might: it is refused all the same, and the copy is never written.
      const std::string file = Path("db/") + name;
      fs::rename(file, Path("outside"));
      if (fifo) {
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
      } else {
        fs::create_symlink(Path("outside"), file);
      }
      const std::string outside = ReadFile(Path("outside"));
      for (const std::vector<std::string>& args :
           {std::vector<std::string>{"index", "--db", "db", "site"},
            std::vector<std::string>{"info", "--db", "db"}}) {
        const Result result = Run(args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_NE(result.err.find(std::string(name) +
                                  (fifo ? " is not a regular file" : " is a symbolic link") +
                                  ": Quarry keeps its index in plain files"),
                  std::string::npos)
            << args[0] << ": " << result.err;
      }
      EXPECT_EQ(ReadFile(Path("outside")), outside);
      fs::remove(file);
      fs::rename(Path("outside"), file);
    }
  }
}

TEST_F(QuarryCliTest, AnInterruptedSaveIsLeftToTheWriters) {
  CopySite();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  WriteFile(Path("qryDb.commit"), "");
  const std::vector<std::string> before = Database(".");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info"}, std::vector<std::string>{"pages"},
        std::vector<std::string>{"words"}, std::vector<std::string>{"search", "guide"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.status, 1) << args[0];
    EXPECT_EQ(result.err,
              "quarry-cli: a save was interrupted: open the index in the window or run "
              "quarry-cli index to complete it\n");
  }
  EXPECT_EQ(Database("."), before);
  EXPECT_TRUE(fs::exists(Path("qryDb.commit")));
  EXPECT_EQ(Run({"index", "-q", "site"}).status, 0);
  EXPECT_FALSE(fs::exists(Path("qryDb.commit")));
  EXPECT_EQ(Run({"info"}).status, 0);
}

TEST_F(QuarryCliTest, OddPathsKeepTheirBytes) {
  const std::vector<std::string> names = {"with space.html", "new\nline.html",
                                          "\xff\xfe latin.html"};
  fs::create_directory(Path("odd dir"));
  for (const std::string& name : names) {
    WriteFile(Path("odd dir/" + name), "<html><title>T</title>word</html>");
  }
  ASSERT_EQ(Run({"index", "-q", "odd dir/"}).status, 0);
  const Result pages = Run({"pages", "-z"});
  EXPECT_EQ(pages.status, 0);
  EXPECT_EQ(pages.out, std::string("0\todd dir/new\nline.html\tt") + '\0' +
                           "1\todd dir/with space.html\tt" + '\0' +
                           "2\todd dir/\xff\xfe latin.html\tt" + '\0');
}

TEST_F(QuarryCliTest, PathsAreTakenAsGiven) {
  CopySite();
  // A link to a folder given as PATH is walked; the links to folders below it are not.
  fs::create_symlink("site", Path("site-link"));
  Result result = Run({"index", "site-link"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("Pages: 11\n"), std::string::npos) << result.out;
  EXPECT_NE(Run({"pages"}).out.find("9\tsite-link/index.html\t"), std::string::npos);

  // The same page twice is two pages; a file is taken whatever its name.
  result = Run({"index", "site/index.html", "site/notes.txt", "site/index.html"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Run({"pages"}).out,
            "0\tsite/index.html\tquarry sample site\n"
            "1\tsite/index.html\tquarry sample site\n"
            "2\tsite/notes.txt\tsite/notes.txt\n");
}

TEST_F(QuarryCliTest, OddPagesNeverStopTheRun) {
  fs::create_directory(Path("odd"));
  std::string binary;
  std::uint32_t state = 12345;
  for (int i = 0; i < (1 << 20); ++i) {
    state = state * 1103515245u + 12345u;
    binary += static_cast<char>(state >> 24);
  }
  WriteFile(Path("odd/binary.html"), "<html>" + binary);
  WriteFile(Path("odd/nul.html"), std::string(4096, '\0'));
  WriteFile(Path("odd/utf16.html"), std::string("\xff\xfe<\0h\0t\0m\0l\0>\0", 14));
  WriteFile(Path("odd/open-tag.html"), "<html><title>open");
  WriteFile(Path("odd/open-entity.html"), "<html><p>words &amp");
  WriteFile(Path("odd/open-comment.html"), "<html><!-- never closed <p>hidden");
  WriteFile(Path("odd/open-script.html"), "<html><script> never closed");
  WriteFile(Path("odd/long-line.html"), "<html><title>Long</title>" + std::string(1 << 20, 'w'));

  const Result result = Run({"index", "odd"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("Indexed 6 pages, dropped 2 (not HTML), skipped 0"), std::string::npos)
      << result.out;
  const Result pages = Run({"pages"});
  EXPECT_NE(pages.out.find("\todd/open-tag.html\topen\n"), std::string::npos) << pages.out;
  EXPECT_NE(pages.out.find("\todd/long-line.html\tlong\n"), std::string::npos) << pages.out;
  const Result words = Run({"search", "words"});
  EXPECT_NE(words.out.find("odd/open-entity.html"), std::string::npos) << words.out;
}

TEST_F(QuarryCliTest, UnreadableFoldersAndReadOnlyDatabases) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run quarry-cli as another user";
  // The build folder may be closed to nobody (a clone under /root): run a copy from here.
  fs::copy_file(QUARRY_CLI, Path("quarry-cli"));
  if (Run({"--version"}, kNobody).status == 127) {
    GTEST_SKIP() << "nobody cannot enter " << dir_ << " to run quarry-cli";
  }
  CopySite();
  fs::create_directory(Path("site/secret"));
  WriteFile(Path("site/secret/hidden.html"), "<html>never read</html>");
  ::chmod(Path("site/secret").c_str(), 0);
  fs::create_directory(Path("db"));
  ::chmod(Path("db").c_str(), 0777);

  Result result = Run({"index", "--db", "db", "site"}, kNobody);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("site/secret"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("Pages: 11\n"), std::string::npos) << result.out;

  // The same database, now in a folder that may not be written.
  ASSERT_EQ(::chmod(Path("db").c_str(), 0755), 0);
  for (const char* name : {"db/qrywDb.dat", "db/qryfDb.dat", "db/qryiDb.dat"}) {
    ASSERT_EQ(::chown(Path(name).c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(Path(name).c_str(), 0644), 0);
  }
  const std::vector<std::string> before = Database("db");
  result = Run({"index", "--db", "db", "site"}, kNobody);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Error opening database."), std::string::npos) << result.err;
  EXPECT_EQ(Database("db"), before);
}

}  // namespace

TEST_F(QuarryCliTest, IndexMakesItsFolderAndNeverIndexesTheSearchPage) {
  CopySite();
  // No folder saved into: the made folder goes again.
  fs::create_directory(Path("nopages"));
  EXPECT_EQ(Run({"index", "--db", "site/_search", "nopages"}).status, 1);
  EXPECT_FALSE(fs::exists(Path("site/_search")));

  ASSERT_EQ(Run({"index", "-q", "--db", "site/_search", "site"}).status, 0);
  ASSERT_EQ(Run({"web", "--db", "site/_search", "--site-root", "site"}).status, 0);
  ASSERT_EQ(Run({"web", "--db", "site/_search", "--out", "site/elsewhere"}).status, 0);
  ASSERT_EQ(Run({"web", "--db", "site/_search", "--out", "site"}).status, 0);
  // Pages in the index's folder and in a folder the page was written to are left out too.
  WriteFile(Path("site/_search/stray.html"), "<html>stray");
  WriteFile(Path("site/elsewhere/stray.html"), "<html>stray");
  ASSERT_EQ(Run({"index", "-q", "--db", "site/_search", "site"}).status, 0);
  EXPECT_EQ(Run({"pages", "--db", "site/_search"}).out, kSitePages);
}

TEST_F(QuarryCliTest, WebWithoutBundleWritesThePageAndItsSettings) {
  CopySite();
  const std::string real = fs::canonical(dir_).string();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  ASSERT_EQ(Run({"index", "-q", "--db", "abs", Path("site")}).status, 0);
  ASSERT_EQ(Run({"index", "-q", "--db", "dotted", ".//site/./"}).status, 0);
  struct Row {
    std::vector<std::string> args;
    const char* settingsIn;  // the folder of quarry-search.json
    std::string siteRoot;
    std::string strip;
    int outside;  // pages stored outside the site root
  };
  const Row rows[] = {
      {{"--site-root", "site"}, ".", "site/", "\"" + real + "/site/\", \"site/\"", 0},
      {{"--db", "abs", "--site-root", "site/"},
       "abs",
       "../site/",
       "\"" + real + "/site/\", \"site/\"",
       0},
      {{"--db", "dotted", "--site-root", "./site"},
       "dotted",
       "../site/",
       "\"" + real + "/site/\", \"site/\"",
       0},
      {{"--out", "page", "--site-root", Path("site/docs")},
       "page",
       "../site/docs/",
       "\"" + real + "/site/docs/\", \"site/docs/\"",
       7},
      {{"--db", "abs", "--out", "abs/page"}, "abs/page", "../../", "\"" + real + "/\", \"\"", 0},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args{"web", "--no-bundle"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result web = Run(args);
    ASSERT_EQ(web.status, 0) << web.err;
    // A copy of the index beside a page written elsewhere is recorded after the settings.
    const std::string settings = ReadFile(Path(row.settingsIn) + "/quarry-search.json");
    EXPECT_EQ(settings.substr(0, settings.find(']') + 1),
              "{\n  \"generator\": \"quarry-cli web\",\n  \"version\": 1,\n  \"index\": \"./\",\n"
              "  \"siteRoot\": \"" +
                  row.siteRoot + "\",\n  \"strip\": [" + row.strip + "]")
        << args[1];
    const bool copied = std::find(row.args.begin(), row.args.end(), "--out") != row.args.end();
    EXPECT_EQ(settings.find("\"copies\": {\"qryfDb.dat\": {\"size\": ") != std::string::npos,
              copied);
    const std::string warning = std::to_string(row.outside) + " of 11 pages";
    EXPECT_EQ(web.err.find(warning) != std::string::npos, row.outside > 0) << args[1] << web.err;
    for (const char* name : {"search.html", "quarry-search.js", "quarry-search.css"}) {
      EXPECT_EQ(ReadFile(Path(row.settingsIn) + "/" + name),
                ReadFile(std::string(QUARRY_SOURCE_DIR) + "/web/" + name));
    }
  }
  // The copies beside a page written elsewhere are the index's files.
  EXPECT_EQ(Database("abs/page"), Database("abs"));
  EXPECT_EQ(Database("page"), Database("."));
  EXPECT_NE(Run({"web", "--no-bundle", "--out", "page2"}).out.find("Copied the index"),
            std::string::npos);
}

TEST_F(QuarryCliTest, WebWritesTheBundleThatSearchRanksFrom) {
  CopySite();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  const Result web = Run({"web", "--site-root", "site"});
  ASSERT_EQ(web.status, 0) << web.err;
  EXPECT_NE(web.out.find("11 of 11 pages"), std::string::npos) << web.out;
  const std::string manifest = ReadFile(Path("quarry-search.json"));
  EXPECT_NE(manifest.find("\"version\": 2"), std::string::npos);
  EXPECT_NE(manifest.find("\"siteRoot\": \"site/\""), std::string::npos);
  EXPECT_EQ(manifest.find(fs::canonical(dir_).string()), std::string::npos);  // nothing private
  EXPECT_EQ(manifest.find("copies"), std::string::npos);  // the index is not copied
  EXPECT_TRUE(fs::exists(Path("quarry-bundle/QUARRY-BUNDLE")));

  const Result found = Run({"search", "--bundle", ".", "guide"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out.substr(0, found.out.find('\t')), "6");
  const Result typo = Run({"search", "--bundle", ".", "documentaton"});
  EXPECT_NE(typo.err.find("showing results for 'documentation'"), std::string::npos) << typo.err;
  // A bundle of another index is refused.
  WriteFile(Path("site/docs/guide.html"), ReadFile(Path("site/docs/guide.html")) + " more words");
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  const Result stale = Run({"search", "--bundle", ".", "guide"});
  EXPECT_EQ(stale.status, 1);
  EXPECT_NE(stale.err.find("was made from another index; run quarry-cli web again"),
            std::string::npos)
      << stale.err;
  // Nor is a bundle made when a page changed after the index.
  WriteFile(Path("site/docs/guide.html"), ReadFile(Path("site/docs/guide.html")) + " again");
  const Result changed = Run({"web", "--site-root", "site"});
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("site/docs/guide.html changed since it was indexed"),
            std::string::npos)
      << changed.err;
  EXPECT_EQ(ReadFile(Path("quarry-search.json")), manifest);  // the previous bundle stays
}

TEST_F(QuarryCliTest, WebSiteIndexesAndLinksRightWhereverItRuns) {
  CopySite();
  // One step: the index here, the page and the bundle in site/_search.
  Result web = Run({"web", "--site", "site", "-q"});
  ASSERT_EQ(web.status, 0) << web.err;
  EXPECT_EQ(Run({"pages"}).out, kSitePages);
  EXPECT_TRUE(fs::exists(Path("site/_search/quarry-bundle/QUARRY-BUNDLE")));
  web = Run({"web", "--site", "site"});  // again: the walk leaves the page's folder out
  ASSERT_EQ(web.status, 0) << web.err;
  EXPECT_NE(web.out.find("Indexed 11 pages"), std::string::npos) << web.out;
  const Result found = Run({"search", "--bundle", "site/_search", "guide"});
  EXPECT_EQ(found.out.substr(0, found.out.find('\t')), "6");

  // The index may not lie inside the site, nor the page go where something else lives.
  EXPECT_EQ(Run({"web", "--site", "site", "--db", "site/db"}).status, 2);
  EXPECT_FALSE(fs::exists(Path("site/db")));
  fs::create_directories(Path("other/_search"));
  WriteFile(Path("other/_search/mine.txt"), "mine");
  WriteFile(Path("other/page.html"), "<html>page");
  web = Run({"web", "--site", "other", "--db", "odb"});
  EXPECT_EQ(web.status, 1);
  EXPECT_NE(web.err.find("was not made by 'quarry-cli web'"), std::string::npos) << web.err;

  // Run in a folder below the site root, with paths stored relative to it: ./p.html links as
  // docs/p.html.
  fs::create_directories(Path("root/docs"));
  WriteFile(Path("root/docs/p.html"), "<html><title>P</title>words on p");
  ASSERT_EQ(RunIn("root/docs", {"index", "-q", "./p.html", "--db", "../../sub"}).status, 0);
  web = RunIn("root/docs", {"web", "--db", "../../sub", "--site-root", ".."});
  ASSERT_EQ(web.status, 0) << web.err;
  EXPECT_EQ(web.err.find("outside the site root"), std::string::npos) << web.err;
  BundleDirectoryMustLink("sub", "docs/p.html");
}

TEST_F(QuarryCliTest, WebNeverReplacesWhatItDidNotWrite) {
  CopySite();
  ASSERT_EQ(Run({"index", "-q", "site"}).status, 0);
  WriteFile(Path("target.txt"), "kept");
  const struct {
    const char* name;
    const char* kind;
  } rows[] = {
      {"search.html", "a site's own page"},
      {"quarry-search.json", "foreign settings"},
      {"quarry-search.js", "link"},
      {"quarry-search.css", "folder"},
      {"qryfDb.dat", "link"},
      {"qrywDb.dat", "a foreign index file"},
      {"quarry-bundle", "folder"},
  };
  for (const auto& row : rows) {
    const std::string out = Path(std::string("out-") + row.kind + "-" + row.name);
    fs::create_directory(out);
    const std::string target = out + "/" + row.name;
    if (std::string(row.kind) == "link") {
      fs::create_symlink(Path("target.txt"), target);
    } else if (std::string(row.kind) == "folder") {
      fs::create_directory(target);
    } else {
      WriteFile(target, "<html>mine</html>");
    }
    const Result web = Run({"web", "--with-index", "--out", out});
    EXPECT_EQ(web.status, 1) << row.name;
    EXPECT_NE(web.err.find(row.name), std::string::npos) << web.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1)
        << row.name;  // nothing written
  }
  EXPECT_EQ(ReadFile(Path("target.txt")), "kept");
  EXPECT_EQ(ReadFile(Path("out-a site's own page-search.html/search.html")), "<html>mine</html>");

  // Copies it made are replaced; one changed by someone else is not.
  ASSERT_EQ(Run({"web", "--with-index", "--out", "copies"}).status, 0);
  ASSERT_EQ(Run({"web", "--with-index", "--out", "copies"}).status, 0);
  WriteFile(Path("copies/qrywDb.dat"), ReadFile(Path("copies/qrywDb.dat")) + "x");
  const Result refused = Run({"web", "--with-index", "--out", "copies"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("qrywDb.dat: it was not copied there by 'quarry-cli web'"),
            std::string::npos)
      << refused.err;
}
