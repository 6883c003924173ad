#include "AuditScan.h"

#ifdef _WIN32
#include <windows.h>
// windows.h must precede the other platform headers.
#include <tlhelp32.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ReportOrder.h"
#include "ScanSummary.h"
#include "SimulatedNetApi.h"
#include "basMain.h"
#include "basStringHandler.h"

namespace quorvix {
namespace {

using sim::SimDomain;
using sim::SimLogonEntry;
using sim::SimMachine;
using sim::SimulatedNetApi;

// A window that records what the scan does to it, in order.
class RecordingWindow : public ReportWindow {
 public:
  explicit RecordingWindow(std::u16string domain) : domain_(std::move(domain)) {}

  void SetStatusText(const std::u16string& text) override {
    events.push_back("status " + ToUtf8(text));
    status = text;
  }
  void ClearRows() override {
    events.push_back("clear");
    if (onClear) onClear();
    rows.clear();
  }
  void AppendRow(const ReportRow& row) override {
    events.push_back("row " + ToUtf8(row.user));
    rows.push_back(row);
  }
  void SetMousePointer(MousePointer p) override {
    events.push_back("pointer " + std::to_string(static_cast<int>(p)));
    pointer = p;
  }
  std::u16string DomainText() override { return domain_; }
  void ShowMessage(const std::u16string& text) override {
    events.push_back("message");
    messages.push_back(text);
  }
  bool DoEvents() override {
    events.push_back("yield");
    return onDoEvents ? onDoEvents() : true;
  }

  std::vector<std::string> events;
  std::vector<ReportRow> rows;
  std::vector<std::u16string> messages;
  std::u16string status;
  MousePointer pointer = MousePointer::Default;
  std::function<void()> onClear;
  std::function<bool()> onDoEvents;

 private:
  std::u16string domain_;
};

// A window that also keeps the machines' outcomes.
class OutcomeWindow : public RecordingWindow {
 public:
  using RecordingWindow::RecordingWindow;
  void SetMachineOutcomes(const std::vector<MachineOutcome>& o) override { outcomes = o; }
  std::vector<MachineOutcome> outcomes;
};

SimMachine Machine(std::u16string name, uint32_t type, std::vector<SimLogonEntry> sessions) {
  SimMachine m;
  m.name = std::move(name);
  m.domain = u"HQ";
  m.type = type;
  m.sessions = std::move(sessions);
  return m;
}

SimLogonEntry Entry(std::u16string user, std::u16string server) {
  return {std::move(user), u"HQ", u"", std::move(server)};
}

// HQ, controlled by PDC01: a controller, a workstation with a user twice and
// an entry without logon server, an unreachable machine, an NT server whose
// user no server knows, and a machine whose type word names none of the roles.
SimDomain SmallDomain() {
  SimDomain d;
  d.computerName = u"PC017";
  d.localDomain = u"HQ";
  d.domains = {{u"HQ", u"PDC01"}, {u"EMPTY", u""}};
  SimMachine pdc = Machine(
      u"PDC01", SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL,
      {Entry(u"admin", u"\\\\PDC01")});
  pdc.users = {{u"admin", 1016097165u, {}}, {u"alice", 945244800u, {}}, {u"bob", 0u, {}}};
  d.machines.push_back(pdc);
  d.machines.push_back(
      Machine(u"PC017", SV_TYPE_WORKSTATION,
              {Entry(u"alice", u"\\\\PDC01"), Entry(u"bob", u""), Entry(u"alice", u"\\\\PDC01")}));
  SimMachine down = Machine(u"PC020", SV_TYPE_WORKSTATION, {});
  down.sessionsStatus = ERROR_BAD_NETPATH;
  d.machines.push_back(down);
  d.machines.push_back(Machine(u"SRV1", SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT,
                               {Entry(u"carol", u"\\\\PDC01")}));
  d.machines.push_back(Machine(u"X1", SV_TYPE_SERVER, {Entry(u"dave", u"\\\\PDC01")}));
  return d;
}

class AuditScanTest : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_TIME, "C"); }
  void TearDown() override {
    EXPECT_EQ(api.OutstandingBuffers(), 0u);
    EXPECT_EQ(api.RefusedFrees(), 0u);
  }

  std::vector<sim::CallRecord> CallsNamed(const std::string& name) const {
    std::vector<sim::CallRecord> out;
    for (const auto& c : api.Calls()) {
      if (c.call == name) out.push_back(c);
    }
    return out;
  }

  SimulatedNetApi api{SmallDomain()};
};

TEST_F(AuditScanTest, FillsOneRowPerEntryWithItsCells) {
  RecordingWindow w(u"HQ");
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  ScanHooks hooks;
  hooks.progress = [&](const ScanProgress& p) { progress.emplace_back(p.done, p.total); };
  ASSERT_EQ(RunAuditScan(api, w, ScanSettings{}, hooks), ScanOutcome::Done);
  // Machines answer in any order; the rows' places in the scan do not change.
  std::stable_sort(w.rows.begin(), w.rows.end(),
                   [](const ReportRow& a, const ReportRow& b) { return a.sequence < b.sequence; });

  ASSERT_EQ(w.rows.size(), 6u);
  const auto& admin = w.rows[0];
  EXPECT_EQ(admin.user, u"admin");
  EXPECT_EQ(admin.machine, u"PDC01");
  EXPECT_EQ(admin.role, u"PDC");
  EXPECT_EQ(admin.workstation, u"PDC01 (PDC)");
  EXPECT_EQ(admin.domain, u"HQ");
  EXPECT_EQ(admin.logonServer, u"\\\\PDC01");
  EXPECT_EQ(admin.lastLogon, 1016097165u);
  EXPECT_EQ(admin.lastLogonText, u"14-Mar-2002 09:12:45");

  // The same user twice at one machine gives two rows; an entry without a
  // logon server is asked of the controller and keeps its empty cell.
  EXPECT_EQ(w.rows[1].user, u"alice");
  EXPECT_EQ(w.rows[1].workstation, u"PC017 (Wks)");
  EXPECT_EQ(w.rows[1].lastLogonText, u"15-Dec-1999 08:00:00");
  EXPECT_EQ(w.rows[2].user, u"bob");
  EXPECT_EQ(w.rows[2].logonServer, u"");
  EXPECT_EQ(w.rows[2].lastLogon, 0u);
  EXPECT_EQ(w.rows[2].lastLogonText, u"01-Jan-1970 00:00:00");
  EXPECT_EQ(w.rows[3].user, u"alice");

  // No stale cells: a last logon nobody knows leaves the cell empty, and a
  // type word without a role leaves the machine name alone.
  EXPECT_EQ(w.rows[4].user, u"carol");
  EXPECT_EQ(w.rows[4].workstation, u"SRV1 (Wks/Srv)");
  EXPECT_FALSE(w.rows[4].lastLogon.has_value());
  EXPECT_EQ(w.rows[4].lastLogonText, u"");
  EXPECT_EQ(w.rows[5].user, u"dave");
  EXPECT_EQ(w.rows[5].workstation, u"X1");
  EXPECT_EQ(w.rows[5].role, u"");
  EXPECT_FALSE(w.rows[5].lastLogon.has_value());

  // The unreachable machine gives no row and no message; every row is
  // followed by a yield.
  EXPECT_TRUE(w.messages.empty());
  std::vector<std::string> steps;
  for (std::size_t k = 0; k < w.events.size(); ++k) {
    const std::string& e = w.events[k];
    if (e.rfind("row ", 0) == 0) {
      ASSERT_LT(k + 1, w.events.size());
      EXPECT_EQ(w.events[k + 1], "yield");
    }
    if (e != "yield" && e.rfind("status Status: Working... ", 0) != 0 && e.rfind("row ", 0) != 0)
      steps.push_back(e);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"status Status: Working...", "clear", "pointer 11",
                                             "pointer 0",
                                             "status Status: Done - 1 of 5 machines "
                                             "not asked"}));
  EXPECT_EQ(progress, (std::vector<std::pair<std::size_t, std::size_t>>{
                          {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));

  // bob's entry names no logon server: his last logon is asked of the controller.
  bool askedController = false;
  for (const auto& c : CallsNamed("NetUserGetInfo")) {
    if (c.names.at(1) == u"bob") {
      EXPECT_EQ(c.names.at(0), u"\\\\PDC01");
      askedController = true;
    }
  }
  EXPECT_TRUE(askedController);
}

TEST_F(AuditScanTest, MakesTheCallsOfARowInOrder) {
  SimDomain d;
  d.computerName = u"PC1";
  d.localDomain = u"HQ";
  d.domains = {{u"HQ", u"PDC01"}};
  SimMachine pdc = Machine(u"PDC01", SV_TYPE_WORKSTATION | SV_TYPE_DOMAIN_CTRL, {});
  pdc.users = {{u"ann", 5u, {}}};
  d.machines = {pdc, Machine(u"PC1", SV_TYPE_WORKSTATION, {Entry(u"ann", u"")})};
  SimulatedNetApi one(d);
  RecordingWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(one, w, ScanSettings{1, {}}), ScanOutcome::Done);
  ASSERT_EQ(w.rows.size(), 1u);

  std::vector<std::string> order;
  for (const auto& c : one.Calls()) {
    std::string line = c.call;
    for (std::size_t k = 0; k < c.names.size(); ++k) {
      line += " " + (c.nullNames.at(k) ? std::string("<null>") : "'" + ToUtf8(c.names[k]) + "'");
    }
    if (order.empty() || order.back() != line) order.push_back(line);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"NetGetDCName '' 'HQ'", "NetServerEnum <null> 'HQ'",
                                             "NetWkstaUserEnum 'PDC01'", "NetWkstaUserEnum 'PC1'",
                                             "NetServerGetInfo 'PC1'",
                                             "NetUserGetInfo '\\\\PDC01' 'ann'"}));
  for (const auto& c : one.Calls()) {
    if (c.call == "NetServerEnum") {
      EXPECT_EQ(c.servertype, SV_TYPE_ALL);
    } else if (c.call == "NetServerGetInfo") {
      EXPECT_EQ(c.level, 101u);
    } else if (c.call == "NetUserGetInfo") {
      EXPECT_EQ(c.level, 2u);
    }
  }
  EXPECT_EQ(one.OutstandingBuffers(), 0u);

  // Without a controller, an entry that names no logon server has no last
  // logon: this computer's account of that name is another account.
  d.domains = {{u"HQ", u""}};
  d.machines[1].users = {{u"ann", 7u, {}}};
  SimulatedNetApi none(d);
  RecordingWindow w2(u"HQ");
  ASSERT_EQ(RunAuditScan(none, w2, ScanSettings{1, {}}), ScanOutcome::Done);
  ASSERT_EQ(w2.rows.size(), 1u);
  EXPECT_FALSE(w2.rows[0].lastLogon.has_value());
  for (const auto& c : none.Calls()) EXPECT_NE(c.call, "NetUserGetInfo");
}

TEST_F(AuditScanTest, ADomainWithoutMachinesEndsDoneWithAnEmptyList) {
  RecordingWindow w(u"EMPTY");
  w.rows.push_back(ReportRow{});  // left over from an earlier scan
  ASSERT_EQ(RunAuditScan(api, w), ScanOutcome::Done);
  EXPECT_TRUE(w.rows.empty());
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(w.pointer, MousePointer::Default);
  EXPECT_EQ(w.status, u"Status: Done");
}

TEST_F(AuditScanTest, AFailedMachineEnumerationShowsOneMessage) {
  api.AddFault({"NetServerEnum", u"HQ", ERROR_BAD_NETPATH});
  RecordingWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(api, w), ScanOutcome::Failed);
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_FALSE(GetNetErrorText(ERROR_BAD_NETPATH).empty());
  EXPECT_EQ(w.messages[0], GetNetErrorText(ERROR_BAD_NETPATH));
  EXPECT_TRUE(w.rows.empty());
  EXPECT_EQ(w.pointer, MousePointer::Default);
  EXPECT_EQ(w.status, u"Status: Failed");
  EXPECT_TRUE(CallsNamed("NetWkstaUserEnum").empty());

  // A status without a message text is named by its number.
  SimulatedNetApi odd(SmallDomain());
  odd.AddFault({"NetServerEnum", u"", 4242});
  RecordingWindow w2(u"HQ");
  int32_t reported = 0;
  ScanHooks hooks;
  hooks.enumerationFailed = [&](int32_t status) { reported = status; };
  ASSERT_EQ(RunAuditScan(odd, w2, ScanSettings{}, hooks), ScanOutcome::Failed);
  EXPECT_EQ(reported, 4242);
  ASSERT_EQ(w2.messages.size(), 1u);
  EXPECT_NE(w2.messages[0].find(u"4242"), std::u16string::npos) << ToUtf8(w2.messages[0]);
}

TEST_F(AuditScanTest, ASecondRunRemovesTheFirstRunsRowsBeforeAskingAnything) {
  RecordingWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(api, w), ScanOutcome::Done);
  ASSERT_EQ(w.rows.size(), 6u);
  const std::size_t callsBefore = api.Calls().size();
  std::size_t callsAtClear = 0;
  std::size_t rowsAtClear = 0;
  w.onClear = [&] {
    callsAtClear = api.Calls().size();
    rowsAtClear = w.rows.size();
  };
  ASSERT_EQ(RunAuditScan(api, w), ScanOutcome::Done);
  EXPECT_EQ(rowsAtClear, 6u);
  EXPECT_EQ(callsAtClear, callsBefore);  // nothing asked before the rows went
  EXPECT_EQ(w.rows.size(), 6u);          // the second run's rows only
}

TEST_F(AuditScanTest, AStartDuringAScanIsIgnoredAndEndingTheProgramStopsIt) {
  RecordingWindow w(u"HQ");
  RecordingWindow other(u"HQ");
  std::vector<ScanOutcome> nested;
  w.onDoEvents = [&] {
    nested.push_back(RunAuditScan(api, other));
    return true;
  };
  ASSERT_EQ(RunAuditScan(api, w), ScanOutcome::Done);
  EXPECT_GE(nested.size(), 6u);
  EXPECT_EQ(nested, std::vector<ScanOutcome>(nested.size(), ScanOutcome::Ignored));
  EXPECT_TRUE(other.events.empty());  // the ignored start touched nothing
  EXPECT_EQ(w.rows.size(), 6u);

  // The program ends during the first row's yield: nothing more reaches the
  // window, and once the scan has returned no further machine is taken up
  // (the one a worker holds then may still finish its calls).
  RecordingWindow ending(u"HQ");
  ending.onDoEvents = [&] { return ending.rows.empty(); };
  auto machinesAsked = [&] {
    std::set<std::u16string> names;
    for (const auto& c : CallsNamed("NetWkstaUserEnum")) names.insert(c.names.at(0));
    return names.size();
  };
  api.ClearCalls();
  ASSERT_EQ(RunAuditScan(api, ending, ScanSettings{1, {}}), ScanOutcome::Abandoned);
  const std::size_t askedAtReturn = machinesAsked();
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
  EXPECT_LE(machinesAsked(), askedAtReturn + 1);
  EXPECT_EQ(ending.rows.size(), 1u);
  EXPECT_EQ(ending.events.back(), "yield");
  EXPECT_EQ(ending.status.rfind(u"Status: Working...", 0), 0u);

  // Neither guard outlives its scan.
  RecordingWindow after(u"HQ");
  EXPECT_EQ(RunAuditScan(api, after), ScanOutcome::Done);
}

// A provider whose listing of logged-on users fails after the first batch on
// the named machine, as a connection lost half-way does.
class BreaksAfterFirstBatch : public SimulatedNetApi {
 public:
  using SimulatedNetApi::SimulatedNetApi;
  NET_API_STATUS NetWkstaUserEnum(LPCWSTR server, DWORD level, LPBYTE* buf, DWORD pref,
                                  LPDWORD read, LPDWORD total, LPDWORD resume) override {
    if (resume != nullptr && *resume > 0 && std::u16string(server) == u"PC017") {
      *buf = nullptr;
      return 64;  // the network name is no longer available
    }
    return SimulatedNetApi::NetWkstaUserEnum(server, level, buf, pref, read, total, resume);
  }
};

// An entry of the machine list without a name is not asked: the empty name
// would ask this computer (PC017) instead.
TEST_F(AuditScanTest, AListEntryWithoutANameIsNotAskedAsThisComputer) {
  SimDomain d = SmallDomain();
  d.machines.resize(2);
  for (const char16_t* name : {u"", u"\\\\"})
    d.machines.push_back(Machine(name, SV_TYPE_WORKSTATION, {Entry(u"eve", u"")}));
  SimulatedNetApi net(d);
  OutcomeWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(net, w, ScanSettings{2, {}}), ScanOutcome::Done);
  ASSERT_EQ(w.outcomes.size(), 4u);
  for (std::size_t k : {2, 3}) {
    EXPECT_EQ(w.outcomes[k].state, MachineState::NotAsked) << k;
    EXPECT_EQ(w.outcomes[k].status, 123) << k;
  }
  EXPECT_EQ(w.rows.size(), 4u);  // PDC01's and PC017's, once
  const auto calls = net.Calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const auto& c) { return c.call == "NetWkstaUserEnum"; }),
            2);
}

// A provider that keeps the machine lists the scan looks ahead at.
class KeepsLookAhead : public SimulatedNetApi {
 public:
  using SimulatedNetApi::SimulatedNetApi;
  void LookAhead(const std::vector<std::u16string>& machines) override {
    std::lock_guard lock(mu);
    lists.push_back(machines);
  }
  std::mutex mu;
  std::vector<std::vector<std::u16string>> lists;
};

TEST_F(AuditScanTest, TheProviderLooksAheadAtTheMachinesInTheirOrderUntilTheScanIsOver) {
  KeepsLookAhead net(SmallDomain());
  OutcomeWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(net, w, ScanSettings{3, {}}), ScanOutcome::Done);
  std::vector<std::u16string> asked;
  for (const MachineOutcome& o : w.outcomes) asked.push_back(o.machine);
  ASSERT_EQ(net.lists.size(), 2u);
  EXPECT_EQ(net.lists[0], asked);
  EXPECT_EQ(asked.size(), 5u);
  EXPECT_TRUE(net.lists[1].empty());

  KeepsLookAhead failing(SmallDomain());
  failing.AddFault({"NetServerEnum", u"HQ", ERROR_BAD_NETPATH});
  RecordingWindow w2(u"HQ");
  ASSERT_EQ(RunAuditScan(failing, w2), ScanOutcome::Failed);
  EXPECT_TRUE(failing.lists.empty());
}

TEST_F(AuditScanTest, EveryMachineEndsWithAnOutcomeAndTheSummaryCountsThem) {
  SimDomain d = SmallDomain();
  d.machines[2].sessionsStatus.reset();  // PC020: off, answers 53 after a while
  d.machines[2].unreachableStatus = ERROR_BAD_NETPATH;
  d.machines[2].unreachableMicros = 20'000;
  d.machines[3].sessions.clear();  // SRV1 refuses
  d.machines[3].sessionsStatus = ERROR_ACCESS_DENIED;
  d.machines[4].silentMicros = 1'000'000;  // X1 answers too late
  for (int k = 0; k < 3; ++k) d.machines[1].sessions.push_back(Entry(u"bob", u""));  // batches
  {
    BreaksAfterFirstBatch net(d);
    auto window = std::make_unique<RecordingWindow>(u"HQ");
    std::vector<MachineOutcome> outcomes;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunAuditScan(net, *window, ScanSettings{4, std::chrono::milliseconds(200)}),
              ScanOutcome::Done);
    // The silent machine did not hold the scan past its deadline.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    const auto rows = window->rows;
    const std::u16string status = window->status;
    window.reset();  // X1's late answer must not touch it

    // PC017 listed some entries before its listing broke: they are kept.
    std::size_t pc017 = 0;
    for (const auto& r : rows) pc017 += r.machine == u"PC017" ? 1 : 0;
    EXPECT_GT(pc017, 0u);
    EXPECT_LT(pc017, 6u);
    EXPECT_EQ(rows.size(), 1u + pc017);  // admin, and PC017's entries
    EXPECT_EQ(status, u"Status: Done - 4 of 5 machines not asked");
    ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
    EXPECT_EQ(net.OutstandingBuffers(), 0u);
  }

  // The same, seen by a window that keeps the outcomes.
  BreaksAfterFirstBatch net(d);
  OutcomeWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(net, w, ScanSettings{1, std::chrono::milliseconds(200)}),
            ScanOutcome::Done);
  ASSERT_EQ(w.outcomes.size(), 5u);
  EXPECT_EQ(w.outcomes[0].state, MachineState::Listed);
  EXPECT_EQ(w.outcomes[0].entries, 1u);
  EXPECT_EQ(w.outcomes[0].role, u"PDC");
  EXPECT_EQ(w.outcomes[1].state, MachineState::PartlyListed);
  EXPECT_EQ(w.outcomes[1].status, 64);
  EXPECT_EQ(w.outcomes[2].state, MachineState::NotAsked);
  EXPECT_EQ(w.outcomes[2].status, 53);
  EXPECT_EQ(w.outcomes[2].message, GetNetErrorText(53).substr(0, w.outcomes[2].message.size()));
  EXPECT_EQ(w.outcomes[3].state, MachineState::NotAsked);
  EXPECT_EQ(w.outcomes[3].status, 5);
  EXPECT_EQ(w.outcomes[4].state, MachineState::TimedOut);
  EXPECT_EQ(SummaryText(w.outcomes),
            u"4 of 5 machines could not be asked: 1 access denied (5), 1 no answer (53), "
            u"1 partly listed, 1 timed out");
  const std::u16string listing = UnaskedMachinesText(w.outcomes);
  EXPECT_EQ(listing.find(u"PDC01"), std::u16string::npos);
  EXPECT_NE(listing.find(u"PC020: not asked - "), std::u16string::npos) << ToUtf8(listing);
  EXPECT_NE(listing.find(u"(status 53)"), std::u16string::npos);
  EXPECT_NE(listing.find(u"X1: timed out"), std::u16string::npos);
  // A name holding a line end or a direction override stays one harmless line.
  MachineOutcome odd;
  odd.machine = u"PC1\nDC01 (PDC): listed\u202E";
  odd.state = MachineState::NotAsked;
  const std::u16string shown = UnaskedMachinesText({odd});
  EXPECT_EQ(std::count(shown.begin(), shown.end(), u'\n'), 1) << ToUtf8(shown);
  EXPECT_EQ(shown.find(u'\u202E'), std::u16string::npos);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));

  // An answer that comes after the deadline counts as none, also when the
  // window's thread is busy until after it came.
  d.machines[4].silentMicros = 150'000;
  BreaksAfterFirstBatch late(d);
  OutcomeWindow busy(u"HQ");
  busy.onDoEvents = [&] {
    if (busy.rows.size() == 1 && busy.outcomes.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      busy.outcomes.resize(1);  // slept once
    }
    return true;
  };
  ASSERT_EQ(RunAuditScan(late, busy, ScanSettings{1, std::chrono::milliseconds(50)}),
            ScanOutcome::Done);
  ASSERT_EQ(busy.outcomes.size(), 5u);
  EXPECT_EQ(busy.outcomes[4].state, MachineState::TimedOut);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
}

// A provider that serves two calls at a time, and counts the calls under way.
class TwoCallsAtOnce : public SimulatedNetApi {
 public:
  using SimulatedNetApi::SimulatedNetApi;
  unsigned MaxConcurrentCalls() const override { return 2; }
  NET_API_STATUS NetWkstaUserEnum(LPCWSTR server, DWORD level, LPBYTE* buf, DWORD pref,
                                  LPDWORD read, LPDWORD total, LPDWORD resume) override {
    const int now = ++inCalls;
    for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
    }
    if (whileAsked) whileAsked(server);
    const NET_API_STATUS s =
        SimulatedNetApi::NetWkstaUserEnum(server, level, buf, pref, read, total, resume);
    --inCalls;
    return s;
  }
  std::atomic<int> inCalls{0};
  std::atomic<int> most{0};
  std::function<void(LPCWSTR server)> whileAsked;
};

// Machines given up stay in their calls until the calls end: the workers
// that take their places wait until the provider has room for them.
TEST_F(AuditScanTest, WorkersOfMachinesGivenUpKeepTheProvidersCallLimit) {
  SimDomain d = SmallDomain();
  // PC017 and PC020 answer late; the other machines wait for their workers.
  d.machines[1].silentMicros = 500'000;
  d.machines[1].sessions.clear();  // one call, nothing more to ask
  d.machines[2].silentMicros = 500'000;
  TwoCallsAtOnce net(d);
  OutcomeWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(net, w, ScanSettings{2, std::chrono::milliseconds(150)}),
            ScanOutcome::Done);
  EXPECT_EQ(net.most.load(), 2);
  ASSERT_EQ(w.outcomes.size(), 5u);
  EXPECT_EQ(w.outcomes[0].state, MachineState::Listed);
  EXPECT_EQ(w.outcomes[1].state, MachineState::TimedOut);
  EXPECT_EQ(w.outcomes[2].state, MachineState::TimedOut);
  EXPECT_EQ(w.outcomes[3].state, MachineState::Listed);
  EXPECT_EQ(w.outcomes[4].state, MachineState::Listed);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));

  // So do those of an earlier scan: the next scan starts with the room left.
  d.machines[1].silentMicros = d.machines[2].silentMicros = 0;
  d.latencyMicros["NetWkstaUserEnum"] = 20'000;
  TwoCallsAtOnce again(d);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> held{false};
  again.whileAsked = [&](LPCWSTR server) {
    if (std::u16string(server) == u"PC017" && !held.exchange(true)) released.wait();
  };
  OutcomeWindow first(u"HQ");
  ASSERT_EQ(RunAuditScan(again, first, ScanSettings{2, std::chrono::milliseconds(100)}),
            ScanOutcome::Done);
  ASSERT_EQ(BusyScanWorkers(), 1u);  // still inside PC017's call
  again.most = 0;
  OutcomeWindow second(u"HQ");
  ASSERT_EQ(RunAuditScan(again, second, ScanSettings{2, {}}), ScanOutcome::Done);
  EXPECT_EQ(again.most.load(), 2);
  EXPECT_EQ(second.outcomes.at(1).state, MachineState::Listed);
  release.set_value();
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
}

// A machine given up is asked nothing more: neither the logon servers of its
// entries (a hundred users, each at a server taking 20 ms) nor the further
// batches of a long listing (a thousand entries, a few per batch, 5 ms per
// batch). Its worker ends soon after, instead of keeping one of the
// provider's calls for seconds.
TEST_F(AuditScanTest, AMachineGivenUpIsAskedNothingMore) {
  SimDomain d = SmallDomain();
  d.machines.resize(2);
  // Calls of that name, those that list PDC01's own users left out.
  auto count = [](const SimulatedNetApi& net, const char* call) {
    std::size_t n = 0;
    for (const auto& c : net.Calls())
      n += c.call == call && !(c.call == "NetWkstaUserEnum" && c.names.at(0) == u"PDC01") ? 1 : 0;
    return n;
  };
  for (const int entries : {100, 1000}) {
    d.machines[1].sessions.clear();
    for (int k = 0; k < entries; ++k)
      d.machines[1].sessions.push_back(Entry(u"user" + FromUtf8(std::to_string(k)), u"\\PDC01"));
    d.latencyMicros.clear();
    d.latencyMicros[entries == 100 ? "NetUserGetInfo" : "NetWkstaUserEnum"] =
        entries == 100 ? 20'000 : 5'000;
    SimulatedNetApi net(d);
    OutcomeWindow w(u"HQ");
    ASSERT_EQ(RunAuditScan(net, w, ScanSettings{2, std::chrono::milliseconds(200)}),
              ScanOutcome::Done);
    ASSERT_EQ(w.outcomes.size(), 2u);
    ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
    // About 200 ms worth of calls, not all of them.
    if (entries == 100) {
      EXPECT_LT(count(net, "NetUserGetInfo"), 50u);  // of 101
      // The machine answered; its logon server was slow. Its rows stay,
      // with the last logons that came by the deadline.
      EXPECT_EQ(w.outcomes[1].state, MachineState::Listed);
      EXPECT_EQ(std::count_if(w.rows.begin(), w.rows.end(),
                              [](const ReportRow& r) { return r.machine == u"PC017"; }),
                100);
    } else {
      EXPECT_LT(count(net, "NetWkstaUserEnum"), 100u);
      // A listing in many batches, not over by the deadline: the entries
      // that came by then stay, as partly listed (none stayed before).
      EXPECT_EQ(w.outcomes[1].state, MachineState::PartlyListed);
      const auto rows = static_cast<std::size_t>(std::count_if(
          w.rows.begin(), w.rows.end(), [](const ReportRow& r) { return r.machine == u"PC017"; }));
      EXPECT_GT(rows, 0u);
      EXPECT_LT(rows, 1000u);
      EXPECT_EQ(w.outcomes[1].entries, rows);
    }
  }

  // Listed in time, and slow to give its role: the rows stay, without it.
  d.latencyMicros.clear();
  d.machines[1].sessions.resize(3);
  d.machines[1].latencyMicros["NetServerGetInfo"] = 1'000'000;
  SimulatedNetApi roleless(d);
  OutcomeWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(roleless, w, ScanSettings{2, std::chrono::milliseconds(200)}),
            ScanOutcome::Done);
  ASSERT_EQ(w.outcomes.size(), 2u);
  EXPECT_EQ(w.outcomes[1].state, MachineState::Listed);
  EXPECT_EQ(w.rows.size(), 1u + 3u);
  EXPECT_EQ(w.rows.back().workstation, u"PC017");
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
}

TEST_F(AuditScanTest, RoleAndLastLogonAreAskedOncePerScanWhateverTheJobs) {
  SimDomain d = SmallDomain();
  // Many machines where the same users log on at the same servers.
  for (int k = 0; k < 20; ++k)
    d.machines.push_back(Machine(
        u"PC-" + std::u16string(1, char16_t(u'A' + k)), SV_TYPE_WORKSTATION,
        {Entry(u"alice", u"\\PDC01"), Entry(u"bob", u"\\PDC01"), Entry(u"alice", u"\\PDC01")}));
  d.latencyMicros["*"] = 500;
  std::vector<std::vector<ReportRow>> results;
  for (unsigned jobs : {1u, 4u, 32u}) {
    SimulatedNetApi net(d);
    RecordingWindow w(u"HQ");
    ASSERT_EQ(RunAuditScan(net, w, ScanSettings{jobs, {}}), ScanOutcome::Done);
    std::map<std::u16string, int> roles;
    std::map<std::pair<std::u16string, std::u16string>, int> logons;
    for (const auto& c : net.Calls()) {
      if (c.call == "NetServerGetInfo") ++roles[c.names[0]];
      if (c.call == "NetUserGetInfo") ++logons[{c.names[0], c.names[1]}];
    }
    EXPECT_EQ(roles.size(), 24u) << jobs;  // every machine with entries
    for (const auto& [machine, n] : roles) EXPECT_EQ(n, 1) << ToUtf8(machine);
    for (const auto& [key, n] : logons) EXPECT_EQ(n, 1) << ToUtf8(key.second);
    SortRows(w.rows, SortState{true, 2, 0});  // by domain: every row ties
    results.push_back(w.rows);
  }
  // The same rows in the same order for any number of jobs.
  for (std::size_t k = 1; k < results.size(); ++k) {
    ASSERT_EQ(results[k].size(), results[0].size());
    for (std::size_t r = 0; r < results[0].size(); ++r) {
      EXPECT_EQ(results[k][r].workstation, results[0][r].workstation);
      EXPECT_EQ(results[k][r].user, results[0][r].user);
      EXPECT_EQ(results[k][r].lastLogonText, results[0][r].lastLogonText);
    }
  }

  // A server too busy to be asked gave no answer: each machine asks again.
  d.faults.push_back({"NetUserGetInfo", u"\\PDC01", ERROR_NETWORK_BUSY});
  SimulatedNetApi busy(d);
  RecordingWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(busy, w, ScanSettings{1, {}}), ScanOutcome::Done);
  std::size_t bobs = 0;
  for (const auto& c : busy.Calls()) bobs += c.call == "NetUserGetInfo" && c.names[1] == u"bob";
  EXPECT_EQ(bobs, 21u);  // PC017's and each PC-*'s
}

// A provider that knows SALES-BDC for a controller of the forest, and whose
// locator, asked by PDC01 for SALES's primary controller, gives salesPdc.
class KnowsAController : public SimulatedNetApi {
 public:
  using SimulatedNetApi::SimulatedNetApi;
  std::u16string ControllerDnsName(const std::u16string& server) const override {
    return server == u"SALES-BDC" ? u"Sales-Bdc" : u"";
  }
  NET_API_STATUS PrimaryControllerDnsName(const std::u16string& server,
                                          const std::u16string& domain,
                                          std::u16string& name) override {
    if (server != u"\\\\PDC01" || domain != u"SALES" || salesPdc.first != NERR_Success)
      return salesPdc.first;
    name = salesPdc.second;
    return NERR_Success;
  }
  std::pair<NET_API_STATUS, std::u16string> salesPdc{NERR_Success, u"SALES-PDC"};
};

TEST_F(AuditScanTest, ALastLogonIsAskedOnlyOfAServerTheScanKnows) {
  SimDomain d;
  d.computerName = u"PC017";
  d.localDomain = u"HQ";
  // SALES is trusted; a DNS zone that a hostile machine may hold names
  // EVIL.EXAMPLE's controller.
  d.domains = {{u"HQ", u"PDC01"}, {u"SALES", u"SALES-PDC"}, {u"EVIL.EXAMPLE", u"EVIL-DC"}};
  const uint32_t dc = SV_TYPE_WORKSTATION | SV_TYPE_DOMAIN_CTRL;
  SimMachine pdc = Machine(u"PDC01", dc, {});
  pdc.users = {{u"lee", 40u, {}}, {u"bob", 0u, {}}};
  SimMachine pc = Machine(u"PC017", SV_TYPE_WORKSTATION, {});
  pc.users = {{u"kim", 50u, {}}};
  // PC017 names the servers: only one of the domain's machines (any case, but
  // asked under the listing's name), a controller the provider knows, the
  // controller of the entry's logon domain, or none at all is asked.
  pc.sessions = {{u"lee", u"HQ", u"", u"\\\\pdc01"},
                 {u"kim", u"HQ", u"", u"pc017"},
                 {u"sam", u"SALES", u"", u"SALES-PDC"},
                 {u"zed", u"HQ", u"", u"SALES-PDC"},
                 {u"eve", u"HQ", u"", u"\\\\10.9.9.9"},
                 {u"ivy", u"EVIL.EXAMPLE", u"", u"EVIL-DC"},
                 {u"bob", u"HQ", u"", u"\\\\"},
                 {u"tom", u"SALES", u"", u"SALES-BDC"},
                 {u"uma", u"SALES", u"", u"\u017FALES-PDC"},  // a long s folds to s
                 {u"ann", u"SALES", u"", u"SALES-X"}};
  d.machines = {pdc, pc};
  for (const char16_t* name : {u"SALES-PDC", u"SALES-BDC", u"EVIL-DC"}) {
    SimMachine other = Machine(name, dc, {});
    other.domain = name[0] == u'E' ? u"EVIL.EXAMPLE" : u"SALES";
    other.users = {{u"sam", 30u, {}},
                   {u"zed", 31u, {}},
                   {u"ivy", 32u, {}},
                   {u"tom", 33u, {}},
                   {u"uma", 34u, {}}};
    d.machines.push_back(other);
  }
  KnowsAController net(d);
  RecordingWindow w(u"HQ");
  ASSERT_EQ(RunAuditScan(net, w, ScanSettings{1, {}}), ScanOutcome::Done);
  std::set<std::pair<std::u16string, std::u16string>> asked;
  for (const auto& c : net.Calls())
    if (c.call == "NetUserGetInfo") asked.insert({c.names[0], c.names[1]});
  EXPECT_EQ(asked, (std::set<std::pair<std::u16string, std::u16string>>{{u"\\\\PDC01", u"lee"},
                                                                        {u"PC017", u"kim"},
                                                                        {u"SALES-PDC", u"sam"},
                                                                        {u"\\\\PDC01", u"bob"},
                                                                        {u"Sales-Bdc", u"tom"},
                                                                        {u"SALES-PDC", u"uma"}}));
  // The other domain's controller is asked of the domain's own.
  for (const auto& c : net.Calls()) {
    if (c.call == "NetGetDCName" && c.names[1] != u"HQ") {
      EXPECT_EQ(c.names[0], u"\\\\PDC01");
    }
  }
  std::map<std::u16string, std::optional<uint32_t>> logons;
  for (const auto& r : w.rows) logons[r.user] = r.lastLogon;
  EXPECT_EQ(logons, (std::map<std::u16string, std::optional<uint32_t>>{{u"lee", 40u},
                                                                       {u"kim", 50u},
                                                                       {u"sam", 30u},
                                                                       {u"zed", std::nullopt},
                                                                       {u"eve", std::nullopt},
                                                                       {u"ivy", std::nullopt},
                                                                       {u"bob", 0u},
                                                                       {u"tom", 33u},
                                                                       {u"uma", 34u},
                                                                       {u"ann", std::nullopt}}));
  EXPECT_EQ(net.OutstandingBuffers(), 0u);

  // The logon domain's controller is asked by the DNS name that the domain's
  // controller locates for it, and not at all where it locates none.
  for (const NET_API_STATUS status :
       std::initializer_list<NET_API_STATUS>{NERR_Success, NERR_DCNotFound, ERROR_BAD_NETPATH}) {
    KnowsAController located(d);
    located.salesPdc = {status, u"sales-pdc.sales.example"};
    RecordingWindow lw(u"HQ");
    ASSERT_EQ(RunAuditScan(located, lw, ScanSettings{1, {}}), ScanOutcome::Done);
    std::set<std::u16string> askedForSales;
    for (const auto& c : located.Calls())
      if (c.call == "NetUserGetInfo" && (c.names[1] == u"sam" || c.names[1] == u"uma"))
        askedForSales.insert(c.names[0]);
    EXPECT_EQ(askedForSales, status == NERR_Success
                                 ? std::set<std::u16string>{u"sales-pdc.sales.example"}
                                 : std::set<std::u16string>{})
        << status;
  }
}

TEST_F(AuditScanTest, StopKeepsTheRowsAndTheWindowShowsRowsWhileACallBlocks) {
  SimDomain d = SmallDomain();
  d.machines[4].silentMicros = 600'000;  // X1, the last machine
  SimulatedNetApi net(d);
  bool rowsWhileBlocked = false;
  bool stop = false;
  class StoppableWindow : public RecordingWindow {
   public:
    using RecordingWindow::RecordingWindow;
    bool StopRequested() override { return stopNow && *stopNow; }
    bool* stopNow = nullptr;
  } sw(u"HQ");
  sw.stopNow = &stop;
  ScanHooks hooks;
  hooks.progress = [&](const ScanProgress& p) {
    // Every machine but X1 is done, and their rows are in the window while
    // X1 has not answered.
    if (p.done < 4) return;
    bool x1Answered = false;
    for (const auto& c : net.Calls()) x1Answered |= c.names.size() > 0 && c.names[0] == u"X1";
    rowsWhileBlocked = sw.rows.size() == 5 && !x1Answered;
    stop = true;  // Escape
  };
  ASSERT_EQ(RunAuditScan(net, sw, ScanSettings{8, {}}, hooks), ScanOutcome::Stopped);
  EXPECT_TRUE(rowsWhileBlocked);
  EXPECT_EQ(sw.rows.size(), 5u);  // the rows found stay
  EXPECT_EQ(sw.status, u"Status: Stopped - 4 of 5 machines asked");
  EXPECT_EQ(sw.pointer, MousePointer::Default);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));

  // Machines that answered while the window was busy, after the scan last
  // took finished work, keep their rows when Stop comes then.
  d = SmallDomain();
  d.latencyMicros["NetWkstaUserEnum"] = 200'000;
  SimulatedNetApi slow(d);
  StoppableWindow late(u"HQ");
  stop = false;
  late.stopNow = &stop;
  late.onDoEvents = [&] {
    if (!stop && late.status != u"Status: Working...") {
      EXPECT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));  // every machine answered
      stop = true;
    }
    return true;
  };
  ASSERT_EQ(RunAuditScan(slow, late, ScanSettings{8, {}}), ScanOutcome::Stopped);
  EXPECT_EQ(late.rows.size(), 6u);
  EXPECT_EQ(late.status, u"Status: Stopped - 5 of 5 machines asked");
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));

  // Machines whose entries came, stopped while their last logons are being
  // asked, keep their rows too.
  d = SmallDomain();
  d.machines.resize(2);
  d.machines[0].latencyMicros["NetUserGetInfo"] = 2'000'000;  // PDC01
  SimulatedNetApi asking(d);
  class StoppableOutcomes : public OutcomeWindow {
   public:
    using OutcomeWindow::OutcomeWindow;
    bool StopRequested() override { return *stopNow; }
    bool* stopNow = nullptr;
  } listed(u"HQ");
  stop = false;
  listed.stopNow = &stop;
  listed.onDoEvents = [&] {
    std::size_t roles = 0;
    for (const auto& c : asking.Calls()) roles += c.call == "NetServerGetInfo" ? 1 : 0;
    stop = roles == 2;  // both listed, both asking a first last logon
    return true;
  };
  ASSERT_EQ(RunAuditScan(asking, listed, ScanSettings{8, {}}), ScanOutcome::Stopped);
  EXPECT_EQ(listed.rows.size(), 4u);  // admin, and PC017's three
  ASSERT_EQ(listed.outcomes.size(), 2u);
  EXPECT_EQ(listed.outcomes[1].state, MachineState::Listed);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
}

// A scan stopped while the controller is asked lists no machines: its
// listing would end after the next scan's had begun.
TEST_F(AuditScanTest, AScanStoppedBeforeItsListingListsNothing) {
  SimDomain d = SmallDomain();
  d.latencyMicros["NetGetDCName"] = 300'000;
  SimulatedNetApi slow(d);
  class StoppedAtOnce : public RecordingWindow {
   public:
    using RecordingWindow::RecordingWindow;
    bool StopRequested() override { return true; }  // Escape while the window is serviced
  } stopping(u"HQ");
  ASSERT_EQ(RunAuditScan(slow, stopping, ScanSettings{8, {}}), ScanOutcome::Stopped);
  ASSERT_TRUE(WaitForScanWorkers(std::chrono::seconds(10)));
  std::vector<std::string> calls;
  for (const auto& c : slow.Calls()) calls.push_back(c.call);
  EXPECT_EQ(calls, std::vector<std::string>{"NetGetDCName"});
}

#ifdef _WIN32
std::size_t ThreadsOfThisProcess() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
  CloseHandle(snapshot);
  return count;
}

// When a scan returns, its threads have ended, so that the program may end at
// once: none is still winding down.
TEST_F(AuditScanTest, NoThreadOfAFinishedScanOutlivesIt) {
  RecordingWindow first(u"HQ");
  ASSERT_EQ(RunAuditScan(api, first, ScanSettings{8, {}}), ScanOutcome::Done);
  const std::size_t threads = ThreadsOfThisProcess();
  ASSERT_GT(threads, 0u);
  for (int run = 0; run < 50; ++run) {
    RecordingWindow w(u"HQ");
    ASSERT_EQ(RunAuditScan(api, w, ScanSettings{8, {}}), ScanOutcome::Done);
    ASSERT_LE(ThreadsOfThisProcess(), threads) << "after run " << run;
  }
}
#endif

}  // namespace
}  // namespace quorvix
