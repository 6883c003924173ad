#include "ReportRows.h"

#include <algorithm>

namespace quorvix {

void ReportRows::Clear() {
  blocks_.clear();
  count_ = 0;
  order_.clear();
  tail_ = 0;
}

bool ReportRows::Before(uint32_t a, uint32_t b) const {
  // Rows of one scan never tie (RowBefore breaks ties by their place in the
  // scan); rows added by hand may, and then keep the order added.
  const ReportRow& x = Stored(a);
  const ReportRow& y = Stored(b);
  if (x.sequence == y.sequence && CompareRows(x, y, state_.SortKey) == 0) return a < b;
  return RowBefore(x, y, state_);
}

void ReportRows::Append(std::vector<ReportRow> rows) {
  AppendAtEnd(std::move(rows));
  MergeTail();
}

std::size_t ReportRows::AppendAtEnd(std::vector<ReportRow> rows) {
  MergeTail();  // an earlier batch left unmerged takes its place first
  const auto first = static_cast<uint32_t>(count_);
  const auto added = static_cast<uint32_t>(rows.size());
  tail_ = order_.size();
  if (added == 0) return 0;
  for (ReportRow& row : rows) {
    if (count_ % kBlock == 0) blocks_.push_back(std::make_unique<ReportRow[]>(kBlock));
    Stored(static_cast<uint32_t>(count_++)) = std::move(row);
  }
  for (uint32_t k = 0; k < added; ++k) order_.push_back(first + k);
  if (state_.Sorted) {
    std::sort(order_.begin() + static_cast<std::ptrdiff_t>(tail_), order_.end(),
              [this](uint32_t a, uint32_t b) { return Before(a, b); });
  }
  return added;
}

bool ReportRows::TailOutOfPlace() const {
  if (!state_.Sorted || tail_ == 0 || tail_ >= order_.size()) return false;
  return Before(order_[tail_], order_[tail_ - 1]);
}

void ReportRows::MergeTail() {
  if (!TailOutOfPlace()) {
    tail_ = order_.size();
    return;
  }
  const auto before = [this](uint32_t a, uint32_t b) { return Before(a, b); };
  const auto mid = order_.begin() + static_cast<std::ptrdiff_t>(tail_);
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
  order_.swap(merged);
  tail_ = order_.size();
}

void ReportRows::SetState(const SortState& state) {
  MergeTail();
  state_ = state;
  if (!state_.Sorted) return;
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) { return Before(a, b); });
}

}  // namespace quorvix
