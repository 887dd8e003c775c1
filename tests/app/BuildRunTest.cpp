// The Build run in the window: the pages it keeps and drops, its words, its end state, its
// file errors, the whole cycle through Save and Open, and its files against the command line's.
#include <QLabel>
#include <QProcess>
#include <QtTest>

#include "AppTestSupport.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

using namespace quarry;
using namespace quarry::test;

namespace {

// An HTML page with a title and body text.
QByteArray Page(const char* title, const char* body) {
  return QByteArray("<html><head><title>") + title + "</title></head><body>" + body +
         "</body></html>\n";
}

// The page numbers of a word, or none.
std::vector<std::int32_t> PagesOf(WordList& words, const char* word) {
  const WordEntry* entry = words.Find(word);
  return entry ? entry->GetPages() : std::vector<std::int32_t>{};
}

std::vector<std::string> Entries(TextList& list) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < list.Size(); ++i) out.push_back(list.At(i));
  return out;
}

}  // namespace

class BuildRunTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void EmptyPageListShowsMessage() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    window.dialog->OnBuild();
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("Please add pages to process.")});
    QCOMPARE(window.prompts->questions, 0);
  }

  void AnsweringNoChangesNothing() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("A", "apple"));
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("a.html")), "/no/such/page.html"});
    window.prompts->answerYes = false;
    window.Click("buildButton");
    QCOMPARE(window.prompts->questions, 1);
    QCOMPARE(window.Pages().size(), std::size_t{2});
    QCOMPARE(window.dialog->GetPageList()->Size(), std::size_t{0});
    QVERIFY(window.Button("buildButton")->isEnabled());
    QCOMPARE(window.dialog->StatusText(), std::string());
  }

  void PagesThatAreNotHtmlLeaveTheList() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("Alpha", "apple shared"));
    WriteFile(scratch.FilePath(QStringLiteral("b.txt")), "plain text, no markup\n");
    WriteFile(scratch.FilePath(QStringLiteral("c.txt")), "more plain text\n");
    WriteFile(scratch.FilePath(QStringLiteral("d.html")), Page("Delta", "dog shared"));
    WriteFile(scratch.FilePath(QStringLiteral("e.txt")), "");
    Window window;
    window.Click("openButton");
    // b and c are adjacent, e is last: none may be skipped.
    window.dialog->OnDropFiles(
        {scratch.Bytes(QStringLiteral("a.html")), scratch.Bytes(QStringLiteral("b.txt")),
         scratch.Bytes(QStringLiteral("c.txt")), scratch.Bytes(QStringLiteral("d.html")),
         scratch.Bytes(QStringLiteral("e.txt"))});
    window.Click("buildButton");
    const std::vector<std::string> kept = {scratch.Bytes(QStringLiteral("a.html")),
                                           scratch.Bytes(QStringLiteral("d.html"))};
    QCOMPARE(window.Pages(), kept);
    QCOMPARE(Entries(*window.dialog->GetPageList()), kept);
    QCOMPARE(Entries(*window.dialog->GetTitleList()), (std::vector<std::string>{"alpha", "delta"}));
    WordList& words = *window.dialog->GetWordList();
    QCOMPARE(PagesOf(words, "apple"), std::vector<std::int32_t>{0});
    QCOMPARE(PagesOf(words, "dog"), std::vector<std::int32_t>{1});
    // A word on both pages is one entry, shown once.
    QCOMPARE(PagesOf(words, "shared"), (std::vector<std::int32_t>{0, 1}));
    const std::vector<std::string> shown = window.Words();
    QCOMPARE(std::count(shown.begin(), shown.end(), "shared"), 1);
    QCOMPARE(window.Words().size(), words.Size());
  }

  void EndState() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("A", "apple"));
    Window window;
    window.Click("openButton");
    const QString dateBefore = window.dialog->findChild<QLabel*>("dateLabel")->text();
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("a.html"))});
    window.Click("buildButton");
    QVERIFY(window.prompts->fileErrors.isEmpty());
    QCOMPARE(window.dialog->StatusText(), std::string(" "));
    QVERIFY(window.Button("saveButton")->isEnabled());
    QVERIFY(!window.Button("buildButton")->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!window.dialog->IsBusy());
    // The labels describe the files, which Build does not change.
    QCOMPARE(window.dialog->WordCountText(), std::string("0"));
    QCOMPARE(window.dialog->findChild<QLabel*>("dateLabel")->text(), dateBefore);
    QVERIFY(window.WordBox()->HorizontalExtent() > 0);
  }

  void PagesThatCannotBeOpenedStay() {
    ScratchDirectory scratch;
    QDir().mkdir(scratch.FilePath(QStringLiteral("folder")));
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({"/no/such/a.html", "/no/such/b.html"});
    window.prompts->filesToChoose = {scratch.FilePath(QStringLiteral("folder"))};
    window.Click("addPagesButton");  // the file dialog takes a folder as it is
    window.Click("buildButton");
    QCOMPARE(window.Pages().size(), std::size_t{3});
    QVERIFY(window.Words().empty());
    QCOMPARE(window.dialog->GetWordList()->Size(), std::size_t{0});
    QCOMPARE(window.dialog->GetPageList()->Size(), std::size_t{0});
    QCOMPARE(window.dialog->GetTitleList()->Size(), std::size_t{0});
    QVERIFY(window.prompts->fileErrors.isEmpty());
  }

  void FileErrorEndsTheRunAndIsShown() {
    // /proc/self/mem opens as a regular file but cannot be read from its start.
    if (!QFileInfo(QStringLiteral("/proc/self/mem")).isFile()) QSKIP("no /proc/self/mem");
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("A", "apple"));
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("a.html")), "/proc/self/mem"});
    window.Click("buildButton");
    QCOMPARE(window.prompts->fileErrors.size(), 1);
    QVERIFY2(window.prompts->fileErrors.first().contains(QStringLiteral("/proc/self/mem")),
             qPrintable(window.prompts->fileErrors.first()));
    QVERIFY(!window.prompts->waitCursorAtError);  // the cursor was back before the message
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!window.dialog->IsBusy());
    QCOMPARE(window.dialog->StatusText(), std::string("Scanning /proc/self/mem"));
    // The run stopped at the failing page (the first in the page order): the buttons keep
    // their states and the page after it was not scanned.
    QVERIFY(window.Button("buildButton")->isEnabled());
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QCOMPARE(window.Pages().front(), std::string("/proc/self/mem"));
    QCOMPARE(window.dialog->GetPageList()->Size(), std::size_t{0});
    // The program goes on: another command runs.
    window.Click("openButton");
    QCOMPARE(window.Button("openButton")->text(), QStringLiteral("&Open"));
  }

  void WholeCycleShowsTheSameIndexAgain() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("one.html")), Page("One", "red green blue"));
    WriteFile(scratch.FilePath(QStringLiteral("two.html")), Page("Two", "green yellow"));
    Window window;
    window.Click("openButton");
    window.prompts->filesToChoose = {scratch.FilePath(QStringLiteral("two.html")),
                                     scratch.FilePath(QStringLiteral("one.html"))};
    window.Click("addPagesButton");
    window.Click("buildButton");
    window.Click("saveButton");
    const std::vector<std::string> words = window.Words();
    const std::vector<std::string> pages = window.Pages();
    for (const char* word : {"blue", "green", "red", "yellow"}) {
      QVERIFY2(std::count(words.begin(), words.end(), word) == 1, word);
    }
    QCOMPARE(window.dialog->WordCountText(), std::to_string(words.size()));
    QCOMPARE(window.dialog->PageCountText(), std::string("2"));
    window.Click("openButton");  // close
    QVERIFY(window.Words().empty());
    window.Click("openButton");  // open
    QCOMPARE(window.Words(), words);
    QCOMPARE(window.Pages(), pages);
    QCOMPARE(window.dialog->WordCountText(), std::to_string(words.size()));
    QCOMPARE(PagesOf(*window.dialog->GetWordList(), "green"), (std::vector<std::int32_t>{0, 1}));
    QVERIFY(window.prompts->messages.isEmpty() && window.prompts->fileErrors.isEmpty());
  }

  void WindowAndCommandLineWriteTheSameFiles_data() {
    QTest::addColumn<bool>("startUp");
    QTest::addColumn<bool>("absolute");
    QTest::newRow("folder dropped, absolute path") << false << true;
    QTest::newRow("folder named at start-up, relative path") << true << false;
  }

  void WindowAndCommandLineWriteTheSameFiles() {
#ifndef QUARRY_CLI
    QSKIP("quarry-cli is not built");
#else
    QFETCH(bool, startUp);
    QFETCH(bool, absolute);
    ScratchDirectory scratch;
    // The sample site (nested folders, a hidden page, upper-case extensions, a link to a folder,
    // a file that is not a page), copied so that the expected files' relative paths hold.
    const QString source = QStringLiteral(QUARRY_TEST_DATA_DIR "/site");
    QVERIFY(QFileInfo(source).isDir());
    QVERIFY(QProcess::execute(
                QStringLiteral("cp"),
                {QStringLiteral("-R"), source, scratch.FilePath(QStringLiteral("site"))}) == 0);
    const QString site =
        absolute ? scratch.FilePath(QStringLiteral("site")) : QStringLiteral("site");
    QDir().mkdir(scratch.FilePath(QStringLiteral("cli")));
    QProcess cli;
    cli.setWorkingDirectory(scratch.Path());
    cli.start(QStringLiteral(QUARRY_CLI),
              {QStringLiteral("index"), QStringLiteral("--no-progress"), QStringLiteral("-q"),
               QStringLiteral("--db"), QStringLiteral("cli"), site});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);

    Window window;
    if (startUp) {
      window.dialog->StartWithPages({QFile::encodeName(site).toStdString()});
    } else {
      window.Click("openButton");
      window.dialog->OnDropFiles({QFile::encodeName(site).toStdString()});
    }
    window.Click("buildButton");
    window.Click("saveButton");
    QVERIFY(window.prompts->messages.isEmpty() && window.prompts->fileErrors.isEmpty());
    for (const char* file : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
      const QByteArray fromCli =
          ReadFile(scratch.FilePath(QStringLiteral("cli/")) + QString::fromLatin1(file));
      QVERIFY2(fromCli.size() > 32, file);
      QVERIFY2(ReadFile(QString::fromLatin1(file)) == fromCli, file);
      // With relative paths, both match the sample site's expected files.
      const QString expected =
          QStringLiteral(QUARRY_TEST_DATA_DIR "/site-expected/") + QString::fromLatin1(file);
      if (!absolute && QFileInfo::exists(expected)) QVERIFY2(ReadFile(expected) == fromCli, file);
    }
#endif
  }
};

QTEST_MAIN(BuildRunTest)
#include "BuildRunTest.moc"
