#include "basNetAPI.h"

#include <gtest/gtest.h>

#include "QueryTestSupport.h"

namespace quorvix {
namespace {

using test::Answer;
using test::ScriptedNetApi;

sim::SimLogonEntry Entry(std::u16string user, std::u16string server = u"PDC01") {
  return {std::move(user), u"CORP", u"", std::move(server)};
}

sim::SimMachine Machine(std::u16string name) {
  sim::SimMachine m;
  m.name = std::move(name);
  m.domain = u"CORP";
  return m;
}

// CORP with a busy terminal server (many entries: several 256-byte
// batches), an idle machine, an unreachable one and a machine whose name
// and entries are not ASCII.
sim::SimDomain Domain() {
  sim::SimDomain d;
  d.computerName = u"WS-LOCAL";
  d.localDomain = u"CORP";
  d.domains = {{u"CORP", u"PDC01"}};
  sim::SimMachine pdc = Machine(u"PDC01");
  pdc.type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL;
  sim::SimMachine ts = Machine(u"TS01");
  for (int i = 1; i <= 20; ++i) {
    ts.sessions.push_back(
        Entry(u"user" + std::u16string(1, u'A' + i), i % 3 ? u"PDC01" : u"BDC02"));
  }
  ts.sessions[4].logonServer = u"";  // a local logon names no server
  ts.sessions[4].otherDomains = u"LAB WORKGROUP";
  sim::SimMachine idle = Machine(u"IDLE");
  sim::SimMachine gone = Machine(u"GONE");
  gone.sessionsStatus = ERROR_BAD_NETPATH;
  sim::SimMachine intl = Machine(u"Машина-Café");
  intl.sessions.push_back({u"Jürgen Ōtsuka", u"CORP", u"", u"PDC01"});
  intl.sessions.push_back({std::u16string(300, u'л'), u"ДОМЕН", std::u16string(120, u'd'),
                           u"SERVER-" + std::u16string(80, u'9')});
  d.machines = {pdc, ts, idle, gone, intl};
  return d;
}

class LoggedOnUsers : public test::SimTest {};

TEST_F(LoggedOnUsers, ManyEntriesArriveInOrderOverSeveralBatches) {
  auto& api = Use(Domain());
  std::vector<LoggedOnUser> users(3, LoggedOnUser{u"stale", u"", u"", u""});
  ASSERT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), 0);

  const auto& expected = api.Domain().machines[1].sessions;
  ASSERT_EQ(users.size(), expected.size() + 1);
  EXPECT_EQ(users[0].UserName, u"");
  EXPECT_EQ(users[0].LogonServer, u"");
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(users[i + 1].UserName, expected[i].user);
    EXPECT_EQ(users[i + 1].LogonDomain, expected[i].logonDomain);
    EXPECT_EQ(users[i + 1].OtherDomains, expected[i].otherDomains);
    EXPECT_EQ(users[i + 1].LogonServer, expected[i].logonServer);
  }
  EXPECT_EQ(users[5].LogonServer, u"");
  EXPECT_EQ(users[5].OtherDomains, u"LAB WORKGROUP");

  // Small batches with the resume handle carried from call to call.
  const auto calls = CallsOf("NetWkstaUserEnum");
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().resumeIn, 0u);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].names, std::vector<std::u16string>{u"TS01"});
    EXPECT_EQ(calls[i].level, 1u);
    EXPECT_EQ(calls[i].prefmaxlen, 256u);
    if (i > 0) {
      EXPECT_GT(calls[i].resumeIn, calls[i - 1].resumeIn);
    }
    EXPECT_EQ(calls[i].status, i + 1 < calls.size() ? ERROR_MORE_DATA : NERR_Success);
  }
}

TEST_F(LoggedOnUsers, IdleMachineUnreachableMachineAndTheLocalComputer) {
  auto& api = Use(Domain());
  std::vector<LoggedOnUser> users(4, LoggedOnUser{u"keep", u"", u"", u""});
  ASSERT_EQ(fnNetWkstaUserEnum(api, u"IDLE", users), 0);
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0].UserName, u"");

  users.assign(2, LoggedOnUser{u"keep", u"d", u"o", u"s"});
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"GONE", users), static_cast<int32_t>(ERROR_BAD_NETPATH));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1].UserName, u"keep");
  EXPECT_EQ(users[1].LogonServer, u"s");

  // The empty text reaches the provider as a name, not as a null address.
  api.ClearCalls();
  fnNetWkstaUserEnum(api, u"", users);
  const auto calls = CallsOf("NetWkstaUserEnum");
  ASSERT_FALSE(calls.empty());
  ASSERT_EQ(calls[0].names.size(), 1u);
  EXPECT_EQ(calls[0].names[0], u"");
  EXPECT_FALSE(calls[0].nullNames.at(0));
}

TEST_F(LoggedOnUsers, NonAsciiAndLongNamesAreReadWhole) {
  auto& api = Use(Domain());
  std::vector<LoggedOnUser> users;
  ASSERT_EQ(fnNetWkstaUserEnum(api, u"Машина-Café", users), 0);
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[1].UserName, u"Jürgen Ōtsuka");
  EXPECT_EQ(users[2].UserName, std::u16string(300, u'л'));
  EXPECT_EQ(users[2].LogonDomain, u"ДОМЕН");
  EXPECT_EQ(users[2].OtherDomains, std::u16string(120, u'd'));
  EXPECT_EQ(users[2].LogonServer, u"SERVER-" + std::u16string(80, u'9'));
  EXPECT_EQ(CallsOf("NetWkstaUserEnum").at(0).names.at(0), u"Машина-Café");
}

TEST_F(LoggedOnUsers, EntriesThatAppearBetweenBatchesAreKept) {
  auto& inner = Use(Domain());
  ScriptedNetApi api(inner);
  api.beforeCall = [&](int call) {
    if (call == 1) inner.AddSession(u"TS01", Entry(u"latecomer"));
  };
  std::vector<LoggedOnUser> users;
  ASSERT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), 0);
  ASSERT_GE(api.prefmaxlens.size(), 2u);
  // 20 entries announced by the first call, 21 delivered: none lost.
  ASSERT_EQ(users.size(), 22u);
  EXPECT_EQ(users[1].UserName, u"userB");
  EXPECT_EQ(users[20].UserName, u"userU");
  EXPECT_EQ(users[21].UserName, u"latecomer");
}

Answer Batch(NET_API_STATUS status, std::vector<std::u16string> names, DWORD total) {
  Answer a;
  a.status = status;
  for (auto& n : names) a.rows.push_back({n, u"CORP", u"", u"PDC01"});
  a.total = total;
  return a;
}

TEST_F(LoggedOnUsers, ServersThatMisbehaveDoNotHangOrOverrun) {
  auto& inner = Use(Domain());
  std::vector<LoggedOnUser> users;

  // Totals that lie low: the first call announces 1 entry, six arrive.
  {
    ScriptedNetApi api(inner);
    api.answer = [](int call) {
      if (call == 0) return Batch(ERROR_MORE_DATA, {u"a", u"b"}, 1);
      if (call == 1) return Batch(ERROR_MORE_DATA, {u"c", u"d"}, 1);
      return Batch(NERR_Success, {u"e", u"f"}, 1);
    };
    ASSERT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), 0);
    ASSERT_EQ(users.size(), 7u);
    EXPECT_EQ(users[1].UserName, u"a");
    EXPECT_EQ(users[6].UserName, u"f");
    EXPECT_EQ(api.resumes, (std::vector<uint64_t>{0, 1, 2}));
  }
  // A total that lies high, with success: the loop ends on status 0 and the
  // result holds the entries that came, no empty phantom slots.
  {
    ScriptedNetApi api(inner);
    api.answer = [](int) { return Batch(NERR_Success, {u"x", u"y"}, 0xFFFFFFFFu); };
    ASSERT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), 0);
    EXPECT_EQ(api.prefmaxlens.size(), 1u);
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[2].UserName, u"y");
  }
  // "More data" without any entry would be asked again for ever.
  {
    ScriptedNetApi api(inner);
    api.answer = [](int call) {
      return call == 0 ? Batch(ERROR_MORE_DATA, {u"p"}, 5) : Batch(ERROR_MORE_DATA, {}, 4);
    };
    users.clear();
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_BAD_NET_RESP));
    EXPECT_EQ(api.prefmaxlens.size(), 2u);
    ASSERT_EQ(users.size(), 2u);  // the earlier batch's entries
    EXPECT_EQ(users[1].UserName, u"p");
  }
  {
    ScriptedNetApi api(inner);
    api.answer = [](int) { return Batch(ERROR_MORE_DATA, {}, 3); };
    users.assign(1, LoggedOnUser{u"untouched", u"", u"", u""});
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_BAD_NET_RESP));
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].UserName, u"untouched");
  }
  // "More data" with a resume handle that does not move would bring the same
  // batch for ever: the first one is kept, and the listing ends there.
  {
    ScriptedNetApi api(inner);
    api.resumeStays = true;
    api.answer = [](int) { return Batch(ERROR_MORE_DATA, {u"again"}, 2); };
    users.clear();
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_BAD_NET_RESP));
    EXPECT_EQ(api.enumCalls, 1);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[1].UserName, u"again");
  }
  // Entries claimed without a buffer to read them from.
  {
    ScriptedNetApi api(inner);
    api.answer = [](int) {
      Answer a;
      a.withBuffer = false;
      a.readOverride = true;
      a.read = 4;
      a.total = 4;
      return a;
    };
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_BAD_NET_RESP));
  }
  // A count no machine could hold is refused before any record is read.
  {
    ScriptedNetApi api(inner);
    api.answer = [](int) {
      Answer a = Batch(NERR_Success, {u"one"}, 1);
      a.readOverride = true;
      a.read = 0xFFFFFFFFu;
      return a;
    };
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_BAD_NET_RESP));
  }
}

TEST_F(LoggedOnUsers, BuffersHandedBackWithAFailureAreReleased) {
  auto& inner = Use(Domain());
  ScriptedNetApi api(inner);
  // A second batch fails after the first succeeded, and its answer carries a
  // buffer all the same; the fixture checks it was released.
  api.answer = [](int call) {
    Answer a = Batch(call == 0 ? ERROR_MORE_DATA : RPC_S_CALL_FAILED, {u"first", u"second"}, 4);
    if (call > 0) a.rows.resize(1);
    return a;
  };
  std::vector<LoggedOnUser> users;
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(RPC_S_CALL_FAILED));
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[2].UserName, u"second");

  // A failure on the first call leaves the caller's array as it was.
  api.enumCalls = 0;
  api.answer = [](int) { return Batch(ERROR_ACCESS_DENIED, {u"ignored"}, 1); };
  users.assign(2, LoggedOnUser{u"mine", u"", u"", u""});
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"TS01", users), static_cast<int32_t>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1].UserName, u"mine");
}

}  // namespace
}  // namespace quorvix
