#include "classNetAPI.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "QueryTestSupport.h"
#include "basStringHandler.h"

namespace quorvix {
namespace {

using test::Answer;
using test::ScriptedNetApi;

constexpr DWORD kNtServer = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_SERVER_NT;
const std::u16string kLongName = u"Machine-" + std::u16string(70, u'Ж');

sim::SimMachine Machine(std::u16string name, std::u16string domain, DWORD type) {
  sim::SimMachine m;
  m.name = std::move(name);
  m.domain = std::move(domain);
  m.type = type;
  return m;
}

std::u16string GroupName(int i) {
  std::u16string n = u"Group 00";
  n[6] = static_cast<char16_t>(u'0' + i / 10);
  n[7] = static_cast<char16_t>(u'0' + i % 10);
  return n;
}

sim::SimDomain Domain() {
  sim::SimDomain d;
  d.computerName = u"WS-LOCAL";
  d.localDomain = u"CORP";
  d.domains = {{u"CORP", u"PDC01"}, {u"LAB", u"LABDC"}, {u"ÉQUIPE", u"EQDC"}, {u"TRIO", u"DC-B"}};

  auto pdc = Machine(u"PDC01", u"CORP", kNtServer | SV_TYPE_DOMAIN_CTRL);
  pdc.comment = u"Primary controller, 2nd floor";
  for (int i = 1; i <= 30; ++i)
    pdc.globalGroups.push_back({GroupName(i), u"Comment " + GroupName(i), {}});
  pdc.globalGroups.push_back({u"Long-" + std::u16string(55, u'g'), u"", {}});
  pdc.globalGroups.push_back({u"Группа-Ä", u"Кириллица", {}});
  sim::SimUser jdoe{u"jdoe", 1'000'000'000u, {}};
  for (int i = 1; i <= 30; ++i) jdoe.groups.push_back(GroupName(i));
  sim::SimUser fresh{u"fresh", 0u, {GroupName(1)}};
  sim::SimUser future{u"future", 4'102'444'800u, {}};  // 1 January 2100
  pdc.users = {jdoe, fresh, future};
  pdc.localGroups.push_back({u"Administrators", u"Local admins", {}});

  auto bdc = Machine(u"BDC02", u"CORP", kNtServer | SV_TYPE_DOMAIN_BAKCTRL);
  bdc.versionMajor = 4;
  bdc.versionMinor = 0;
  d.machines = {
      pdc,
      bdc,
      Machine(u"SRV03", u"CORP", kNtServer),
      Machine(u"WS04", u"CORP", SV_TYPE_WORKSTATION),
      Machine(u"PRN05", u"CORP", SV_TYPE_SERVER),
      Machine(u"BOTH06", u"CORP", SV_TYPE_DOMAIN_BAKCTRL | SV_TYPE_DOMAIN_CTRL),
      Machine(u"HIGH07", u"CORP", 0x80000000u | SV_TYPE_DOMAIN_CTRL | SV_TYPE_WORKSTATION),
      Machine(kLongName, u"CORP", SV_TYPE_WORKSTATION),
      Machine(u"LABDC", u"LAB", kNtServer | SV_TYPE_DOMAIN_CTRL),
      Machine(u"LABWS1", u"LAB", SV_TYPE_WORKSTATION),
      Machine(u"LABSQL", u"LAB", SV_TYPE_WORKSTATION | SV_TYPE_SQLSERVER),
      Machine(u"LABNW", u"LAB", SV_TYPE_WORKSTATION | SV_TYPE_NOVELL),
      Machine(u"LABWFW", u"LAB", SV_TYPE_WORKSTATION | SV_TYPE_WFW),
      Machine(u"LABWS2", u"LAB", SV_TYPE_WORKSTATION | SV_TYPE_SERVER),
      Machine(u"WS-A", u"TRIO", SV_TYPE_WORKSTATION),
      Machine(u"DC-B", u"TRIO", kNtServer | SV_TYPE_DOMAIN_CTRL),
      Machine(u"WS-C", u"TRIO", SV_TYPE_WORKSTATION)};
  return d;
}

std::vector<std::u16string> Slots(std::initializer_list<std::u16string> names) {
  std::vector<std::u16string> v{u""};
  v.insert(v.end(), names);
  return v;
}

class QueryClass : public test::SimTest {
 protected:
  void SetUp() override { Use(Domain()); }
};

TEST_F(QueryClass, ServerTypeRolesLastHitWins) {
  classNetAPI net(api());
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"WS04", u"Wks"},   {u"SRV03", u"Wks/Srv"}, {u"PDC01", u"PDC"}, {u"BDC02", u"BDC"},
      {u"BOTH06", u"PDC"}, {u"HIGH07", u"PDC"},  // bit 31 set does not hide the controller bit
  };
  for (const auto& [server, role] : cases) {
    std::u16string type = u"?";
    EXPECT_EQ(net.GetServerType(server, type), 0) << ToUtf8(server);
    EXPECT_EQ(type, role) << ToUtf8(server);
  }
  // None of the four roles: success, and the caller's text stays.
  std::u16string type = u"as passed";
  EXPECT_EQ(net.GetServerType(u"PRN05", type), 0);
  EXPECT_EQ(type, u"as passed");
  // A failure returns the status and leaves the text too.
  EXPECT_NE(net.GetServerType(u"NOWHERE", type), 0);
  EXPECT_EQ(type, u"as passed");

  const auto calls = CallsOf("NetServerGetInfo");
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_EQ(calls[0].names, std::vector<std::u16string>{u"WS04"});
  EXPECT_EQ(calls[0].level, 101u);
}

TEST_F(QueryClass, FlagTestIsAPlainMask) {
  EXPECT_TRUE(classNetAPI::IsFlagSet(9, 8));
  EXPECT_TRUE(classNetAPI::IsFlagSet(9, 1));
  EXPECT_TRUE(classNetAPI::IsFlagSet(9, 0));
  EXPECT_FALSE(classNetAPI::IsFlagSet(9, 16));
  EXPECT_TRUE(classNetAPI::IsFlagSet(0x80000008u, 8));
  EXPECT_FALSE(classNetAPI::IsFlagSet(9, 0xFFFFFFFFu));
  EXPECT_TRUE(classNetAPI::IsFlagSet(0x80000000u, SV_TYPE_DOMAIN_ENUM));
}

TEST_F(QueryClass, ServerEnumDomainModeIgnoresTheDomainText) {
  classNetAPI net(api());
  const auto domains = Slots({u"CORP", u"LAB", u"ÉQUIPE", u"TRIO"});
  for (const std::u16string text : {u"", u"CORP", u"NOSUCH"}) {
    std::vector<std::u16string> list{u"old"};
    ASSERT_EQ(net.fnNetServerEnum(text, static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), list, false), 0);
    EXPECT_EQ(list, domains);
  }
  for (const auto& call : CallsOf("NetServerEnum")) {
    ASSERT_EQ(call.nullNames.size(), 2u);
    EXPECT_TRUE(call.nullNames[0]);  // no server: the local machine asks
    EXPECT_TRUE(call.nullNames[1]);  // no domain
    EXPECT_EQ(call.level, 101u);
    EXPECT_EQ(call.servertype, SV_TYPE_DOMAIN_ENUM);
    EXPECT_EQ(call.prefmaxlen, MAX_PREFERRED_LENGTH);
  }
}

TEST_F(QueryClass, ServerEnumMachineModeAndTheWorkstationFilter) {
  classNetAPI net(api());
  std::vector<std::u16string> list;
  ASSERT_EQ(net.fnNetServerEnum(u"CORP", -1, list, false), 0);
  EXPECT_EQ(list, Slots({u"PDC01", u"BDC02", u"SRV03", u"WS04", u"PRN05", u"BOTH06", u"HIGH07",
                         kLongName}));
  auto call = CallsOf("NetServerEnum").back();
  EXPECT_TRUE(call.nullNames.at(0));
  EXPECT_FALSE(call.nullNames.at(1));
  EXPECT_EQ(call.names.at(1), u"CORP");
  EXPECT_EQ(call.servertype, SV_TYPE_ALL);

  // Controllers, SQL, Novell and WfW machines are dropped; the kept names
  // close up from slot 1 and the trailing slots stay empty.
  ASSERT_EQ(net.fnNetServerEnum(u"TRIO", -1, list, true), 0);
  EXPECT_EQ(list, Slots({u"WS-A", u"WS-C", u""}));
  ASSERT_EQ(net.fnNetServerEnum(u"LAB", -1, list, true), 0);
  EXPECT_EQ(list, Slots({u"LABWS1", u"LABWS2", u"", u"", u"", u""}));

  // A domain without machines: slot 0 only.
  list = {u"old", u"older"};
  ASSERT_EQ(net.fnNetServerEnum(u"ÉQUIPE", -1, list, false), 0);
  EXPECT_EQ(list, Slots({}));
}

TEST_F(QueryClass, ServerEnumTreatsMoreDataAndFailuresAsFailures) {
  ScriptedNetApi scripted(api());
  scripted.serverEnumLength = 64;  // too small for the list: a partial answer
  classNetAPI net(scripted);
  std::vector<std::u16string> list{u"mine"};
  EXPECT_EQ(net.fnNetServerEnum(u"CORP", -1, list, false), static_cast<int32_t>(ERROR_MORE_DATA));
  EXPECT_EQ(list, std::vector<std::u16string>{u"mine"});
  EXPECT_EQ(scripted.prefmaxlens, std::vector<DWORD>{MAX_PREFERRED_LENGTH});
  EXPECT_EQ(CallsOf("NetServerEnum").size(), 1u);  // no second call

  api().AddFault({"NetServerEnum", u"LAB", ERROR_NO_BROWSER_SERVERS_FOUND});
  classNetAPI direct(api());
  EXPECT_EQ(direct.fnNetServerEnum(u"LAB", -1, list, false),
            static_cast<int32_t>(ERROR_NO_BROWSER_SERVERS_FOUND));
  EXPECT_EQ(list, std::vector<std::u16string>{u"mine"});
}

TEST_F(QueryClass, ControllerNameComesWithTwoBackslashes) {
  classNetAPI net(api());
  std::u16string pdc = u"unset";
  ASSERT_EQ(net.fnGetPDCName(u"", u"LAB", pdc), 0);
  EXPECT_EQ(pdc, u"\\\\LABDC");
  const auto call = CallsOf("NetGetDCName").back();
  EXPECT_EQ(call.names, (std::vector<std::u16string>{u"", u"LAB"}));
  EXPECT_FALSE(call.nullNames.at(0));

  pdc = u"unset";
  EXPECT_NE(net.fnGetPDCName(u"", u"NOSUCH", pdc), 0);
  EXPECT_EQ(pdc, u"unset");
}

TEST_F(QueryClass, ServerDetailsAndTheirFailures) {
  classNetAPI net(api());
  std::u16string text = u"unset";
  EXPECT_EQ(net.GetServerVersion(u"PDC01", text), u"0");
  EXPECT_EQ(text, u"V 5.0");
  EXPECT_EQ(net.GetServerVersion(u"BDC02", text), u"0");
  EXPECT_EQ(text, u"V 4.0");
  EXPECT_EQ(net.GetServerComment(u"PDC01", text), 0);
  EXPECT_EQ(text, u"Primary controller, 2nd floor");
  EXPECT_EQ(net.GetServerVal(u"BDC02"), static_cast<int32_t>(kNtServer | SV_TYPE_DOMAIN_BAKCTRL));
  EXPECT_EQ(net.GetServerVal(u"HIGH07"), static_cast<int32_t>(0x80000009u));

  api().AddFault({"NetServerGetInfo", u"SRV03", ERROR_BAD_NETPATH});
  text = u"unset";
  EXPECT_EQ(net.GetServerVersion(u"SRV03", text), u"53");
  EXPECT_EQ(net.GetServerComment(u"SRV03", text), 53);
  EXPECT_EQ(text, u"unset");
  EXPECT_EQ(net.GetServerVal(u"SRV03"), 0);
  EXPECT_EQ(net.GetServerVal(u"NOWHERE"), 0);
}

TEST_F(QueryClass, LocalMachineDomainAndName) {
  classNetAPI net(api());
  std::u16string domain = u"unset";
  std::u16string name = u"unset";
  EXPECT_EQ(net.fnGetDomainName(domain), u"0");
  EXPECT_EQ(domain, u"CORP");
  EXPECT_EQ(net.fnGetLocalComputerName(name), 0);
  EXPECT_EQ(name, u"WS-LOCAL");
  for (const auto& call : CallsOf("NetWkstaGetInfo")) {
    EXPECT_EQ(call.names, std::vector<std::u16string>{u""});
    EXPECT_FALSE(call.nullNames.at(0));  // the local machine as a lone terminator
    EXPECT_EQ(call.level, 100u);
  }

  api().AddFault({"NetWkstaGetInfo", u"", ERROR_BAD_NETPATH});
  domain = name = u"unset";
  EXPECT_EQ(net.fnGetDomainName(domain), u"53");
  EXPECT_EQ(net.fnGetLocalComputerName(name), 53);
  EXPECT_EQ(domain, u"unset");
  EXPECT_EQ(name, u"unset");
}

TEST_F(QueryClass, LastLogon) {
  classNetAPI net(api());
  uint32_t time = 12345;
  EXPECT_EQ(net.GetLastLogon(u"PDC01", u"jdoe", time), 0);
  EXPECT_EQ(time, 1'000'000'000u);
  EXPECT_EQ(net.GetLastLogon(u"PDC01", u"fresh", time), 0);
  EXPECT_EQ(time, 0u);
  EXPECT_EQ(net.GetLastLogon(u"PDC01", u"future", time), 0);
  EXPECT_EQ(time, 4'102'444'800u);  // after 2038, still after 1970

  time = 12345;
  EXPECT_EQ(net.GetLastLogon(u"PDC01", u"nobody", time), static_cast<int32_t>(NERR_UserNotFound));
  EXPECT_EQ(time, 12345u);
  EXPECT_NE(net.GetLastLogon(u"NOWHERE", u"jdoe", time), 0);
  EXPECT_EQ(time, 12345u);

  const auto call = CallsOf("NetUserGetInfo").front();
  EXPECT_EQ(call.names, (std::vector<std::u16string>{u"PDC01", u"jdoe"}));
  EXPECT_EQ(call.level, 2u);
}

TEST_F(QueryClass, ServerGroupsOverSeveralBatches) {
  classNetAPI net(api());
  std::vector<std::u16string> groups{u"old"};
  ASSERT_EQ(net.fnGlobalGroupEnum(u"PDC01", u"", groups), 0);
  std::vector<std::u16string> expected{u""};
  for (const auto& g : api().Domain().machines[0].globalGroups) expected.push_back(g.name);
  EXPECT_EQ(groups, expected);
  EXPECT_EQ(groups[31], u"Long-" + std::u16string(55, u'g'));  // read whole
  EXPECT_EQ(groups[32], u"Группа-Ä");

  const auto calls = CallsOf("NetGroupEnum");
  ASSERT_GE(calls.size(), 3u);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].names, std::vector<std::u16string>{u"PDC01"});
    EXPECT_EQ(calls[i].level, 0u);
    EXPECT_EQ(calls[i].prefmaxlen, 255u);
    if (i == 0) {
      EXPECT_EQ(calls[i].resumeIn, 0u);
    }
    if (i > 0) {
      EXPECT_GT(calls[i].resumeIn, calls[i - 1].resumeIn);
    }
  }

  // A server without global groups: slot 0 only.
  groups = {u"old", u"older"};
  ASSERT_EQ(net.fnGlobalGroupEnum(u"SRV03", u"", groups), 0);
  EXPECT_EQ(groups, Slots({}));
}

TEST_F(QueryClass, UserGroupsComeWholeInOneCall) {
  classNetAPI net(api());
  std::vector<std::u16string> groups;
  ASSERT_EQ(net.fnGlobalGroupEnum(u"PDC01", u"jdoe", groups), 0);
  ASSERT_EQ(groups.size(), 31u);  // 30 names, far more than 255 bytes hold
  EXPECT_EQ(groups[1], GroupName(1));
  EXPECT_EQ(groups[30], GroupName(30));
  const auto calls = CallsOf("NetUserGetGroups");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].names, (std::vector<std::u16string>{u"PDC01", u"jdoe"}));
  EXPECT_EQ(calls[0].level, 0u);
  EXPECT_EQ(calls[0].prefmaxlen, MAX_PREFERRED_LENGTH);

  // A user name of blanks is a user name, not the server mode.
  net.fnGlobalGroupEnum(u"PDC01", u" ", groups);
  EXPECT_EQ(CallsOf("NetUserGetGroups").size(), 2u);
  EXPECT_TRUE(CallsOf("NetGroupEnum").empty());

  // A platform that still answers "more data" gets its status back, never
  // a partial list passed off as the whole one.
  ScriptedNetApi scripted(api());
  scripted.answer = [](int) {
    Answer a;
    a.status = ERROR_MORE_DATA;
    a.rows = {{u"only"}, {u"some"}};
    a.total = 9;
    return a;
  };
  classNetAPI partial(scripted);
  groups = {u"mine"};
  EXPECT_EQ(partial.fnGlobalGroupEnum(u"PDC01", u"jdoe", groups),
            static_cast<int32_t>(ERROR_MORE_DATA));
  EXPECT_EQ(groups, std::vector<std::u16string>{u"mine"});
  EXPECT_EQ(scripted.prefmaxlens, std::vector<DWORD>{MAX_PREFERRED_LENGTH});
}

TEST_F(QueryClass, ServerGroupsFromAServerThatMisbehaves) {
  ScriptedNetApi scripted(api());
  classNetAPI net(scripted);
  std::vector<std::u16string> groups;

  // More names than the first total announced: all are kept, in order.
  scripted.answer = [](int call) {
    Answer a;
    a.status = call < 2 ? ERROR_MORE_DATA : NERR_Success;
    a.rows = {{u"g" + std::u16string(1, u'1' + 2 * call)},
              {u"g" + std::u16string(1, u'2' + 2 * call)}};
    a.total = 2;
    return a;
  };
  ASSERT_EQ(net.fnGlobalGroupEnum(u"PDC01", u"", groups), 0);
  EXPECT_EQ(groups, Slots({u"g1", u"g2", u"g3", u"g4", u"g5", u"g6"}));
  EXPECT_EQ(scripted.resumes, (std::vector<uint64_t>{0, 1, 2}));

  // "More data" with no names ends with a failure instead of looping.
  scripted.enumCalls = 0;
  scripted.answer = [](int) {
    Answer a;
    a.status = ERROR_MORE_DATA;
    a.total = 7;
    return a;
  };
  groups = {u"mine"};
  EXPECT_EQ(net.fnGlobalGroupEnum(u"PDC01", u"", groups), static_cast<int32_t>(ERROR_BAD_NET_RESP));
  EXPECT_EQ(groups, std::vector<std::u16string>{u"mine"});

  // A later batch fails (with a buffer, which is released): its status, and
  // the names of the earlier batch.
  scripted.enumCalls = 0;
  scripted.answer = [](int call) {
    Answer a;
    a.status = call == 0 ? ERROR_MORE_DATA : RPC_S_SERVER_UNAVAILABLE;
    a.rows = {{u"first"}};
    a.total = 3;
    return a;
  };
  EXPECT_EQ(net.fnGlobalGroupEnum(u"PDC01", u"", groups),
            static_cast<int32_t>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_EQ(groups, Slots({u"first"}));

  // The first call fails: the caller's array is untouched.
  groups = {u"mine"};
  api().AddFault({"NetGroupEnum", u"PDC01", ERROR_ACCESS_DENIED});
  classNetAPI direct(api());
  EXPECT_EQ(direct.fnGlobalGroupEnum(u"PDC01", u"", groups),
            static_cast<int32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(groups, std::vector<std::u16string>{u"mine"});
}

TEST_F(QueryClass, GroupDescriptionTakesTheGroupFirst) {
  classNetAPI net(api());
  EXPECT_EQ(net.GetGlobalGroupDescription(GroupName(7), u"PDC01"), u"Comment " + GroupName(7));
  EXPECT_EQ(CallsOf("NetGroupGetInfo").back().names,
            (std::vector<std::u16string>{u"PDC01", GroupName(7)}));
  EXPECT_EQ(CallsOf("NetGroupGetInfo").back().level, 1u);
  EXPECT_EQ(net.GetGlobalGroupDescription(u"Группа-Ä", u"PDC01"), u"Кириллица");
  EXPECT_EQ(net.GetGlobalGroupDescription(u"PDC01", GroupName(7)), u"");
  EXPECT_EQ(net.GetGlobalGroupDescription(u"No such group", u"PDC01"), u"");
}

TEST_F(QueryClass, AddUserToLocalGroupPrefixesTheServerAndHandsTheNameOver) {
  classNetAPI net(api());
  EXPECT_EQ(net.AddUserToLocalGroup(u"PDC01", u"Administrators", u"CORP\\jdoe"), 0);
  const auto& admins = api().Domain().machines[0].localGroups[0].members;
  EXPECT_NE(std::find(admins.begin(), admins.end(), u"CORP\\jdoe"), admins.end());
  EXPECT_EQ(net.AddUserToLocalGroup(u"\\\\PDC01", u"Administrators", u"CORP\\jdoe"),
            static_cast<int32_t>(ERROR_MEMBER_IN_ALIAS));
  net.AddUserToLocalGroup(u"", u"Administrators", u"x");
  net.AddUserToLocalGroup(u"\\PDC01", u"Administrators", u"x");
  net.AddUserToLocalGroup(u"P", u"Administrators", u"x");

  const auto calls = CallsOf("NetLocalGroupAddMembers");
  ASSERT_EQ(calls.size(), 5u);
  const std::u16string servers[] = {u"\\\\PDC01", u"\\\\PDC01", u"\\\\", u"\\\\\\PDC01", u"\\\\P"};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].names.at(0), servers[i]);
    EXPECT_EQ(calls[i].names.at(1), u"Administrators");
    EXPECT_EQ(calls[i].names.at(2), i < 2 ? u"CORP\\jdoe" : u"x");  // as given, no prefix added
    EXPECT_EQ(calls[i].level, 3u);
  }

  // The account's buffer cannot be had: that status, and no member call.
  api().AddFault({"NetApiBufferAllocate", u"", ERROR_NOT_ENOUGH_MEMORY});
  EXPECT_EQ(net.AddUserToLocalGroup(u"PDC01", u"Administrators", u"CORP\\fresh"),
            static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(CallsOf("NetLocalGroupAddMembers").size(), 5u);
}

}  // namespace
}  // namespace quorvix
