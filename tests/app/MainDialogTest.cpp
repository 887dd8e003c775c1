// The window's start-up state, its display operations, Open/Close, Save and New, About and Help.
#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <cstring>

#include "AboutDialog.h"
#include "AppTestSupport.h"
#include "DialogPrompts.h"
#include "HelpWindow.h"
#include "QuarryApp.h"
#include "database/IndexDatabase.h"
#include "io/FaultInjection.h"
#include "model/TextList.h"
#include "model/WordList.h"

using namespace quarry;
using namespace quarry::test;

namespace {

const QString kOpenError = QStringLiteral(
    "Error opening database.  Make sure it is not being used and that it has write access.");

QString LabelText(const Window& window, const char* name) {
  return window.dialog->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

qint64 FileSize(const char* name) { return QFileInfo(QString::fromLatin1(name)).size(); }

// Header fields of a database file: record count and total size.
std::pair<qint32, qint32> Header(const char* name) {
  const QByteArray bytes = ReadFile(QString::fromLatin1(name));
  if (bytes.size() < 32) return {-1, -1};
  auto field = [&](int at) {
    return qint32(quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 |
                  quint32(quint8(bytes[at + 2])) << 16 | quint32(quint8(bytes[at + 3])) << 24);
  };
  return {field(4), field(8)};
}

// The caption the window system shows for a window. Qt adds " — " and the application's display
// name, when one was set, to every caption that does not already end with it.
QString ShownCaption(const QWidget& window) {
  const QString name = QGuiApplication::applicationDisplayName();
  QString title = window.windowTitle();
  if (name == QCoreApplication::applicationName() || title.endsWith(name)) return title;
  return title + QStringLiteral(" \u2014 ") + name;
}

// What a modal dialog showed and how it ended, once keys were pressed in it.
struct ModalRun {
  QString caption;        // the caption the window system shows
  QString labels;         // the texts of its labels, one per line
  QString defaultButton;  // the caption of its default button when it came up
  int result = -1;        // its result after the keys
  bool ended = false;     // whether the keys ended it
};

// Once the next modal dialog is up, records it and presses keys: "Tab", "Enter" and "Escape" go
// to the focused widget, "close" is the close box. A dialog the keys did not end is rejected.
std::shared_ptr<ModalRun> WhenModalComesUp(const QStringList& keys) {
  auto run = std::make_shared<ModalRun>();
  QTimer::singleShot(0, [run, keys] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    run->caption = ShownCaption(*dialog);
    for (const QLabel* label : dialog->findChildren<QLabel*>()) run->labels += label->text() + '\n';
    for (const QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->isDefault()) run->defaultButton = button->text();
    }
    for (const QString& key : keys) {
      QWidget* focus = dialog->focusWidget() ? dialog->focusWidget() : dialog;
      if (key == QStringLiteral("close")) {
        dialog->close();
      } else {
        QTest::keyClick(focus, key == QStringLiteral("Tab")     ? Qt::Key_Tab
                               : key == QStringLiteral("Enter") ? Qt::Key_Return
                                                                : Qt::Key_Escape);
      }
    }
    run->ended = !dialog->isVisible();
    run->result = dialog->result();
    if (!run->ended) dialog->reject();
  });
  return run;
}

void VerifyOpenState(const Window& window) {
  QCOMPARE(window.Button("openButton")->text(), QStringLiteral("&Close"));
  QVERIFY(window.Button("addPagesButton")->isEnabled());
  QVERIFY(!window.Button("newButton")->isEnabled());
  QVERIFY(window.WordBox()->isEnabled());
  QVERIFY(window.PageBox()->isEnabled());
  QVERIFY(window.dialog->GetDatabase()->IsOpen());
}

void VerifyClosedState(const Window& window) {
  QCOMPARE(window.Button("openButton")->text(), QStringLiteral("&Open"));
  QVERIFY(!window.Button("addPagesButton")->isEnabled());
  QVERIFY(!window.Button("buildButton")->isEnabled());
  QVERIFY(!window.Button("saveButton")->isEnabled());
  QVERIFY(window.Button("newButton")->isEnabled());
  QVERIFY(!window.WordBox()->isEnabled());
  QVERIFY(!window.PageBox()->isEnabled());
  QVERIFY(window.Words().empty());
  QVERIFY(window.Pages().empty());
  for (const char* label :
       {"indexLabel", "wordCountLabel", "pageCountLabel", "dateLabel", "sizeLabel"}) {
    QVERIFY2(LabelText(window, label).isEmpty(), label);
  }
  QVERIFY(!window.dialog->GetDatabase()->IsOpen());
}

}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void StartUpState() {
    ScratchDirectory scratch;
    Window window;
    MainDialog& dialog = *window.dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Quarry "));
    QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // fixed size

    QCOMPARE(window.Button("openButton")->text(), QStringLiteral("Open"));
    QVERIFY(window.Button("openButton")->isDefault());
    QCOMPARE(dialog.focusWidget(), window.Button("openButton"));
    for (const char* enabled : {"openButton", "newButton", "exitButton", "helpButton",
                                "removeWordsButton", "removePagesButton"}) {
      QVERIFY2(window.Button(enabled)->isEnabled(), enabled);
    }
    for (const char* disabled : {"addPagesButton", "buildButton", "saveButton"}) {
      QVERIFY2(!window.Button(disabled)->isEnabled(), disabled);
    }
    QVERIFY(!window.WordBox()->isEnabled());
    QVERIFY(!window.PageBox()->isEnabled());
    QVERIFY(window.Words().empty() && window.Pages().empty());
    QCOMPARE(window.WordBox()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(window.PageBox()->acceptDrops());
    // Every label is empty at first, the status line too (empty, not a blank).
    for (const char* label : {"indexLabel", "wordCountLabel", "pageCountLabel", "dateLabel",
                              "sizeLabel", "statusLabel"}) {
      QVERIFY2(LabelText(window, label).isEmpty(), label);
    }
    QCOMPARE(dialog.StatusText(), std::string());
    QCOMPARE(dialog.AboutAction()->text(), QStringLiteral("&About Quarry..."));
    QVERIFY(dialog.actions().contains(dialog.AboutAction()));
    QVERIFY(!dialog.windowIcon().isNull());
    QVERIFY(dialog.GetWordList() && dialog.GetPageList() && dialog.GetTitleList() &&
            dialog.GetDatabase());
  }

  void StartUpRunsTheWindowUntilEscape() {
    ScratchDirectory scratch;
    const std::shared_ptr<ModalRun> run = WhenModalComesUp({QStringLiteral("Escape")});
    QVERIFY(!static_cast<QuarryApp*>(qApp)->InitInstance());
    QVERIFY(run->ended);
    QCOMPARE(run->defaultButton, QStringLiteral("Open"));
    QCOMPARE(run->result, int(QDialog::Rejected));
    // The window system shows each window's own caption, exactly.
    QCOMPARE(run->caption, QStringLiteral("Quarry "));
    HelpWindow help(nullptr);
    QCOMPARE(ShownCaption(help), QStringLiteral("Quarry Help"));
    QVERIFY(!QFile::exists(QStringLiteral("qrywDb.dat")));  // nothing written
  }

  void RealDialogsAnswerKeys_data() {
    QTest::addColumn<bool>("question");  // "Generate new index?", else a notice
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<int>("result");
    const int yes = QDialog::Accepted;
    const int no = QDialog::Rejected;
    QTest::newRow("question Enter") << true << QStringList{"Enter"} << no;
    QTest::newRow("question Tab Enter") << true << QStringList{"Tab", "Enter"} << yes;
    QTest::newRow("question Tab Tab Enter") << true << QStringList{"Tab", "Tab", "Enter"} << no;
    QTest::newRow("question Tab Escape") << true << QStringList{"Tab", "Escape"} << no;
    QTest::newRow("question close box") << true << QStringList{"close"} << no;
    QTest::newRow("notice Enter") << false << QStringList{"Enter"} << yes;
    QTest::newRow("notice Escape") << false << QStringList{"Escape"} << no;
    QTest::newRow("notice close box") << false << QStringList{"close"} << no;
  }

  void RealDialogsAnswerKeys() {
    QFETCH(bool, question);
    QFETCH(QStringList, keys);
    QFETCH(int, result);
    QWidget owner;
    owner.show();
    DialogPrompts prompts;
    const std::shared_ptr<ModalRun> run = WhenModalComesUp(keys);
    if (question) {
      QCOMPARE(prompts.AskNewIndex(&owner), result == QDialog::Accepted);
      QCOMPARE(run->labels, QStringLiteral("Generate new index?\n"));
      QCOMPARE(run->defaultButton, QStringLiteral("No"));
    } else {
      prompts.ShowMessage(&owner, QStringLiteral("Please add pages to process."));
      QCOMPARE(run->labels, QStringLiteral("Please add pages to process.\n"));
      QCOMPARE(run->defaultButton, QStringLiteral("OK"));
    }
    QCOMPARE(run->caption, QStringLiteral("Quarry"));
    QVERIFY(run->ended);
    QCOMPARE(run->result, result);
  }

  void EnterPressesTheFocusedButton_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("pressed");
    for (const char* button :
         {"openButton", "buildButton", "saveButton", "newButton", "exitButton", "helpButton",
          "addPagesButton", "removeWordsButton", "removePagesButton"}) {
      QTest::newRow(button) << QString::fromLatin1(button) << QString::fromLatin1(button);
    }
    // Where no push button has the focus, Enter presses Open/Close.
    QTest::newRow("wordListBox") << QStringLiteral("wordListBox") << QStringLiteral("openButton");
  }

  void EnterPressesTheFocusedButton() {
    QFETCH(QString, focus);
    QFETCH(QString, pressed);
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.dialog->SetHelpFile({});
    window.prompts->answerYes = false;
    window.Click("openButton");
    window.dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(window.dialog.get()));
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> clicks;
    for (QPushButton* button : window.dialog->findChildren<QPushButton*>()) {
      button->setEnabled(true);
      clicks.emplace_back(button->objectName(),
                          std::make_unique<QSignalSpy>(button, &QPushButton::clicked));
    }
    QWidget* target = window.dialog->findChild<QWidget*>(focus);
    target->setFocus();
    QCOMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    for (const auto& [name, spy] : clicks) QCOMPARE(spy->count(), name == pressed ? 1 : 0);
  }

  void FailedOpenOrNewLeavesTheDatabaseClosed_data() {
    QTest::addColumn<bool>("existing");  // an index is there before
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("error");
    // The first write: the new database's first header, or New's emptying of the files.
    QTest::newRow("Open, new database") << false << QStringLiteral("openButton") << EIO;
    QTest::newRow("New, new database") << false << QStringLiteral("newButton") << EIO;
    QTest::newRow("New, existing index") << true << QStringLiteral("newButton") << ENOSPC;
  }

  void FailedOpenOrNewLeavesTheDatabaseClosed() {
    QFETCH(bool, existing);
    QFETCH(QString, button);
    QFETCH(int, error);
    ScratchDirectory scratch;
    if (existing) MakeIndex();
    Window window;
    FaultInjection::ResetCount();
    FaultInjection::FailAt(1, error);
    window.Click(qPrintable(button));
    FaultInjection::Clear();
    // Said what failed, and why.
    QCOMPARE(window.prompts->messages.size(), 1);
    const QString message = window.prompts->messages.first();
    QVERIFY2(message.startsWith(kOpenError), qPrintable(message));
    QVERIFY2(message.contains(QString::fromLocal8Bit(std::strerror(error))), qPrintable(message));
    // The window shows the database closed, as it is: nothing holds the files.
    VerifyClosedState(window);
    IndexDatabase other;
    other.Open();
    QVERIFY(other.IsOpen());
    other.Close();
    window.prompts->messages.clear();
    window.Click("openButton");
    QVERIFY(window.prompts->messages.isEmpty());
    VerifyOpenState(window);
    if (existing) QCOMPARE(window.Words().size(), std::size_t{3});  // the index was kept
  }

  void ExitEndsWithoutQuestion() {
    ScratchDirectory scratch;
    Window window;
    window.dialog->show();
    window.Click("exitButton");
    QVERIFY(!window.dialog->isVisible());
    QCOMPARE(window.dialog->result(), int(QDialog::Rejected));
    window.dialog->show();
    QTest::keyClick(window.dialog.get(), Qt::Key_Escape);
    QVERIFY(!window.dialog->isVisible());
    QVERIFY(window.prompts->messages.isEmpty());
    QCOMPARE(window.prompts->questions, 0);
  }

  void SetStatusTransfersEveryLabel() {
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.Click("openButton");
    const QString words = LabelText(window, "wordCountLabel");
    QCOMPARE(words, QStringLiteral("3"));
    // Spoil what the screen shows; the next transfer puts every label back from its string.
    for (const char* label :
         {"indexLabel", "wordCountLabel", "pageCountLabel", "dateLabel", "sizeLabel"}) {
      window.dialog->findChild<QLabel*>(QString::fromLatin1(label))->setText(QStringLiteral("x"));
    }
    window.dialog->SetStatus("Working");
    QCOMPARE(LabelText(window, "statusLabel"), QStringLiteral("Working"));
    QCOMPARE(LabelText(window, "wordCountLabel"), words);
    QCOMPARE(LabelText(window, "pageCountLabel"), QStringLiteral("2"));
    QVERIFY(LabelText(window, "indexLabel").endsWith(QStringLiteral("qrywDb.dat")));
    window.dialog->ClearStatus();
    QCOMPARE(LabelText(window, "statusLabel"), QStringLiteral(" "));
  }

  void OpenInEmptyDirectoryShowsNewIndex() {
    ScratchDirectory scratch;
    Window window;
    window.Click("openButton");
    QVERIFY(window.prompts->messages.isEmpty());
    VerifyOpenState(window);
    QVERIFY(QFile::exists(QStringLiteral("qrywDb.dat")));
    QVERIFY(QFile::exists(QStringLiteral("qryfDb.dat")));
    QVERIFY(QFile::exists(QStringLiteral("qryiDb.dat")));
    QCOMPARE(LabelText(window, "wordCountLabel"), QStringLiteral("0"));
    QCOMPARE(LabelText(window, "pageCountLabel"), QStringLiteral("0"));
    QCOMPARE(LabelText(window, "sizeLabel"), QStringLiteral("64"));
    QCOMPARE(LabelText(window, "indexLabel"),
             QFileInfo(scratch.FilePath(QStringLiteral("qrywDb.dat"))).absoluteFilePath());
    QVERIFY(!LabelText(window, "dateLabel").isEmpty());
    QVERIFY(window.Words().empty() && window.Pages().empty());
  }

  void OpenExistingIndexFillsListsAndLabels() {
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.Click("openButton");
    VerifyOpenState(window);
    const std::vector<std::string> words = {"apple", "mango", "zebra"};
    const std::vector<std::string> pages = {"/site/a.html", "/site/b.html"};
    QCOMPARE(window.Words(), words);
    QCOMPARE(window.Pages(), pages);
    QCOMPARE(window.dialog->GetTitleList()->Size(), std::size_t{2});
    QCOMPARE(LabelText(window, "wordCountLabel"), QStringLiteral("3"));
    QCOMPARE(LabelText(window, "pageCountLabel"), QStringLiteral("2"));
    QCOMPARE(LabelText(window, "sizeLabel"),
             QString::number(FileSize("qrywDb.dat") + FileSize("qryfDb.dat")));
    // Build and Save keep their state on opening.
    QVERIFY(!window.Button("buildButton")->isEnabled());
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QVERIFY(window.WordBox()->HorizontalExtent() > 0);
  }

  void OpenWhileAnotherProcessHoldsTheFiles() {
    ScratchDirectory scratch;
    MakeIndex();
    QProcess holder;
    holder.start(QStringLiteral(QUARRY_INDEX_HOLDER), {scratch.Path()});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("ready"));

    Window window;
    window.Click("openButton");
    QCOMPARE(window.prompts->messages.size(), 1);
    const QString message = window.prompts->messages.first();
    QVERIFY2(message.startsWith(kOpenError), qPrintable(message));
    QVERIFY2(message.size() > kOpenError.size() + 2, "the system's reason follows");
    QCOMPARE(window.Button("openButton")->text(), QStringLiteral("Open"));
    QVERIFY(window.Button("newButton")->isEnabled());
    QVERIFY(!window.WordBox()->isEnabled());
    QVERIFY(!window.dialog->GetDatabase()->IsOpen());

    // New ends with the same message while the files are held.
    window.prompts->messages.clear();
    window.Click("newButton");
    QCOMPARE(window.prompts->messages.size(), 1);
    QVERIFY(window.prompts->messages.first().startsWith(kOpenError));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    window.prompts->messages.clear();
    window.Click("openButton");
    QVERIFY(window.prompts->messages.isEmpty());
    VerifyOpenState(window);
  }

  void OpenRefusesALinkAtADatabaseName() {
    ScratchDirectory scratch;
    WriteFile(scratch.FilePath(QStringLiteral("elsewhere.dat")), "");
    QVERIFY(QFile::link(QStringLiteral("elsewhere.dat"), QStringLiteral("qryiDb.dat")));
    Window window;
    window.Click("openButton");
    QCOMPARE(window.prompts->messages.size(), 1);
    QVERIFY2(window.prompts->messages.first().endsWith(
                 QStringLiteral("/qryiDb.dat is a symbolic link: Quarry keeps its index in plain "
                                "files")),
             qPrintable(window.prompts->messages.first()));
    QVERIFY(!window.dialog->GetDatabase()->IsOpen());
    QCOMPARE(ReadFile(scratch.FilePath(QStringLiteral("elsewhere.dat"))), QByteArray());
    QVERIFY(!QFile::exists(QStringLiteral("qrywDb.dat")));
  }

  void CloseDropsUnsavedWorkAndEmptiesEverything() {
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");
    QVERIFY(window.Button("saveButton")->isEnabled());
    window.Click("openButton");
    QVERIFY(window.prompts->messages.isEmpty());
    VerifyClosedState(window);
    QCOMPARE(window.dialog->GetWordList()->Size(), std::size_t{0});
    QCOMPARE(window.dialog->GetPageList()->Size(), std::size_t{0});
    QCOMPARE(window.WordBox()->HorizontalExtent(), 0);
    // Opened again, the index is as last saved: the removal is gone.
    window.Click("openButton");
    QCOMPARE(window.Words().size(), std::size_t{3});
  }

  void SaveMessages() {
    ScratchDirectory scratch;
    Window window;
    // Closed: the page list is empty.
    window.dialog->OnSave();
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("No pages to save.")});
    // Pages but no words.
    {
      IndexDatabase database;
      database.Open();
      WordList words;
      TextList pages;
      TextList titles;
      pages.Add("/site/a.html");
      titles.Add("a");
      database.Save(words, pages, titles);
    }
    window.Click("openButton");
    QCOMPARE(window.Pages().size(), std::size_t{1});
    window.prompts->messages.clear();
    window.dialog->OnSave();
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("Please build word list.")});
    QCOMPARE(window.dialog->StatusText(), std::string());  // status line untouched
  }

  void SaveWritesTheFilesFromScratch() {
    ScratchDirectory scratch;
    MakeIndex();
    const qint64 oldWordFile = FileSize("qrywDb.dat");
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0, 2});  // apple, zebra
    window.Click("removeWordsButton");
    window.Click("saveButton");
    QVERIFY(window.prompts->messages.isEmpty());
    QVERIFY(window.prompts->fileErrors.isEmpty());
    QCOMPARE(window.dialog->StatusText(), std::string(" "));
    QVERIFY(!window.Button("saveButton")->isEnabled());
    QCOMPARE(LabelText(window, "wordCountLabel"), QStringLiteral("1"));
    QCOMPARE(LabelText(window, "pageCountLabel"), QStringLiteral("2"));
    QVERIFY(FileSize("qrywDb.dat") < oldWordFile);
    for (const char* file : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
      QCOMPARE(Header(file).second, qint32(FileSize(file)));
    }
    QCOMPARE(Header("qrywDb.dat").first, 1);
    QCOMPARE(LabelText(window, "sizeLabel"),
             QString::number(FileSize("qrywDb.dat") + FileSize("qryfDb.dat")));
    window.Click("openButton");
    window.Click("openButton");
    QCOMPARE(window.Words(), std::vector<std::string>{"mango"});
  }

  void SaveThatFailsSaysWhatTheDiskHolds() {
    ScratchDirectory scratch;
    MakeIndex();
    const QByteArray before = ReadFile(QStringLiteral("qrywDb.dat"));
    Window window;
    window.Click("openButton");
    SelectRows(window.WordBox(), {0});
    window.Click("removeWordsButton");
    FaultInjection::ResetCount();
    FaultInjection::FailAt(1, ENOSPC);
    window.Click("saveButton");
    FaultInjection::Clear();
    QCOMPARE(window.prompts->fileErrors,
             QStringList{QStringLiteral("Saving the index failed: No space left on device; the "
                                        "previous index is kept.")});
    QCOMPARE(ReadFile(QStringLiteral("qrywDb.dat")), before);
  }

  void NewAnsweredNoChangesNothing() {
    ScratchDirectory scratch;
    MakeIndex();
    const QByteArray before = ReadFile(QStringLiteral("qrywDb.dat"));
    Window window;
    window.prompts->answerYes = false;
    window.Click("newButton");
    QCOMPARE(window.prompts->questions, 1);
    QCOMPARE(window.Button("openButton")->text(), QStringLiteral("Open"));
    QCOMPARE(window.dialog->StatusText(), std::string());
    QVERIFY(!window.dialog->GetDatabase()->IsOpen());
    QCOMPARE(ReadFile(QStringLiteral("qrywDb.dat")), before);
  }

  void NewAnsweredYesEmptiesTheIndex() {
    ScratchDirectory scratch;
    MakeIndex();
    Window window;
    window.Click("newButton");
    QCOMPARE(window.prompts->questions, 1);
    QVERIFY(window.prompts->messages.isEmpty());
    VerifyOpenState(window);
    QVERIFY(window.Words().empty() && window.Pages().empty());
    QCOMPARE(LabelText(window, "wordCountLabel"), QStringLiteral("0"));
    QCOMPARE(LabelText(window, "pageCountLabel"), QStringLiteral("0"));
    QCOMPARE(LabelText(window, "sizeLabel"), QStringLiteral("64"));
    const QByteArray fresh = QByteArray("QR01") + QByteArray(28, '\0');
    for (const char* file : {"qrywDb.dat", "qryfDb.dat", "qryiDb.dat"}) {
      QCOMPARE(ReadFile(QString::fromLatin1(file)), fresh);
    }
  }

  void AboutBox() {
    ScratchDirectory scratch;
    Window window;
    window.dialog->AboutAction()->trigger();
    QCOMPARE(window.prompts->aboutBoxes, 1);

    AboutDialog about(window.dialog.get());
    QCOMPARE(about.windowTitle(), QStringLiteral("About Quarry"));
    const QList<QLabel*> labels = about.findChildren<QLabel*>();
    bool versionShown = false;
    bool iconShown = false;
    for (const QLabel* label : labels) {
      versionShown |= label->text() == QStringLiteral("Quarry v" QUARRY_VERSION);  // the project's
      iconShown |= !label->pixmap().isNull();
    }
    QVERIFY(versionShown);
    QVERIFY(iconShown);
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("okButton"));
    QVERIFY(ok && ok->text() == QStringLiteral("OK") && ok->isDefault());
    about.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(about.result(), int(QDialog::Accepted));
  }

  void HelpMissingShowsFailure() {
    ScratchDirectory scratch;
    Window window;
    window.dialog->SetHelpFile(scratch.FilePath(QStringLiteral("no-such-help.html")));
    window.Click("helpButton");
    QCOMPARE(window.prompts->messages, QStringList{QStringLiteral("Failed to launch help.")});
  }

  void HelpOpensAtTheWindowTopicAndClosesWithTheWindow() {
    ScratchDirectory scratch;
    Window window;
    window.dialog->SetHelpFile(QStringLiteral(QUARRY_HELP_SOURCE));
    window.dialog->show();
    window.Click("helpButton");
    QVERIFY(window.prompts->messages.isEmpty());
    QPointer<HelpWindow> help = window.dialog->Help();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    QVERIFY(!help->isModal());
    QCOMPARE(help->Source().fragment(), QString::fromLatin1(HelpWindow::kMainTopic));
    QVERIFY(help->findChild<QTextBrowser*>()->toPlainText().contains(QStringLiteral("qrywDb.dat")));
    window.dialog.reset();
    QVERIFY(help.isNull());
  }
};

// The program's own application object, so that the start-up routine and the captions are the
// program's.
int main(int argc, char** argv) {
  QuarryApp app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  MainDialogTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "MainDialogTest.moc"
