// The shared row store: batches merged into place and re-sorts give exactly
// the order of the console report's sort, ties by the rows' place in the scan.
#include "ReportRows.h"

#include <gtest/gtest.h>

#include <random>

namespace quorvix {
namespace {

ReportRow Row(std::u16string user, std::u16string domain, uint64_t sequence,
              std::optional<uint32_t> time = {}) {
  ReportRow r;
  r.user = std::move(user);
  r.machine = u"PC";
  r.workstation = u"PC (Wks)";
  r.domain = std::move(domain);
  r.lastLogon = time;
  r.sequence = sequence;
  return r;
}

std::vector<uint64_t> Sequences(const ReportRows& rows) {
  std::vector<uint64_t> out;
  for (size_t i = 0; i < rows.Size(); ++i) out.push_back(rows.RowAt(i).sequence);
  return out;
}

TEST(ReportRows, BatchesAndResortsMatchTheConsoleOrder) {
  std::mt19937 random(7);
  std::vector<ReportRow> all;
  const std::u16string names[] = {u"ann", u"Bob", u"carl", u"ANN", u"dora"};
  for (uint64_t s = 0; s < 9000; ++s) {  // more than two of the store's blocks
    std::optional<uint32_t> time;
    if (random() % 3 != 0) time = static_cast<uint32_t>(random() % 5);
    all.push_back(Row(names[random() % 5], names[random() % 5], s, time));
  }
  // The rows arrive in batches of uneven size, machines out of order.
  std::vector<ReportRow> arrival = all;
  std::shuffle(arrival.begin(), arrival.end(), random);

  ReportRows rows;
  for (size_t at = 0; at < arrival.size();) {
    const size_t n = std::min<size_t>(1 + random() % 700, arrival.size() - at);
    rows.Append(std::vector<ReportRow>(arrival.begin() + static_cast<long>(at),
                                       arrival.begin() + static_cast<long>(at + n)));
    at += n;
  }
  for (int16_t key = 0; key < 5; ++key) {
    for (int32_t order : {0, 1}) {
      SortState state{true, key, order};
      rows.SetState(state);
      std::vector<ReportRow> expected = all;  // in scan order, as the console adds them
      SortRows(expected, state);
      std::vector<uint64_t> want;
      for (const ReportRow& r : expected) want.push_back(r.sequence);
      EXPECT_EQ(Sequences(rows), want) << "key " << key << " order " << order;
    }
  }
  // A batch added under a descending state lands in that order too.
  rows.Clear();
  rows.SetState(SortState{true, 0, 1});
  rows.Append({Row(u"b", u"x", 2), Row(u"a", u"x", 1)});
  rows.Append({Row(u"c", u"x", 0), Row(u"b", u"x", 1)});
  EXPECT_EQ(Sequences(rows), (std::vector<uint64_t>{0, 1, 2, 1}));
  EXPECT_EQ(rows.RowAt(3).user, u"a");
}

TEST(ReportRows, UnsortedListKeepsArrivalAndHalfAppendedBatchesMergeLater) {
  ReportRows rows;
  rows.SetState(SortState{false, 0, 0});
  rows.Append({Row(u"b", u"x", 0), Row(u"a", u"x", 1)});
  EXPECT_EQ(Sequences(rows), (std::vector<uint64_t>{0, 1}));

  rows.SetState(SortState{true, 0, 0});
  EXPECT_EQ(Sequences(rows), (std::vector<uint64_t>{1, 0}));
  EXPECT_EQ(rows.AppendAtEnd({Row(u"a", u"x", 5)}), 1u);
  EXPECT_TRUE(rows.TailOutOfPlace());
  EXPECT_EQ(Sequences(rows), (std::vector<uint64_t>{1, 0, 5}));  // not yet in place
  rows.AppendAtEnd({Row(u"c", u"x", 6)});  // the earlier batch is placed first
  EXPECT_FALSE(rows.TailOutOfPlace());
  EXPECT_EQ(Sequences(rows), (std::vector<uint64_t>{1, 5, 0, 6}));
  rows.Clear();
  EXPECT_EQ(rows.Size(), 0u);
  EXPECT_FALSE(rows.TailOutOfPlace());
}

}  // namespace
}  // namespace quorvix
