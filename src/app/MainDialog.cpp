#include "MainDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <chrono>
#include <cstddef>
#include <exception>
#include <optional>
#include <utility>

#include "AppResources.h"
#include "ByteListBox.h"
#include "ByteListModel.h"
#include "DialogPrompts.h"
#include "DisplayText.h"
#include "DroppedPages.h"
#include "HelpWindow.h"
#include "database/IndexDatabase.h"
#include "database/IndexMessages.h"
#include "indexing/BuildEngine.h"
#include "io/FileError.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "ui_MainDialog.h"

namespace quarry {

namespace {

// The status text holds at most this many bytes.
constexpr std::size_t kStatusTextLimit = 255;

// How often, at most, a long command lets the window paint.
constexpr long long kPaintIntervalMs = 40;

// A page of this many bytes or more may take longer than a paint interval to scan: its
// "Scanning" text is painted before its scan begins, however recently the window painted.
constexpr qint64 kLongPageBytes = qint64{1} << 20;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Shows the wait cursor for the life of the object.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Marks the window busy for the life of the object: no other command starts, and the page list
// box refuses drops, so that a file dropped meanwhile stays with its source.
class BusyGuard {
 public:
  BusyGuard(bool& busy, ByteListBox& dropTarget)
      : busy_(busy), dropTarget_(dropTarget), tookDrops_(dropTarget.acceptDrops()) {
    busy_ = true;
    dropTarget_.SetAcceptFileDrops(false);
  }
  ~BusyGuard() {
    dropTarget_.SetAcceptFileDrops(tookDrops_);
    busy_ = false;
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  bool& busy_;
  ByteListBox& dropTarget_;
  bool tookDrops_;
};

}  // namespace

MainDialog::MainDialog(std::unique_ptr<UserPrompts> prompts_)
    : QDialog(nullptr),
      ui(std::make_unique<Ui::MainDialog>()),
      prompts(prompts_ ? std::move(prompts_) : std::make_unique<DialogPrompts>()) {
  InitAppResources();
  ui->setupUi(this);
  addPagesButton = ui->addPagesButton;
  newButton = ui->newButton;
  saveButton = ui->saveButton;
  buildButton = ui->buildButton;
  openButton = ui->openButton;
  wordListBox = ui->wordListBox;
  pageListBox = ui->pageListBox;

  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/quarry/quarry.png")));

  wordList = std::make_unique<WordList>();
  pageList = std::make_unique<TextList>();
  titleList = std::make_unique<TextList>();
  database = std::make_unique<IndexDatabase>();

  aboutAction = new QAction(QStringLiteral("&About Quarry..."), this);
  addAction(aboutAction);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  pageListBox->SetAcceptFileDrops(true);
  helpFile = HelpWindow::FindHelpFile();

  // Each button, and the About action, runs its handler as one command (RunCommand).
  const auto command = [this](auto* sender, auto signal, void (MainDialog::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
  };
  command(saveButton, &QPushButton::clicked, &MainDialog::OnSave);
  command(addPagesButton, &QPushButton::clicked, &MainDialog::OnAddPages);
  command(openButton, &QPushButton::clicked, &MainDialog::OnOpenClose);
  command(buildButton, &QPushButton::clicked, &MainDialog::OnBuild);
  command(newButton, &QPushButton::clicked, &MainDialog::OnNew);
  command(ui->removeWordsButton, &QPushButton::clicked, &MainDialog::OnRemoveWords);
  command(ui->removePagesButton, &QPushButton::clicked, &MainDialog::OnRemovePages);
  command(ui->helpButton, &QPushButton::clicked, &MainDialog::OnHelp);
  command(aboutAction, &QAction::triggered, &MainDialog::OnAbout);
  connect(pageListBox, &ByteListBox::FilesDropped, this, [this](const QStringList& dropped) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(dropped.size()));
    for (const QString& path : dropped) paths.push_back(PathBytes(path));
    RunCommand([this, &paths] { OnDropFiles(paths); });
  });
  connect(ui->exitButton, &QPushButton::clicked, this, &QDialog::reject);

  // The first transfer: every label starts empty, the status line included.
  TransferLabels();
  addPagesButton->setEnabled(false);
  buildButton->setEnabled(false);
  saveButton->setEnabled(false);
  wordListBox->setEnabled(false);
  pageListBox->setEnabled(false);
  openButton->setFocus();
}

MainDialog::~MainDialog() {
  // The index objects go with the window, in this order; then the help window.
  wordList.reset();
  database.reset();
  pageList.reset();
  titleList.reset();
  delete helpWindow;
  helpWindow = nullptr;
}

HelpWindow* MainDialog::Help() const { return helpWindow; }

void MainDialog::closeEvent(QCloseEvent* event) {
  if (busy) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void MainDialog::RunCommand(const std::function<void()>& command) {
  if (busy) return;  // a running command lets the window paint; nothing may interleave with it
  try {
    command();
  } catch (const FileError& error) {
    prompts->ShowFileError(this, DisplayText(error.what()));
  } catch (const std::exception& error) {
    prompts->ShowFileError(this, DisplayText(error.what()));
  }
}

// ---- Display operations

void MainDialog::TransferLabels() {
  ui->dateLabel->setText(DisplayText(dateText));
  ui->sizeLabel->setText(DisplayText(sizeText));
  ui->pageCountLabel->setText(DisplayText(pageCountText));
  ui->wordCountLabel->setText(DisplayText(wordCountText));
  ui->indexLabel->setText(DisplayText(indexText));
  ui->indexLabel->setToolTip(DisplayText(indexText));
  ui->statusLabel->setText(DisplayText(statusText));
}

void MainDialog::SetStatus(std::string_view text) {
  statusText.assign(text);
  TransferLabels();
}

void MainDialog::ClearStatus() { SetStatus(" "); }

void MainDialog::ShowProgress(std::string_view text) {
  SetStatus(text);
  ui->statusLabel->repaint();
}

void MainDialog::ShowScanning(const std::string& path) {
  const std::string text = CutToBytes("Scanning " + path, kStatusTextLimit);
  const QFileInfo page(
      QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
  if (page.size() >= kLongPageBytes) {
    ShowProgress(text);
  } else {
    SetStatus(text);
  }
  KeepPainting();
}

void MainDialog::UpdateListExtent(ByteListBox* listBox) {
  int widest = 0;
  for (int row = 0; row < listBox->Entries().Count(); ++row) {
    widest = std::max(widest, listBox->MeasureEntry(row));
  }
  listBox->SetHorizontalExtent(widest);
}

void MainDialog::ShowStatistics() {
  wordCountText = database->GetWordCountText();
  pageCountText = database->GetPageCountText();
  dateText = database->GetDateText();
  sizeText = database->GetSizeText();
  indexText = database->GetIndexPath();
  TransferLabels();
}

void MainDialog::ClearStatistics() {
  wordCountText.clear();
  pageCountText.clear();
  dateText.clear();
  sizeText.clear();
  indexText.clear();
  TransferLabels();
}

void MainDialog::ShowClosed() {
  pageListBox->Entries().Clear();
  wordListBox->Entries().Clear();
  wordList->Clear();
  pageList->Clear();
  titleList->Clear();
  ClearStatistics();
  buildButton->setEnabled(false);
  saveButton->setEnabled(false);
  newButton->setEnabled(true);
  wordListBox->setEnabled(false);
  pageListBox->setEnabled(false);
  addPagesButton->setEnabled(false);
  openButton->setText(QStringLiteral("&Open"));
  UpdateListExtent(wordListBox);
  UpdateListExtent(pageListBox);
}

void MainDialog::ShowOpenError(const std::string& reason) {
  QString message = QString::fromLatin1(kOpenFailureText);
  if (!reason.empty()) message += QStringLiteral("\n\n") + DisplayText(reason);
  prompts->ShowMessage(this, message);
}

void MainDialog::FillWordListBox() {
  std::vector<std::string> words;
  words.reserve(wordList->Size());
  for (WordEntry* entry = wordList->GetFirst(); entry != nullptr; entry = wordList->GetNext()) {
    words.push_back(entry->GetText());
  }
  wordListBox->Entries().SetEntries(std::move(words));
}

void MainDialog::FillPageListBox() {
  std::vector<std::string> pages;
  pages.reserve(pageList->Size());
  for (auto page = pageList->GetFirst(); page; page = pageList->GetNext()) {
    pages.emplace_back(*page);
  }
  pageListBox->Entries().SetEntries(std::move(pages));
}

void MainDialog::KeepPainting() {
  const long long now = NowMs();
  if (now - lastPaint < kPaintIntervalMs) return;
  lastPaint = now;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// ---- Database commands

void MainDialog::OnOpenClose() {
  pageListBox->Entries().Clear();
  wordListBox->Entries().Clear();
  wordList->Clear();
  pageList->Clear();
  titleList->Clear();
  buildIncomplete = false;

  if (database->IsOpen()) {
    database->Close();
    ShowClosed();
    return;
  }

  // The database is opened, loaded and described before the window changes: whatever fails on
  // the way, the files are released and the window shows the database closed, as it is.
  try {
    // A new, empty database that was just created is shown as open.
    if (!OpenOrCreate(*database)) {
      UpdateListExtent(wordListBox);
      UpdateListExtent(pageListBox);
      ShowOpenError(database->OpenError());
      return;
    }
    database->Load(*wordList, *pageList, *titleList);
    ShowStatistics();
  } catch (const std::exception& error) {
    database->Close();
    ShowClosed();
    ShowOpenError(error.what());
    return;
  }

  addPagesButton->setEnabled(true);
  newButton->setEnabled(false);
  wordListBox->setEnabled(true);
  pageListBox->setEnabled(true);
  openButton->setText(QStringLiteral("&Close"));

  FillWordListBox();
  UpdateListExtent(wordListBox);
  FillPageListBox();
  UpdateListExtent(pageListBox);
}

void MainDialog::OnSave() {
  const char* refusal = SaveRefusal(*pageList, *wordList);
  // A Build that did not complete left part of an index: it is never saved.
  if (refusal == nullptr && buildIncomplete) refusal = kNoWordsToSaveText;
  if (refusal != nullptr) {
    prompts->ShowMessage(this, QString::fromLatin1(refusal));
    return;
  }
  ShowProgress("Saving index...");
  // Save replaces the files as a whole and keeps the old index until the new one is safe, so
  // no Reset comes first (a Reset would destroy the old index before the new one is written).
  database->Save(*wordList, *pageList, *titleList);
  ShowStatistics();
  saveButton->setEnabled(false);
  ClearStatus();
}

void MainDialog::OnNew() {
  if (!prompts->AskNewIndex(this)) return;
  try {
    if (!database->IsOpen()) database->Open();
    database->Reset();
  } catch (const std::exception& error) {
    // No new index: nothing stays held, and the window shows the database closed, as it is.
    database->Close();
    ShowClosed();
    ShowOpenError(error.what());
    return;
  }
  database->Close();
  OnOpenClose();
}

// ---- Build run

void MainDialog::OnBuild() {
  ByteListModel& pages = pageListBox->Entries();
  const int count = pages.Count();
  if (count == 0) {
    prompts->ShowMessage(this, QStringLiteral("Please add pages to process."));
    return;
  }
  if (!prompts->AskNewIndex(this)) return;

  // Until the run completes the lists hold part of an index: Save stays off.
  buildIncomplete = true;
  saveButton->setEnabled(false);
  BusyGuard busyGuard(busy, *pageListBox);
  std::optional<WaitCursor> waitCursor(std::in_place);
  lastPaint = NowMs();

  wordList->Clear();
  pageList->Clear();
  titleList->Clear();
  ShowStatistics();

  // The box's entries as they stand: the run removes entries from the box as it goes.
  const std::vector<std::string> paths = pages.Entries();
  const auto showScanning = [this](std::size_t, const std::string& path) {
    if (!path.empty()) ShowScanning(path);
  };
  if (database->IsOpen()) {
    int row = 0;
    BuildEngine engine(*wordList, *pageList, *titleList);
    engine.Run(paths, showScanning, [&pages, &row](const BuildEngine::PageReport& page) {
      if (page.outcome == PageScanner::Outcome::kNotHtml) {
        // Not an HTML page: the entry leaves the box and the one that moves up is next.
        pages.RemoveRows({row});
      } else {
        ++row;
      }
    });
  } else {
    // A closed database scans nothing, and every entry stays.
    for (std::size_t i = 0; i < paths.size(); ++i) showScanning(i, paths[i]);
  }
  UpdateListExtent(pageListBox);

  ShowProgress("Updating word list");
  KeepPainting();
  wordListBox->Entries().Clear();
  FillWordListBox();
  UpdateListExtent(wordListBox);

  waitCursor.reset();
  ClearStatus();
  ShowStatistics();
  buildIncomplete = false;
  saveButton->setEnabled(true);
  buildButton->setEnabled(false);
}

// ---- Page and word list editing

void MainDialog::OnAddPages() {
  const QStringList chosen = prompts->ChooseFiles(this);
  if (chosen.isEmpty()) return;
  for (const QString& path : chosen) pageListBox->Entries().AddEntry(PathBytes(path));
  UpdateListExtent(pageListBox);
  saveButton->setEnabled(false);
  buildButton->setEnabled(true);
}

void MainDialog::OnDropFiles(const std::vector<std::string>& paths) {
  BusyGuard busyGuard(busy, *pageListBox);  // the window paints while a large drop is gathered
  WaitCursor waitCursor;
  activateWindow();
  raise();
  const std::string statusBefore = statusText;
  lastPaint = NowMs();
  DroppedPages dropped([this](std::size_t found) { ShowAddingPages(found); });
  for (const std::string& path : paths) dropped.Add(path);
  ByteListModel& pages = pageListBox->Entries();
  pages.AddEntries(dropped.NotListedIn(pages.Entries()));
  if (!paths.empty()) buildButton->setEnabled(true);
  UpdateListExtent(pageListBox);
  // The status line is left as it was, unless something below a folder had to be skipped.
  std::string warnings;
  for (const std::string& warning : dropped.Warnings()) {
    warnings += (warnings.empty() ? "" : "; ") + warning;
  }
  SetStatus(warnings.empty() ? statusBefore : CutToBytes(warnings, kStatusTextLimit));
}

void MainDialog::ShowAddingPages(std::size_t found) {
  if (NowMs() - lastPaint < kPaintIntervalMs) return;
  SetStatus("Adding pages... " + std::to_string(found));
  KeepPainting();
}

void MainDialog::StartWithPages(const std::vector<std::string>& paths) {
  RunCommand([this, &paths] {
    if (!database->IsOpen()) OnOpenClose();
    if (database->IsOpen()) OnDropFiles(paths);
  });
}

void MainDialog::OnRemovePages() {
  const std::vector<int> rows = pageListBox->SelectedRows();
  if (rows.empty()) return;
  pageListBox->Entries().RemoveRows(rows);
  UpdateListExtent(pageListBox);
  saveButton->setEnabled(false);
  buildButton->setEnabled(true);
}

void MainDialog::OnRemoveWords() {
  const std::vector<int> rows = wordListBox->SelectedRows();
  if (rows.empty()) return;
  std::vector<int> removed;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    // The whole entry is read, however long: a cut word would name another word or none.
    const std::string word = wordListBox->Entries().At(*row);
    if (wordList->RemoveWord(word) == 1) removed.push_back(*row);
  }
  wordListBox->Entries().RemoveRows(std::move(removed));
  UpdateListExtent(wordListBox);
  saveButton->setEnabled(!buildIncomplete);  // never over part of an index
}

// ---- Help and About

void MainDialog::OnHelp() {
  if (helpWindow == nullptr) helpWindow = new HelpWindow(this);
  if (!helpWindow->ShowTopic(helpFile, QString::fromLatin1(HelpWindow::kMainTopic))) {
    prompts->ShowMessage(this, QStringLiteral("Failed to launch help."));
  }
}

void MainDialog::OnAbout() { prompts->ShowAbout(this); }

}  // namespace quarry
