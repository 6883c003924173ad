#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimTestDomain.h"
#include "SimulatedNetApi.h"

namespace quorvix::sim {
namespace {

using test::SmallDomain;

// A controller with groups whose names make batches of known size.
SimDomain GroupDomain() {
  SimDomain d = SmallDomain();
  SimMachine& pdc = d.machines[0];
  pdc.globalGroups.clear();
  // GROUP_INFO_0 is 8 bytes; each name of 9 units takes 20 bytes: 28 a record.
  for (int i = 0; i < 10; ++i) {
    std::u16string name = u"Group-00";
    name += static_cast<char16_t>(u'0' + i);
    pdc.globalGroups.push_back({name, u"Comment " + name, {}});
  }
  pdc.users[0].groups.clear();
  for (const auto& g : pdc.globalGroups) pdc.users[0].groups.push_back(g.name);
  return d;
}

TEST(SimulatedGroups, GroupEnumBatchesWithResumeHandle) {
  SimulatedNetApi api(GroupDomain());
  DWORD_PTR resume = 0;
  std::vector<std::u16string> names;
  std::vector<DWORD> reads, totals;
  NET_API_STATUS st;
  int calls = 0;
  do {
    LPBYTE buf = nullptr;
    DWORD read = 0, total = 0;
    st = api.NetGroupEnum(u"PDC01", 0, &buf, 100, &read, &total, &resume);
    for (DWORD i = 0; i < read; ++i)
      names.push_back(reinterpret_cast<const GROUP_INFO_0*>(buf)[i].grpi0_name);
    reads.push_back(read);
    totals.push_back(total);
    api.NetApiBufferFree(buf);
  } while (st == ERROR_MORE_DATA && ++calls < 20);
  EXPECT_EQ(st, NERR_Success);
  // 100 bytes hold three records of 28 bytes.
  EXPECT_EQ(reads, (std::vector<DWORD>{3, 3, 3, 1}));
  EXPECT_EQ(totals, (std::vector<DWORD>{10, 7, 4, 1}));
  ASSERT_EQ(names.size(), 10u);
  EXPECT_EQ(names.front(), u"Group-000");
  EXPECT_EQ(names.back(), u"Group-009");

  // Level 1 carries the comments; a workstation with no groups answers an empty list.
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;
  resume = 0;
  ASSERT_EQ(api.NetGroupEnum(u"PDC01", 1, &buf, MAX_PREFERRED_LENGTH, &read, &total, &resume),
            NERR_Success);
  ASSERT_EQ(read, 10u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const GROUP_INFO_1*>(buf)[4].grpi1_comment),
            u"Comment Group-004");
  api.NetApiBufferFree(buf);
  resume = 0;
  EXPECT_EQ(api.NetGroupEnum(u"PC-001", 0, &buf, 255, &read, &total, &resume), NERR_Success);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(api.NetGroupEnum(u"PDC01", 2, &buf, 255, &read, &total, &resume), ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetGroupEnum(u"NOWHERE", 0, &buf, 255, &read, &total, &resume), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

TEST(SimulatedGroups, UserGetGroupsAnswersPartOrAll) {
  SimulatedNetApi api(GroupDomain());
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;
  ASSERT_EQ(api.NetUserGetGroups(u"PDC01", u"alice", 0, &buf, 100, &read, &total), ERROR_MORE_DATA);
  EXPECT_EQ(read, 3u);
  EXPECT_EQ(total, 10u);
  api.NetApiBufferFree(buf);
  ASSERT_EQ(api.NetUserGetGroups(u"PDC01", u"alice", 0, &buf, 1, &read, &total), ERROR_MORE_DATA);
  EXPECT_EQ(read, 1u);
  api.NetApiBufferFree(buf);
  ASSERT_EQ(api.NetUserGetGroups(u"PDC01", u"alice", 0, &buf, MAX_PREFERRED_LENGTH, &read, &total),
            NERR_Success);
  EXPECT_EQ(read, 10u);
  EXPECT_EQ(total, 10u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const GROUP_USERS_INFO_0*>(buf)[9].grui0_name),
            u"Group-009");
  api.NetApiBufferFree(buf);

  EXPECT_EQ(api.NetUserGetGroups(u"PDC01", u"Иван", 0, &buf, 255, &read, &total), NERR_Success);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(api.NetUserGetGroups(u"PDC01", u"nobody", 0, &buf, 255, &read, &total),
            NERR_UserNotFound);
  EXPECT_EQ(api.NetUserGetGroups(u"PDC01", u"alice", 1, &buf, 255, &read, &total),
            ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetUserGetGroups(u"NOWHERE", u"alice", 0, &buf, 255, &read, &total),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

NET_API_STATUS AddMember(SimulatedNetApi& api, const char16_t* server, const char16_t* group,
                         const char16_t* account) {
  LOCALGROUP_MEMBERS_INFO_3 info{const_cast<LPWSTR>(account)};
  return api.NetLocalGroupAddMembers(server, group, 3, reinterpret_cast<LPBYTE>(&info), 1);
}

TEST(SimulatedGroups, LocalGroupAddMembersLikeAServer) {
  SimulatedNetApi api(SmallDomain());
  // CORP\alice is already a member (listed as "CORP\alice"), under any spelling.
  EXPECT_EQ(AddMember(api, u"PDC01", u"Administrators", u"corp\\ALICE"), ERROR_MEMBER_IN_ALIAS);
  EXPECT_EQ(AddMember(api, u"PDC01", u"Administrators", u"alice"), ERROR_MEMBER_IN_ALIAS);
  EXPECT_EQ(AddMember(api, u"PDC01", u"administrators", u"CORP\\bob"), NERR_Success);
  EXPECT_EQ(AddMember(api, u"PDC01", u"Administrators", u"bob"), ERROR_MEMBER_IN_ALIAS);
  // A domain account on a workstation, the workstation's own account, a global group.
  EXPECT_EQ(AddMember(api, u"\\\\PC-001", u"Users", u"CORP\\иван"), NERR_Success);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"PC-001\\Administrator"), NERR_Success);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"CORP\\Domain Users"), NERR_Success);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"carol"), ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"LAB\\alice"), ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"NOWHERE\\alice"), ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Users", u"CORP\\"), ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(AddMember(api, u"PC-001", u"Power Users", u"CORP\\alice"), ERROR_NO_SUCH_ALIAS);
  EXPECT_EQ(AddMember(api, u"NOWHERE", u"Users", u"CORP\\alice"), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.NetLocalGroupAddMembers(u"PC-001", u"Users", 0, nullptr, 1),
            ERROR_INVALID_PARAMETER);
  LOCALGROUP_MEMBERS_INFO_3 info{const_cast<LPWSTR>(u"CORP\\bob")};
  EXPECT_EQ(api.NetLocalGroupAddMembers(u"PC-001", u"Users", 0, reinterpret_cast<LPBYTE>(&info), 1),
            ERROR_INVALID_LEVEL);

  // The group holds the accounts in their canonical form.
  const auto& users = api.Domain().machines[1].localGroups[0].members;
  EXPECT_EQ(users, (std::vector<std::u16string>{u"CORP\\Иван", u"PC-001\\Administrator",
                                                u"CORP\\Domain Users"}));

  // Several at once: all or none.
  LOCALGROUP_MEMBERS_INFO_3 two[] = {{const_cast<LPWSTR>(u"CORP\\alice")},
                                     {const_cast<LPWSTR>(u"CORP\\nobody")}};
  EXPECT_EQ(api.NetLocalGroupAddMembers(u"PC-001", u"Users", 3, reinterpret_cast<LPBYTE>(two), 2),
            ERROR_NO_SUCH_MEMBER);
  EXPECT_EQ(api.Domain().machines[1].localGroups[0].members.size(), 3u);

  // The log names the accounts handed over.
  const CallRecord last = api.Calls().back();
  EXPECT_EQ(last.call, "NetLocalGroupAddMembers");
  EXPECT_EQ(last.names,
            (std::vector<std::u16string>{u"PC-001", u"Users", u"CORP\\alice", u"CORP\\nobody"}));
  EXPECT_EQ(last.level, 3u);
}

}  // namespace
}  // namespace quorvix::sim
