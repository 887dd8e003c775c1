#include "io/DatabaseFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "io/DatabaseDirectory.h"
#include "io/FaultInjection.h"
#include "io/FileError.h"
#include "support/TestDirectory.h"

namespace quarry {
namespace {

using test::TestDirectory;

TEST(DatabaseFileTest, CreatesMissingFileAndNeverTruncates) {
  TestDirectory dir;
  {
    DatabaseFile file;
    ASSERT_TRUE(file.Open(dir.Path(), "a.dat"));
    EXPECT_EQ(file.Length(), 0u);
    EXPECT_EQ(file.FullPath().substr(file.FullPath().size() - 6), "/a.dat");
    file.Write("hello", 5);
  }
  DatabaseFile again;
  ASSERT_TRUE(again.Open(dir.Path(), "a.dat"));
  EXPECT_EQ(again.Length(), 5u);
  char buffer[16] = {};
  again.Seek(3);
  EXPECT_EQ(again.Read(buffer, sizeof buffer), 2u);  // short at the end
  EXPECT_EQ(std::string(buffer, 2), "lo");
  EXPECT_EQ(again.Read(buffer, sizeof buffer), 0u);
  again.SetLength(2);
  EXPECT_EQ(again.Length(), 2u);
  again.Write("!", 1);  // SetLength left the position at the new end
  EXPECT_EQ(dir.Read("a.dat"), "he!");
}

TEST(DatabaseFileTest, SecondOpenerInThisProcessFailsUntilClose) {
  TestDirectory dir;
  DatabaseFile first;
  ASSERT_TRUE(first.Open(dir.Path(), "a.dat"));
  DatabaseFile second;
  EXPECT_FALSE(second.Open(dir.Path(), "a.dat"));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.OpenErrorNumber(), EWOULDBLOCK);
  EXPECT_NE(second.OpenError().find("in use by another process"), std::string::npos);
  first.Close();
  EXPECT_TRUE(second.Open(dir.Path(), "a.dat"));
}

TEST(DatabaseFileTest, LockedAgainstAnotherProcess) {
  TestDirectory dir;
  DatabaseFile held;
  ASSERT_TRUE(held.Open(dir.Path(), "a.dat"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DatabaseFile file;
    _exit(file.Open(dir.Path(), "a.dat") ? 1 : (file.OpenErrorNumber() == EWOULDBLOCK ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DatabaseFileTest, RenamedFileStaysLockedUnderItsNewName) {
  TestDirectory dir;
  DatabaseFile old;
  ASSERT_TRUE(old.Open(dir.Path(), "a.dat"));
  DatabaseFile replacement;
  ASSERT_TRUE(replacement.Open(dir.Path(), "a.tmp"));
  replacement.Write("new", 3);
  replacement.RenameTo("a.dat");
  EXPECT_EQ(replacement.Path(), dir.PathOf("a.dat"));
  old.Close();
  DatabaseFile other;
  EXPECT_FALSE(other.Open(dir.Path(), "a.dat"));
  EXPECT_FALSE(dir.Exists("a.tmp"));
  EXPECT_EQ(dir.Read("a.dat"), "new");
}

TEST(DatabaseFileTest, RefusesWhatIsNotARegularFile) {
  TestDirectory dir;
  DatabaseFile file;
  dir.Write("target", "kept");
  ASSERT_EQ(symlink("target", dir.PathOf("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.PathOf("fifo").c_str(), 0600), 0);
  for (const auto access : {DatabaseFile::Access::kReadWrite, DatabaseFile::Access::kRead}) {
    EXPECT_FALSE(file.Open(dir.Path(), "link", access));
    EXPECT_EQ(file.OpenError(),
              dir.PathOf("link") + " is a symbolic link: Quarry keeps its index in plain files");
    EXPECT_FALSE(file.Open(dir.Path(), "fifo", access));  // and does not wait for a writer
    EXPECT_EQ(file.OpenError(),
              dir.PathOf("fifo") + " is not a regular file: Quarry keeps its index in plain files");
  }
  EXPECT_FALSE(file.Open(dir.Path(), "missing", DatabaseFile::Access::kRead));  // never created
  EXPECT_FALSE(dir.Exists("missing"));
  EXPECT_EQ(dir.Read("target"), "kept");
  EXPECT_FALSE(file.Open(dir.Path(), "."));
  EXPECT_FALSE(file.Open(dir.Path() + "/missing", "a.dat"));
  EXPECT_EQ(file.OpenErrorNumber(), ENOENT);
  EXPECT_NE(file.OpenError().find("No such file or directory"), std::string::npos);
}

TEST(DatabaseFileTest, CreateNeverOpensWhatIsThere) {
  TestDirectory dir;
  dir.Write("target", "kept");
  ASSERT_EQ(symlink("target", dir.PathOf("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.PathOf("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.PathOf("fifo").c_str(), 0600), 0);
  for (const char* name : {"target", "link", "dangling", "fifo"}) {
    DatabaseFile file;
    try {
      file.Create(dir.Path(), name);
      ADD_FAILURE() << name << " was opened";
    } catch (const FileError& error) {
      EXPECT_EQ(error.ErrorNumber(), EEXIST) << name;
    }
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(dir.Read("target"), "kept");
  EXPECT_FALSE(dir.Exists("nowhere"));
  DatabaseFile created;
  created.Create(dir.Path(), "new");
  DatabaseFile other;
  EXPECT_FALSE(other.Open(dir.Path(), "new", DatabaseFile::Access::kRead));  // held exclusively
}

TEST(DatabaseFileTest, ReadersShareTheirLock) {
  TestDirectory dir;
  dir.Write("a.dat", "abc");
  DatabaseFile first;
  DatabaseFile second;
  ASSERT_TRUE(first.Open(dir.Path(), "a.dat", DatabaseFile::Access::kRead));
  ASSERT_TRUE(second.Open(dir.Path(), "a.dat", DatabaseFile::Access::kRead));
  DatabaseFile writer;
  EXPECT_FALSE(writer.Open(dir.Path(), "a.dat"));
  EXPECT_EQ(writer.OpenErrorNumber(), EWOULDBLOCK);
}

TEST(DatabaseFileTest, InjectedFailuresCarryTheSystemText) {
  TestDirectory dir;
  DatabaseFile file;
  ASSERT_TRUE(file.Open(dir.Path(), "a.dat"));
  FaultInjection::Clear();
  FaultInjection::FailAt(2, ENOSPC);
  file.Write("a", 1);
  try {
    file.Write("b", 1);
    ADD_FAILURE() << "the second write should fail";
  } catch (const FileError& error) {
    EXPECT_EQ(error.ErrorNumber(), ENOSPC);
    EXPECT_EQ(std::string(error.what()), dir.PathOf("a.dat") + ": No space left on device");
  }
  file.Write("c", 1);  // one failure only
  FaultInjection::FailAt(FaultInjection::Count() + 1, EIO);
  EXPECT_THROW(file.Sync(), FileError);
  FaultInjection::FailAt(FaultInjection::Count() + 1, EIO);
  EXPECT_THROW(file.SetLength(0), FileError);
  FaultInjection::FailAt(FaultInjection::Count() + 1, EIO);
  EXPECT_THROW(file.RenameTo("b.dat"), FileError);
  FaultInjection::FailAt(FaultInjection::Count() + 1, EIO);
  EXPECT_THROW(DatabaseDirectory(dir.Path()).Sync(), FileError);
  FaultInjection::Clear();
  EXPECT_EQ(dir.Read("a.dat"), "ac");
  EXPECT_TRUE(dir.Exists("a.dat"));
}

}  // namespace
}  // namespace quarry
