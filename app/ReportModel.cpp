#include "ReportModel.h"

#include <QString>
#include <algorithm>
#include <cstddef>
#include <iterator>

namespace quorvix {

namespace {

QString ToQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

ReportModel::ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReportModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int ReportModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(std::size(kReportColumns));
}

QVariant ReportModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  if (role != Qt::DisplayRole) return {};
  return ToQString(CellText(RowAt(index.row()), static_cast<int16_t>(index.column())));
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
  rows_.clear();
  order_.clear();
  endResetModel();
}

const ReportRow& ReportModel::RowAt(int i) const {
  return rows_[order_[static_cast<size_t>(i)]];
}

bool ReportModel::Before(uint32_t a, uint32_t b) const {
  // Rows of one scan never tie (RowBefore breaks ties by their place in
  // the scan); rows added by hand may, and then keep the order added.
  const ReportRow& x = rows_[a];
  const ReportRow& y = rows_[b];
  if (x.sequence == y.sequence && CompareRows(x, y, state_.SortKey) == 0) return a < b;
  return RowBefore(x, y, state_);
}

void ReportModel::Append(std::vector<ReportRow> rows) {
  if (rows.empty()) return;
  const auto oldCount = static_cast<uint32_t>(order_.size());
  const auto first = static_cast<uint32_t>(rows_.size());
  const auto added = static_cast<uint32_t>(rows.size());

  // The new rows join at the end first, in their own order; with sorting on
  // they then move to their places in one reordering per batch.
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
               std::make_move_iterator(rows.end()));
  std::vector<uint32_t> fresh(added);
  for (uint32_t k = 0; k < added; ++k) fresh[k] = first + k;
  const auto before = [this](uint32_t a, uint32_t b) { return Before(a, b); };
  if (state_.Sorted) std::sort(fresh.begin(), fresh.end(), before);
  beginInsertRows(QModelIndex(), static_cast<int>(oldCount),
                  static_cast<int>(oldCount + added - 1));
  order_.insert(order_.end(), fresh.begin(), fresh.end());
  endInsertRows();

  if (!state_.Sorted) return;
  const auto mid = order_.begin() + oldCount;
  if (oldCount == 0 || !Before(*mid, *(mid - 1))) return;  // already in place

  // Each new row finds its place by search (after the rows of equal key
  // already there), so a batch costs a few comparisons per new row and one
  // copy of the order.
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  std::vector<uint32_t> merged;
  merged.reserve(order_.size());
  auto from = order_.begin();
  for (auto it = mid; it != order_.end(); ++it) {
    // Gallop from the last place found: the new rows are in order, so each
    // search spans only the stretch up to the next one's place.
    auto lo = from;
    auto hi = from;
    for (std::ptrdiff_t step = 1; hi != mid && !Before(*it, *hi); step *= 2) {
      lo = hi + 1;
      hi = mid - hi > step ? hi + step : mid;
    }
    const auto at = std::upper_bound(lo, hi, *it, before);
    merged.insert(merged.end(), from, at);
    merged.push_back(*it);
    from = at;
  }
  merged.insert(merged.end(), from, mid);
  merged.swap(order_);
  MovePersistent(persistent, merged);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ReportModel::MovePersistent(const QModelIndexList& persistent,
                                 const std::vector<uint32_t>& oldOrder) {
  if (persistent.isEmpty()) return;
  std::vector<int> positionOf(rows_.size());
  for (size_t i = 0; i < order_.size(); ++i) positionOf[order_[i]] = static_cast<int>(i);
  QModelIndexList moved;
  moved.reserve(persistent.size());
  for (const QModelIndex& idx : persistent)
    moved.append(index(positionOf[oldOrder[static_cast<size_t>(idx.row())]], idx.column()));
  changePersistentIndexList(persistent, moved);
}

void ReportModel::SetState(const SortState& state) {
  state_ = state;
  if (state_.Sorted) Reorder();
}

void ReportModel::Reorder() {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  std::vector<uint32_t> oldOrder;
  if (!persistent.isEmpty()) oldOrder = order_;
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) { return Before(a, b); });
  MovePersistent(persistent, oldOrder);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace quorvix
