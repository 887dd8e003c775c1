// Shared pieces of the window's tests: prompts that answer for the user, a current directory of
// the test's own, and small file helpers.
#pragma once

#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ByteListBox.h"
#include "ByteListModel.h"
#include "MainDialog.h"
#include "UserPrompts.h"
#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordList.h"

namespace quarry::test {

// Records every notice and answers every question as told.
class TestPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages.append(text); }
  bool AskNewIndex(QWidget*) override {
    ++questions;
    return answerYes;
  }
  void ShowFileError(QWidget*, const QString& text) override {
    fileErrors.append(text);
    waitCursorAtError = QApplication::overrideCursor() != nullptr;
  }
  QStringList ChooseFiles(QWidget*) override { return filesToChoose; }
  void ShowAbout(QWidget*) override { ++aboutBoxes; }

  QStringList messages;
  QStringList fileErrors;
  QStringList filesToChoose;
  bool answerYes = true;
  int questions = 0;
  int aboutBoxes = 0;
  bool waitCursorAtError = false;  // whether the wait cursor still showed when the error came
};

// A fresh temporary directory as the current directory, for as long as the object lives.
class ScratchDirectory {
 public:
  ScratchDirectory() : previous_(QDir::currentPath()) {
    QVERIFY2(dir_.isValid(), "no temporary directory");
    QVERIFY(QDir::setCurrent(dir_.path()));
  }
  ~ScratchDirectory() { QDir::setCurrent(previous_); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  QString Path() const { return dir_.path(); }
  std::string Bytes(const QString& name) const {
    return QFile::encodeName(dir_.filePath(name)).toStdString();
  }
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

inline void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// A main window whose prompts the test holds.
struct Window {
  Window() {
    auto owned = std::make_unique<TestPrompts>();
    prompts = owned.get();
    dialog = std::make_unique<MainDialog>(std::move(owned));
  }

  QPushButton* Button(const char* name) const {
    return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  ByteListBox* List(const char* name) const {
    return dialog->findChild<ByteListBox*>(QString::fromLatin1(name));
  }
  ByteListBox* WordBox() const { return List("wordListBox"); }
  ByteListBox* PageBox() const { return List("pageListBox"); }
  std::vector<std::string> Words() const { return WordBox()->Entries().Entries(); }
  std::vector<std::string> Pages() const { return PageBox()->Entries().Entries(); }
  void Click(const char* name) const { QTest::mouseClick(Button(name), Qt::LeftButton); }

  TestPrompts* prompts = nullptr;
  std::unique_ptr<MainDialog> dialog;
};

// Saves an index of three words (apple, mango, zebra) over two pages (/site/b.html numbered 0,
// /site/a.html 1) in the current directory.
inline void MakeIndex() {
  IndexDatabase database;
  database.Open();
  QVERIFY(database.IsOpen());
  WordList words;
  TextList pages;
  TextList titles;
  titles.Add("beta page");
  pages.Add("/site/b.html");
  titles.Add("alpha page");
  pages.Add("/site/a.html");
  words.AddWord("zebra", 0);
  words.AddWord("Apple", 1);
  words.AddWord("mango", 0);
  words.AddWord("mango", 1);
  database.Save(words, pages, titles);
  database.Close();
}

// Records what a label shows: its text each time it is painted (a repeat only once), and runs
// onPaint with the text, at the paint, while a command may still be running.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label_->installEventFilter(this); }

  QStringList texts;
  std::function<void(const QString&)> onPaint;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint) {
      const QString text = label_->text();
      if (texts.isEmpty() || texts.last() != text) texts.append(text);
      if (onPaint) onPaint(text);
    }
    return false;
  }

 private:
  QLabel* label_;
};

// Selects the given rows of a list box (and only them).
inline void SelectRows(ByteListBox* box, const std::vector<int>& rows) {
  box->clearSelection();
  for (int row : rows) {
    box->selectionModel()->select(box->model()->index(row, 0), QItemSelectionModel::Select);
  }
}

}  // namespace quarry::test
