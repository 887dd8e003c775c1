// A Save that fails or is killed part-way never loses the index: afterwards the database opens
// and loads as exactly the previous index or exactly the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "database/FileHeader.h"
#include "database/IndexDatabase.h"
#include "io/DatabaseFile.h"
#include "io/FaultInjection.h"
#include "io/FileError.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

using test::TestDirectory;

const char* const kLeftovers[] = {"qrywDb.dat.tmp", "qryfDb.dat.tmp", "qryiDb.dat.tmp",
                                  "qryDb.commit"};

// An index in memory, built from a seed so that two seeds give two different indexes.
struct Lists {
  WordList words;
  TextList pages;
  TextList titles;
};

void Build(Lists& lists, int seed, int wordCount, int pagesPerWord) {
  const int pageCount = 50 + seed;
  for (int p = 0; p < pageCount; ++p) {
    lists.pages.Add("site" + std::to_string(seed) + "/page" + std::to_string(p) + ".htm");
    lists.titles.Add("title " + std::to_string(p));
  }
  for (int w = 0; w < wordCount; ++w) {
    auto entry = std::make_unique<WordEntry>("w" + std::to_string(seed) + "x" + std::to_string(w),
                                             w % pageCount);
    for (int k = 1; k < pagesPerWord; ++k) entry->AddPage((w + k * 7) % pageCount);
    lists.words.Append(std::move(entry));
  }
}

// The whole of an index as one comparable text.
std::string Describe(Lists& lists) {
  std::string text;
  for (const std::string* p = lists.pages.GetFirst(); p; p = lists.pages.GetNext()) {
    text += "p:" + *p + "\n";
  }
  for (const std::string* t = lists.titles.GetFirst(); t; t = lists.titles.GetNext()) {
    text += "t:" + *t + "\n";
  }
  for (WordEntry* e = lists.words.GetFirst(); e; e = lists.words.GetNext()) {
    text += "w:" + e->GetText();
    for (const std::int32_t page : e->GetPages()) text += " " + std::to_string(page);
    text += "\n";
  }
  return text;
}

// Opens the database afresh and describes what it loads; no leftover of a save may survive Open.
std::string LoadDescription(const TestDirectory& dir) {
  IndexDatabase db(dir.Path());
  EXPECT_EQ(db.Open(), 0) << db.OpenError();
  for (const char* name : kLeftovers) EXPECT_FALSE(dir.Exists(name)) << name;
  Lists loaded;
  db.Load(loaded.words, loaded.pages, loaded.titles);
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    const std::string bytes = dir.Read(name);
    EXPECT_EQ(static_cast<std::int32_t>(bytes.size()),
              FileHeader::Decode(reinterpret_cast<const unsigned char*>(bytes.data())).totalSize);
  }
  return Describe(loaded);
}

void SaveOld(const TestDirectory& dir, Lists& old) {
  IndexDatabase db(dir.Path());
  db.Open();
  db.Save(old.words, old.pages, old.titles);
}

std::vector<FileOperation> recorded;
void Record(FileOperation operation, std::uint64_t) { recorded.push_back(operation); }

class SaveFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultInjection::Clear();
    Build(old_, 1, 200, 3);
    // Over 1 MiB of word records: the word file is written in more than one piece.
    Build(new_, 2, 40000, 5);
    oldText_ = Describe(old_);
    newText_ = Describe(new_);
  }
  void TearDown() override { FaultInjection::Clear(); }

  // The file operations of one successful Save of new_ over old_.
  std::vector<FileOperation> OperationsOfSave() {
    TestDirectory dir;
    SaveOld(dir, old_);
    IndexDatabase db(dir.Path());
    db.Open();
    recorded.clear();
    FaultInjection::SetHook(Record);
    db.Save(new_.words, new_.pages, new_.titles);
    FaultInjection::Clear();
    return recorded;
  }

  Lists old_;
  Lists new_;
  std::string oldText_;
  std::string newText_;
};

TEST_F(SaveFailureTest, EveryFailingStepKeepsOldOrNewIndex) {
  const std::vector<FileOperation> operations = OperationsOfSave();
  std::size_t firstRename = 0;
  while (operations[firstRename] != FileOperation::kRename) ++firstRename;
  ASSERT_GT(operations.size(), 20u);
  for (std::size_t step = 1; step <= operations.size(); ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    TestDirectory dir;
    SaveOld(dir, old_);
    IndexDatabase db(dir.Path());
    ASSERT_EQ(db.Open(), 0);
    FaultInjection::ResetCount();
    FaultInjection::FailAt(step, step % 2 == 0 ? ENOSPC : EIO);
    try {
      db.Save(new_.words, new_.pages, new_.titles);
      ADD_FAILURE() << "Save did not fail";
    } catch (const FileError& error) {
      EXPECT_EQ(error.ErrorNumber(), step % 2 == 0 ? ENOSPC : EIO);
      EXPECT_NE(std::string(error.what())
                    .find(step % 2 == 0 ? "No space left on device" : "Input/output error"),
                std::string::npos);
    }
    FaultInjection::Clear();
    EXPECT_TRUE(db.IsOpen());
    EXPECT_EQ(Describe(new_), newText_);  // the lists in memory are unchanged
    db.Close();
    // Before the first rename the old index stays; from it on, Open completes the new one.
    EXPECT_EQ(LoadDescription(dir), step - 1 < firstRename ? oldText_ : newText_);
  }
}

TEST_F(SaveFailureTest, SaveAfterAFailedSaveSucceeds) {
  const std::size_t steps = OperationsOfSave().size();
  for (std::size_t step = 1; step <= steps; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    TestDirectory dir;
    SaveOld(dir, old_);
    IndexDatabase db(dir.Path());
    ASSERT_EQ(db.Open(), 0);
    FaultInjection::ResetCount();
    FaultInjection::FailAt(step, EIO);
    EXPECT_THROW(db.Save(new_.words, new_.pages, new_.titles), FileError);
    FaultInjection::Clear();
    Lists third;
    Build(third, 3, 100, 2);
    db.Save(third.words, third.pages, third.titles);
    EXPECT_EQ(db.GetPageCountText(), "53");
    EXPECT_EQ(db.GetWordCountText(), "100");
    Lists loaded;
    db.Load(loaded.words, loaded.pages, loaded.titles);
    EXPECT_EQ(Describe(loaded), Describe(third));
    db.Close();
    EXPECT_EQ(LoadDescription(dir), Describe(third));
  }
}

TEST_F(SaveFailureTest, FailedResetKeepsTheIndex) {
  TestDirectory dir;
  SaveOld(dir, old_);
  IndexDatabase db(dir.Path());
  ASSERT_EQ(db.Open(), 0);
  FaultInjection::ResetCount();
  FaultInjection::FailAt(2, ENOSPC);
  EXPECT_THROW(db.Reset(), FileError);
  FaultInjection::Clear();
  EXPECT_EQ(db.GetWordCountText(), "200");
  db.Close();
  EXPECT_EQ(LoadDescription(dir), oldText_);
}

// Kills a child process in the middle of a Save and checks what the next Open finds.
class KilledSaveTest : public SaveFailureTest {
 protected:
  // Runs a Save of new_ over old_ in a child, killed with SIGKILL at its file operation number
  // killAt, or, with killAt 0, after delay. Returns what the database loads afterwards.
  std::string KilledSave(std::uint64_t killAt, std::chrono::microseconds delay) {
    TestDirectory dir;
    SaveOld(dir, old_);
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
      IndexDatabase db(dir.Path());
      if (db.Open() != 0) _exit(2);
      FaultInjection::ResetCount();
      killAt_ = killAt;
      FaultInjection::SetHook([](FileOperation, std::uint64_t number) {
        if (number == killAt_) raise(SIGKILL);
      });
      if (write(ready[1], "r", 1) != 1) _exit(3);
      db.Save(new_.words, new_.pages, new_.titles);
      _exit(0);
    }
    char byte;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    if (killAt == 0) {
      std::this_thread::sleep_for(delay);
      kill(child, SIGKILL);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    if (killAt != 0) {
      EXPECT_TRUE(WIFSIGNALED(status));
    }
    close(ready[0]);
    close(ready[1]);
    return LoadDescription(dir);
  }

  static inline std::uint64_t killAt_ = 0;
};

TEST_F(KilledSaveTest, KilledAtEveryFileOperation) {
  const std::vector<FileOperation> operations = OperationsOfSave();
  std::size_t firstRename = 0;
  while (operations[firstRename] != FileOperation::kRename) ++firstRename;
  for (std::size_t step = 1; step <= operations.size(); ++step) {
    SCOPED_TRACE("killed before step " + std::to_string(step));
    // The roll-forward record is created just before its set-length, its write, its flush and
    // the directory's flush that precede the first rename; from its creation on, Open
    // completes the new index.
    EXPECT_EQ(KilledSave(step, {}), step - 1 < firstRename - 4 ? oldText_ : newText_);
  }
}

TEST_F(KilledSaveTest, KilledAfterVaryingDelays) {
  const auto start = std::chrono::steady_clock::now();
  {
    TestDirectory dir;
    SaveOld(dir, old_);
    IndexDatabase db(dir.Path());
    db.Open();
    db.Save(new_.words, new_.pages, new_.titles);
  }
  const auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  for (int i = 0; i <= 24; ++i) {
    const auto delay = saveTime * i / 20;
    SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " us");
    const std::string loaded = KilledSave(0, delay);
    EXPECT_TRUE(loaded == oldText_ || loaded == newText_);
  }
}

TEST(HeldDatabaseTest, NoOtherOpenerGetsAFileWhileSavesReplaceThem) {
  // The other process tries again and again to take the word file while this one saves: it must
  // never get it, not even the file a rename has just put aside.
  TestDirectory dir;
  IndexDatabase db(dir.Path());
  db.Open();
  Lists lists;
  Build(lists, 6, 2000, 3);
  int done[2];
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(done[1]);
    fcntl(done[0], F_SETFL, O_NONBLOCK);
    int taken = 0;
    char byte;
    while (read(done[0], &byte, 1) < 0) {
      DatabaseFile file;
      if (file.Open(dir.Path(), kWordFileName)) ++taken;
    }
    _exit(taken == 0 ? 0 : 1);
  }
  close(done[0]);
  for (int i = 0; i < 200; ++i) db.Save(lists.words, lists.pages, lists.titles);
  ASSERT_EQ(write(done[1], "d", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(done[1]);
}

TEST(LeftoverFilesTest, TemporaryFilesWithoutRecordAreRemoved) {
  TestDirectory dir;
  {
    IndexDatabase db(dir.Path());
    db.Open();
    Lists lists;
    Build(lists, 3, 10, 2);
    db.Save(lists.words, lists.pages, lists.titles);
  }
  const std::string words = dir.Read(kWordFileName);
  for (const char* name : {"qrywDb.dat.tmp", "qryfDb.dat.tmp", "qryiDb.dat.tmp"}) {
    dir.Write(name, "half written");
  }
  IndexDatabase db(dir.Path());
  EXPECT_EQ(db.Open(), 0);
  for (const char* name : kLeftovers) EXPECT_FALSE(dir.Exists(name)) << name;
  EXPECT_EQ(dir.Read(kWordFileName), words);
}

TEST(LeftoverFilesTest, RecordCompletesTheRenamesStillToDo) {
  TestDirectory older;
  TestDirectory newer;
  Lists oldLists;
  Lists newLists;
  Build(oldLists, 4, 10, 2);
  Build(newLists, 5, 20, 3);
  SaveOld(older, oldLists);
  SaveOld(newer, newLists);
  // A crash after the page file was renamed into place: its temporary name is gone.
  older.Write(kPageFileName, newer.Read(kPageFileName));
  older.Write("qryiDb.dat.tmp", newer.Read(kTitleFileName));
  older.Write("qrywDb.dat.tmp", newer.Read(kWordFileName));
  older.Write("qryDb.commit", "");
  EXPECT_EQ(LoadDescription(older), Describe(newLists));
}

TEST(LeftoverFilesTest, OpenTouchesNothingWhileAnotherProcessHoldsTheDatabase) {
  TestDirectory dir;
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    IndexDatabase db(dir.Path());
    db.Open();
    if (write(ready[1], "r", 1) != 1) _exit(2);
    char byte;
    _exit(read(done[0], &byte, 1) == 1 ? 0 : 3);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  dir.Write("qrywDb.dat.tmp", "being written by the holder");
  dir.Write("qryDb.commit", "");
  IndexDatabase db(dir.Path());
  EXPECT_EQ(db.Open(), 1);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(dir.Read("qrywDb.dat.tmp"), "being written by the holder");
  EXPECT_TRUE(dir.Exists("qryDb.commit"));
  ASSERT_EQ(write(done[1], "d", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace
}  // namespace quarry
