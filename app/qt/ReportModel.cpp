#include "ReportModel.h"

#include <QString>
#include <cstddef>

#include "TerminalText.h"

namespace quorvix {

namespace {

QString ToQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

// A cell shows at most this many UTF-16 units of its text, then an ellipsis:
// no column is that wide, and a name of a megabyte from a hostile machine
// would otherwise be laid out whole at every repaint.
constexpr std::size_t kMaxCellUnits = 1024;

// A cell as shown: names come from remote machines, so hidden characters
// (direction overrides, zero-width ones, line breaks) show as U+FFFD instead
// of turning or hiding text.
QString CellString(const std::u16string& text) {
  if (text.size() <= kMaxCellUnits) return ToQString(VisibleText(text));
  std::size_t n = kMaxCellUnits;
  if (text[n] >= 0xDC00 && text[n] <= 0xDFFF) --n;  // a surrogate pair stays whole
  return ToQString(VisibleText(std::u16string_view(text).substr(0, n))) + QChar(0x2026);
}

}  // namespace

ReportModel::ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReportModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.Size());
}

int ReportModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(std::size(kReportColumns));
}

QVariant ReportModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  if (role != Qt::DisplayRole) return {};
  return CellString(CellText(RowAt(index.row()), static_cast<int16_t>(index.column())));
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf16(kReportColumns[section]);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

void ReportModel::Clear() {
  beginResetModel();
  rows_.Clear();
  endResetModel();
}

const ReportRow& ReportModel::RowAt(int i) const {
  return rows_.RowAt(static_cast<size_t>(i));
}

void ReportModel::Append(std::vector<ReportRow> rows) {
  if (rows.empty()) return;
  const auto oldCount = static_cast<int>(rows_.Size());
  const auto added = static_cast<int>(rows.size());
  // The new rows join at the end first, in their own order; with sorting on
  // they then move to their places in one reordering per batch.
  beginInsertRows(QModelIndex(), oldCount, oldCount + added - 1);
  rows_.AppendAtEnd(std::move(rows));
  endInsertRows();
  if (!rows_.TailOutOfPlace()) {
    rows_.MergeTail();
    return;
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  std::vector<uint32_t> oldOrder;
  if (!persistent.isEmpty()) oldOrder = rows_.Order();
  rows_.MergeTail();
  MovePersistent(persistent, oldOrder);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ReportModel::MovePersistent(const QModelIndexList& persistent,
                                 const std::vector<uint32_t>& oldOrder) {
  if (persistent.isEmpty()) return;
  const std::vector<uint32_t>& order = rows_.Order();
  std::vector<int> positionOf(order.size());
  for (size_t i = 0; i < order.size(); ++i) positionOf[order[i]] = static_cast<int>(i);
  QModelIndexList moved;
  moved.reserve(persistent.size());
  for (const QModelIndex& idx : persistent)
    moved.append(index(positionOf[oldOrder[static_cast<size_t>(idx.row())]], idx.column()));
  changePersistentIndexList(persistent, moved);
}

void ReportModel::SetState(const SortState& state) {
  if (!state.Sorted) {
    rows_.SetState(state);
    return;
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  std::vector<uint32_t> oldOrder;
  if (!persistent.isEmpty()) oldOrder = rows_.Order();
  rows_.SetState(state);
  MovePersistent(persistent, oldOrder);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace quorvix
