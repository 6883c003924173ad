// The Samba provider's own logic: batches, buffers, statuses, the directory's
// type words, and a provider with nothing to talk to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AdDirectory.h"
#include "AnswerBuffer.h"
#include "AnswerConversion.h"
#include "KerberosCaches.h"
#include "KerberosLogon.h"
#include "NetlogonClient.h"
#include "ProviderFactory.h"
#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaNetApi.h"
#include "SambaStatus.h"
#include "SamrClient.h"
#include "SrvsvcClient.h"
#include "WkssvcClient.h"
#include "basMain.h"

namespace quorvix::samba {
namespace {

TEST(SambaBatches, CutAsAServerCutsThem) {
  const std::vector<std::size_t> sizes = {60, 60, 60, 200, 10};
  Batch all = SliceBatch(sizes, 0, MAX_PREFERRED_LENGTH);
  EXPECT_EQ(all.begin, 0u);
  EXPECT_EQ(all.end, 5u);
  EXPECT_FALSE(all.more);

  // 128 bytes hold two entries of 60; the rest follows batch by batch, each
  // starting where the previous one ended, and every entry comes once.
  std::size_t start = 0;
  std::vector<std::pair<std::size_t, std::size_t>> batches;
  for (int guard = 0; guard < 10; ++guard) {
    Batch b = SliceBatch(sizes, start, 128);
    batches.emplace_back(b.begin, b.end);
    ASSERT_GT(b.end, b.begin);  // always progress, also for an entry larger than the batch
    if (!b.more) break;
    start = b.end;
  }
  const std::vector<std::pair<std::size_t, std::size_t>> expected = {
      {0, 2}, {2, 3}, {3, 4}, {4, 5}};
  EXPECT_EQ(batches, expected);

  // A stale resume position past the end gives an empty, final batch.
  Batch past = SliceBatch(sizes, 9, 128);
  EXPECT_EQ(past.begin, past.end);
  EXPECT_FALSE(past.more);
  EXPECT_FALSE(SliceBatch({}, 0, 256).more);

  // A long answer taken batch by batch is sized about once, not once per batch.
  std::size_t sized = 0;
  std::size_t batchCount = 0;
  for (std::size_t at = 0;; ++batchCount) {
    const Batch b = SliceBatch(100000, at, 256, [&](std::size_t) {
      ++sized;
      return std::size_t{40};
    });
    if (!b.more) break;
    at = b.end;
  }
  EXPECT_EQ(batchCount, 100000u / 6);
  EXPECT_LE(sized, 100000u + batchCount + 1);

  // The rest of answers whose callers stopped early stays within bounds: the
  // oldest go, by count of answers and of entries all together.
  using Answer = std::vector<int>;
  Answer got;
  PendingAnswers<int> many;
  for (std::size_t k = 0; k <= PendingAnswers<int>::kMaxKept; ++k)
    many.Keep("pc" + std::to_string(k), 1, Answer(2));
  EXPECT_FALSE(many.Take("pc0", 1, got));
  EXPECT_TRUE(many.Take("pc1", 1, got));
  EXPECT_FALSE(many.Take("pc1", 1, got));  // taken once
  PendingAnswers<int> large;
  const std::size_t most = PendingAnswers<int>::kMaxKeptEntries;
  large.Keep("big1", 1, Answer(most / 2));
  large.Keep("big2", 1, Answer(most / 2));
  large.Keep("pc", 1, Answer(2));
  EXPECT_FALSE(large.Take("big1", 1, got));
  EXPECT_TRUE(large.Take("pc", 1, got));
  EXPECT_TRUE(large.Take("big2", 1, got));
  EXPECT_EQ(got.size(), most / 2);
}

TEST(SambaBuffers, OneAllocationPerAnswerReleasedOnce) {
  BufferRegistry reg;
  constexpr LPWSTR GROUP_INFO_1::*fields[] = {&GROUP_INFO_1::grpi1_name,
                                              &GROUP_INFO_1::grpi1_comment};
  std::vector<GROUP_INFO_1> recs(2);
  std::vector<std::array<Text, 2>> texts = {{u"Auditors", u"People who read the logs"},
                                            {u"G\u00e9rants \U0001F600", std::nullopt}};
  LPBYTE buf = nullptr;
  ASSERT_EQ(PackRecords(reg, recs, texts, fields, &buf), NERR_Success);
  ASSERT_NE(buf, nullptr);
  EXPECT_EQ(reg.Outstanding(), 1u);
  const auto* g = reinterpret_cast<const GROUP_INFO_1*>(buf);
  EXPECT_EQ(std::u16string(g[0].grpi1_name), u"Auditors");
  EXPECT_EQ(std::u16string(g[0].grpi1_comment), u"People who read the logs");
  EXPECT_EQ(std::u16string(g[1].grpi1_name), u"G\u00e9rants \U0001F600");
  EXPECT_EQ(g[1].grpi1_comment, nullptr);
  // The strings live inside the same allocation, after the records.
  const auto* end = buf + 2 * sizeof(GROUP_INFO_1) + (9 + 25 + 11) * sizeof(char16_t);
  for (const char16_t* p : {g[0].grpi1_name, g[0].grpi1_comment, g[1].grpi1_name}) {
    EXPECT_GE(reinterpret_cast<const BYTE*>(p), buf + 2 * sizeof(GROUP_INFO_1));
    EXPECT_LT(reinterpret_cast<const BYTE*>(p), end);
  }

  int foreign = 0;
  EXPECT_EQ(reg.Release(&foreign), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.Release(buf), NERR_Success);
  EXPECT_EQ(reg.Release(buf), ERROR_INVALID_PARAMETER);  // not twice
  EXPECT_EQ(reg.Release(nullptr), NERR_Success);
  EXPECT_EQ(reg.Outstanding(), 0u);
}

TEST(SambaStatus, MapsToThePlatformsCodes) {
  EXPECT_EQ(FromNtStatus(0x00000000), NERR_Success);
  // A connection a server ended with an informational or warning value left
  // no pipe behind: that is a failure (it was taken for success, and the
  // missing pipe was then called).
  for (const uint32_t odd : {0x00000107u, 0x40000001u, 0x80000005u, 0xC0000022u})
    EXPECT_NE(FromFailedNtStatus(odd), NERR_Success) << std::hex << odd;
  EXPECT_EQ(FromFailedNtStatus(0xC0000022), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FromNtStatus(0xC0000022), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FromNtStatus(0xC000006D), ERROR_LOGON_FAILURE);
  EXPECT_EQ(FromNtStatus(0xC000006A), ERROR_LOGON_FAILURE);
  EXPECT_EQ(FromNtStatus(0xC0000064), NERR_UserNotFound);
  EXPECT_EQ(FromNtStatus(0xC00000BE), ERROR_BAD_NETPATH);
  EXPECT_EQ(FromNtStatus(0xC000023D), ERROR_BAD_NETPATH);
  EXPECT_EQ(FromNtStatus(0xC0000236), ERROR_BAD_NETPATH);
  EXPECT_EQ(FromNtStatus(0xC0020017), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(FromNtStatus(0xC0000034), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(FromNtStatus(0xC0000153), ERROR_MEMBER_IN_ALIAS);
  EXPECT_EQ(FromNtStatus(0xC0000072), ERROR_ACCOUNT_DISABLED);
  EXPECT_EQ(FromNtStatus(0xC0020099), RPC_S_CALL_FAILED);    // another RPC failure
  EXPECT_EQ(FromNtStatus(0xC0001234), ERROR_UNEXP_NET_ERR);  // unknown error
  // WERRORs are the platform's codes already; an NTSTATUS inside one is mapped.
  EXPECT_EQ(FromWerror(5), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FromWerror(2221), NERR_UserNotFound);
  EXPECT_EQ(FromLibnetapi(0xC000006D), ERROR_LOGON_FAILURE);
  EXPECT_EQ(FromLdap(0), NERR_Success);
  EXPECT_EQ(FromLdap(49), ERROR_LOGON_FAILURE);  // invalid credentials
  EXPECT_EQ(FromLdap(-1), ERROR_BAD_NETPATH);    // server down
  EXPECT_EQ(FromLdap(50), ERROR_ACCESS_DENIED);  // insufficient access
  // A listing cut short is no answer to go on from.
  EXPECT_EQ(FromLdap(4), ERROR_BAD_NET_RESP);  // size limit exceeded
  EXPECT_EQ(FromLdap(9), ERROR_BAD_NET_RESP);  // partial results
  // Every mapped failure has a message for the user.
  for (NET_API_STATUS s :
       {FromNtStatus(0xC0000022), FromNtStatus(0xC000006D), FromNtStatus(0xC00000BE),
        FromNtStatus(0xC0020017), FromNtStatus(0xC0001234), FromNtStatus(0xC0020099), FromLdap(-1)})
    EXPECT_FALSE(GetNetErrorText(static_cast<int32_t>(s)).empty()) << s;
}

// An account's times and flags as the platform reports them: times cut to
// the second (14:22:56.669 is 14:22:56), never rounded up.
TEST(SambaAccounts, TimesAreCutAndFlagsMapped) {
  constexpr std::uint64_t kTicks = 10000000, kEpoch = 11644473600ull * kTicks;
  const std::uint64_t at = kEpoch + 1796657798ull * kTicks;
  EXPECT_EQ(SecondsOf(at + 6690000), 1796657798u);  // .669 s
  EXPECT_EQ(SecondsOf(at + kTicks - 1), 1796657798u);
  EXPECT_EQ(SecondsOf(at), 1796657798u);
  EXPECT_EQ(SecondsOf(0), 0u);                // never
  EXPECT_EQ(SecondsOf(kEpoch - kTicks), 0u);  // before 1970
  EXPECT_EQ(SecondsOf(0x7FFFFFFFFFFFFFFFull), kTimeqForever);
  EXPECT_EQ(SecondsOf(kEpoch + 0x1FFFFFFFFull * kTicks), kTimeqForever);  // past 2106

  // ACB_NORMAL | ACB_PWNOEXP | ACB_DISABLED, and UF_SCRIPT always.
  EXPECT_EQ(AccountFlags(0x0010 | 0x0200 | 0x0001), 0x0001u | 0x0200 | 0x10000 | 0x0002);
  EXPECT_EQ(AccountFlags(0x0080), 0x0001u | 0x1000);  // workstation trust
  EXPECT_EQ(AccountFlags(0), 0x0001u);
}

TEST(SambaDirectory, TypeWordsOfEachRole) {
  const DWORD base = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;
  EXPECT_EQ(ComputerType(0x1000, false, "Windows 10 Pro"), base);
  EXPECT_EQ(ComputerType(0x1000, false, "Windows Server 2019 Standard"), base | SV_TYPE_SERVER_NT);
  EXPECT_EQ(ComputerType(0x82000, true, "Samba"), base | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL);
  EXPECT_EQ(ComputerType(0x82000, false, "Windows Server 2016"),
            base | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL);
  EXPECT_EQ(ComputerType(0x04001000, false, ""), base | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL);

  // A machine's own answer keeps its bits but takes the directory's role.
  const DWORD samba = base | SV_TYPE_SERVER_NT;  // a Samba controller's own word
  EXPECT_EQ(WithDirectoryRole(samba, base | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL),
            samba | SV_TYPE_DOMAIN_CTRL);
  EXPECT_EQ(WithDirectoryRole(samba | SV_TYPE_DOMAIN_CTRL, base | SV_TYPE_DOMAIN_BAKCTRL),
            samba | SV_TYPE_DOMAIN_BAKCTRL);
  EXPECT_EQ(WithDirectoryRole(base | 0x40000u, base), base | 0x40000u);

  DWORD major = 9, minor = 9;
  ParseOsVersion("10.0 (19045)", major, minor);
  EXPECT_EQ(major, 10u);
  EXPECT_EQ(minor, 0u);
  ParseOsVersion("6.3", major, minor);
  EXPECT_EQ(major, 6u);
  EXPECT_EQ(minor, 3u);
  ParseOsVersion("", major, minor);
  EXPECT_EQ(major, 0u);
  ParseOsVersion("99999999999999999999.5", major, minor);  // no overflow
  EXPECT_LE(major, 1000000u);

  // The Kerberos side of a directory logon.
  EXPECT_EQ(RealmFromDn("DC=qvxad,DC=test"), "QVXAD.TEST");
  EXPECT_EQ(RealmFromDn("OU=x, dc=Corp,dc=Example,DC=com"), "CORP.EXAMPLE.COM");
  EXPECT_EQ(RealmFromDn(""), "");
  EXPECT_EQ(KerberosPrincipal("QVXAD\\alice", "QVXAD.TEST"), "alice@QVXAD.TEST");
  EXPECT_EQ(KerberosPrincipal("alice@OTHER.TEST", "QVXAD.TEST"), "alice@OTHER.TEST");
  // Only an account of the directory's own domain is asked of its realm.
  EXPECT_TRUE(OfDirectoryDomain("Corp\\alice", "CORP", "EXAMPLE.COM"));
  EXPECT_TRUE(OfDirectoryDomain("example.com\\alice", "CORP", "EXAMPLE.COM"));
  EXPECT_TRUE(OfDirectoryDomain("alice", "CORP", "EXAMPLE.COM"));
  EXPECT_TRUE(OfDirectoryDomain("alice@PARTNER.TEST", "CORP", "EXAMPLE.COM"));
  EXPECT_FALSE(OfDirectoryDomain("EXAMPLE\\alice", "CORP", "EXAMPLE.COM"));
  EXPECT_FALSE(OfDirectoryDomain("PARTNER\\alice", "CORP", "EXAMPLE.COM"));
  EXPECT_FALSE(OfDirectoryDomain("\\alice", "CORP", "EXAMPLE.COM"));
  EXPECT_TRUE(OfDirectoryDomain("example\\alice", "", "EXAMPLE.COM"));  // no ping answer
  EXPECT_FALSE(OfDirectoryDomain("PARTNER\\alice", "", "EXAMPLE.COM"));

  AdListing l;
  l.netbiosDomain = u"QVXAD";
  l.dnsDomain = u"qvxad.test";
  EXPECT_TRUE(IsOwnDomain(l, u"qvxad"));
  EXPECT_TRUE(IsOwnDomain(l, u"QVXAD.TEST"));
  EXPECT_FALSE(IsOwnDomain(l, u"PARTNER"));
}

// A user's cache with initial tickets of two realms, a setting and a
// service ticket: a connection's cache takes all but the service ticket and
// is gone once destroyed; a cache without an initial ticket gives none.
// A controller's answer to an LDAP ping names its domain; a broken one names
// none, whatever it holds.
TEST(SambaDirectory, TheDomainAnLdapPingNames) {
  // As a Samba controller of QVXAD answered: forest, domain (a pointer back
  // to the forest's name), host, then the NetBIOS domain, ending at byte 51.
  std::vector<unsigned char> ping = {
      0x17, 0x00, 0x00, 0x00, 0xbd, 0x11, 0x00, 0x00, 0x8b, 0xf5, 0xb0, 0x6c, 0xf4, 0xc4,
      0x6e, 0x41, 0xb5, 0x78, 0xac, 0xd1, 0x9b, 0xd5, 0x5e, 0x70, 0x05, 0x71, 0x76, 0x78,
      0x61, 0x64, 0x04, 0x74, 0x65, 0x73, 0x74, 0x00, 0xc0, 0x18, 0x03, 0x64, 0x63, 0x31,
      0xc0, 0x18, 0x05, 0x51, 0x56, 0x58, 0x41, 0x44, 0x00, 0x03, 0x44, 0x43, 0x31, 0x00,
      0x00, 0x17, 0x44, 0x65, 0x66, 0x61, 0x75, 0x6c, 0x74, 0x2d, 0x46, 0x69, 0x72, 0x73,
      0x74, 0x2d, 0x53, 0x69, 0x74, 0x65, 0x2d, 0x4e, 0x61, 0x6d, 0x65, 0x00, 0xc0, 0x39,
      0x05, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff};
  EXPECT_EQ(NetbiosDomainFromPing(ping.data(), ping.size()), "QVXAD");
  EXPECT_EQ(NetbiosDomainFromPing(ping.data(), 51), "QVXAD");
  for (std::size_t n = 0; n < 51; ++n)
    EXPECT_EQ(NetbiosDomainFromPing(ping.data(), n), std::nullopt) << n;
  auto changed = [&ping](std::size_t at, std::vector<unsigned char> bytes) {
    std::vector<unsigned char> out = ping;
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    return NetbiosDomainFromPing(out.data(), out.size());
  };
  EXPECT_EQ(changed(0, {19}), std::nullopt);  // an answer of another kind
  // Pointers that go round: the domain's to itself, and a forest name whose
  // second label points back to its first, which leads to it again.
  EXPECT_EQ(changed(36, {0xc0, 0x24}), std::nullopt);
  EXPECT_EQ(changed(24, {0x01, 0x61, 0xc0, 0x18}), std::nullopt);
  EXPECT_EQ(changed(36, {0xc0, 0x2c}), std::nullopt);  // forward, to the NetBIOS name
  EXPECT_EQ(changed(36, {0xff, 0xff}), std::nullopt);  // beyond the answer
  EXPECT_EQ(changed(38, {0x43}), std::nullopt);        // a label type no answer uses
}

TEST(SambaKerberos, ConnectionCachesTakeOnlyInitialTickets) {
  krb5_context k = nullptr;
  ASSERT_EQ(krb5_init_context(&k), 0);
  char path[] = "/tmp/quorvix-test-ccache-XXXXXX";
  close(mkstemp(path));
  const std::string user = std::string("FILE:") + path;
  krb5_ccache cc = nullptr;
  krb5_principal alice = nullptr;
  ASSERT_EQ(krb5_cc_resolve(k, user.c_str(), &cc), 0);
  ASSERT_EQ(krb5_parse_name(k, "alice@QVXAD.TEST", &alice), 0);
  ASSERT_EQ(krb5_cc_initialize(k, cc, alice), 0);
  auto store = [&](const char* service) {
    krb5_creds c{};
    c.client = alice;
    krb5_parse_name(k, service, &c.server);
    char ticket[] = "ticket";
    c.ticket = {KV5M_DATA, 6, ticket};
    c.times.endtime = static_cast<krb5_timestamp>(time(nullptr) + 3600);
    EXPECT_EQ(krb5_cc_store_cred(k, cc, &c), 0);
    krb5_free_principal(k, c.server);
  };
  store("cifs/qvxfiles@QVXAD.TEST");
  EXPECT_EQ(CopyInitialTickets(user), "");  // no initial ticket
  store("krbtgt/QVXAD.TEST@QVXAD.TEST");
  store("krbtgt/PARTNER.TEST@QVXAD.TEST");
  krb5_data setting{KV5M_DATA, 1, const_cast<char*>("2")};
  ASSERT_EQ(krb5_cc_set_config(k, cc, nullptr, "pa_type", &setting), 0);

  const std::string own = CopyInitialTickets(user);
  ASSERT_EQ(own.rfind("FILE:", 0), 0u) << own;
  std::vector<std::string> services = ServicesIn(own);
  std::sort(services.begin(), services.end());
  ASSERT_EQ(services.size(), 3u);
  EXPECT_EQ(services[0].rfind("krb5_ccache_conf_data/pa_type", 0), 0u) << services[0];
  EXPECT_EQ(services[1], "krbtgt/PARTNER.TEST@QVXAD.TEST");
  EXPECT_EQ(services[2], "krbtgt/QVXAD.TEST@QVXAD.TEST");
  struct stat st {};
  ASSERT_EQ(stat(own.c_str() + 5, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  DestroyCache(own);
  EXPECT_NE(stat(own.c_str() + 5, &st), 0);
  EXPECT_EQ(ServicesIn(user).size(), 4u);  // the user's cache as it was

  // A copy still in use when the program ends by quick_exit (machines given
  // up still inside their calls) goes with it.
  int link[2];
  ASSERT_EQ(pipe(link), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string left = CopyInitialTickets(user);
    if (write(link[1], left.data(), left.size()) < 0) std::_Exit(2);
    std::quick_exit(0);
  }
  close(link[1]);
  char left[512];
  const ssize_t n = read(link[0], left, sizeof left);
  close(link[0]);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  ASSERT_GT(n, 5);
  EXPECT_EQ(std::string(left, 5), "FILE:");
  EXPECT_NE(stat(std::string(left + 5, static_cast<std::size_t>(n) - 5).c_str(), &st), 0);

  krb5_free_principal(k, alice);
  krb5_cc_destroy(k, cc);
  krb5_free_context(k);
}

// Of a name's several addresses, the one that takes connections is used,
// wherever it is listed; none that does gives "".
TEST(SambaProvider, TheAddressThatTakesConnectionsIsChosen) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.202", &at.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t len = sizeof at;
  getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len);
  const std::string port = std::to_string(ntohs(at.sin_port));
  const Deadline deadline(std::chrono::milliseconds(2000));
  EXPECT_EQ(FirstTakingConnection({"127.0.0.201", "127.0.0.202"}, port.c_str(), deadline),
            "127.0.0.202");
  EXPECT_EQ(FirstTakingConnection({"127.0.0.201", "127.0.0.203"}, port.c_str(), deadline), "");
  close(listener);
}

TEST(SambaProvider, FailsCleanlyWithNothingToTalkTo) {
  EXPECT_EQ(CheckWkssvcLayout(), NERR_Success);  // this system's library matches
  EXPECT_EQ(CheckSrvsvcLayout(), NERR_Success);
  EXPECT_EQ(CheckNetlogonLayout(), NERR_Success);

  SambaCredentials creds;
  creds.user = "NOWHERE\\nobody";
  creds.password = "not-a-real-password";
  SambaNetApi api(creds);
  // Nothing listens at this loopback address: the platform's "network path
  // not found", quickly, for each kind of call.
  const char16_t* nobody = u"127.0.0.99";
  LPBYTE buf = nullptr;
  DWORD read = 7, total = 7, resume = 0;
  EXPECT_EQ(api.NetWkstaUserEnum(nobody, 1, &buf, 256, &read, &total, &resume), ERROR_BAD_NETPATH);
  EXPECT_EQ(buf, nullptr);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(api.NetServerGetInfo(nobody, 101, &buf), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.NetUserGetInfo(u"\\\\127.0.0.99", u"nobody", 2, &buf), ERROR_BAD_NETPATH);
  SambaCredentials viaDc = creds;
  viaDc.dc = "127.0.0.99";
  SambaNetApi outside(viaDc);
  EXPECT_EQ(outside.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total,
                                  SV_TYPE_ALL, u"NOWHERE", nullptr),
            ERROR_BAD_NETPATH);

  // Bad arguments are refused before any network work.
  EXPECT_EQ(api.NetWkstaUserEnum(nobody, 1, nullptr, 256, &read, &total, &resume),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.NetWkstaUserEnum(nobody, 0, &buf, 256, &read, &total, &resume),
            ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetServerGetInfo(nobody, 102, &buf), ERROR_INVALID_LEVEL);
  EXPECT_EQ(api.NetLocalGroupAddMembers(nobody, u"G", 3, nullptr, 1), ERROR_INVALID_PARAMETER);

  // The local machine answers from its configuration even without Samba set up.
  ASSERT_EQ(api.NetWkstaGetInfo(nullptr, 100, &buf), NERR_Success);
  const auto* w = reinterpret_cast<const WKSTA_INFO_100*>(buf);
  EXPECT_NE(w->wki100_computername, nullptr);
  EXPECT_EQ(api.NetApiBufferFree(buf), NERR_Success);

  LPVOID scratch = nullptr;
  ASSERT_EQ(api.NetApiBufferAllocate(64, &scratch), NERR_Success);
  EXPECT_EQ(api.OutstandingBuffers(), 1u);
  EXPECT_EQ(api.NetApiBufferFree(scratch), NERR_Success);
  EXPECT_EQ(api.NetApiBufferFree(scratch), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(api.OutstandingBuffers(), 0u);
}

// Connections made side by side must not share the libraries' settings
// object; when the pool runs out they fall back on the one shared object,
// and the next filling makes enough for as many connections as were seen.
TEST(SambaProvider, EachConnectionHoldsSettingsOfItsOwn) {
  SambaCredentials creds;
  creds.user = "NOWHERE\\nobody";
  creds.password = "not-a-real-password";
  SambaNetApi api(creds);  // readies the libraries and the pool
  // More than the pool holds ahead: some must share.
  constexpr std::size_t kHolders = kMaxConnectionCalls + kKeptConnections + 40;
  auto hold = [] {
    std::vector<std::unique_ptr<ConnectionSettings>> held;
    std::multiset<const loadparm_context*> seen;
    for (std::size_t i = 0; i < kHolders; ++i) {
      held.push_back(std::make_unique<ConnectionSettings>());
      EXPECT_NE(held.back()->get(), nullptr);
      seen.insert(held.back()->get());
    }
    return seen;
  };
  const auto first = hold();
  const std::set<const loadparm_context*> distinct(first.begin(), first.end());
  ASSERT_GE(distinct.size(), 33u);  // the spare ones, and the shared object
  ASSERT_LT(distinct.size(), kHolders);
  // Every object but the shared one went to one connection only.
  std::size_t sharedHolders = 0;
  for (const loadparm_context* lp : distinct) {
    if (first.count(lp) > 1) {
      EXPECT_EQ(sharedHolders, 0u) << "two objects each held by several connections";
      sharedHolders = first.count(lp);
    }
  }
  EXPECT_EQ(sharedHolders, kHolders - distinct.size() + 1);

  {
    std::unique_lock state(LibraryStateLock());
    ReadyConnectionSettings();
  }
  const auto second = hold();
  EXPECT_EQ(std::set<const loadparm_context*>(second.begin(), second.end()).size(), kHolders);
}

TEST(SambaProviderOptions, NativeByDefaultAndNeverWaitingForAPassword) {
  ASSERT_TRUE(HasNativeProvider());
  ProviderOptions options;
  Provider native = MakeProvider(options);  // the Kerberos ticket cache; nothing asked
  ASSERT_NE(native.api, nullptr);
  EXPECT_FALSE(native.simulated);

  CLI::App app;
  AddProviderOptions(app, options);
  const std::string pwFile = ::testing::TempDir() + "quorvix-samba-pw";
  { std::ofstream(pwFile) << "s3cret-Word\r\nignored second line\n"; }
  app.parse(std::vector<std::string>{"--dc=dc1.example.test", "--password-file=" + pwFile,
                                     "--user=EXAMPLE\\auditor"});
  EXPECT_EQ(options.user, "EXAMPLE\\auditor");
  EXPECT_EQ(options.dc, "dc1.example.test");
  Provider fromFile = MakeProvider(options);
  EXPECT_FALSE(fromFile.simulated);

  // A user without a password source: the hook is asked; declining (or no
  // terminal, as under the test runner) is an error that names no password.
  ProviderOptions asked;
  asked.user = "EXAMPLE\\auditor";
  std::string askedFor;
  asked.askPassword = [&](const std::string& user) -> std::optional<std::string> {
    askedFor = user;
    return std::nullopt;
  };
  try {
    MakeProvider(asked);
    ADD_FAILURE() << "a declined password must not give a provider";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("EXAMPLE\\auditor"), std::string::npos);
  }
  EXPECT_EQ(askedFor, "EXAMPLE\\auditor");
  // An empty one is not tried: it would count towards the lockout.
  asked.askPassword = [](const std::string&) -> std::optional<std::string> { return ""; };
  try {
    MakeProvider(asked);
    ADD_FAILURE() << "an empty password must not give a provider";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("empty password"), std::string::npos) << e.what();
  }
  asked.askPassword = nullptr;  // the terminal: the test runner has none
  EXPECT_THROW(MakeProvider(asked), std::runtime_error);

  ProviderOptions fileOnly;
  fileOnly.passwordFile = pwFile;
  EXPECT_THROW(MakeProvider(fileOnly), std::runtime_error);  // a file needs --user
  ProviderOptions missing;
  missing.user = "EXAMPLE\\auditor";
  missing.passwordFile = pwFile + ".absent";
  try {
    MakeProvider(missing);
    ADD_FAILURE() << "an unreadable password file must be reported";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(".absent"), std::string::npos);
  }
  std::remove(pwFile.c_str());

  ProviderOptions simulated;
  simulated.simulate = true;
  EXPECT_TRUE(MakeProvider(simulated).simulated);  // simulation stays explicit
}

// A password file is a regular file with a first line; anything else is
// refused before a logon is tried (a wrong password counts towards lockout).
TEST(SambaProviderOptions, PasswordFilesAreCheckedBeforeAnyLogon) {
  const std::string dir = ::testing::TempDir() + "quorvix-pwdir-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string fifo = dir + "/fifo", empty = dir + "/empty", shared = dir + "/shared",
                    own = dir + "/own";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  { std::ofstream(empty) << "\n"; }
  { std::ofstream(shared) << "s3cret-Word\n"; }
  { std::ofstream(own) << "s3cret-Word\n"; }
  chmod(shared.c_str(), 0644);
  chmod(own.c_str(), 0600);

  auto refusal = [](const std::string& file) -> std::string {
    ProviderOptions o;
    o.user = "EXAMPLE\\auditor";
    o.passwordFile = file;
    try {
      MakeProvider(o);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return {};
  };
  for (const std::string& bad : {dir, fifo, empty, dir + "/absent"}) {
    const std::string why = refusal(bad);  // a FIFO with no writer must not block
    EXPECT_NE(why.find(bad), std::string::npos) << bad << ": " << why;
    EXPECT_EQ(why.find("s3cret"), std::string::npos);
  }

  ProviderOptions o;
  o.user = "EXAMPLE\\auditor";
  o.passwordFile = shared;
  const Provider readable = MakeProvider(o);
  EXPECT_NE(readable.note.find("read by others"), std::string::npos) << readable.note;
  o.passwordFile = own;
  EXPECT_TRUE(MakeProvider(o).note.empty());

  // Files as Windows editors and shells write them: the password is the
  // same; a NUL (UTF-16 without its mark) is refused.
  EXPECT_EQ(PasswordLine("\xEF\xBB\xBFs3cret-Word\r\n"), "s3cret-Word");
  EXPECT_EQ(PasswordLine(std::string("\xFF\xFEp\0\xE9\0\r\0\n\0x\0", 12)), "p\xC3\xA9");
  EXPECT_EQ(PasswordLine(std::string("\xFE\xFF\0p\x01\n\0\n", 8)), "p\xC4\x8A");
  EXPECT_THROW(PasswordLine(std::string("p\0w\0", 4)), std::runtime_error);
  EXPECT_THROW(PasswordLine("\xEF\xBB\xBF\n"), std::runtime_error);

  // Credentials with simulated data are a mistake in the command.
  ProviderOptions sim;
  sim.simulate = true;
  sim.user = "EXAMPLE\\auditor";
  EXPECT_THROW(MakeProvider(sim), std::runtime_error);
  sim.user.clear();
  sim.passwordFile = own;
  EXPECT_THROW(MakeProvider(sim), std::runtime_error);

  for (const std::string& f : {fifo, empty, shared, own}) std::remove(f.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quorvix::samba
