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
  for (std::size_t i = 0; i < list.Size(); ++i) out.emplace_back(list.At(i));
  return out;
}

// The index of MakeIndex is in the window as loaded: words, pages and titles.
void VerifyLoadedIndexKept(const Window& window) {
  QCOMPARE(window.Words(), (std::vector<std::string>{"apple", "mango", "zebra"}));
  QCOMPARE(window.dialog->GetWordList()->Size(), std::size_t{3});
  QCOMPARE(Entries(*window.dialog->GetPageList()),
           (std::vector<std::string>{"/site/b.html", "/site/a.html"}));
  QCOMPARE(Entries(*window.dialog->GetTitleList()),
           (std::vector<std::string>{"beta page", "alpha page"}));
}

}  // namespace

class BuildRunTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // Both on a loaded index, so that lists emptied too early would show.
  void EmptyPageListShowsMessage() {
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.Click("openButton");
    SelectRows(window.PageBox(), {0, 1});
    window.Click("removePagesButton");
    window.dialog->OnBuild();
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("Please add pages to process.")});
    QCOMPARE(window.prompts->questions, 0);
    VerifyLoadedIndexKept(window);
  }

  void AnsweringNoChangesNothing() {
    ScratchDirectory scratch;
    MakeIndex();
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("A", "apple"));
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("a.html"))});
    window.prompts->answerYes = false;
    window.Click("buildButton");
    QCOMPARE(window.prompts->questions, 1);
    QCOMPARE(window.Pages().size(), std::size_t{3});
    VerifyLoadedIndexKept(window);
    QVERIFY(window.Button("buildButton")->isEnabled());
    QCOMPARE(window.dialog->StatusText(), std::string());
  }

  void BuildAfterOpenNumbersPagesInTheBoxOrder() {
    ScratchDirectory scratch;
    MakeIndex();  // two pages loaded; they cannot be opened, so they stay unnumbered
    WriteFile(scratch.FilePath(QStringLiteral("B.html")), Page("Bee", "banana"));
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("Ay", "apple"));
    Window window;
    window.Click("openButton");
    window.prompts->filesToChoose = {scratch.FilePath(QStringLiteral("B.html")),
                                     scratch.FilePath(QStringLiteral("a.html"))};
    window.Click("addPagesButton");
    window.Click("buildButton");
    // a.html comes before B.html: case is folded in the order.
    QCOMPARE(Entries(*window.dialog->GetPageList()),
             (std::vector<std::string>{scratch.Bytes(QStringLiteral("a.html")),
                                       scratch.Bytes(QStringLiteral("B.html"))}));
    QCOMPARE(Entries(*window.dialog->GetTitleList()), (std::vector<std::string>{"ay", "bee"}));
    QCOMPARE(PagesOf(*window.dialog->GetWordList(), "apple"), std::vector<std::int32_t>{0});
    QCOMPARE(PagesOf(*window.dialog->GetWordList(), "banana"), std::vector<std::int32_t>{1});
  }

  void StatusLineShowsEachStepBeforeItRuns() {
    ScratchDirectory scratch;
    // A page large enough to take a while; a small one, painted or not as time goes.
    WriteFile(scratch.FilePath(QStringLiteral("big.html")),
              Page("Big", QByteArray("lorem ").repeated(180000).constData()));
    WriteFile(scratch.FilePath(QStringLiteral("small.html")), Page("Small", "green"));
    Window window;
    window.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.dialog.get()));
    window.Click("openButton");
    window.dialog->OnDropFiles(
        {scratch.Bytes(QStringLiteral("small.html")), scratch.Bytes(QStringLiteral("big.html"))});
    const QString scanningBig = QStringLiteral("Scanning ") + scratch.FilePath("big.html");
    PaintedTexts status(window.dialog->findChild<QLabel*>(QStringLiteral("statusLabel")));
    std::size_t pagesWhenBigShown = 99;
    qint64 wordFileWhileSaving = -1;
    status.onPaint = [&](const QString& text) {
      if (text == scanningBig) pagesWhenBigShown = window.dialog->GetPageList()->Size();
      if (text == QStringLiteral("Saving index...")) {
        wordFileWhileSaving = ReadFile(QStringLiteral("qrywDb.dat")).size();
      }
    };
    window.Click("buildButton");
    window.Click("saveButton");
    QVERIFY(window.prompts->fileErrors.isEmpty());
    for (const QString& other : {QString(), QStringLiteral(" "),
                                 QStringLiteral("Scanning ") + scratch.FilePath("small.html")}) {
      status.texts.removeAll(other);
    }
    QCOMPARE(status.texts, (QStringList{scanningBig, QStringLiteral("Updating word list"),
                                        QStringLiteral("Saving index...")}));
    QCOMPARE(pagesWhenBigShown, std::size_t{0});  // painted before its scan began
    QCOMPARE(wordFileWhileSaving, qint64{32});    // painted before the save began
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
    MakeIndex();
    const QByteArray saved = ReadFile(QStringLiteral("qrywDb.dat"));
    WriteFile(scratch.FilePath(QStringLiteral("a.html")), Page("A", "apple"));
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");
    QVERIFY(window.Button("saveButton")->isEnabled());  // a removal waits to be saved
    // ./a.html comes before the failing page and is scanned; the absolute one comes after it.
    window.dialog->OnDropFiles(
        {"./a.html", scratch.Bytes(QStringLiteral("a.html")), "/proc/self/mem"});
    window.Click("buildButton");
    QCOMPARE(window.prompts->fileErrors.size(), 1);
    QVERIFY2(window.prompts->fileErrors.first().contains(QStringLiteral("/proc/self/mem")),
             qPrintable(window.prompts->fileErrors.first()));
    QVERIFY(!window.prompts->waitCursorAtError);  // the cursor was back before the message
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!window.dialog->IsBusy());
    QCOMPARE(window.dialog->StatusText(), std::string("Scanning /proc/self/mem"));
    // The run stopped at the failing page: Build keeps its state and the page after it was
    // not scanned.
    QVERIFY(window.Button("buildButton")->isEnabled());
    QCOMPARE(window.Pages()[1], std::string("/proc/self/mem"));
    QCOMPARE(Entries(*window.dialog->GetPageList()), std::vector<std::string>{"./a.html"});
    // Part of an index is never saved: Save went off when the run began and stays off, also
    // when words are removed.
    QVERIFY(!window.Button("saveButton")->isEnabled());
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");
    QVERIFY(!window.Button("saveButton")->isEnabled());
    window.dialog->OnSave();
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("Please build word list.")});
    QCOMPARE(ReadFile(QStringLiteral("qrywDb.dat")), saved);
    // A run that completes makes the index savable again.
    SelectRows(window.PageBox(), {1});
    window.Click("removePagesButton");
    window.Click("buildButton");
    QVERIFY(window.Button("saveButton")->isEnabled());
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
      if (absolute) continue;
      QVERIFY2(QFileInfo::exists(expected), qPrintable(expected));
      QVERIFY2(ReadFile(expected) == fromCli, file);
    }
#endif
  }
};

QTEST_MAIN(BuildRunTest)
#include "BuildRunTest.moc"
