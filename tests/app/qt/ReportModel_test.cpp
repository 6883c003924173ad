// The report list's rows: kept in the sort state's order as batches arrive
// and when the state changes, the same order the console report gives.
#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QtTest>
#include <random>

#include "ReportModel.h"
#include "ReportOrder.h"

using namespace quorvix;

namespace {

ReportRow Row(std::u16string user, std::u16string domain, std::optional<uint32_t> time = {}) {
  ReportRow r;
  r.user = std::move(user);
  r.machine = u"PC";
  r.workstation = u"PC (Wks)";
  r.domain = std::move(domain);
  r.lastLogon = time;
  return r;
}

QString Cell(const ReportModel& m, int row, int col) {
  return m.data(m.index(row, col)).toString();
}

std::vector<std::u16string> Users(const ReportModel& m) {
  std::vector<std::u16string> out;
  for (int i = 0; i < m.rowCount(); ++i) out.push_back(m.RowAt(i).user);
  return out;
}

}  // namespace

class ReportModelTest : public QObject {
  Q_OBJECT

 private slots:
  void columnsAndCells() {
    ReportModel m;
    QCOMPARE(m.columnCount(), 5);
    const char* headers[] = {"Username", "Workstation", "Domain", "Logon Server", "Last Logon"};
    for (int c = 0; c < 5; ++c)
      QCOMPARE(m.headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c]));
    QVERIFY(!m.headerData(5, Qt::Horizontal).isValid());
    ReportRow r = Row(u"jbauer", u"CORP", 0);
    r.logonServer = u"PDC01";
    r.lastLogonText = u"01-Jan-1970 00:00:00";
    m.Append({r});
    QCOMPARE(Cell(m, 0, 0), QStringLiteral("jbauer"));
    QCOMPARE(Cell(m, 0, 1), QStringLiteral("PC (Wks)"));
    QCOMPARE(Cell(m, 0, 2), QStringLiteral("CORP"));
    QCOMPARE(Cell(m, 0, 3), QStringLiteral("PDC01"));
    QCOMPARE(Cell(m, 0, 4), QStringLiteral("01-Jan-1970 00:00:00"));
    QVERIFY(!m.data(m.index(1, 0)).isValid());
    // A name of a megabyte is shown cut, and a surrogate pair at the cut stays whole.
    m.Append(
        {Row(std::u16string(1023, u'x') + u"\U0001F600" + std::u16string(1 << 20, u'y'), u"D")});
    const QString cut = Cell(m, 1, 0);
    QCOMPARE(cut, QString(1023, QChar('x')) + QChar(0x2026));
    m.Clear();
    QCOMPARE(m.rowCount(), 0);
  }

  void batchesTakeTheirPlaceAndTiesKeepTheirArrival() {
    ReportModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.Append({Row(u"mike", u"A"), Row(u"Bob", u"B")});
    m.Append({Row(u"alice", u"C"), Row(u"bob", u"D"), Row(u"zoe", u"E")});
    QCOMPARE(Users(m), (std::vector<std::u16string>{u"alice", u"Bob", u"bob", u"mike", u"zoe"}));

    // Descending: still the arrival order among equal names.
    SortState s = m.State();
    OnColumnClick(s, 1);
    m.SetState(s);
    QCOMPARE(Users(m), (std::vector<std::u16string>{u"zoe", u"mike", u"Bob", u"bob", u"alice"}));
    m.Append({Row(u"BOB", u"F"), Row(u"nina", u"G")});
    QCOMPARE(Users(m), (std::vector<std::u16string>{u"zoe", u"nina", u"mike", u"Bob", u"bob",
                                                    u"BOB", u"alice"}));
  }

  void selectionFollowsItsRow() {
    ReportModel m;
    m.Append({Row(u"carol", u"Z"), Row(u"alice", u"Y"), Row(u"bob", u"X")});
    QPersistentModelIndex bob(m.index(1, 2));
    QCOMPARE(m.data(bob).toString(), QStringLiteral("X"));
    m.Append({Row(u"aaron", u"W")});  // lands above bob
    QCOMPARE(bob.row(), 2);
    QCOMPARE(m.data(bob).toString(), QStringLiteral("X"));
    m.SetState(SortState{true, 2, 0});  // by domain: bob (X) comes second
    QCOMPARE(bob.row(), 1);
    QCOMPARE(bob.column(), 2);
    QCOMPARE(m.data(bob).toString(), QStringLiteral("X"));
  }

  void sameOrderAsTheConsoleReport() {
    // Random rows in random batches under random states: the list's order is
    // always the console's order of the same rows in arrival order.
    std::mt19937 rng(7);
    const char16_t* names[] = {u"ann", u"Ann", u"bert", u"Cleo", u"dora", u"", u"émile", u"Zed"};
    for (int round = 0; round < 20; ++round) {
      ReportModel m;
      QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
      std::vector<ReportRow> all;
      SortState state;
      for (int batch = 0; batch < 6; ++batch) {
        if (rng() % 3 == 0) {
          OnColumnClick(state, static_cast<int32_t>(rng() % 5) + 1);
          m.SetState(state);
        }
        std::vector<ReportRow> rows;
        const int n = static_cast<int>(rng() % 7);
        for (int k = 0; k < n; ++k) {
          ReportRow r = Row(names[rng() % 8], names[rng() % 8]);
          r.workstation = names[rng() % 8];
          r.logonServer = std::u16string(1, static_cast<char16_t>(u'a' + rng() % 3));
          if (rng() % 4 != 0) r.lastLogon = static_cast<uint32_t>(rng() % 5);
          r.lastLogonText = std::u16string(1, static_cast<char16_t>(u'0' + all.size() % 10));
          rows.push_back(r);
        }
        all.insert(all.end(), rows.begin(), rows.end());
        m.Append(rows);
      }
      std::vector<ReportRow> expected = all;
      SortRows(expected, state);
      QCOMPARE(m.rowCount(), static_cast<int>(expected.size()));
      for (int i = 0; i < m.rowCount(); ++i)
        for (int16_t c = 0; c < 5; ++c)
          QVERIFY2(
              CellText(m.RowAt(i), c) == CellText(expected[static_cast<size_t>(i)], c),
              qPrintable(QStringLiteral("round %1 row %2 column %3").arg(round).arg(i).arg(c)));
    }
  }
};

QTEST_MAIN(ReportModelTest)
#include "ReportModel_test.moc"
