// The Quarry window: the statistics of the open index, the word list box, the page list box,
// the status line and the command buttons. It owns the index in memory (word list, page list,
// title list) and the index database for its whole life, and runs every command on them.
//
// Each command runs to its end on the user-interface thread. A FileError that ends a command is
// caught once, in the command dispatch, and shown with its text; the program goes on. Questions
// and notices go through a UserPrompts, which tests replace.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "UserPrompts.h"

class QAction;
class QLabel;
class QPushButton;

namespace Ui {
class MainDialog;
}

namespace quarry {

class ByteListBox;
class HelpWindow;
class IndexDatabase;
class TextList;

class WordList;

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // The notices and questions of the commands go to prompts; null means the program's own
  // dialogs. The database lives in the current directory at the time of each Open.
  explicit MainDialog(std::unique_ptr<UserPrompts> prompts = nullptr);
  ~MainDialog() override;

  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Display operations used by every command.
  // Stores text as the status line and transfers all six label texts to the screen.
  void SetStatus(std::string_view text);
  // SetStatus with a single blank.
  void ClearStatus();
  // SetStatus, then paints the status line at once: the screen shows the text before the step it
  // names begins (a long step shows its own text, not the one before).
  void ShowProgress(std::string_view text);
  // The Build's "Scanning" text for a page, painted at once when the page may take a while to
  // scan (1 MiB or more); otherwise with the next paint, at most 40 ms after the last one.
  void ShowScanning(const std::string& path);
  // Sets a list box's horizontal extent to the width of its widest entry (0 when empty).
  void UpdateListExtent(ByteListBox* listBox);
  // Transfers the six label strings (date, size, pages, words, index, status) to the screen.
  void TransferLabels();

  // The commands, as their buttons, the context menu and drops run them.
  void OnOpenClose();
  void OnSave();
  void OnNew();
  void OnBuild();
  void OnAddPages();
  // Adds dropped paths (bytes in the local file name encoding) to the page list box: a folder
  // adds the pages below it as `quarry-cli index` finds them (DroppedPages), any other path
  // itself; paths the box lists already are left out. Folders that cannot be read are named
  // on the status line; otherwise the status line is left as it was.
  void OnDropFiles(const std::vector<std::string>& paths);
  void OnRemovePages();
  void OnRemoveWords();
  void OnHelp();
  void OnAbout();

  // The start with paths named: Open (creating the index when there is none), then, when the
  // index is open, the paths added as a drop adds them, their bytes kept as given.
  void StartWithPages(const std::vector<std::string>& paths);

  // The help page the Help button opens; found beside the program at construction.
  void SetHelpFile(const QString& path) { helpFile = path; }
  const QString& HelpFile() const { return helpFile; }
  // The help window, or null when help is not shown.
  HelpWindow* Help() const;

  // The "&About Quarry..." entry of the window's context menu.
  QAction* AboutAction() const { return aboutAction; }

  // Read-only views for tests and tools.
  const std::string& DateText() const { return dateText; }
  const std::string& SizeText() const { return sizeText; }
  const std::string& PageCountText() const { return pageCountText; }
  const std::string& WordCountText() const { return wordCountText; }
  const std::string& IndexText() const { return indexText; }
  const std::string& StatusText() const { return statusText; }
  WordList* GetWordList() const { return wordList.get(); }
  TextList* GetPageList() const { return pageList.get(); }
  TextList* GetTitleList() const { return titleList.get(); }
  IndexDatabase* GetDatabase() const { return database.get(); }
  // True while a command runs that keeps the window painting (Build, a drop).
  bool IsBusy() const { return busy; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Runs one command: a FileError (or other exception) that ends it is shown, never passed on.
  void RunCommand(const std::function<void()>& command);
  // Sets the five statistics strings from the database and transfers the labels.
  void ShowStatistics();
  // Empties the five statistics strings and transfers the labels.
  void ClearStatistics();
  // Empties the lists, the list boxes and the labels and shows the closed state: "..." and the
  // list boxes off, Build and Save off, New on, the Open/Close button captioned "&Open".
  void ShowClosed();
  // The message of an Open or New that could not open the database, with the reason when known.
  void ShowOpenError(const std::string& reason);
  // Fills a list box from the word list or the page list.
  void FillWordListBox();
  void FillPageListBox();
  // Lets the window paint (no user input) when enough time has passed since the last time.
  void KeepPainting();
  // Shows "Adding pages... N" and lets the window paint, when enough time has passed.
  void ShowAddingPages(std::size_t found);

  std::unique_ptr<Ui::MainDialog> ui;
  std::unique_ptr<UserPrompts> prompts;

  QPushButton* addPagesButton;
  QPushButton* newButton;
  QPushButton* saveButton;
  QPushButton* buildButton;
  QPushButton* openButton;
  ByteListBox* wordListBox;
  ByteListBox* pageListBox;
  std::string dateText;
  std::string sizeText;
  std::string pageCountText;
  std::string wordCountText;
  std::string indexText;
  std::string statusText;
  std::unique_ptr<WordList> wordList;
  std::unique_ptr<TextList> pageList;
  std::unique_ptr<TextList> titleList;
  std::unique_ptr<IndexDatabase> database;

  QAction* aboutAction;
  QString helpFile;
  HelpWindow* helpWindow = nullptr;  // a child window; closed with this one
  bool busy = false;
  // From the start of a Build until it completes: the lists may hold part of an index, which
  // Save must not write over the files.
  bool buildIncomplete = false;
  long long lastPaint = 0;  // monotonic milliseconds of the last KeepPainting pass
};

}  // namespace quarry
