// The build engine gives the same lists, reports and files for every number of threads, also
// when a page fails to read in the middle of the run or a callback throws.
#include "indexing/BuildEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/IndexDatabase.h"
#include "io/FileError.h"
#include "io/FolderReader.h"
#include "io/SiteWalker.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

using TempDir = test::TestDirectory;

constexpr unsigned kJobs[] = {1, 2, 3, 8};

// What one run leaves: the reports, the error that ended it, the lists and the saved files.
struct RunResult {
  std::string reports;
  std::string error;
  std::string lists;
  std::string files;
};

// setup, when given, sets the engine's page rules.
using Setup = std::function<void(BuildEngine&)>;

RunResult Build(const std::vector<std::string>& paths, unsigned jobs, const Setup& setup = {}) {
  WordList words;
  TextList pages;
  TextList titles;
  BuildEngine engine(words, pages, titles);
  engine.SetJobs(jobs);
  if (setup) setup(engine);
  RunResult r;
  std::size_t started = 0;
  try {
    engine.Run(
        paths,
        [&](std::size_t index, const std::string& path) {
          EXPECT_EQ(index, started++);
          EXPECT_EQ(path, paths[index]);
        },
        [&](const BuildEngine::PageReport& page) {
          EXPECT_EQ(page.index + 1, started);  // done follows its own start
          r.reports += std::to_string(page.index) + ":" +
                       std::to_string(static_cast<int>(page.outcome)) + ":" +
                       std::to_string(page.pageNumber) + ":" + page.openError + "\n";
        });
  } catch (const FileError& e) {
    r.error = e.what() + (" at start " + std::to_string(started));
  }
  for (const WordEntry* e = words.GetFirst(); e != nullptr; e = words.GetNext()) {
    r.lists += e->GetText() + ":";
    for (const std::int32_t p : e->GetPages()) r.lists.append(" ").append(std::to_string(p));
    r.lists += "\n";
  }
  for (std::size_t i = 0; i < pages.Size(); ++i)
    r.lists.append(pages.At(i)).append("|").append(titles.At(i)).append("\n");
  if (r.error.empty()) {
    TempDir db("engine-db");
    IndexDatabase database(db.Path());
    database.Open();
    database.Save(words, pages, titles);
    for (const char* file : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) r.files += db.Read(file);
  }
  return r;
}

RunResult ExpectSameForEveryJobs(const std::vector<std::string>& paths, const Setup& setup = {}) {
  RunResult one = Build(paths, 1, setup);
  EXPECT_FALSE(one.lists.empty());
  for (const unsigned jobs : kJobs) {
    SCOPED_TRACE(jobs);
    const RunResult n = Build(paths, jobs, setup);
    EXPECT_EQ(n.reports, one.reports);
    EXPECT_EQ(n.error, one.error);
    EXPECT_EQ(n.lists, one.lists);
    EXPECT_EQ(n.files, one.files);
  }
  return one;
}

// A few thousand random pages: words in both cases, entities, tags, long lines, bytes above
// 0x7F, pages that are not HTML, and a path that does not exist.
std::vector<std::string> RandomSite(const TempDir& dir, int count) {
  std::mt19937 random(15);
  const char* const kPieces[] = {"Alpha",
                                 "beta",
                                 "GAMMA",
                                 "(delta).",
                                 "e.g.",
                                 "x",
                                 "&amp;",
                                 "&copy;",
                                 "<b>",
                                 "<P>",
                                 "<BR>",
                                 "<td>",
                                 "<script>a<b</script>",
                                 "<title>t</title>",
                                 "caf\xe9",
                                 "\t",
                                 "\n",
                                 "  ",
                                 "word;",
                                 "[1]",
                                 "<h1>",
                                 "</h1>",
                                 "R&D "};
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    std::string page = i % 97 == 5 ? "plain text only\n" : "<html><title>Page ";
    page += std::to_string(i) + "</title>";
    const int length = static_cast<int>(random() % 400);
    for (int k = 0; k < length; ++k) {
      page += kPieces[random() % std::size(kPieces)];
      page += random() % 3 == 0 ? "" : " ";
      if (random() % 50 == 0) page += std::string(random() % 700, 'q');
      if (random() % 20 == 0) page.append("w").append(std::to_string(random() % 5000)).append(" ");
    }
    paths.push_back(dir.File(std::string("p").append(std::to_string(i)).append(".html"), page));
    if (i == count / 3) paths.push_back(dir.PathOf("missing.html"));
  }
  return paths;
}

TEST(BuildEngineTest, SampleSiteIsTheSameForEveryNumberOfThreads) {
  SiteWalker walker([](const std::string&) {});
  walker.Add(QUARRY_TEST_DATA_DIR "/site");
  ExpectSameForEveryJobs(walker.SortedPages());
}

TEST(BuildEngineTest, RandomSiteIsTheSameForEveryNumberOfThreads) {
  const TempDir dir("engine-site");
  ExpectSameForEveryJobs(RandomSite(dir, 2000));
}

TEST(BuildEngineTest, PagesTooLargeOrOutsideTheirFolderAreSkippedForEveryNumberOfThreads) {
  const TempDir dir("engine-rules");
  std::vector<std::string> paths = RandomSite(dir, 600);
  const TempDir outside("engine-outside");
  const std::string secret = outside.File("secret.html", "<html>secretword");
#ifndef _WIN32
  std::filesystem::create_symlink(secret, dir.PathOf("link.html"));
  paths.push_back(dir.PathOf("link.html"));
#endif
  paths.push_back(secret);  // given as it is: no folder to keep to
  std::vector<std::int32_t> folderOf(paths.size(), 0);
  folderOf.back() = -1;
  const RunResult one = ExpectSameForEveryJobs(paths, [&](BuildEngine& engine) {
    engine.SetMaxPageSize(2048);
    engine.SetWalkedFolders({FolderReader::RealPath(dir.Path())}, folderOf);
  });
  EXPECT_NE(one.reports.find(":2:-1:larger than 2 KiB\n"), std::string::npos);
  EXPECT_NE(one.lists.find(secret + "|"), std::string::npos);  // given as it is: indexed
  EXPECT_EQ(one.lists.find(dir.PathOf("link.html")), std::string::npos);
#ifndef _WIN32
  EXPECT_NE(one.reports.find("lies outside"), std::string::npos);
#endif
}

TEST(BuildEngineTest, PageThatFailsToReadEndsTheRunThereForEveryNumberOfThreads) {
  // /proc/self/mem opens as a regular file but cannot be read from its start.
  if (access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /proc/self/mem";
  const TempDir dir("engine-fail");
  std::vector<std::string> paths = RandomSite(dir, 1500);
  paths.insert(paths.begin() + 900, "/proc/self/mem");
  const RunResult one = Build(paths, 1);
  EXPECT_NE(one.error.find("/proc/self/mem"), std::string::npos) << one.error;
  EXPECT_NE(one.error.find("at start 901"), std::string::npos) << one.error;
  ExpectSameForEveryJobs(paths);
}

TEST(BuildEngineTest, CallbackThatThrowsEndsTheRun) {
  const TempDir dir("engine-throw");
  const std::vector<std::string> paths = RandomSite(dir, 200);
  for (const unsigned jobs : kJobs) {
    WordList words;
    TextList pages;
    TextList titles;
    BuildEngine engine(words, pages, titles);
    engine.SetJobs(jobs);
    std::size_t done = 0;
    EXPECT_THROW(engine.Run(paths, {},
                            [&](const BuildEngine::PageReport&) {
                              if (++done == 50) throw std::runtime_error("stop");
                            }),
                 std::runtime_error);
    EXPECT_EQ(done, 50u);
    EXPECT_LE(pages.Size(), 50u);
  }
}

}  // namespace
}  // namespace quarry
