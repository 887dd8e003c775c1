// Adding pages with the file dialog and by dropping files, removing pages and words, and the
// list boxes' horizontal extent.
#include <QMimeData>
#include <QScrollBar>
#include <QUrl>
#include <QtTest>
#include <algorithm>

#include "AppTestSupport.h"
#include "database/IndexDatabase.h"
#include "io/SearchPageMarks.h"
#include "model/TextList.h"
#include "model/WordList.h"

using namespace quarry;
using namespace quarry::test;

namespace {

// Saves an index holding the given words (all on page 0) in the current directory.
void MakeIndexOfWords(const std::vector<std::string>& words) {
  IndexDatabase database;
  database.Open();
  WordList wordList;
  TextList pages;
  TextList titles;
  titles.Add("t");
  pages.Add("/site/a.html");
  for (const std::string& word : words) wordList.AddWord(word, 0);
  database.Save(wordList, pages, titles);
}

// Drops urls on the page list box as a file manager would; true when the box took them.
bool DropUrls(ByteListBox* box, const QList<QUrl>& urls) {
  QMimeData mime;
  mime.setUrls(urls);
  const QPointF at = box->viewport()->rect().center();
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(box->viewport(), &enter);
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(box->viewport(), &drop);
  return enter.isAccepted() && drop.isAccepted();
}

}  // namespace

class ListEditingTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void AddPagesKeepsChosenPathsAsTheyAre() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    window.prompts->filesToChoose = {QStringLiteral("/Site/B.html"), QStringLiteral("/Site/a.htm")};
    window.Click("addPagesButton");
    window.Click("addPagesButton");  // a second time: listed twice
    const std::vector<std::string> expected = {"/Site/a.htm", "/Site/a.htm", "/Site/B.html",
                                               "/Site/B.html"};
    QCOMPARE(window.Pages(), expected);
    QVERIFY(window.Button("buildButton")->isEnabled());
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QCOMPARE(window.PageBox()->HorizontalExtent(),
             std::max(window.PageBox()->MeasureEntry(0), window.PageBox()->MeasureEntry(2)));
  }

  void AddPagesCancelledChangesNothing() {
    ScratchDirectory scratch;
    MakeIndexOfWords({"word"});
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");  // Save on
    window.Click("addPagesButton");     // no files chosen
    QCOMPARE(window.Pages().size(), std::size_t{1});
    QVERIFY(window.Button("saveButton")->isEnabled());
    QVERIFY(!window.Button("buildButton")->isEnabled());
  }

  void DropAddsOnlyPathsNotListedExactly() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({"/site/a.html"});
    QVERIFY(window.Button("buildButton")->isEnabled());
    // A path that merely begins an entry is not listed: it is added.
    window.dialog->OnDropFiles({"/site/a.htm"});
    // Listed already (the same bytes): nothing added, also within one drop.
    window.dialog->OnDropFiles({"/site/a.html", "/site/c.html", "/site/c.html"});
    const std::vector<std::string> expected = {"/site/a.htm", "/site/a.html", "/site/c.html"};
    QCOMPARE(window.Pages(), expected);
  }

  void DropKeepsCaseAndBytesOnThisFileSystem() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    const std::string latin1 = "/site/caf\xe9.html";  // not UTF-8
    window.dialog->OnDropFiles({"/Site/Index.HTML", latin1});
    window.dialog->OnDropFiles({"/site/index.html"});  // another file here: added
    const std::vector<std::string> expected = {"/site/caf\xe9.html", "/Site/Index.HTML",
                                               "/site/index.html"};
    QCOMPARE(window.Pages(), expected);
  }

  void DropEventsReachThePageList() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("One.html")), "<html>one</html>");
    QDir().mkdir(scratch.FilePath(QStringLiteral("folder")));
    WriteFile(scratch.FilePath(QStringLiteral("folder/Two.HTM")), "<html>two</html>");
    Window window;
    window.Click("openButton");
    window.dialog->show();
    QVERIFY(DropUrls(window.PageBox(),
                     {QUrl::fromLocalFile(scratch.FilePath(QStringLiteral("One.html"))),
                      QUrl::fromLocalFile(scratch.FilePath(QStringLiteral("folder"))),
                      QUrl(QStringLiteral("https://example.org/x.html"))}));
    const std::vector<std::string> expected = {scratch.Bytes(QStringLiteral("folder/Two.HTM")),
                                               scratch.Bytes(QStringLiteral("One.html"))};
    QCOMPARE(window.Pages(), expected);
    QVERIFY(window.Button("buildButton")->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);  // the wait cursor is gone again
  }

  void DropDuringBuildIsRefused() {
    ScratchDirectory scratch;
    // Large enough that its "Scanning" text is painted before its scan.
    WriteFile(scratch.FilePath(QStringLiteral("a.html")),
              "<html>" + QByteArray("apple ").repeated(180000) + "</html>");
    WriteFile(scratch.FilePath(QStringLiteral("late.html")), "<html>late</html>");
    const QUrl late = QUrl::fromLocalFile(scratch.FilePath(QStringLiteral("late.html")));
    Window window;
    window.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.dialog.get()));
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("a.html"))});
    PaintedTexts status(window.dialog->findChild<QLabel*>(QStringLiteral("statusLabel")));
    int dropsTaken = 0;
    int dropsTried = 0;
    status.onPaint = [&](const QString& text) {
      if (!text.startsWith(QStringLiteral("Scanning"))) return;
      ++dropsTried;
      if (DropUrls(window.PageBox(), {late})) ++dropsTaken;
    };
    window.Click("buildButton");
    QVERIFY(dropsTried > 0);
    QCOMPARE(dropsTaken, 0);
    QCOMPARE(window.Pages(), std::vector<std::string>{scratch.Bytes(QStringLiteral("a.html"))});
    // Once the run is over, drops are taken again.
    status.onPaint = nullptr;
    QVERIFY(DropUrls(window.PageBox(), {late}));
    QCOMPARE(window.Pages().size(), std::size_t{2});
  }

  void DropFolderAddsThePagesBelowItOnce() {
    ScratchDirectory scratch;
    // The sample site: nested folders, a hidden page, upper-case extensions, a link to a page
    // (taken), a link to a folder (not followed), a file that is not a page (left out).
    const std::string site = QUARRY_TEST_DATA_DIR "/site";
    std::vector<std::string> expected;
    for (const char* page :
         {"/_hidden.html", "/assets/empty.html", "/assets/sidebar.HTML", "/blog/2024/post.Html",
          "/blog/index.htm", "/docs/api/notes.html", "/docs/api/reference.htm", "/docs/guide.html",
          "/docs/INDEX.HTM", "/guide-link.html", "/index.html", "/readme.html", "/spacing.html"}) {
      expected.push_back(site + page);
    }
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({site});
    QCOMPARE(window.Pages(), expected);
    QCOMPARE(window.dialog->StatusText(), std::string());  // nothing skipped, nothing said
    // Again, with a page in it and the folder with a trailing '/': nothing is added.
    window.dialog->OnDropFiles({site + "/", site + "/index.html", site});
    QCOMPARE(window.Pages(), expected);
    QVERIFY(!window.dialog->IsBusy());
  }

  void DropLeavesTheSearchPageAndTheIndexFolderOut() {
    ScratchDirectory scratch;
    QDir().mkpath(scratch.FilePath(QStringLiteral("site/_search")));
    QDir().mkpath(scratch.FilePath(QStringLiteral("site/index")));
    WriteFile(scratch.FilePath(QStringLiteral("site/page.html")), "<html></html>");
    WriteFile(scratch.FilePath(QStringLiteral("site/search.html")),
              QByteArray("<!-- ") + kWebPageMark.data() + " -->");
    WriteFile(scratch.FilePath(QStringLiteral("site/_search/quarry-search.json")),
              QByteArray("{") + kWebSettingsMark.data() + "}");
    WriteFile(scratch.FilePath(QStringLiteral("site/_search/other.html")), "<html></html>");
    WriteFile(scratch.FilePath(QStringLiteral("site/index/kept-out.html")), "<html></html>");
    QVERIFY(QDir::setCurrent(scratch.FilePath(QStringLiteral("site/index"))));  // the index's
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("site"))});
    QCOMPARE(window.Pages(),
             std::vector<std::string>{scratch.Bytes(QStringLiteral("site/page.html"))});
  }

  void DropNamesWhatItSkipsOnTheStatusLine() {
    ScratchDirectory scratch;
    QDir().mkpath(scratch.FilePath(QStringLiteral("site/locked")));
    WriteFile(scratch.FilePath(QStringLiteral("site/page.html")), "<html></html>");
    QVERIFY(
        QFile::link(QStringLiteral("nowhere"), scratch.FilePath(QStringLiteral("site/gone.html"))));
    const bool canLock = geteuid() != 0;  // root reads any folder
    if (canLock)
      QVERIFY(QFile::setPermissions(scratch.FilePath(QStringLiteral("site/locked")), {}));
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({scratch.Bytes(QStringLiteral("site"))});
    if (canLock) {
      QFile::setPermissions(scratch.FilePath(QStringLiteral("site/locked")),
                            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QCOMPARE(window.Pages(),
             std::vector<std::string>{scratch.Bytes(QStringLiteral("site/page.html"))});
    const std::string& status = window.dialog->StatusText();
    QVERIFY2(status.find(scratch.Bytes(QStringLiteral("site/gone.html"))) != std::string::npos,
             status.c_str());
    if (canLock) {
      QVERIFY2(status.find(scratch.Bytes(QStringLiteral("site/locked"))) != std::string::npos,
               status.c_str());
    }
  }

  void StartWithPagesOpensTheIndexThenAddsThemAsGiven() {
    ScratchDirectory scratch;
    MakeIndexOfWords({"word"});  // lists /site/a.html
    QDir().mkpath(scratch.FilePath(QStringLiteral("pages/sub")));
    WriteFile(scratch.FilePath(QStringLiteral("pages/one.html")), "<html></html>");
    WriteFile(scratch.FilePath(QStringLiteral("pages/sub/two.htm")), "<html></html>");
    Window window;
    window.dialog->StartWithPages({"pages", "missing.html"});
    QVERIFY(window.dialog->GetDatabase()->IsOpen());
    const std::vector<std::string> expected = {"/site/a.html", "missing.html", "pages/one.html",
                                               "pages/sub/two.htm"};
    QCOMPARE(window.Pages(), expected);
    QCOMPARE(window.Words(), std::vector<std::string>{"word"});
    QVERIFY(window.Button("buildButton")->isEnabled());
    QVERIFY(window.prompts->messages.isEmpty());
  }

  void DropKeepsTheSaveButtonsState() {
    ScratchDirectory scratch;
    MakeIndexOfWords({"alpha", "beta"});
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");
    QVERIFY(window.Button("saveButton")->isEnabled());
    window.dialog->OnDropFiles({"/site/b.html"});
    QVERIFY(window.Button("saveButton")->isEnabled());
  }

  void RemoveSeveralPages() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    window.dialog->OnDropFiles({"/s/a", "/s/b", "/s/c", "/s/d", "/s/e"});
    SelectRows(window.PageBox(), {0, 2, 3});
    window.Click("removePagesButton");
    QCOMPARE(window.Pages(), (std::vector<std::string>{"/s/b", "/s/e"}));
    QVERIFY(window.Button("buildButton")->isEnabled());
    QVERIFY(!window.Button("saveButton")->isEnabled());
    SelectRows(window.PageBox(), {0, 1});
    window.Click("removePagesButton");
    QVERIFY(window.Pages().empty());
    QCOMPARE(window.PageBox()->HorizontalExtent(), 0);
  }

  void RemoveSeveralWords() {
    ScratchDirectory scratch;
    MakeIndexOfWords({"alpha", "beta", "gamma", "delta", "omega"});
    Window window;
    window.Click("openButton");
    // alpha beta delta gamma omega: remove alpha, delta and omega.
    SelectRows(window.WordBox(), {0, 2, 4});
    window.Click("removeWordsButton");
    QCOMPARE(window.Words(), (std::vector<std::string>{"beta", "gamma"}));
    WordList& words = *window.dialog->GetWordList();
    QCOMPARE(words.Size(), std::size_t{2});
    QVERIFY(words.Find("alpha") == nullptr && words.Find("omega") == nullptr);
    QVERIFY(words.Find("beta") != nullptr);
    QVERIFY(window.Button("saveButton")->isEnabled());
    QVERIFY(!window.Button("buildButton")->isEnabled());

    // A word the word list no longer holds stays in the box; Save is enabled all the same.
    words.RemoveWord("beta");
    SelectRows(window.WordBox(), {0, 1});
    window.Click("removeWordsButton");
    QCOMPARE(window.Words(), (std::vector<std::string>{"beta"}));
    QCOMPARE(words.Size(), std::size_t{0});
  }

  void RemovingWithNothingSelectedChangesNothing() {
    ScratchDirectory scratch;
    MakeIndexOfWords({"alpha"});
    Window window;
    // Closed: the X buttons are enabled and do nothing.
    QVERIFY(window.Button("removeWordsButton")->isEnabled());
    window.Click("removeWordsButton");
    window.Click("removePagesButton");
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QVERIFY(!window.Button("buildButton")->isEnabled());
    window.Click("openButton");
    window.WordBox()->clearSelection();
    window.Click("removeWordsButton");
    window.Click("removePagesButton");
    QCOMPARE(window.Words().size(), std::size_t{1});
    QCOMPARE(window.Pages().size(), std::size_t{1});
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QVERIFY(!window.Button("buildButton")->isEnabled());
  }

  void ExtentFollowsTheWidestEntry() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    ByteListBox* box = window.PageBox();
    window.dialog->OnDropFiles(
        {"/s/x", "/s/a-much-longer-name-than-the-box-is-wide-" + std::string(120, 'w') + ".html"});
    const int widest = std::max(box->MeasureEntry(0), box->MeasureEntry(1));
    QCOMPARE(box->HorizontalExtent(), widest);
    window.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.dialog.get()));
    QTRY_VERIFY(box->horizontalScrollBar()->maximum() > 0);  // the box scrolls over it
  }
};

QTEST_MAIN(ListEditingTest)
#include "ListEditingTest.moc"
