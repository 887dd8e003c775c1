// The entries of one list box: byte strings kept sorted in the page order (TextOrder.h).
//
// Every entry keeps its exact bytes (BytesRole gives them as a QByteArray); the display text is
// only their decoding (DisplayText.h). Repeated entries are allowed. Bulk changes (SetEntries,
// RemoveRows) cost one sort or one pass, so a list of hundreds of thousands of words refills
// quickly.
#pragma once

#include <QAbstractListModel>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

class ByteListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // The role under which data() gives an entry's exact bytes as a QByteArray.
  static constexpr int BytesRole = Qt::UserRole + 1;

  explicit ByteListModel(QObject* parent = nullptr);
  ~ByteListModel() override;

  ByteListModel(const ByteListModel&) = delete;
  ByteListModel& operator=(const ByteListModel&) = delete;

  // Inserts a copy of entry at its place in the page order, after any equal entries. Returns
  // its row.
  int AddEntry(std::string_view entry);

  // Inserts entries at their places in the page order, each after any equal entries, with one
  // sort and one merge. More than one entry resets the view (its selection is cleared).
  void AddEntries(std::vector<std::string> entries);

  // Replaces every entry by entries, sorted once.
  void SetEntries(std::vector<std::string> entries);

  // Removes every entry.
  void Clear();

  // Removes the given rows. Rows out of range and repeats are ignored; order does not matter.
  void RemoveRows(std::vector<int> rows);

  // The row of the first entry whose bytes equal entry exactly, or -1.
  int FindExact(std::string_view entry) const;

  // Number of entries, and the bytes of entry row. REQUIRES: 0 <= row < Count().
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& At(int row) const { return entries_[static_cast<std::size_t>(row)]; }
  const std::vector<std::string>& Entries() const { return entries_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::vector<std::string> entries_;
};

}  // namespace quarry
