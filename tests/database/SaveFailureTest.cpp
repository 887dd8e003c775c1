// A Save that fails or is killed part-way never loses the index: afterwards the database opens
// and loads as exactly the previous index or exactly the new one.
#ifndef _WIN32
#include <fcntl.h>
#endif
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "database/FileHeader.h"
#include "database/IndexDatabase.h"
#include "database/SaveError.h"
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
  for (auto p = lists.pages.GetFirst(); p; p = lists.pages.GetNext()) {
    text.append("p:").append(*p).append("\n");
  }
  for (auto t = lists.titles.GetFirst(); t; t = lists.titles.GetNext()) {
    text.append("t:").append(*t).append("\n");
  }
  for (WordEntry* e = lists.words.GetFirst(); e; e = lists.words.GetNext()) {
    text.append("w:").append(e->GetText());
    for (const std::int32_t page : e->GetPages()) text.append(" ").append(std::to_string(page));
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
    } catch (const SaveError& error) {
      EXPECT_EQ(error.ErrorNumber(), step % 2 == 0 ? ENOSPC : EIO);
      // Said in the user's terms: what failed, why, and what the disk holds now.
      EXPECT_EQ(std::string(error.what()),
                std::string("Saving the index failed: ") +
                    (step % 2 == 0 ? "No space left on device" : "Input/output error") +
                    (step - 1 < firstRename
                         ? "; the previous index is kept."
                         : "; the new index will be completed the next time the index is opened."));
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
  try {
    db.Reset();
    ADD_FAILURE() << "Reset did not fail";
  } catch (const SaveError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Emptying the index failed: No space left on device; the previous index is kept.");
  }
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
#ifdef _WIN32
    (void)killAt;
    (void)delay;
    return {};
#else
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
#endif
  }

  [[maybe_unused]] static inline std::uint64_t killAt_ = 0;
};

TEST_F(KilledSaveTest, KilledAtEveryFileOperation) {
#ifdef _WIN32
  GTEST_SKIP()
      << "Windows: kills a forked child mid-save; the failing steps are tested by fault injection";
#else
  const std::vector<FileOperation> operations = OperationsOfSave();
  std::size_t firstRename = 0;
  while (operations[firstRename] != FileOperation::kRename) ++firstRename;
  for (std::size_t step = 1; step <= operations.size(); ++step) {
    SCOPED_TRACE("killed before step " + std::to_string(step));
    // The roll-forward record's creation is followed by its write, its flush and the
    // directory's flush before the first rename; from its creation on, Open completes the new
    // index.
    EXPECT_EQ(KilledSave(step, {}), step - 1 < firstRename - 3 ? oldText_ : newText_);
  }
#endif
}

TEST_F(KilledSaveTest, KilledAfterVaryingDelays) {
#ifdef _WIN32
  GTEST_SKIP()
      << "Windows: kills a forked child mid-save; the failing steps are tested by fault injection";
#else
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
#endif
}

// Names another program plants in the database's folder: a link to a file outside it, or a
// FIFO. No save or recovery may write through them, follow them or put them in place.
class PlantedNameTest : public SaveFailureTest {
 protected:
  void Plant(const std::string& name, bool fifo) {
    std::filesystem::remove(dir_.PathOf(name));
    if (fifo) {
#ifndef _WIN32
      ASSERT_EQ(mkfifo(dir_.PathOf(name).c_str(), 0600), 0);
#endif
    } else {
      std::filesystem::create_symlink(outside_.PathOf("victim"), dir_.PathOf(name));
    }
  }
  // The file outside keeps its bytes, and every database file is still a plain file.
  void ExpectNothingWrittenThrough() {
    EXPECT_EQ(outside_.Read("victim"), "the user's own file");
    for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
      EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir_ / name)))
          << name;
    }
  }

  TestDirectory dir_;
  TestDirectory outside_;
  [[maybe_unused]] static inline std::uint64_t plantAt_ = 0;
  [[maybe_unused]] static inline std::uint64_t creations_ = 0;
  static inline std::string plantName_;
  static inline std::string plantTarget_;
};

TEST_F(PlantedNameTest, SaveRemovesWhatWasPlantedBeforeIt) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows: FIFOs do not exist and Wine shows a symbolic link as a plain file; "
                  "CREATE_NEW refuses any name that is taken";
#else
  for (const auto& [name, fifo] :
       std::vector<std::pair<std::string, bool> >{{"qrywDb.dat.tmp", false},
                                                  {"qryfDb.dat.tmp", false},
                                                  {"qryiDb.dat.tmp", false},
                                                  {"qryDb.commit", false},
                                                  {"qrywDb.dat.tmp", true},
                                                  {"qryDb.commit", true}}) {
    SCOPED_TRACE(name + (fifo ? " (FIFO)" : " (link)"));
    outside_.Write("victim", "the user's own file");
    SaveOld(dir_, old_);
    IndexDatabase db(dir_.Path());
    ASSERT_EQ(db.Open(), 0);
    Plant(name, fifo);
    db.Save(new_.words, new_.pages, new_.titles);
    db.Close();
    ExpectNothingWrittenThrough();
    EXPECT_TRUE(LoadDescription(dir_) == newText_);
  }
#endif
}

TEST_F(PlantedNameTest, NameTakenAgainBeforeItsCreationFailsTheSave) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows: FIFOs do not exist and Wine shows a symbolic link as a plain file; "
                  "CREATE_NEW refuses any name that is taken";
#else
  // The names in the order Save creates them.
  const char* const created[] = {"qryfDb.dat.tmp", "qryiDb.dat.tmp", "qrywDb.dat.tmp",
                                 "qryDb.commit"};
  for (std::uint64_t n = 1; n <= 4; ++n) {
    SCOPED_TRACE(created[n - 1]);
    outside_.Write("victim", "the user's own file");
    SaveOld(dir_, old_);
    IndexDatabase db(dir_.Path());
    ASSERT_EQ(db.Open(), 0);
    // Just before the n-th creation, as if another program had been quicker.
    plantAt_ = n;
    creations_ = 0;
    plantName_ = dir_.PathOf(created[n - 1]);
    plantTarget_ = outside_.PathOf("victim");
    FaultInjection::SetHook([](FileOperation operation, std::uint64_t) {
      if (operation != FileOperation::kCreate || ++creations_ != plantAt_) return;
      std::filesystem::create_symlink(plantTarget_, plantName_);
    });
    try {
      db.Save(new_.words, new_.pages, new_.titles);
      ADD_FAILURE() << "Save did not fail";
    } catch (const SaveError& error) {
      EXPECT_EQ(error.WhatIsOnDisk(), SaveError::OnDisk::kPreviousIndex);
      EXPECT_EQ(std::string(error.what()), std::string("Saving the index failed: another program "
                                                       "made ") +
                                               created[n - 1] +
                                               " in the index's folder while it was saved; the "
                                               "previous index is kept.");
    }
    FaultInjection::Clear();
    db.Close();
    ExpectNothingWrittenThrough();
    EXPECT_TRUE(LoadDescription(dir_) == oldText_);
  }
#endif
}

TEST_F(PlantedNameTest, RecoveryRenamesOnlyPlainFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows: FIFOs do not exist and Wine shows a symbolic link as a plain file; "
                  "CREATE_NEW refuses any name that is taken";
#else
  // A crash left a complete replacement and its record; then a name was planted.
  for (const auto& [name, fifo, opens] :
       std::vector<std::tuple<std::string, bool, bool> >{{"qrywDb.dat.tmp", false, false},
                                                         {"qryiDb.dat.tmp", true, false},
                                                         {"qryDb.commit", false, true}}) {
    SCOPED_TRACE(name);
    outside_.Write("victim", "the user's own file");
    SaveOld(dir_, old_);
    const std::string oldWords = dir_.Read(kWordFileName);
    for (const char* temporary : {"qrywDb.dat.tmp", "qryfDb.dat.tmp", "qryiDb.dat.tmp"}) {
      dir_.Write(temporary, dir_.Read(std::string(temporary).substr(0, 10)));
    }
    dir_.Write("qryDb.commit", "");
    Plant(name, fifo);
    IndexDatabase db(dir_.Path());
    if (opens) {
      // A record that is not a plain file was not written by a save: it goes, with the
      // temporary files, and the previous index stays.
      EXPECT_EQ(db.Open(), 0) << db.OpenError();
      EXPECT_FALSE(dir_.Exists("qryDb.commit"));
    } else {
      EXPECT_EQ(db.Open(), 1);
      EXPECT_FALSE(db.IsOpen());
      EXPECT_EQ(db.OpenError(), dir_.PathOf(name) +
                                    (fifo ? " is not a regular file" : " is a symbolic link") +
                                    ": Quarry keeps its index in plain files");
    }
    ExpectNothingWrittenThrough();
    EXPECT_EQ(dir_.Read(kWordFileName), oldWords);
    db.Close();
    for (const char* leftover : kLeftovers) std::filesystem::remove(dir_ / leftover);
  }
#endif
}

TEST(HeldDatabaseTest, NoOtherOpenerGetsAFileWhileSavesReplaceThem) {
#ifdef _WIN32
  GTEST_SKIP()
      << "Windows: runs a second process with fork(); the lock is tested within one process";
#else
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
#endif
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
#ifdef _WIN32
  GTEST_SKIP()
      << "Windows: runs a second process with fork(); the lock is tested within one process";
#else
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
#endif
}

}  // namespace
}  // namespace quarry
