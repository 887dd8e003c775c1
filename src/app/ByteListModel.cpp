#include "ByteListModel.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <iterator>

#include "DisplayText.h"
#include "model/TextOrder.h"

namespace quarry {

ByteListModel::ByteListModel(QObject* parent) : QAbstractListModel(parent) {}

ByteListModel::~ByteListModel() = default;

int ByteListModel::AddEntry(std::string_view entry) {
  const auto place = std::upper_bound(entries_.begin(), entries_.end(), entry, PageOrderLess());
  const int row = static_cast<int>(place - entries_.begin());
  beginInsertRows(QModelIndex(), row, row);
  entries_.insert(place, std::string(entry));
  endInsertRows();
  return row;
}

void ByteListModel::AddEntries(std::vector<std::string> entries) {
  if (entries.empty()) return;
  if (entries.size() == 1) {
    AddEntry(entries.front());
    return;
  }
  std::stable_sort(entries.begin(), entries.end(), PageOrderLess());
  beginResetModel();
  const auto listed = static_cast<std::ptrdiff_t>(entries_.size());
  entries_.insert(entries_.end(), std::make_move_iterator(entries.begin()),
                  std::make_move_iterator(entries.end()));
  std::inplace_merge(entries_.begin(), entries_.begin() + listed, entries_.end(), PageOrderLess());
  endResetModel();
}

void ByteListModel::SetEntries(std::vector<std::string> entries) {
  std::stable_sort(entries.begin(), entries.end(), PageOrderLess());
  beginResetModel();
  entries_ = std::move(entries);
  endResetModel();
}

void ByteListModel::Clear() {
  if (entries_.empty()) return;
  beginResetModel();
  entries_.clear();
  entries_.shrink_to_fit();
  endResetModel();
}

void ByteListModel::RemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [this](int row) { return row < 0 || row >= Count(); }),
             rows.end());
  // From the last run of adjacent rows to the first, so no removal shifts a row still to come.
  std::size_t end = rows.size();
  while (end > 0) {
    std::size_t begin = end - 1;
    while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
    const int first = rows[begin];
    const int last = rows[end - 1];
    beginRemoveRows(QModelIndex(), first, last);
    entries_.erase(entries_.begin() + first, entries_.begin() + last + 1);
    endRemoveRows();
    end = begin;
  }
}

int ByteListModel::FindExact(std::string_view entry) const {
  // Equal bytes are also equal in the page order, so the search can start at their place.
  auto it = std::lower_bound(entries_.begin(), entries_.end(), entry, PageOrderLess());
  if (it != entries_.end() && *it == entry) return static_cast<int>(it - entries_.begin());
  return -1;
}

int ByteListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

QVariant ByteListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= Count()) return {};
  const std::string& entry = At(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return DisplayText(entry);
    case BytesRole:
      return QByteArray(entry.data(), static_cast<qsizetype>(entry.size()));
    default:
      return {};
  }
}

}  // namespace quarry
