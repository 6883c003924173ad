// The main window: loading, the report list, the start button, header
// clicks, Exit and close during a scan, the layout rules.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <condition_variable>
#include <mutex>

#include "Art.h"
#include "ImageButton.h"
#include "ReportModel.h"
#include "SimulatedNetApi.h"
#include "frmMain.h"

using namespace quorvix;

namespace {

QString Data(const char* name) {
  return QStringLiteral(QUORVIX_TEST_DATA_DIR "/app/") + name;
}

std::unique_ptr<sim::SimulatedNetApi> ApiFromFile(const char* name) {
  return std::make_unique<sim::SimulatedNetApi>(sim::LoadDomainFile(Data(name).toStdString()));
}

QStringList ComboEntries(QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

QStringList Column(QTreeView* list, int col) {
  QStringList out;
  for (int r = 0; r < list->model()->rowCount(); ++r)
    out << list->model()->index(r, col).data().toString();
  return out;
}

template <typename T>
T* Child(QWidget& w, const char* name) {
  T* child = w.findChild<T*>(QString::fromLatin1(name));
  if (child == nullptr) qFatal("no control %s", name);
  return child;
}

QString StatusText(frmMain& w) {
  return Child<QLabel>(w, "StatusBar1_Panel1")->text();
}

void ClickHeader(QTreeView* list, int section) {
  QHeaderView* h = list->header();
  const QPoint p(h->sectionViewportPosition(section) + 5, h->height() / 2);
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

void ClickToolbar(frmMain& w, const char* key) {
  auto* bar = Child<QToolBar>(w, "Toolbar1");
  QAction* action = Child<QAction>(w, key);
  QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
}

}  // namespace

class frmMainTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QGuiApplication::setQuitOnLastWindowClosed(false); }

  void loadingFillsTheDomainBoxInEnumerationOrder() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    QVERIFY(!w.isVisible());
    w.ShowWindow();
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvix 2002 (simulated domain)"));
    auto* combo = Child<QComboBox>(w, "comboDomains");
    QCOMPARE(ComboEntries(combo), (QStringList{"ZULU", "alpha", "MIDDLE", "Bravo"}));
    QCOMPARE(combo->currentIndex(), -1);
    QCOMPARE(combo->currentText(), QStringLiteral("MIDDLE"));
    QCOMPARE(StatusText(w), QStringLiteral("Status: Done"));
    QCOMPARE(api->OutstandingBuffers(), 0u);

    // First the own domain, then the domains in domain mode.
    const auto calls = api->Calls();
    QCOMPARE(calls.size(), size_t{2});
    QCOMPARE(calls[0].call, std::string("NetWkstaGetInfo"));
    QCOMPARE(calls[1].call, std::string("NetServerEnum"));
    QCOMPARE(calls[1].servertype, SV_TYPE_DOMAIN_ENUM);

    // Shown again: no second loading.
    api->ClearCalls();
    w.hide();
    w.ShowWindow();
    QVERIFY(w.isVisible());
    QVERIFY(api->Calls().empty());
    QCOMPARE(combo->count(), 4);

    frmMain real(*api, false);
    QCOMPARE(real.windowTitle(), QStringLiteral("Quorvix 2002"));
  }

  // The domains are asked off the window's thread: a directory that takes
  // long to read leaves the windows already shown serviced meanwhile.
  void windowsAreServicedWhileTheDomainsAreAsked() {
    class SlowDomains : public sim::SimulatedNetApi {
     public:
      using SimulatedNetApi::SimulatedNetApi;
      NET_API_STATUS NetServerEnum(LPCWSTR server, DWORD level, LPBYTE* buf, DWORD pref,
                                   LPDWORD read, LPDWORD total, DWORD type, LPCWSTR domain,
                                   LPDWORD resume) override {
        {
          std::unique_lock lock(mu);
          servicedMeanwhile =
              wake.wait_for(lock, std::chrono::seconds(10), [&] { return serviced; });
        }
        return SimulatedNetApi::NetServerEnum(server, level, buf, pref, read, total, type, domain,
                                              resume);
      }
      std::mutex mu;
      std::condition_variable wake;
      bool serviced = false;
      bool servicedMeanwhile = false;
    };
    SlowDomains api(sim::LoadDomainFile(Data("unsorted-domains.json").toStdString()));
    frmMain w(api, true);
    QTimer::singleShot(0, [&] {
      std::lock_guard lock(api.mu);
      api.serviced = true;
      api.wake.notify_all();
    });
    w.ShowWindow();
    QVERIFY(api.servicedMeanwhile);
    QVERIFY(w.isVisible());
    QCOMPARE(ComboEntries(Child<QComboBox>(w, "comboDomains")),
             (QStringList{"ZULU", "alpha", "MIDDLE", "Bravo"}));
    QCOMPARE(StatusText(w), QStringLiteral("Status: Done"));
  }

  void failedDomainEnumerationLeavesTheListEmpty() {
    auto api = ApiFromFile("domain-enum-fails.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* combo = Child<QComboBox>(w, "comboDomains");
    QCOMPARE(combo->count(), 0);
    QCOMPARE(combo->currentText(), QStringLiteral("MIDDLE"));
    QCOMPARE(StatusText(w), QStringLiteral("Status: Done"));
    QVERIFY(w.isVisible());
  }

  // Names from the network show their hidden characters as U+FFFD, in the
  // domain box and in the list; the scan asks for the names themselves.
  void hiddenCharactersShowAndTheNamesAreScannedAsTheyAre() {
    sim::SimDomain d;
    d.computerName = u"AUDITOR";
    d.localDomain = u"HQ\u200B";
    d.domains = {{u"HQ\u200B", u""}, {u"EV\u202EIL", u""}};
    sim::SimMachine m;
    m.name = u"PC1";
    m.domain = u"EV\u202EIL";
    m.type = SV_TYPE_WORKSTATION;
    m.sessions = {{u"adm\u200Bin", u"EV\u202EIL", u"", u""}};
    d.machines = {m};
    sim::SimulatedNetApi api(d);
    frmMain w(api, true);
    w.ShowWindow();
    auto* combo = Child<QComboBox>(w, "comboDomains");
    QCOMPARE(ComboEntries(combo), (QStringList{u"HQ\uFFFD"_qs, u"EV\uFFFDIL"_qs}));
    QCOMPARE(combo->currentText(), u"HQ\uFFFD"_qs);
    QCOMPARE(w.DomainText(), u"HQ\u200B");
    combo->setCurrentIndex(1);
    QCOMPARE(w.DomainText(), u"EV\u202EIL");
    QTest::mouseClick(Child<QToolButton>(w, "asxPowerButton1"), Qt::LeftButton);
    auto* list = Child<QTreeView>(w, "lvMain");
    QCOMPARE(Column(list, 0), QStringList{u"adm\uFFFDin"_qs});
    QCOMPARE(Column(list, 2), QStringList{u"EV\uFFFDIL"_qs});
    combo->setEditText(QStringLiteral("OTHER"));
    QCOMPARE(w.DomainText(), u"OTHER");
  }

  void listColumnsModesAndStatusBar() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* list = Child<QTreeView>(w, "lvMain");
    QCOMPARE(list->model()->columnCount(), 5);
    const QStringList headers{"Username", "Workstation", "Domain", "Logon Server", "Last Logon"};
    const int quarter = list->width() / 4;
    QVERIFY(quarter > 50);
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
      QCOMPARE(list->columnWidth(c), quarter);
    }
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->header()->defaultAlignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    const SortState s = w.Model()->State();
    QVERIFY(s.Sorted);
    QCOMPARE(s.SortKey, int16_t{0});
    QCOMPARE(s.SortOrder, 0);
    QCOMPARE(w.focusWidget(), list);

    // Later resizes change the list, not its columns.
    const int listWidth = list->width();
    w.resize(w.width() + 100, w.height());
    QCOMPARE(list->width(), listWidth + 100);
    for (int c = 0; c < 5; ++c) QCOMPARE(list->columnWidth(c), quarter);

    // Status bar: three panels, the first with its welcome tip, then date and time.
    auto* panel1 = Child<QLabel>(w, "StatusBar1_Panel1");
    QCOMPARE(panel1->toolTip(), QStringLiteral("Welcome to Quorvix 2002"));
    const QLocale locale = QLocale::system();
    QCOMPARE(Child<QLabel>(w, "StatusBar1_Panel2")->text(),
             locale.toString(QDate::currentDate(), QLocale::ShortFormat));
    QVERIFY(!Child<QLabel>(w, "StatusBar1_Panel3")->text().isEmpty());

    // Toolbar: Exit and About with their tips.
    QCOMPARE(Child<QAction>(w, "Exit")->text(), QStringLiteral("Exit"));
    QCOMPARE(Child<QAction>(w, "Exit")->toolTip(), QStringLiteral("Exit Quorvix 2002"));
    QCOMPARE(Child<QAction>(w, "About")->text(), QStringLiteral("About"));
    QCOMPARE(Child<QAction>(w, "About")->toolTip(), QStringLiteral("About Quorvix 2002"));
  }

  void pictures() {
    const QPixmap exit = ToolbarImage(1);
    QCOMPARE(exit.size(), QSize(16, 16));
    const QImage img = exit.toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0);    // light grey is see-through
    QCOMPARE(qAlpha(img.pixel(8, 8)), 255);  // the door is not
    QCOMPARE(ToolbarImage(2).size(), QSize(16, 16));
    QCOMPARE(ToolbarImage(3).size(), QSize(16, 16));
    QCOMPARE(BannerPicture().size(), QSize(400, 200));
    QCOMPARE(PowerButtonRestPicture().size(), QSize(17, 17));
    QVERIFY(PowerButtonRestPicture().toImage() != PowerButtonHotPicture().toImage());

    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* start = Child<ImageButton>(w, "asxPowerButton1");
    QCOMPARE(start->size(), QSize(17, 17));
    QVERIFY(!start->IsHot());
    QTest::mousePress(start, Qt::LeftButton);
    QVERIFY(start->IsHot());
    start->setDown(false);
    QVERIFY(!start->IsHot());
  }

  void startButtonRunsAScanIntoTheList() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* list = Child<QTreeView>(w, "lvMain");
    auto* start = Child<QToolButton>(w, "asxPowerButton1");
    // While rows come in the window shows the hourglass and "Working...".
    Qt::CursorShape busyPointer = Qt::ArrowCursor;
    QString busyStatus;
    connect(w.Model(), &QAbstractItemModel::rowsInserted, &w, [&] {
      if (!busyStatus.isEmpty()) return;  // the first batch, shown at the first yield
      busyPointer = w.cursor().shape();
      busyStatus = StatusText(w);
    });
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Done);
    QCOMPARE(busyPointer, Qt::WaitCursor);
    QVERIFY2(busyStatus.startsWith(QStringLiteral("Status: Working... ")), qPrintable(busyStatus));
    QCOMPARE(StatusText(w), QStringLiteral("Status: Done"));
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    // Ascending by user name; equal names (alice, Alice) in arrival order.
    QCOMPARE(Column(list, 0), (QStringList{"alice", "Alice", "bob", "carol"}));
    QCOMPARE(Column(list, 1),
             (QStringList{"MID-DC (PDC)", "WS-01 (Wks)", "WS-01 (Wks)", "MID-DC (PDC)"}));
    QCOMPARE(Column(list, 3), (QStringList{"", "MID-DC", "ZULU-DC", "MID-DC"}));
    QCOMPARE(list->model()->index(0, 4).data().toString(), QStringLiteral("01-Jan-1970 00:00:00"));
    QCOMPARE(api->OutstandingBuffers(), 0u);

    // A second scan replaces the rows; a typed domain is scanned as typed.
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(list->model()->rowCount(), 4);
    auto* combo = Child<QComboBox>(w, "comboDomains");
    combo->setEditText(QStringLiteral("ZULU"));
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(Column(list, 0), QStringList{"zed"});
  }

  void headerClicksFollowTheStateMachine() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* list = Child<QTreeView>(w, "lvMain");
    auto* start = Child<QToolButton>(w, "asxPowerButton1");

    // On the empty list: the first click on "Username" turns the order
    // descending, and the next scan's rows come in that order.
    ClickHeader(list, 0);
    QCOMPARE(w.Model()->State().SortKey, int16_t{0});
    QCOMPARE(w.Model()->State().SortOrder, 1);
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(Column(list, 0), (QStringList{"carol", "bob", "alice", "Alice"}));

    // On the full list: "Domain" ascending (the direction flips on any column).
    list->setCurrentIndex(list->model()->index(1, 0));  // bob
    ClickHeader(list, 2);
    QCOMPARE(w.Model()->State().SortKey, int16_t{2});
    QCOMPARE(w.Model()->State().SortOrder, 0);
    QCOMPARE(Column(list, 2), (QStringList{"MIDDLE", "MIDDLE", "MIDDLE", "ZULU"}));
    QCOMPARE(list->currentIndex().data().toString(), QStringLiteral("bob"));  // selection follows
    ClickHeader(list, 2);
    QCOMPARE(w.Model()->State().SortOrder, 1);
    QCOMPARE(Column(list, 2), (QStringList{"ZULU", "MIDDLE", "MIDDLE", "MIDDLE"}));
    // After "Domain" descending, "Username" goes ascending.
    ClickHeader(list, 0);
    QCOMPARE(w.Model()->State().SortKey, int16_t{0});
    QCOMPARE(w.Model()->State().SortOrder, 0);
    QCOMPARE(Column(list, 0), (QStringList{"alice", "Alice", "bob", "carol"}));
    // "Workstation": by machine, then role.
    ClickHeader(list, 1);
    QCOMPARE(Column(list, 1),
             (QStringList{"WS-01 (Wks)", "WS-01 (Wks)", "MID-DC (PDC)", "MID-DC (PDC)"}));
  }

  void exitEndsTheProgram() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    int quits = 0;
    w.SetQuitFunction([&] { ++quits; });
    w.ShowWindow();
    ClickToolbar(w, "Exit");
    QCOMPARE(quits, 1);
    // The program is ending: the start button no longer scans.
    QTest::mouseClick(Child<QToolButton>(w, "asxPowerButton1"), Qt::LeftButton);
    QCOMPARE(w.Model()->rowCount(), 0);
  }

  void exitDuringAScanStopsItAtOnce() {
    sim::GeneratorOptions o;
    o.machines = 3000;
    o.entriesPerMachine = 3;
    auto api = std::make_unique<sim::SimulatedNetApi>(sim::GenerateDomain(o));
    api->SetLogging(false);
    frmMain w(*api, true);
    int quits = 0;
    w.SetQuitFunction([&] { ++quits; });
    w.ShowWindow();
    int rowsAtExit = -1;
    // Exit arrives during the scan's first yield that services the window.
    connect(w.Model(), &QAbstractItemModel::rowsInserted, &w, [&] {
      if (rowsAtExit >= 0) return;
      rowsAtExit = w.Model()->rowCount();
      ClickToolbar(w, "Exit");
    });
    QTest::mouseClick(Child<QToolButton>(w, "asxPowerButton1"), Qt::LeftButton);
    QCOMPARE(quits, 1);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Abandoned);
    QVERIFY(rowsAtExit > 0);
    QCOMPARE(w.Model()->rowCount(), rowsAtExit);  // no row after Exit
    QVERIFY(w.Model()->rowCount() < 9000);
    // Machines still being asked finish on their own; nothing reaches the window.
    QVERIFY(WaitForScanWorkers(std::chrono::seconds(30)));
    QCOMPARE(w.Model()->rowCount(), rowsAtExit);
    QCOMPARE(api->OutstandingBuffers(), 0u);
    QVERIFY(!w.IsScanning());
  }

  void closingDuringAScanStopsIt() {
    sim::GeneratorOptions o;
    o.machines = 3000;
    auto api = std::make_unique<sim::SimulatedNetApi>(sim::GenerateDomain(o));
    api->SetLogging(false);
    frmMain w(*api, true);
    w.ShowWindow();
    int rowsAtClose = -1;
    connect(w.Model(), &QAbstractItemModel::rowsInserted, &w, [&] {
      if (rowsAtClose >= 0) return;
      rowsAtClose = w.Model()->rowCount();
      w.close();
    });
    QTest::mouseClick(Child<QToolButton>(w, "asxPowerButton1"), Qt::LeftButton);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Abandoned);
    QVERIFY(!w.isVisible());
    QCOMPARE(w.Model()->rowCount(), rowsAtClose);
    QVERIFY(WaitForScanWorkers(std::chrono::seconds(30)));
    QCOMPARE(api->OutstandingBuffers(), 0u);
  }

  void machinesNotAskedAreListedAndEscapeStops() {
    sim::GeneratorOptions o;
    o.machines = 21;  // the controller and 20 others: 2 off, 1 silent
    o.entriesPerMachine = 2;
    o.unreachableShare = 0.1;
    o.unreachableMicros = 50'000;
    o.silentShare = 0.05;
    o.silentMicros = 1'000'000;
    auto api = std::make_unique<sim::SimulatedNetApi>(sim::GenerateDomain(o));
    frmMain w(*api, true);
    w.SetScanSettings({4, std::chrono::milliseconds(200)});
    w.ShowWindow();
    auto* start = Child<QToolButton>(w, "asxPowerButton1");
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Done);
    QCOMPARE(StatusText(w), QStringLiteral("Status: Done - 3 of 21 machines not asked"));
    QCOMPARE(w.Model()->rowCount(), 18 * 2);

    // A double-click on the panel lists them, ready to copy.
    auto* panel = Child<QLabel>(w, "StatusBar1_Panel1");
    QVERIFY(panel->toolTip().contains(QStringLiteral("Double-click")));
    QTest::mouseDClick(panel, Qt::LeftButton);
    auto* machines = w.findChild<QWidget*>(QStringLiteral("frmMachines"));
    QVERIFY(machines != nullptr);
    const QString listed = machines->findChild<QPlainTextEdit*>()->toPlainText();
    QCOMPARE(listed.count(QStringLiteral("not asked")), 2);
    QCOMPARE(listed.count(QStringLiteral("timed out")), 1);
    QTest::mouseClick(machines->findChild<QPushButton*>(QStringLiteral("cmdCopy")), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), listed);
    QPointer<QWidget> open = machines;

    // Escape stops the next scan at its first rows; they stay.
    bool pressed = false;
    connect(w.Model(), &QAbstractItemModel::rowsInserted, &w, [&] {
      if (pressed) return;
      pressed = true;
      QTest::keyClick(&w, Qt::Key_Escape);
    });
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Stopped);
    QVERIFY2(StatusText(w).startsWith(QStringLiteral("Status: Stopped - ")),
             qPrintable(StatusText(w)));
    QVERIFY(w.Model()->rowCount() > 0);
    // The list left open follows the last scan, and so does what it copies.
    QVERIFY(open);
    const QString now = open->findChild<QPlainTextEdit*>()->toPlainText();
    QVERIFY2(now.contains(QStringLiteral("stopped")), qPrintable(now));
    QTest::mouseClick(open->findChild<QPushButton*>(QStringLiteral("cmdCopy")), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), now);
    open->close();
    QVERIFY(WaitForScanWorkers(std::chrono::seconds(30)));
  }

  void resizeRulesApplyAndSkipWhatCannotBeSet() {
    auto api = ApiFromFile("unsorted-domains.json");
    frmMain w(*api, true);
    w.ShowWindow();
    auto* list = Child<QTreeView>(w, "lvMain");
    auto* combo = Child<QComboBox>(w, "comboDomains");
    auto* start = Child<QToolButton>(w, "asxPowerButton1");
    auto* cool = Child<QWidget>(w, "CoolBar1");
    auto* status = Child<QStatusBar>(w, "StatusBar1");

    // The design size: the list fills the window below the rebar.
    QCOMPARE(w.size(), QSize(452, 446));
    QCOMPARE(list->geometry(), QRect(0, 64, 449, 361));
    QCOMPARE(cool->width(), 449);
    QCOMPARE(combo->width(), 397);
    QCOMPARE(start->x(), 407);
    QCOMPARE(status->geometry(), QRect(0, 429, 452, 17));

    w.resize(600, 500);
    QCOMPARE(list->size(), QSize(597, 415));
    QCOMPARE(combo->width(), 545);
    QCOMPARE(start->x(), 555);
    QCOMPARE(status->geometry(), QRect(0, 483, 600, 17));

    // Lower than the list's margin: its height stays, the rest applies.
    w.resize(300, 60);
    QCOMPARE(list->size(), QSize(297, 415));
    QCOMPARE(combo->width(), 245);
    QCOMPARE(start->x(), 255);

    // Narrower than the combo's margin: its width stays, the button moves out of sight.
    w.resize(40, 200);
    QCOMPARE(list->size(), QSize(37, 115));
    QCOMPARE(combo->width(), 245);
    QCOMPARE(start->x(), -5);

    // Back to a sound size: everything whole again.
    w.resize(452, 446);
    QCOMPARE(list->geometry(), QRect(0, 64, 449, 361));
    QCOMPARE(combo->width(), 397);
    QCOMPARE(start->x(), 407);
  }
};

QTEST_MAIN(frmMainTest)
#include "frmMain_test.moc"
