#include "database/IndexDatabase.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "database/FileHeader.h"
#include "io/DatabaseFile.h"
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
  for (const std::string* p = pages.GetFirst(); p; p = pages.GetNext()) index.pages.push_back(*p);
  for (const std::string* t = titles.GetFirst(); t; t = titles.GetNext()) {
    index.titles.push_back(*t);
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
  EXPECT_EQ(dir_.Size(kTitleFileName), 0u);
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
  IndexDatabase db(dir_.Path());
  db.Open();
  std::filesystem::permissions(dir_.PathOf(kPageFileName), std::filesystem::perms(0640));
  SaveFilled(db);
  EXPECT_EQ(std::filesystem::status(dir_.PathOf(kPageFileName)).permissions(),
            std::filesystem::perms(0640));
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
  {
    IndexDatabase db(dir_.Path());
    db.Open();
    SaveFilled(db);
  }
  const std::string oldWords = dir_.Read(kWordFileName);
  dir_.Write(kPageFileName, "");
  IndexDatabase db(dir_.Path());
  EXPECT_EQ(db.Open(), 1);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(db.GetWordCountText(), "0");
  const std::string words = dir_.Read(kWordFileName);
  EXPECT_EQ(words.substr(0, 32), kFresh);
  EXPECT_EQ(words.substr(32), oldWords.substr(32));  // only the header is written over
  EXPECT_EQ(dir_.Read(kPageFileName), kFresh);
  WordList loadedWords;
  db.Load(loadedWords, pages_, titles_);
  EXPECT_EQ(loadedWords.Size(), 0u);
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
  localtime_r(&now, &local);
  EXPECT_NE(date.find(std::to_string(local.tm_year + 1900)), std::string::npos);
}

TEST_F(IndexDatabaseTest, EmptyCurrentDirectoryUsesBareNames) {
  const std::string previous = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.Path());
  {
    IndexDatabase db;
    EXPECT_EQ(db.Open(), 1);
    EXPECT_EQ(db.GetIndexPath(),
              std::filesystem::canonical(dir_.Path()).string() + "/" + kWordFileName);
    SaveFilled(db);
  }
  std::filesystem::current_path(previous);
  EXPECT_EQ(LoadIndex(dir_.Path()).pages.size(), 2u);
}

}  // namespace
}  // namespace quarry
