// The rows of the report list: a table model over the shared row store,
// which keeps them in the order of the list's sort state.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

#include "ReportOrder.h"
#include "ReportRows.h"
#include "ReportWindow.h"

namespace quorvix {

class ReportModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ReportModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Removes every row.
  void Clear();
  // Adds rows in the order given. While Sorted is on, each takes its place
  // in the current order (ties after the rows already there).
  void Append(std::vector<ReportRow> rows);
  // The sort state (the list's Sorted, SortKey and SortOrder).
  const SortState& State() const { return rows_.State(); }
  // Sets the state and reorders the rows by it.
  void SetState(const SortState& state);
  // The row shown at position i.
  const ReportRow& RowAt(int i) const;

 private:
  // Points the views' persistent indexes (selection, current row) at the
  // rows' new places after order_ changed from oldOrder.
  void MovePersistent(const QModelIndexList& persistent, const std::vector<uint32_t>& oldOrder);

  ReportRows rows_;
};

}  // namespace quorvix
