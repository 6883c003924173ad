// The report list's rows, free of any window system: the rows in the order
// they arrived and the order the list shows them in, kept by the list's sort
// state as batches arrive and when the state changes. Both desktop windows
// show their report through it, in the order the console report prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ReportOrder.h"
#include "ReportWindow.h"

namespace quorvix {

class ReportRows {
 public:
  std::size_t Size() const { return order_.size(); }
  // The row shown at position i (0 <= i < Size()).
  const ReportRow& RowAt(std::size_t i) const { return Stored(order_[i]); }
  const SortState& State() const { return state_; }
  // Shown position -> index of the row in arrival order.
  const std::vector<uint32_t>& Order() const { return order_; }

  void Clear();
  // Adds a batch of rows and puts them in their places: AppendAtEnd, then
  // MergeTail.
  void Append(std::vector<ReportRow> rows);
  // The first half of Append: the batch joins at the end, in its own order
  // (sorted by the state while Sorted is on). Returns the rows added.
  std::size_t AppendAtEnd(std::vector<ReportRow> rows);
  // True when rows that AppendAtEnd placed at the end belong further up.
  bool TailOutOfPlace() const;
  // Moves the rows of the last AppendAtEnd to their places among the rows
  // before them. A few comparisons per new row and one copy of the order.
  void MergeTail();
  // Sets the state and, while Sorted is on, reorders every row by it.
  void SetState(const SortState& state);

  // True when the row with arrival index a is shown before the one with b:
  // by the sort key and direction, then rows that compare equal by their
  // place in the scan, then by arrival.
  bool Before(uint32_t a, uint32_t b) const;

 private:
  // The rows in arrival order, in blocks of kBlock: the store grows without
  // moving rows, and with few allocations (a block per few thousand rows;
  // some heaps, Wine's among them, slow down badly under many small ones).
  static constexpr std::size_t kBlock = 4096;
  const ReportRow& Stored(uint32_t i) const { return blocks_[i / kBlock][i % kBlock]; }
  ReportRow& Stored(uint32_t i) { return blocks_[i / kBlock][i % kBlock]; }
  std::vector<std::unique_ptr<ReportRow[]>> blocks_;
  std::size_t count_ = 0;
  std::vector<uint32_t> order_;  // shown position -> arrival index
  std::size_t tail_ = 0;         // first position of the last batch not yet merged
  SortState state_;
};

}  // namespace quorvix
