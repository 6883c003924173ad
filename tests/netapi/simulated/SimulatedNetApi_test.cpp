#include "SimulatedNetApi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SimTestDomain.h"
#include "basStringHandler.h"

namespace quorvix::sim {
namespace {

using test::SmallDomain;

std::u16string Str(const char16_t* p) {
  return p == nullptr ? u"<null>" : std::u16string(p);
}

std::size_t Bytes(const std::u16string& s) {
  return (s.size() + 1) * sizeof(char16_t);
}

std::size_t EntryBytes(const WKSTA_USER_INFO_1& r) {
  return sizeof(WKSTA_USER_INFO_1) + Bytes(r.wkui1_username) + Bytes(r.wkui1_logon_domain) +
         Bytes(r.wkui1_oth_domains) + Bytes(r.wkui1_logon_server);
}

// Every text field of a record points into the buffer that holds it.
template <typename Rec>
bool InsideBuffer(const LPBYTE buf, std::size_t records, const char16_t* p) {
  const auto* b = reinterpret_cast<const char*>(buf);
  const auto* c = reinterpret_cast<const char*>(p);
  return c >= b + records * sizeof(Rec);
}

struct Batch {
  NET_API_STATUS status;
  DWORD read, total, resumeAfter;
  std::vector<std::u16string> users;
  std::size_t bytes = 0;
};

Batch UserBatch(SimulatedNetApi& api, const char16_t* server, DWORD pref, DWORD& resume) {
  Batch b{};
  LPBYTE buf = nullptr;
  b.status = api.NetWkstaUserEnum(server, 1, &buf, pref, &b.read, &b.total, &resume);
  b.resumeAfter = resume;
  for (DWORD i = 0; buf != nullptr && i < b.read; ++i) {
    const auto& r = reinterpret_cast<const WKSTA_USER_INFO_1*>(buf)[i];
    EXPECT_TRUE(InsideBuffer<WKSTA_USER_INFO_1>(buf, b.read, r.wkui1_username));
    EXPECT_TRUE(InsideBuffer<WKSTA_USER_INFO_1>(buf, b.read, r.wkui1_logon_server));
    b.users.push_back(r.wkui1_username);
    b.bytes += EntryBytes(r);
  }
  EXPECT_EQ(api.NetApiBufferFree(buf), NERR_Success);
  return b;
}

TEST(SimulatedNetApi, WkstaUserEnumBatchesFollowThePreferredLength) {
  SimulatedNetApi api(SmallDomain());
  const std::vector<std::u16string> all = {u"alice", u"bob", u"carol",
                                           u"dave-with-a-rather-long-name", u"Иван"};

  // Whole list at once.
  DWORD resume = 0;
  Batch whole = UserBatch(api, u"PC-001", MAX_PREFERRED_LENGTH, resume);
  EXPECT_EQ(whole.status, NERR_Success);
  EXPECT_EQ(whole.read, 5u);
  EXPECT_EQ(whole.total, 5u);
  EXPECT_EQ(whole.users, all);

  // Entry sizes 68, 74, 58, 114, 66 bytes: 150 bytes take 2, 1, 1, 1.
  resume = 0;
  std::vector<Batch> batches;
  do {
    batches.push_back(UserBatch(api, u"\\\\pc-001", 150, resume));
  } while (batches.back().status == ERROR_MORE_DATA && batches.size() < 10);
  ASSERT_EQ(batches.size(), 4u);
  const DWORD reads[] = {2, 1, 1, 1};
  const DWORD totals[] = {5, 3, 2, 1};
  const DWORD resumes[] = {2, 3, 4, 5};
  std::vector<std::u16string> seen;
  for (std::size_t k = 0; k < batches.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(batches[k].status, k + 1 < batches.size() ? ERROR_MORE_DATA : NERR_Success);
    EXPECT_EQ(batches[k].read, reads[k]);
    EXPECT_EQ(batches[k].total, totals[k]);
    EXPECT_EQ(batches[k].resumeAfter, resumes[k]);
    EXPECT_LE(batches[k].bytes, 150u);
    seen.insert(seen.end(), batches[k].users.begin(), batches[k].users.end());
  }
  EXPECT_EQ(seen, all);

  // A preferred length smaller than any record still gives one entry a batch.
  resume = 0;
  seen.clear();
  for (int k = 0; k < 5; ++k) {
    Batch b = UserBatch(api, u"PC-001", 1, resume);
    EXPECT_EQ(b.read, 1u);
    EXPECT_EQ(b.total, static_cast<DWORD>(5 - k));
    EXPECT_EQ(b.status, k < 4 ? ERROR_MORE_DATA : NERR_Success);
    seen.insert(seen.end(), b.users.begin(), b.users.end());
  }
  EXPECT_EQ(seen, all);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
  EXPECT_EQ(api.RefusedFrees(), 0u);
}

TEST(SimulatedNetApi, WkstaUserEnumFieldsAndFailures) {
  SimulatedNetApi api(SmallDomain());
  LPBYTE buf = nullptr;
  DWORD read = 9, total = 9, resume = 0;
  ASSERT_EQ(api.NetWkstaUserEnum(u"PC-001", 1, &buf, MAX_PREFERRED_LENGTH, &read, &total, &resume),
            NERR_Success);
  const auto* r = reinterpret_cast<const WKSTA_USER_INFO_1*>(buf);
  EXPECT_EQ(Str(r[1].wkui1_username), u"bob");
  EXPECT_EQ(Str(r[1].wkui1_logon_domain), u"CORP");
  EXPECT_EQ(Str(r[1].wkui1_oth_domains), u"LAB");
  EXPECT_EQ(Str(r[1].wkui1_logon_server), u"\\\\PDC01");
  EXPECT_EQ(Str(r[2].wkui1_logon_server), u"");
  api.NetApiBufferFree(buf);

  // The local machine, by null and by empty name.
  read = 0;
  EXPECT_EQ(api.NetWkstaUserEnum(nullptr, 1, &buf, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
            NERR_Success);
  EXPECT_EQ(read, 5u);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetWkstaUserEnum(u"", 1, &buf, MAX_PREFERRED_LENGTH, &read, &total, nullptr),
            NERR_Success);
  EXPECT_EQ(read, 5u);
  api.NetApiBufferFree(buf);

  // A machine that cannot be asked, an unknown one, one with no entries.
  resume = 0;
  EXPECT_EQ(api.NetWkstaUserEnum(u"PC-002", 1, &buf, 256, &read, &total, &resume),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(api.NetWkstaUserEnum(u"NOWHERE", 1, &buf, 256, &read, &total, &resume),
            ERROR_BAD_NETPATH);
  read = total = 7;
  buf = reinterpret_cast<LPBYTE>(&read);  // overwritten with null
  EXPECT_EQ(api.NetWkstaUserEnum(u"LAB-SRV", 1, &buf, 256, &read, &total, &resume), NERR_Success);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(total, 0u);

  // Bad arguments.
  EXPECT_EQ(api.NetWkstaUserEnum(u"PC-001", 0, &buf, 256, &read, &total, &resume),
            ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetWkstaUserEnum(u"PC-001", 1, nullptr, 256, &read, &total, &resume),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.NetWkstaUserEnum(u"PC-001", 1, &buf, 256, nullptr, &total, &resume),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.NetWkstaUserEnum(u"PC-001", 1, &buf, 256, &read, nullptr, &resume),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

TEST(SimulatedNetApi, SessionAddedBetweenBatchesArrivesInALaterBatch) {
  SimulatedNetApi api(SmallDomain());
  DWORD resume = 0;
  Batch first = UserBatch(api, u"PC-001", 150, resume);
  EXPECT_EQ(first.total, 5u);
  api.AddSession(u"\\\\PC-001", {u"erin", u"CORP", u"", u"PDC01"});
  std::vector<std::u16string> rest;
  Batch b;
  do {
    b = UserBatch(api, u"PC-001", 150, resume);
    rest.insert(rest.end(), b.users.begin(), b.users.end());
  } while (b.status == ERROR_MORE_DATA);
  EXPECT_EQ(rest.size(), 4u);
  EXPECT_EQ(rest.back(), u"erin");
  EXPECT_THROW(api.AddSession(u"NOWHERE", {}), std::invalid_argument);
}

std::vector<std::u16string> ServerNames(const LPBYTE buf, DWORD read) {
  std::vector<std::u16string> out;
  for (DWORD i = 0; i < read; ++i)
    out.push_back(reinterpret_cast<const SERVER_INFO_101*>(buf)[i].sv101_name);
  return out;
}

TEST(SimulatedNetApi, ServerEnumListsMachinesAndDomains) {
  SimulatedNetApi api(SmallDomain());
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;

  // Whole list of the local domain (null and empty domain).
  for (const char16_t* domain : {static_cast<const char16_t*>(nullptr), u"", u"corp"}) {
    ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                                SV_TYPE_ALL, domain, nullptr),
              NERR_Success);
    EXPECT_EQ(ServerNames(buf, read),
              (std::vector<std::u16string>{u"PDC01", u"PC-001", u"PC-002"}));
    EXPECT_EQ(total, 3u);
    const auto& pdc = reinterpret_cast<const SERVER_INFO_101*>(buf)[0];
    EXPECT_EQ(pdc.sv101_type, 0x900Bu);
    EXPECT_EQ(pdc.sv101_version_major, 4u);
    EXPECT_EQ(Str(pdc.sv101_comment), u"Primary controller");
    EXPECT_EQ(pdc.sv101_platform_id, PLATFORM_ID_NT);
    api.NetApiBufferFree(buf);
  }

  // Filter: machines sharing a bit with it.
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_DOMAIN_CTRL, u"CORP", nullptr),
            NERR_Success);
  EXPECT_EQ(ServerNames(buf, read), std::vector<std::u16string>{u"PDC01"});
  api.NetApiBufferFree(buf);
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_SQLSERVER, u"CORP", nullptr),
            NERR_Success);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(buf, nullptr);

  // Partial list when the preferred length is too small.
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, 60, &read, &total, SV_TYPE_ALL, u"CORP", nullptr),
            ERROR_MORE_DATA);
  EXPECT_GE(read, 1u);
  EXPECT_LT(read, total);
  EXPECT_EQ(total, 3u);
  EXPECT_EQ(ServerNames(buf, read)[0], u"PDC01");
  api.NetApiBufferFree(buf);

  // With a resume handle the rest follows in later answers, the total counting what remains.
  DWORD resume = 0;
  std::vector<std::u16string> names;
  std::vector<DWORD> totals;
  NET_API_STATUS st;
  do {
    st = api.NetServerEnum(nullptr, 101, &buf, 60, &read, &total, SV_TYPE_ALL, u"CORP", &resume);
    const auto part = ServerNames(buf, read);
    names.insert(names.end(), part.begin(), part.end());
    totals.push_back(total);
    api.NetApiBufferFree(buf);
  } while (st == ERROR_MORE_DATA && totals.size() < 10);
  EXPECT_EQ(st, NERR_Success);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"PDC01", u"PC-001", u"PC-002"}));
  EXPECT_EQ(totals, (std::vector<DWORD>{3, 2, 1}));
  EXPECT_EQ(resume, 3u);

  // Domain enumeration ignores the domain argument.
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_DOMAIN_ENUM, u"NO-SUCH-DOMAIN", nullptr),
            NERR_Success);
  EXPECT_EQ(ServerNames(buf, read), (std::vector<std::u16string>{u"CORP", u"LAB"}));
  EXPECT_EQ(reinterpret_cast<const SERVER_INFO_101*>(buf)[0].sv101_type & SV_TYPE_DOMAIN_ENUM,
            SV_TYPE_DOMAIN_ENUM);
  api.NetApiBufferFree(buf);

  EXPECT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              u"NO-SUCH-DOMAIN", nullptr),
            ERROR_NO_BROWSER_SERVERS_FOUND);
  EXPECT_EQ(api.NetServerEnum(nullptr, 100, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              nullptr, nullptr),
            ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetServerEnum(u"NOWHERE", 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_ALL, nullptr, nullptr),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

TEST(SimulatedNetApi, InfoCallsAnswerForKnownServers) {
  SimulatedNetApi api(SmallDomain());
  LPBYTE buf = nullptr;

  ASSERT_EQ(api.NetWkstaGetInfo(u"", 100, &buf), NERR_Success);
  const auto& w = *reinterpret_cast<const WKSTA_INFO_100*>(buf);
  EXPECT_EQ(Str(w.wki100_computername), u"PC-001");
  EXPECT_EQ(Str(w.wki100_langroup), u"CORP");
  EXPECT_EQ(w.wki100_ver_minor, 1u);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetWkstaGetInfo(nullptr, 101, &buf), ERROR_INVALID_LEVEL);

  ASSERT_EQ(api.NetServerGetInfo(u"\\\\lab-srv", 101, &buf), NERR_Success);
  EXPECT_EQ(Str(reinterpret_cast<const SERVER_INFO_101*>(buf)->sv101_name), u"LAB-SRV");
  EXPECT_EQ(reinterpret_cast<const SERVER_INFO_101*>(buf)->sv101_type, 0x9003u);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetServerGetInfo(u"NOWHERE", 101, &buf), ERROR_BAD_NETPATH);

  ASSERT_EQ(api.NetGetDCName(nullptr, nullptr, &buf), NERR_Success);
  EXPECT_EQ(Str(reinterpret_cast<const char16_t*>(buf)), u"\\\\PDC01");
  api.NetApiBufferFree(buf);
  ASSERT_EQ(api.NetGetDCName(u"", u"lab", &buf), NERR_Success);
  EXPECT_EQ(Str(reinterpret_cast<const char16_t*>(buf)), u"\\\\LAB-SRV");
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetGetDCName(nullptr, u"NOPE", &buf), NERR_DCNotFound);

  ASSERT_EQ(api.NetUserGetInfo(u"PDC01", u"ALICE", 2, &buf), NERR_Success);
  EXPECT_EQ(reinterpret_cast<const USER_INFO_2*>(buf)->usri2_last_logon, 1015000000u);
  EXPECT_EQ(Str(reinterpret_cast<const USER_INFO_2*>(buf)->usri2_name), u"alice");
  api.NetApiBufferFree(buf);
  ASSERT_EQ(api.NetUserGetInfo(u"\\\\PDC01", u"иван", 2, &buf), NERR_Success);
  EXPECT_EQ(reinterpret_cast<const USER_INFO_2*>(buf)->usri2_last_logon, 4102444800u);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetUserGetInfo(u"PDC01", u"carol", 2, &buf), NERR_UserNotFound);
  EXPECT_EQ(api.NetUserGetInfo(u"NOWHERE", u"alice", 2, &buf), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.NetUserGetInfo(u"PDC01", u"alice", 1, &buf), ERROR_INVALID_LEVEL);

  ASSERT_EQ(api.NetGroupGetInfo(u"PDC01", u"engineering", 1, &buf), NERR_Success);
  EXPECT_EQ(Str(reinterpret_cast<const GROUP_INFO_1*>(buf)->grpi1_comment), u"Product engineering");
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetGroupGetInfo(u"PDC01", u"Nobody", 1, &buf), NERR_GroupNotFound);
  EXPECT_EQ(api.NetGroupGetInfo(u"NOWHERE", u"Engineering", 1, &buf), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

TEST(SimulatedNetApi, BufferAccountingRefusesDoubleAndForeignFrees) {
  SimulatedNetApi api(SmallDomain());
  LPBYTE a = nullptr;
  LPBYTE b = nullptr;
  ASSERT_EQ(api.NetWkstaGetInfo(nullptr, 100, &a), NERR_Success);
  LPVOID c = nullptr;
  ASSERT_EQ(api.NetApiBufferAllocate(64, &c), NERR_Success);
  ASSERT_EQ(api.NetGetDCName(nullptr, nullptr, &b), NERR_Success);
  EXPECT_EQ(api.OutstandingBuffers(), 3u);

  EXPECT_EQ(api.NetApiBufferFree(a), NERR_Success);
  EXPECT_EQ(api.OutstandingBuffers(), 2u);
  EXPECT_EQ(api.NetApiBufferFree(a), ERROR_INVALID_PARAMETER);
  int local = 0;
  EXPECT_EQ(api.NetApiBufferFree(&local), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.NetApiBufferFree(b + 2), ERROR_INVALID_PARAMETER);  // not its start
  EXPECT_EQ(api.RefusedFrees(), 3u);
  EXPECT_EQ(api.NetApiBufferFree(nullptr), NERR_Success);
  EXPECT_EQ(api.RefusedFrees(), 3u);
  EXPECT_EQ(api.OutstandingBuffers(), 2u);

  // Another provider's buffer is foreign to this one.
  SimulatedNetApi other(SmallDomain());
  LPVOID d = nullptr;
  ASSERT_EQ(other.NetApiBufferAllocate(8, &d), NERR_Success);
  EXPECT_EQ(api.NetApiBufferFree(d), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.RefusedFrees(), 4u);
  EXPECT_EQ(other.NetApiBufferFree(d), NERR_Success);

  // An allocated buffer is writable over its whole size; b and c stay
  // outstanding and are released by the destructor (no leak report).
  std::memset(c, 0xAB, 64);
  EXPECT_EQ(api.NetApiBufferAllocate(0, &c), NERR_Success);
  EXPECT_EQ(api.NetApiBufferAllocate(8, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.OutstandingBuffers(), 3u);
  // Allocation and release are not logged; the two queries are.
  const auto calls = api.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].call, "NetWkstaGetInfo");
  EXPECT_EQ(calls[1].call, "NetGetDCName");
}

TEST(SimulatedNetApi, CallLogRecordsArgumentsInOrder) {
  SimulatedNetApi api(SmallDomain());
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  api.NetServerEnum(nullptr, 101, &buf, 4096, &read, &total, SV_TYPE_ALL, u"CORP", nullptr);
  api.NetApiBufferFree(buf);
  api.NetWkstaUserEnum(u"PC-001", 1, &buf, 150, &read, &total, &resume);
  api.NetApiBufferFree(buf);
  api.NetWkstaUserEnum(u"PC-001", 1, &buf, 150, &read, &total, &resume);
  api.NetApiBufferFree(buf);
  api.NetUserGetInfo(u"PDC01", u"nobody", 2, &buf);

  const auto calls = api.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].call, "NetServerEnum");
  EXPECT_EQ(calls[0].names, (std::vector<std::u16string>{u"", u"CORP"}));
  EXPECT_EQ(calls[0].nullNames, (std::vector<bool>{true, false}));
  EXPECT_EQ(calls[0].level, 101u);
  EXPECT_EQ(calls[0].prefmaxlen, 4096u);
  EXPECT_EQ(calls[0].servertype, SV_TYPE_ALL);
  EXPECT_EQ(calls[0].entriesRead, 3u);
  EXPECT_EQ(calls[1].call, "NetWkstaUserEnum");
  EXPECT_EQ(calls[1].names, std::vector<std::u16string>{u"PC-001"});
  EXPECT_EQ(calls[1].resumeIn, 0u);
  EXPECT_EQ(calls[1].status, ERROR_MORE_DATA);
  EXPECT_EQ(calls[1].totalEntries, 5u);
  EXPECT_EQ(calls[2].resumeIn, 2u);
  EXPECT_EQ(calls[2].totalEntries, 3u);
  EXPECT_EQ(calls[3].call, "NetUserGetInfo");
  EXPECT_EQ(calls[3].names, (std::vector<std::u16string>{u"PDC01", u"nobody"}));
  EXPECT_EQ(calls[3].status, NERR_UserNotFound);

  api.ClearCalls();
  api.SetLogging(false);
  api.NetWkstaGetInfo(nullptr, 100, &buf);
  api.NetApiBufferFree(buf);
  EXPECT_TRUE(api.Calls().empty());
  api.SetLogging(true);
  api.NetWkstaGetInfo(nullptr, 100, &buf);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.Calls().size(), 1u);
}

TEST(SimulatedNetApi, FaultsMatchCallAndTarget) {
  SimulatedNetApi api(SmallDomain());
  api.AddFault({"NetUserGetInfo", u"\\\\PDC01", ERROR_ACCESS_DENIED});
  api.AddFault({"NetServerEnum", u"LAB", ERROR_NETWORK_BUSY});
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0;
  EXPECT_EQ(api.NetUserGetInfo(u"pdc01", u"alice", 2, &buf), ERROR_ACCESS_DENIED);
  EXPECT_EQ(buf, nullptr);
  // Another call or target is not touched.
  ASSERT_EQ(api.NetGroupGetInfo(u"PDC01", u"Engineering", 1, &buf), NERR_Success);
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              u"lab", nullptr),
            ERROR_NETWORK_BUSY);
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              nullptr, nullptr),
            NERR_Success);
  api.NetApiBufferFree(buf);
  // An empty target matches every target, and the fault comes before any check.
  api.AddFault({"NetWkstaGetInfo", u"", RPC_S_SERVER_UNAVAILABLE});
  EXPECT_EQ(api.NetWkstaGetInfo(u"NOWHERE", 100, &buf), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(api.NetWkstaGetInfo(nullptr, 100, &buf), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(api.Calls().back().status, RPC_S_SERVER_UNAVAILABLE);
  EXPECT_THROW(api.AddFault({"NetNoSuchCall", u"", 5}), std::invalid_argument);
  EXPECT_THROW(api.AddFault({"NetApiBufferFree", u"", 5}), std::invalid_argument);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

TEST(SimulatedNetApi, LatencyDelaysTheCall) {
  SimDomain d = SmallDomain();
  d.latencyMicros["NetWkstaGetInfo"] = 30000;
  SimulatedNetApi api(std::move(d));
  LPBYTE buf = nullptr;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(api.NetWkstaGetInfo(nullptr, 100, &buf), NERR_Success);
  auto slow = std::chrono::steady_clock::now() - t0;
  api.NetApiBufferFree(buf);
  EXPECT_GE(slow, std::chrono::milliseconds(30));
}

}  // namespace
}  // namespace quorvix::sim
