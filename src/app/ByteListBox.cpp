#include "ByteListBox.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QMimeData>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>
#include <algorithm>

#include "ByteListModel.h"
#include "DisplayText.h"

namespace quarry {

// Gives every row the width of the box's extent, so the view scrolls over the widest entry.
class ExtentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void SetWidth(int width) { width_ = width; }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(width_);
    return size;
  }

 private:
  int width_ = 0;
};

namespace {

// The local file paths of a drop, in order; other URLs are left out.
QStringList LocalPaths(const QMimeData* mime) {
  QStringList paths;
  if (mime == nullptr || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  }
  return paths;
}

}  // namespace

ByteListBox::ByteListBox(QWidget* parent)
    : QListView(parent), entries_(new ByteListModel(this)), delegate_(new ExtentDelegate(this)) {
  setModel(entries_);
  setItemDelegate(delegate_);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);  // one size for all rows: layout stays fast for huge lists
  setTextElideMode(Qt::ElideNone);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setDragDropMode(QAbstractItemView::NoDragDrop);
}

ByteListBox::~ByteListBox() = default;

std::vector<int> ByteListBox::SelectedRows() const {
  std::vector<int> rows;
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  rows.reserve(static_cast<std::size_t>(selected.size()));
  for (const QModelIndex& index : selected) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void ByteListBox::SetHorizontalExtent(int pixels) {
  extent_ = std::max(pixels, 0);
  // Room for the item's text margins, so the widest entry shows whole when scrolled.
  const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
  delegate_->SetWidth(extent_ == 0 ? 0 : extent_ + margin);
  // The uniform row size is cached by the view; a reset of the layout measures it again.
  scheduleDelayedItemsLayout();
  executeDelayedItemsLayout();
}

int ByteListBox::MeasureEntry(int row) const {
  const std::string& entry = entries_->At(row);
  if (!asciiReady_) {
    const QFontMetrics metrics = fontMetrics();
    for (std::size_t c = 0; c < asciiAdvance_.size(); ++c) {
      asciiAdvance_[c] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
    }
    asciiReady_ = true;
  }
  int width = 0;
  for (char c : entry) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= asciiAdvance_.size()) return fontMetrics().horizontalAdvance(DisplayText(entry));
    width += asciiAdvance_[byte];
  }
  return width;
}

void ByteListBox::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) asciiReady_ = false;
  QListView::changeEvent(event);
}

void ByteListBox::SetAcceptFileDrops(bool accept) { setAcceptDrops(accept); }

void ByteListBox::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalPaths(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void ByteListBox::dragMoveEvent(QDragMoveEvent* event) {
  if (!LocalPaths(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void ByteListBox::dropEvent(QDropEvent* event) {
  const QStringList paths = LocalPaths(event->mimeData());
  if (paths.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit FilesDropped(paths);
}

}  // namespace quarry
