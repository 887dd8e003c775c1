#include "database/IndexDatabase.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#endif

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "database/FileHeader.h"
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

const std::string kFresh = std::string("QR01") + std::string(28, '\0');

// The three lists of an index, as plain values to compare.
struct Index {
  std::vector<std::string> pages;
  std::vector<std::string> titles;
  std::vector<std::pair<std::string, std::vector<std::int32_t>>> words;
  bool operator==(const Index&) const = default;
};

Index Snapshot(WordList& words, TextList& pages, TextList& titles) {
  Index index;
  for (auto p = pages.GetFirst(); p; p = pages.GetNext()) index.pages.emplace_back(*p);
  for (auto t = titles.GetFirst(); t; t = titles.GetNext()) {
    index.titles.emplace_back(*t);
  }
  for (WordEntry* e = words.GetFirst(); e; e = words.GetNext()) {
    index.words.emplace_back(e->GetText(), e->GetPages());
  }
  return index;
}

Index LoadIndex(const std::string& directory) {
  IndexDatabase db(directory);
  EXPECT_EQ(db.Open(), 0) << db.OpenError();
  WordList words;
  TextList pages;
  TextList titles;
  db.Load(words, pages, titles);
  return Snapshot(words, pages, titles);
}

class IndexDatabaseTest : public ::testing::Test {
 protected:
  void Fill() {
    pages_.Add("a.htm");
    pages_.Add("dir/b.htm");
    titles_.Add("alpha page");
    titles_.Add("dir/b.htm");
    words_.AddWord("Zebra", 0);
    words_.AddWord("apple", 1);
    words_.AddWord("mango", 1);
    words_.AddWord("mango", 0);
    words_.AddWord("apple", 0);
  }
  void SaveFilled(IndexDatabase& db) {
    Fill();
    db.Save(words_, pages_, titles_);
  }

  TestDirectory dir_;
  WordList words_;
  TextList pages_;
  TextList titles_;
};

TEST_F(IndexDatabaseTest, OpenInEmptyDirectoryCreatesNewDatabase) {
  IndexDatabase db(dir_.Path());
  EXPECT_EQ(db.Open(), 1);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.OpenError(), "");
  EXPECT_EQ(dir_.Read(kWordFileName), kFresh);
  EXPECT_EQ(dir_.Read(kPageFileName), kFresh);
  EXPECT_EQ(dir_.Read(kTitleFileName), kFresh);
  EXPECT_EQ(db.GetWordCountText(), "0");
  EXPECT_EQ(db.GetSizeText(), "64");
  EXPECT_EQ(db.GetIndexPath(), dir_.PathOf(kWordFileName));
}

TEST_F(IndexDatabaseTest, SaveThenLoadGivesBackTheSameLists) {
  IndexDatabase db(dir_.Path());
  db.Open();
  SaveFilled(db);
  const Index saved = Snapshot(words_, pages_, titles_);
  EXPECT_EQ(saved.words.front().first, "zebra");
  EXPECT_EQ(db.GetWordCountText(), "3");
  EXPECT_EQ(db.GetPageCountText(), "2");
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    const std::string bytes = dir_.Read(name);
    EXPECT_EQ(
        std::to_string(bytes.size()),
        std::to_string(
            FileHeader::Decode(reinterpret_cast<const unsigned char*>(bytes.data())).totalSize))
        << name;
  }
  EXPECT_EQ(db.GetSizeText(), std::to_string(dir_.Size(kWordFileName) + dir_.Size(kPageFileName)));

  WordList words;
  TextList pages;
  TextList titles;
  db.Load(words, pages, titles);
  EXPECT_EQ(Snapshot(words, pages, titles), saved);
  db.Close();
  EXPECT_EQ(LoadIndex(dir_.Path()), saved);
}

TEST_F(IndexDatabaseTest, SaveReplacesALargerIndexWholly) {
  IndexDatabase db(dir_.Path());
  db.Open();
  SaveFilled(db);
  WordList fewer;
  fewer.AddWord("only", 0);
  TextList page;
  page.Add("x.htm");
  db.Save(fewer, page, page);
  db.Close();
  const Index loaded = LoadIndex(dir_.Path());
  EXPECT_EQ(loaded.pages, std::vector<std::string>{"x.htm"});
  ASSERT_EQ(loaded.words.size(), 1u);
  EXPECT_EQ(dir_.Size(kWordFileName), 32u + 4 + 5 + 4 + 4);
}

TEST_F(IndexDatabaseTest, SaveKeepsTheFilesPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows: files have access rules, not POSIX permission bits; a new file "
                  "inherits the folder's";
#else
  IndexDatabase db(dir_.Path());
  db.Open();
  std::filesystem::permissions(dir_.PathOf(kPageFileName), std::filesystem::perms(0640));
  SaveFilled(db);
  EXPECT_EQ(std::filesystem::status(dir_.PathOf(kPageFileName)).permissions(),
            std::filesystem::perms(0640));
#endif
}

TEST_F(IndexDatabaseTest, OpenExistingDatabaseGivesZero) {
  {
    IndexDatabase db(dir_.Path());
    db.Open();
    SaveFilled(db);
  }
  IndexDatabase db(dir_.Path());
  EXPECT_EQ(db.Open(), 0);
  EXPECT_EQ(db.GetWordCountText(), "3");
  EXPECT_EQ(db.GetPageCountText(), "2");
}

TEST_F(IndexDatabaseTest, EmptyTitleFileGetsItsHeader) {
  dir_.Write(kWordFileName, kFresh);
  dir_.Write(kPageFileName, kFresh);
  dir_.Write(kTitleFileName, "");
  IndexDatabase db(dir_.Path());
  EXPECT_EQ(db.Open(), 0);
  EXPECT_EQ(dir_.Read(kTitleFileName), kFresh);
}

TEST_F(IndexDatabaseTest, WordDataWithEmptyPageFileStartsANewDatabase) {
  // The same object opens the new database: nothing of the old one's headers may remain.
  IndexDatabase db(dir_.Path());
  db.Open();
  SaveFilled(db);
  db.Close();
  const std::string oldWords = dir_.Read(kWordFileName);
  dir_.Write(kPageFileName, "");
  EXPECT_EQ(db.Open(), 1);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.GetWordCountText(), "0");
  const std::string words = dir_.Read(kWordFileName);
  EXPECT_EQ(words.substr(0, 32), kFresh);
  EXPECT_EQ(words.substr(32), oldWords.substr(32));  // only the header is written over
  EXPECT_EQ(dir_.Read(kPageFileName), kFresh);
  EXPECT_EQ(dir_.Read(kTitleFileName).substr(0, 32), kFresh);
  WordList loadedWords;
  db.Load(loadedWords, pages_, titles_);
  EXPECT_EQ(loadedWords.Size(), 0u);
  EXPECT_EQ(pages_.Size(), 0u);
  EXPECT_EQ(titles_.Size(), 0u);
}

TEST_F(IndexDatabaseTest, SecondDatabaseInThisProcessCannotOpen) {
  IndexDatabase first(dir_.Path());
  ASSERT_EQ(first.Open(), 1);
  IndexDatabase second(dir_.Path());
  EXPECT_EQ(second.Open(), 1);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_NE(second.OpenError().find(kWordFileName), std::string::npos);
  EXPECT_NE(second.OpenError().find("in use by another process"), std::string::npos);
  EXPECT_EQ(second.GetIndexPath(), "");
  first.Close();
  EXPECT_EQ(second.Open(), 0);
  EXPECT_EQ(second.OpenError(), "");
}

TEST_F(IndexDatabaseTest, FilesHeldByAnotherProcess) {
#ifdef _WIN32
  GTEST_SKIP()
      << "Windows: runs a second process with fork(); the lock is tested within one process";
#else
  // "" stands for a whole database held by the other process.
  for (const std::string held : {"", kWordFileName, kPageFileName, kTitleFileName}) {
    SCOPED_TRACE(held);
    int toChild[2];
    int fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The child holds the database or one of its files, says so, and waits.
      IndexDatabase other(dir_.Path());
      DatabaseFile file;
      const bool holds =
          held.empty() ? (other.Open(), other.IsOpen()) : file.Open(dir_.Path(), held);
      const char ready = holds ? 'y' : 'n';
      if (write(fromChild[1], &ready, 1) != 1) _exit(2);
      char done;
      _exit(read(toChild[0], &done, 1) == 1 ? 0 : 3);
    }
    char ready = 0;
    ASSERT_EQ(read(fromChild[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');
    IndexDatabase db(dir_.Path());
    EXPECT_EQ(db.Open(), 1);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_NE(db.OpenError().find(held.empty() ? kWordFileName : held), std::string::npos);
    EXPECT_NE(db.OpenError().find("in use by another process"), std::string::npos);
    ASSERT_EQ(write(toChild[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
    // The files opened before the held one were released: the database opens now.
    db.Open();
    EXPECT_TRUE(db.IsOpen()) << db.OpenError();
  }
#endif
}

TEST_F(IndexDatabaseTest, ResetMakesFreshFiles) {
  IndexDatabase db(dir_.Path());
  db.Open();
  SaveFilled(db);
  db.Reset();
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    EXPECT_EQ(dir_.Read(name), kFresh) << name;
  }
  EXPECT_EQ(db.GetWordCountText(), "0");
  db.Close();
  EXPECT_EQ(db.Open(), 0);
  EXPECT_EQ(db.GetWordCountText(), "0");
  EXPECT_EQ(db.GetPageCountText(), "0");
  EXPECT_EQ(db.GetSizeText(), "64");
}

TEST_F(IndexDatabaseTest, SizeTextIgnoresTitleFile) {
  dir_.Write(kWordFileName, kFresh);
  dir_.Write(kPageFileName, kFresh);
  dir_.Write(kTitleFileName, kFresh + std::string(968, 'x'));
  IndexDatabase db(dir_.Path());
  EXPECT_EQ(db.Open(), 0);
  EXPECT_EQ(db.GetSizeText(), "64");
}

TEST_F(IndexDatabaseTest, ClosedDatabaseHasNoStatisticsAndIgnoresResetAndClose) {
  IndexDatabase db(dir_.Path());
  db.Close();
  db.Reset();
  EXPECT_FALSE(dir_.Exists(kWordFileName));
  db.Open();
  db.Close();
  db.Close();
  EXPECT_FALSE(db.IsOpen());
  for (const std::string& text : {db.GetIndexPath(), db.GetWordCountText(), db.GetPageCountText(),
                                  db.GetDateText(), db.GetSizeText()}) {
    EXPECT_EQ(text, "");
  }
}

TEST_F(IndexDatabaseTest, DateTextIsEnglishWhateverTheLocale) {
  IndexDatabase db(dir_.Path());
  db.Open();
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // may not exist; the C locale then stays
  const std::string date = db.GetDateText();
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_TRUE(std::regex_match(
      date,
      std::regex("(January|February|March|April|May|June|July|August|September|October|"
                 "November|December) [0-3][0-9], [0-9]{4}  [0-2][0-9]:[0-5][0-9]:[0-6][0-9]")))
      << date;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  EXPECT_NE(date.find(std::to_string(local.tm_year + 1900)), std::string::npos);
  // A time that cannot be read gives an empty text, not an error.
  FaultInjection::Clear();
  FaultInjection::FailAt(1, EIO);
  EXPECT_EQ(db.GetDateText(), "");
  FaultInjection::Clear();
}

TEST_F(IndexDatabaseTest, TheFolderIsFixedAtOpen) {
  // Opened in the current directory, then saved and reset after the process moved elsewhere.
  const std::string previous = std::filesystem::current_path().string();
  TestDirectory elsewhere;
  std::filesystem::current_path(dir_.Path());
  {
    IndexDatabase db;
    EXPECT_EQ(db.Open(), 1);
    EXPECT_EQ(db.GetIndexPath(),
              std::filesystem::canonical(dir_.Path()).generic_string() + "/" + kWordFileName);
    std::filesystem::current_path(elsewhere.Path());
    db.Reset();
    SaveFilled(db);
  }
  std::filesystem::current_path(previous);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
  EXPECT_EQ(LoadIndex(dir_.Path()).pages.size(), 2u);
}

TEST_F(IndexDatabaseTest, SaveWritesFreshHeadersOverForeignOnes) {
  IndexDatabase db(dir_.Path());
  db.Open();
  SaveFilled(db);
  db.Close();
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    std::string bytes = dir_.Read(name);
    bytes.replace(0, 4, "XYZ9");
    bytes[31] = '\x7f';
    dir_.Write(name, bytes);
  }
  ASSERT_EQ(db.Open(), 0);
  db.Save(words_, pages_, titles_);
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    const std::string bytes = dir_.Read(name);
    EXPECT_EQ(bytes.substr(0, 4), "QR01") << name;
    EXPECT_EQ(bytes.substr(12, 20), std::string(20, '\0')) << name;
  }
}

TEST_F(IndexDatabaseTest, LinkOrFifoAtADatabaseNameIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows: symbolic links need privileges and FIFOs do not exist; reparse points "
                  "are refused by attribute";
#else
  TestDirectory outside;
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    for (const bool fifo : {false, true}) {
      SCOPED_TRACE(std::string(name) + (fifo ? " (FIFO)" : " (link)"));
      outside.Write("victim", "");  // empty: a new database would write its header into it
      TestDirectory dir;
      if (fifo) {
        ASSERT_EQ(mkfifo(dir.PathOf(name).c_str(), 0600), 0);
      } else {
        std::filesystem::create_symlink(outside.PathOf("victim"), dir.PathOf(name));
      }
      const std::string refusal = dir.PathOf(name) +
                                  (fifo ? " is not a regular file" : " is a symbolic link") +
                                  ": Quarry keeps its index in plain files";
      IndexDatabase db(dir.Path());
      EXPECT_EQ(db.Open(), 1);
      EXPECT_FALSE(db.IsOpen());
      EXPECT_EQ(db.OpenError(), refusal);
      EXPECT_EQ(db.OpenForReading(), IndexDatabase::ReadOpen::kCannotOpen);
      EXPECT_EQ(db.OpenError(), refusal);
      EXPECT_EQ(outside.Size("victim"), 0u);
      // Nothing was made beside the refused name.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    }
  }
#endif
}

TEST_F(IndexDatabaseTest, OpenForReadingSharesAndNeverWrites) {
  {
    IndexDatabase db(dir_.Path());
    db.Open();
    SaveFilled(db);
  }
  const Index saved = LoadIndex(dir_.Path());
  IndexDatabase reader(dir_.Path());
  IndexDatabase second(dir_.Path());
  ASSERT_EQ(reader.OpenForReading(), IndexDatabase::ReadOpen::kOpen) << reader.OpenError();
  ASSERT_EQ(second.OpenForReading(), IndexDatabase::ReadOpen::kOpen) << second.OpenError();
  EXPECT_EQ(second.GetWordCountText(), "3");
  WordList words;
  TextList pages;
  TextList titles;
  second.Load(words, pages, titles);
  EXPECT_EQ(Snapshot(words, pages, titles), saved);
  EXPECT_THROW(second.Save(words, pages, titles), FileError);
  EXPECT_THROW(second.Reset(), FileError);
  // A reader keeps a writer out, and a writer keeps readers out.
  IndexDatabase writer(dir_.Path());
  EXPECT_EQ(writer.Open(), 1);
  EXPECT_FALSE(writer.IsOpen());
  reader.Close();
  second.Close();
  ASSERT_EQ(writer.Open(), 0);
  EXPECT_EQ(reader.OpenForReading(), IndexDatabase::ReadOpen::kCannotOpen);
  EXPECT_NE(reader.OpenError().find("in use by another process"), std::string::npos);
  writer.Close();

  // A record a crash left is not completed by a reader, and a missing title file reads as none.
  dir_.Write("qryDb.commit", "");
  EXPECT_EQ(reader.OpenForReading(), IndexDatabase::ReadOpen::kSaveInterrupted);
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_TRUE(dir_.Exists("qryDb.commit"));
  std::filesystem::remove(dir_.PathOf("qryDb.commit"));
  std::filesystem::remove(dir_.PathOf(kTitleFileName));
  ASSERT_EQ(reader.OpenForReading(), IndexDatabase::ReadOpen::kOpen);
  reader.Load(words, pages, titles);
  EXPECT_EQ(pages.Size(), 2u);
  EXPECT_EQ(titles.Size(), 0u);
  EXPECT_FALSE(dir_.Exists(kTitleFileName));
}

}  // namespace
}  // namespace quarry
