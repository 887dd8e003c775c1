// A list box of byte strings: a list view over its own ByteListModel, sorted in the page order,
// with extended multiple selection, both scroll bars always shown, a horizontal extent set by
// the caller, and (when enabled) dropped local files handed on as paths.
#pragma once

#include <QListView>
#include <QStringList>
#include <array>
#include <vector>

namespace quarry {

class ByteListModel;
class ExtentDelegate;

class ByteListBox : public QListView {
  Q_OBJECT

 public:
  explicit ByteListBox(QWidget* parent = nullptr);
  ~ByteListBox() override;

  ByteListBox(const ByteListBox&) = delete;
  ByteListBox& operator=(const ByteListBox&) = delete;

  // The entries. The box owns the model.
  ByteListModel& Entries() const { return *entries_; }

  // The rows of the selected entries, ascending.
  std::vector<int> SelectedRows() const;

  // The horizontal extent in pixels: the width the box scrolls over. 0 for none.
  void SetHorizontalExtent(int pixels);
  int HorizontalExtent() const { return extent_; }

  // The width of an entry's display text in the box's font, in pixels. Text of ASCII bytes is
  // measured as the sum of its characters' advances (from a table, so that hundreds of
  // thousands of entries measure quickly); other text as Qt lays it out.
  int MeasureEntry(int row) const;

  // Whether dropped local files (any kind, folders included) are taken; off at first.
  void SetAcceptFileDrops(bool accept);

 signals:
  // Local files were dropped on the box: their paths, in the order of the drop.
  void FilesDropped(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  ByteListModel* entries_;    // owned through the QObject tree
  ExtentDelegate* delegate_;  // owned through the QObject tree
  int extent_ = 0;
  mutable std::array<int, 128> asciiAdvance_{};  // per ASCII byte; valid when asciiReady_
  mutable bool asciiReady_ = false;
};

}  // namespace quarry
