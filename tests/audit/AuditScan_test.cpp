#include "AuditScan.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <string>
#include <vector>

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
  hooks.machineAsked = [&](std::size_t asked, std::size_t total) {
    progress.emplace_back(asked, total);
  };
  ASSERT_EQ(RunAuditScan(api, w, hooks), ScanOutcome::Done);

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

  // The unreachable machine gives no row and no message.
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(w.events,
            (std::vector<std::string>{"status Status: Working...", "clear", "pointer 11",
                                      "row admin", "yield", "row alice", "yield", "row bob",
                                      "yield", "row alice", "yield", "row carol", "yield",
                                      "row dave", "yield", "pointer 0", "status Status: Done"}));
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
  ASSERT_EQ(RunAuditScan(one, w), ScanOutcome::Done);
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
  ASSERT_EQ(RunAuditScan(odd, w2, hooks), ScanOutcome::Failed);
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
  EXPECT_EQ(nested, std::vector<ScanOutcome>(6, ScanOutcome::Ignored));
  EXPECT_TRUE(other.events.empty());  // the ignored start touched nothing
  EXPECT_EQ(w.rows.size(), 6u);

  // The program ends during the second row's yield: nothing more is done.
  RecordingWindow ending(u"HQ");
  int yields = 0;
  std::size_t callsAtEnd = 0;
  ending.onDoEvents = [&] {
    callsAtEnd = api.Calls().size();
    return ++yields < 2;
  };
  ASSERT_EQ(RunAuditScan(api, ending), ScanOutcome::Abandoned);
  EXPECT_EQ(api.Calls().size(), callsAtEnd);  // no machine asked after the end
  EXPECT_EQ(ending.rows.size(), 2u);
  EXPECT_EQ(ending.events.back(), "yield");
  EXPECT_EQ(ending.status, u"Status: Working...");

  // Neither guard outlives its scan.
  RecordingWindow after(u"HQ");
  EXPECT_EQ(RunAuditScan(api, after), ScanOutcome::Done);
}

}  // namespace
}  // namespace quorvix
