#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "SimDomain.h"
#include "SimulatedNetApi.h"
#include "basStringHandler.h"

namespace quorvix::sim {
namespace {

bool NonAscii(const std::u16string& s) {
  for (char16_t c : s)
    if (c >= 0x80) return true;
  return false;
}
bool HasCyrillic(const std::u16string& s) {
  for (char16_t c : s)
    if (c >= 0x400 && c <= 0x4FF) return true;
  return false;
}
bool HasLatinAccent(const std::u16string& s) {
  for (char16_t c : s)
    if (c >= 0xC0 && c <= 0x17F) return true;
  return false;
}

const SimMachine* Find(const SimDomain& d, const std::u16string& name) {
  for (const auto& m : d.machines)
    if (FoldName(m.name) == FoldName(StripBackslashes(name))) return &m;
  return nullptr;
}

TEST(DemoDomain, HoldsTheCasesTheScanMustMeet) {
  const SimDomain d = DemoDomain();
  EXPECT_EQ(d.domains.size(), 3u);
  EXPECT_GE(d.machines.size(), 35u);
  EXPECT_LE(d.machines.size(), 45u);

  // The local machine is a machine of the local domain.
  const SimMachine* local = Find(d, d.computerName);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(FoldName(local->domain), FoldName(d.localDomain));

  // The four roles, in every domain a primary controller that is a machine.
  int wks = 0, server = 0, bdc = 0, pdc = 0;
  for (const auto& m : d.machines) {
    if (m.type & SV_TYPE_DOMAIN_CTRL)
      ++pdc;
    else if (m.type & SV_TYPE_DOMAIN_BAKCTRL)
      ++bdc;
    else if (m.type & SV_TYPE_SERVER_NT)
      ++server;
    else if (m.type & SV_TYPE_WORKSTATION)
      ++wks;
  }
  EXPECT_EQ(pdc, 3);
  EXPECT_GE(bdc, 1);
  EXPECT_GE(server, 3);
  EXPECT_GE(wks, 20);
  for (const auto& dom : d.domains) {
    const SimMachine* p = Find(d, dom.pdc);
    ASSERT_NE(p, nullptr) << ToUtf8(dom.name);
    EXPECT_TRUE(p->type & SV_TYPE_DOMAIN_CTRL);
    // The controllers keep groups with comments.
    ASSERT_FALSE(p->globalGroups.empty());
    EXPECT_FALSE(p->globalGroups[0].comment.empty());
  }

  std::size_t entries = 0;
  bool unreachable = false, empty = false, emptyServer = false, twiceAtOne = false;
  bool nonAsciiMachine = false, cyrillicUser = false, accentedUser = false;
  std::size_t unknownToServer = 0;
  bool neverLoggedOn = false, after2038 = false;
  std::map<std::u16string, std::set<std::u16string>> machinesOfUser;
  for (const auto& m : d.machines) {
    if (m.sessionsStatus)
      unreachable = unreachable || *m.sessionsStatus == ERROR_BAD_NETPATH;
    else
      empty = empty || m.sessions.empty();
    nonAsciiMachine = nonAsciiMachine || NonAscii(m.name);
    std::multiset<std::u16string> here;
    for (const auto& e : m.sessions) {
      ++entries;
      const std::u16string user = FoldName(e.user);
      twiceAtOne = twiceAtOne || here.count(user) > 0;
      here.insert(user);
      machinesOfUser[FoldName(e.logonDomain) + u"\\" + user].insert(m.name);
      cyrillicUser = cyrillicUser || HasCyrillic(e.user);
      accentedUser = accentedUser || HasLatinAccent(e.user);
      // The server the scan asks: the entry's logon server, or the controller.
      std::u16string serverName = e.logonServer;
      if (serverName.empty()) {
        emptyServer = true;
        for (const auto& dom : d.domains)
          if (FoldName(dom.name) == FoldName(m.domain)) serverName = dom.pdc;
      }
      const SimMachine* server = Find(d, serverName);
      ASSERT_NE(server, nullptr) << ToUtf8(serverName);
      const SimUser* known = nullptr;
      for (const auto& u : server->users)
        if (FoldName(u.name) == user) known = &u;
      if (known == nullptr) {
        ++unknownToServer;
      } else {
        neverLoggedOn = neverLoggedOn || known->lastLogon == 0;
        after2038 = after2038 || known->lastLogon > 0x7FFFFFFFu;
      }
    }
  }
  bool atTwoMachines = false;
  for (const auto& [user, machines] : machinesOfUser)
    atTwoMachines = atTwoMachines || machines.size() >= 2;

  EXPECT_GE(entries, 90u);
  EXPECT_LE(entries, 120u);
  EXPECT_TRUE(unreachable);
  EXPECT_TRUE(empty);
  EXPECT_TRUE(emptyServer);
  EXPECT_TRUE(twiceAtOne);
  EXPECT_TRUE(atTwoMachines);
  EXPECT_TRUE(nonAsciiMachine);
  EXPECT_TRUE(cyrillicUser);
  EXPECT_TRUE(accentedUser);
  // Exactly one entry's logon server does not know the user; every other
  // entry gets a last-logon time.
  EXPECT_EQ(unknownToServer, 1u);
  EXPECT_TRUE(neverLoggedOn);
  EXPECT_TRUE(after2038);
}

TEST(DemoDomain, AnswersThroughTheProvider) {
  SimulatedNetApi api(DemoDomain());
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_DOMAIN_ENUM, nullptr, nullptr),
            NERR_Success);
  EXPECT_EQ(read, 3u);
  api.NetApiBufferFree(buf);

  ASSERT_EQ(api.NetGetDCName(nullptr, nullptr, &buf), NERR_Success);
  const std::u16string dc = reinterpret_cast<const char16_t*>(buf);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(dc.substr(0, 2), u"\\\\");

  // Every machine of the local domain answers or fails with its own status.
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              nullptr, nullptr),
            NERR_Success);
  std::vector<std::u16string> names;
  for (DWORD i = 0; i < read; ++i)
    names.push_back(reinterpret_cast<const SERVER_INFO_101*>(buf)[i].sv101_name);
  api.NetApiBufferFree(buf);
  std::size_t entries = 0, failures = 0;
  for (const auto& name : names) {
    DWORD resume = 0;
    NET_API_STATUS st;
    do {
      st = api.NetWkstaUserEnum(name.c_str(), 1, &buf, 256, &read, &total, &resume);
      if (st == NERR_Success || st == ERROR_MORE_DATA) entries += read;
      api.NetApiBufferFree(buf);
    } while (st == ERROR_MORE_DATA);
    if (st != NERR_Success) ++failures;
  }
  EXPECT_EQ(failures, 1u);
  EXPECT_GT(entries, 40u);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
  EXPECT_EQ(api.RefusedFrees(), 0u);
  // The built-in text is what the domain was parsed from.
  EXPECT_NE(DemoDomainJson().find("\"machines\""), std::string::npos);
}

}  // namespace
}  // namespace quorvix::sim
