// The Samba provider against real servers that scripts/test-samba starts on
// loopback: a standalone file server and an Active Directory domain
// controller. Without them (QUORVIX_SAMBA_STANDALONE / QUORVIX_SAMBA_DC unset)
// every test is skipped.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "AdDirectory.h"
#include "KerberosCaches.h"
#include "KerberosLogon.h"
#include "LookAhead.h"
#include "SambaLibs.h"
#include "SambaNetApi.h"
#include "SamrClient.h"
#include "basMain.h"
#include "basNetAPI.h"
#include "basStringHandler.h"
#include "classNetAPI.h"

namespace quorvix::samba {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

struct LiveServers {
  std::string standalone = Env("QUORVIX_SAMBA_STANDALONE");
  std::string dc = Env("QUORVIX_SAMBA_DC");
  std::string domain = Env("QUORVIX_SAMBA_DOMAIN");
  std::string adminPassword = Env("QUORVIX_SAMBA_ADMIN_PASSWORD");
  std::string userPassword = Env("QUORVIX_SAMBA_USER_PASSWORD");
};

class LiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (s.standalone.empty() || s.dc.empty())
      GTEST_SKIP() << "no live Samba servers (run scripts/test-samba)";
  }
  SambaCredentials Admin(const std::string& domain,
                         std::chrono::milliseconds hostTimeout = {}) const {
    SambaCredentials c;
    c.user = domain + "\\administrator";
    c.password = s.adminPassword;
    c.dc = s.dc;
    c.hostTimeout = hostTimeout;
    return c;
  }
  // Every buffer the provider handed out was released, once.
  static void ExpectAllReleased(const SambaNetApi& api) { EXPECT_EQ(api.OutstandingBuffers(), 0u); }

  LiveServers s;
  std::u16string Standalone() const { return FromUtf8(s.standalone); }
  std::u16string Dc() const { return FromUtf8(s.dc); }
};

const LoggedOnUser* Find(const std::vector<LoggedOnUser>& users, const std::u16string& name) {
  for (std::size_t i = 1; i < users.size(); ++i)
    if (users[i].UserName == name) return &users[i];
  return nullptr;
}

TEST_F(LiveTest, LoggedOnUsersOfTheFileServerInBatches) {
  SambaNetApi api(Admin("QVXFILES"));
  std::vector<LoggedOnUser> users;
  ASSERT_EQ(fnNetWkstaUserEnum(api, Standalone(), users), 0);
  ASSERT_GE(users.size(), 4u);  // slot 0 and at least bob, dave, alice
  EXPECT_TRUE(users[0].UserName.empty());
  const LoggedOnUser* bob = Find(users, u"bob");
  ASSERT_NE(bob, nullptr);  // a console logon (utmp)
  EXPECT_EQ(bob->LogonDomain, u"QVXFILES");
  EXPECT_EQ(bob->LogonServer, u"QVXFILES");
  ASSERT_NE(Find(users, u"dave"), nullptr);
  const LoggedOnUser* alice = Find(users, u"alice");
  ASSERT_NE(alice, nullptr);  // a network session
  EXPECT_EQ(alice->LogonDomain, u"QVXAD");
  EXPECT_EQ(alice->LogonServer, u"DC1");

  // Small batches: 234 while more follow, totals counting from the resume
  // position, and together exactly the whole list.
  std::vector<std::u16string> seen;
  DWORD resume = 0;
  int batches = 0;
  NET_API_STATUS st;
  do {
    NetBuffer buf(api);
    DWORD read = 0, total = 0;
    const DWORD before = resume;
    st = api.NetWkstaUserEnum(Standalone().c_str(), 1, buf.out(), 80, &read, &total, &resume);
    ASSERT_TRUE(st == NERR_Success || st == ERROR_MORE_DATA) << st;
    ASSERT_GE(read, 1u);
    EXPECT_EQ(total, users.size() - 1 - before);
    for (DWORD i = 0; i < read; ++i)
      seen.push_back(fnPointerToString(buf.record<WKSTA_USER_INFO_1>(i).wkui1_username));
    if (st == ERROR_MORE_DATA) {
      EXPECT_EQ(resume, before + read);
    }
    ++batches;
  } while (st == ERROR_MORE_DATA && batches < 50);
  EXPECT_EQ(st, NERR_Success);
  EXPECT_EQ(resume, 0u);
  EXPECT_GT(batches, 1);
  ASSERT_EQ(seen.size(), users.size() - 1);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], users[i + 1].UserName);
  ExpectAllReleased(api);
}

TEST_F(LiveTest, RefusedCallersGetThePlatformsStatuses) {
  SambaCredentials user;
  user.user = "QVXFILES\\qvxuser";
  user.password = s.userPassword;
  SambaNetApi plain(user);
  std::vector<LoggedOnUser> users = {LoggedOnUser{}, LoggedOnUser{u"x", u"", u"", u""}};
  EXPECT_EQ(fnNetWkstaUserEnum(plain, Standalone(), users), 5);  // not an administrator
  EXPECT_EQ(users.size(), 2u);                                   // untouched on failure
  EXPECT_FALSE(GetNetErrorText(5).empty());

  SambaCredentials wrong = user;
  wrong.password = "not-the-password";
  SambaNetApi refused(wrong);
  EXPECT_EQ(fnNetWkstaUserEnum(refused, Standalone(), users), 1326);
  EXPECT_FALSE(GetNetErrorText(1326).empty());
  LPBYTE buf = nullptr;
  EXPECT_EQ(refused.NetServerGetInfo(Standalone().c_str(), 101, &buf), 1326u);
  ExpectAllReleased(plain);
  ExpectAllReleased(refused);
}

TEST_F(LiveTest, ServerFactsAndLocalGroupMembership) {
  SambaNetApi api(Admin("QVXFILES"));
  classNetAPI net(api);
  std::u16string comment, type;
  EXPECT_EQ(net.GetServerComment(Standalone(), comment), 0);
  EXPECT_NE(comment.find(u"Samba"), std::u16string::npos);
  EXPECT_EQ(net.GetServerType(Standalone(), type), 0);
  EXPECT_FALSE(type.empty());

  // The account is looked up and added; the second time it is a member.
  const std::string account = Env("QUORVIX_SAMBA_NEW_MEMBER");
  if (account.empty()) GTEST_SKIP() << "no account to add";
  // Another domain's account cannot be looked up on the server: refused,
  // rather than the server's own account of that name added in its place.
  std::u16string other = u"QVXAD\\" + FromUtf8(account);
  LOCALGROUP_MEMBERS_INFO_3 elsewhere{other.data()};
  EXPECT_EQ(api.NetLocalGroupAddMembers(Standalone().c_str(), u"Operators", 3,
                                        reinterpret_cast<LPBYTE>(&elsewhere), 1),
            ERROR_NOT_SUPPORTED);
  std::u16string name = u"QVXFILES\\" + FromUtf8(account);
  LOCALGROUP_MEMBERS_INFO_3 carol{name.data()};
  EXPECT_EQ(api.NetLocalGroupAddMembers(Standalone().c_str(), u"Operators", 3,
                                        reinterpret_cast<LPBYTE>(&carol), 1),
            NERR_Success);
  EXPECT_EQ(api.NetLocalGroupAddMembers(Standalone().c_str(), u"Operators", 3,
                                        reinterpret_cast<LPBYTE>(&carol), 1),
            ERROR_MEMBER_IN_ALIAS);
  LOCALGROUP_MEMBERS_INFO_3 nobody{const_cast<LPWSTR>(u"qvxfiles\\nobody-here")};
  EXPECT_EQ(api.NetLocalGroupAddMembers(Standalone().c_str(), u"Operators", 3,
                                        reinterpret_cast<LPBYTE>(&nobody), 1),
            ERROR_NO_SUCH_MEMBER);
  ExpectAllReleased(api);
}

std::vector<std::u16string> Names(const std::vector<std::u16string>& slots) {
  return {slots.begin() + (slots.empty() ? 0 : 1), slots.end()};
}

bool Has(const std::vector<std::u16string>& v, const std::u16string& x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

TEST_F(LiveTest, DomainsMachinesAndRolesFromTheDirectory) {
  SambaNetApi api(Admin("QVXAD"));
  classNetAPI net(api);
  std::vector<std::u16string> domains;
  ASSERT_EQ(net.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), domains, false), 0);
  EXPECT_TRUE(Has(Names(domains), u"QVXAD"));
  EXPECT_TRUE(Has(Names(domains), u"PARTNER"));  // the trusted domain

  // Every enabled computer with its type word; the disabled one is absent.
  NetBuffer buf(api);
  DWORD read = 0, total = 0;
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, buf.out(), MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_ALL, u"QVXAD", nullptr),
            NERR_Success);
  EXPECT_EQ(read, total);
  std::vector<std::pair<std::u16string, DWORD>> machines;
  for (DWORD i = 0; i < read; ++i) {
    const auto& r = buf.record<SERVER_INFO_101>(i);
    machines.emplace_back(r.sv101_name, r.sv101_type);
  }
  auto typeOf = [&](const std::u16string& n) -> DWORD {
    for (const auto& [name, type] : machines)
      if (name == n) return type;
    ADD_FAILURE() << ToUtf8(n) << " not listed";
    return 0;
  };
  EXPECT_NE(typeOf(u"DC1") & SV_TYPE_DOMAIN_CTRL, 0u);  // holds the primary role
  EXPECT_NE(typeOf(u"BDC01") & SV_TYPE_DOMAIN_BAKCTRL, 0u);
  EXPECT_NE(typeOf(u"RODC01") & SV_TYPE_DOMAIN_BAKCTRL, 0u);
  EXPECT_NE(typeOf(u"SRV01") & SV_TYPE_SERVER_NT, 0u);
  EXPECT_EQ(typeOf(u"WKS01") & (SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL), 0u);
  for (const auto& m : machines) EXPECT_NE(m.first, u"OLDWKS");

  // The controller's own answer carries no controller bit; the directory's
  // role stands.
  std::u16string role;
  ASSERT_EQ(net.GetServerType(u"DC1", role), 0);
  EXPECT_EQ(role, u"PDC");

  std::vector<std::u16string> dcs;
  ASSERT_EQ(net.fnNetServerEnum(u"QVXAD", static_cast<int32_t>(SV_TYPE_DOMAIN_CTRL), dcs, false),
            0);
  EXPECT_EQ(Names(dcs), std::vector<std::u16string>{u"DC1"});  // the type filter holds

  // A short preferred length: the first machines, 234, and the total.
  NetBuffer part(api);
  DWORD partRead = 0, partTotal = 0;
  EXPECT_EQ(api.NetServerEnum(nullptr, 101, part.out(), 100, &partRead, &partTotal, SV_TYPE_ALL,
                              u"QVXAD", nullptr),
            ERROR_MORE_DATA);
  EXPECT_GE(partRead, 1u);
  EXPECT_LT(partRead, read);
  EXPECT_EQ(partTotal, read);

  // Another domain's machines are not in this directory.
  std::vector<std::u16string> none;
  EXPECT_EQ(net.fnNetServerEnum(u"PARTNER", static_cast<int32_t>(SV_TYPE_ALL), none, false),
            static_cast<int32_t>(ERROR_NO_BROWSER_SERVERS_FOUND));
  buf.reset();
  part.reset();
  ExpectAllReleased(api);
}

// Lists the domain's machines from its directory, as a scan does first: the
// DNS names the provider reaches machines by come from that listing.
int32_t ReadListing(classNetAPI& net) {
  std::vector<std::u16string> machines;
  return net.fnNetServerEnum(u"QVXAD", static_cast<int32_t>(SV_TYPE_ALL), machines, false);
}

// Whether name resolves here.
bool HasAddress(const char* name) {
  addrinfo* found = nullptr;
  const int looked = getaddrinfo(name, nullptr, nullptr, &found);
  if (found != nullptr) freeaddrinfo(found);
  return looked == 0;
}

// A machine whose NetBIOS name has no address (the DNS search list of a
// computer outside the domain need not hold the domain's) is asked by the DNS
// name the directory gives for it; so is a controller of another domain of
// the forest (a user's logon server), which the sites list. The domain's own
// machine keeps its DNS name where a controller has its name.
TEST_F(LiveTest, MachinesAreReachedByTheirDirectoryDnsNames) {
  for (const char* name : {"filesdns", "childdc"}) ASSERT_FALSE(HasAddress(name)) << name;
  SambaNetApi api(Admin("QVXAD"));
  classNetAPI net(api);
  ASSERT_EQ(ReadListing(net), 0);
  std::vector<LoggedOnUser> users;
  ASSERT_EQ(fnNetWkstaUserEnum(api, u"FILESDNS", users), 0);
  EXPECT_NE(Find(users, u"bob"), nullptr);
  std::u16string role;
  EXPECT_EQ(net.GetServerType(u"FILESDNS", role), 0);
  EXPECT_EQ(net.GetServerType(u"ChildDC", role), 0);
  // The controllers the sites list are known for such, with their DNS
  // names; the machines are not.
  EXPECT_EQ(api.ControllerDnsName(u"\\\\ChildDC"), u"qvxfiles.qvxad.test");
  EXPECT_EQ(api.ControllerDnsName(u"WKS01"), u"");
  ExpectAllReleased(api);
}

// A system file with text added for one test, as it was again afterwards
// (scripts/test-samba restores it too, should the test end abruptly).
class FileChange {
 public:
  FileChange(std::string path, const std::string& added, bool replace = false)
      : path_(std::move(path)) {
    std::ifstream in(path_);
    saved_.assign(std::istreambuf_iterator<char>(in), {});
    std::ofstream(path_, replace ? std::ios::trunc : std::ios::app) << added;
  }
  ~FileChange() { std::ofstream(path_, std::ios::trunc) << saved_; }
  FileChange(const FileChange&) = delete;
  FileChange& operator=(const FileChange&) = delete;

 private:
  std::string path_;
  std::string saved_;
};

// A name found without an address is not looked up again for a minute: the
// calls that follow go to its DNS name at once. Shown by giving the name an
// address where nothing listens after the first call, which a second lookup
// would take.
TEST_F(LiveTest, ANameWithoutAnAddressIsLookedUpOnce) {
  ASSERT_FALSE(HasAddress("filesdns"));
  SambaNetApi api(Admin("QVXAD"));
  classNetAPI net(api);
  ASSERT_EQ(ReadListing(net), 0);
  std::u16string role;
  ASSERT_EQ(net.GetServerType(u"FILESDNS", role), 0);
  const FileChange hosts("/etc/hosts", "127.0.0.99 filesdns\n");
  ASSERT_TRUE(HasAddress("filesdns"));
  std::vector<LoggedOnUser> users;
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"FILESDNS", users), 0);
  EXPECT_NE(Find(users, u"bob"), nullptr);
  ExpectAllReleased(api);
}

// A name server that takes queries and answers none holds each lookup for
// its timeouts (here twice five seconds): the call still ends at the host
// timeout.
TEST_F(LiveTest, ALookupTheNameServerDoesNotAnswerEndsAtTheHostTimeout) {
  const int server = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(server, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  inet_pton(AF_INET, "127.0.0.1", &at.sin_addr);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << std::strerror(errno);
  {
    const FileChange resolver("/etc/resolv.conf",
                              "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n", true);
    SambaNetApi api(Admin("QVXAD", std::chrono::milliseconds(500)));
    std::vector<LoggedOnUser> users;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"NOWHERE", users), 53);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    ExpectAllReleased(api);
  }
  close(server);
}

// A user's logon server in a trusted domain outside the forest, which the
// directory lists nowhere, is asked under the trusted domain's DNS name.
TEST_F(LiveTest, TrustedDomainsServersAreReachedUnderTheirDomainsDnsName) {
  ASSERT_FALSE(HasAddress("ptnrdc"));
  SambaNetApi api(Admin("QVXAD"));
  classNetAPI net(api);
  ASSERT_EQ(ReadListing(net), 0);
  std::u16string role;
  EXPECT_EQ(net.GetServerType(u"PtnrDC", role), 0);
  ExpectAllReleased(api);
}

// The processes of the domain controller's file server that serve a
// connection each: the children of its first process that bear its name.
std::vector<pid_t> ControllerConnectionServers() {
  struct Process {
    pid_t parent = 0;
    std::string name, line;
  };
  std::map<pid_t, Process> all;
  if (DIR* d = opendir("/proc")) {
    while (const dirent* e = readdir(d)) {
      const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), {});
      const auto open = text.find('('), close = text.rfind(')');
      if (open == std::string::npos || close == std::string::npos) continue;
      Process p;
      p.name = text.substr(open + 1, close - open - 1);
      p.parent = static_cast<pid_t>(std::atoi(text.c_str() + close + 4));  // after ") S "
      std::ifstream cmd("/proc/" + std::to_string(pid) + "/cmdline");
      p.line.assign(std::istreambuf_iterator<char>(cmd), {});
      all[pid] = p;
    }
    closedir(d);
  }
  std::vector<pid_t> out;
  for (const auto& [pid, p] : all) {
    const auto parent = all.find(p.parent);
    if (p.name == "smbd" && parent != all.end() && parent->second.name == "smbd" &&
        parent->second.line.find("/dc/etc/smb.conf") != std::string::npos)
      out.push_back(pid);
  }
  return out;
}

// A kept connection to a logon server that stops answering (a firewall
// dropped it, the laptop changed networks) costs half the host timeout: a
// fresh one is made in the rest, and the server is not taken for silent.
TEST_F(LiveTest, AKeptConnectionThatStopsAnsweringIsReplaced) {
  ForgetAccountServers();
  SambaNetApi api(Admin("QVXAD", std::chrono::milliseconds(4000)));
  classNetAPI net(api);
  uint32_t seconds = 0;
  ASSERT_EQ(net.GetLastLogon(u"DC1", u"administrator", seconds), 0);
  const std::vector<pid_t> servers = ControllerConnectionServers();
  ASSERT_FALSE(servers.empty());
  for (pid_t pid : servers) kill(pid, SIGSTOP);
  const auto started = std::chrono::steady_clock::now();
  // Meanwhile another lookup of that server does not queue behind this one:
  // it is asked over another connection.
  auto other = std::async(std::launch::async, [&net] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = std::chrono::steady_clock::now();
    uint32_t last = 0;
    EXPECT_EQ(net.GetLastLogon(u"DC1", u"alice", last), 0);
    return std::chrono::steady_clock::now() - asked;
  });
  const int32_t status = net.GetLastLogon(u"DC1", u"administrator", seconds);
  const auto took = std::chrono::steady_clock::now() - started;
  const auto otherTook = other.get();
  for (pid_t pid : servers) kill(pid, SIGCONT);
  EXPECT_EQ(status, 0);
  EXPECT_GE(took, std::chrono::milliseconds(1900));  // the kept one had its half
  EXPECT_LT(otherTook, std::chrono::milliseconds(1500));
  EXPECT_EQ(net.GetLastLogon(u"DC1", u"administrator", seconds), 0);
  ExpectAllReleased(api);
}

// Open file descriptors of this process.
int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// Directories that hold the reader up: each is given up in time and
// leaves no connection open.
TEST_F(LiveTest, SlowAndSilentDirectoriesAreGivenUpInTime) {
  const std::string slow = Env("QUORVIX_SAMBA_SLOW_DIRECTORY");
  const std::string mute = Env("QUORVIX_SAMBA_MUTE_DIRECTORY");
  const std::string ldaps = Env("QUORVIX_SAMBA_SILENT_LDAPS");
  if (slow.empty() && mute.empty() && ldaps.empty()) GTEST_SKIP() << "no hostile directory";
  SambaCredentials creds = Admin("QVXAD");
  creds.ldapCa = Env("QUORVIX_SAMBA_HOSTILE_CA");
  TicketCache tickets;
  AdListing listing;
  const int open = OpenDescriptors();

  // One that takes its time over every page and always has a next one: the
  // reading ends at its time limit, as a listing cut short, not after the
  // thousands of pages the page limit allows.
  if (!slow.empty()) {
    DirectoryLogon logon{creds, tickets, {}, kMaxDirectoryLogonTime, std::chrono::seconds(3)};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadDirectory(slow, logon, listing), ERROR_BAD_NET_RESP) << logon.refusal;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }

  // One that accepts StartTLS and then says nothing, and one that refuses
  // StartTLS and takes LDAPS connections without a word: libldap's handshake
  // has no bound of its own, the logon's time limit ends it. The reader
  // waits meanwhile, rather than retrying the handshake all the while.
  for (const std::string& host : {mute, ldaps}) {
    if (host.empty()) continue;
    SCOPED_TRACE(host);
    DirectoryLogon quiet{creds, tickets, {}, std::chrono::seconds(2)};
    const auto asked = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    EXPECT_EQ(ReadDirectory(host, quiet, listing), ERROR_BAD_NETPATH) << quiet.refusal;
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(20));
    EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC);
  }
  // A CA file that cannot be read: no TLS with other settings instead (the
  // process's shared ones may check nothing), and no password sent.
  if (!mute.empty()) {
    SambaCredentials unread = creds;
    unread.ldapCa = ::testing::TempDir() + "no-such-ca.pem";
    DirectoryLogon logon{unread, tickets, {}, std::chrono::seconds(2)};
    EXPECT_EQ(ReadDirectory(mute, logon, listing), ERROR_NOT_SUPPORTED);
    EXPECT_NE(logon.refusal.find("the file named by --ldap-ca"), std::string::npos)
        << logon.refusal;
  }
  EXPECT_EQ(OpenDescriptors(), open);
}

// A directory that answers a read of its root entry (which has one entry)
// with a thousand entries of half a megabyte is not held whole: before the
// reader looks at an answer libldap gathered all of it.
TEST_F(LiveTest, AFloodingDirectoryIsNotHeldInMemory) {
  const std::string flood = Env("QUORVIX_SAMBA_FLOOD_DIRECTORY");
  if (flood.empty()) GTEST_SKIP() << "no flooding directory";
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  TicketCache tickets;
  AdListing listing;
  DirectoryLogon logon{Admin("QVXAD"), tickets, {}};
  EXPECT_EQ(ReadDirectory(flood, logon, listing), ERROR_BAD_NETPATH);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024);  // kilobytes
}

TEST_F(LiveTest, GroupsAndAGroupsComment) {
  SambaNetApi api(Admin("QVXFILES"));
  classNetAPI net(api);
  std::vector<std::u16string> groups;
  ASSERT_EQ(net.fnGlobalGroupEnum(Standalone(), u"", groups), 0);
  EXPECT_TRUE(Has(Names(groups), u"Auditors"));
  std::vector<std::u16string> hers;
  ASSERT_EQ(net.fnGlobalGroupEnum(Standalone(), u"alice", hers), 0);
  EXPECT_TRUE(Has(Names(hers), u"Auditors"));
  EXPECT_EQ(net.GetGlobalGroupDescription(u"Auditors", Standalone()), u"People who read the logs");
  EXPECT_EQ(net.GetGlobalGroupDescription(u"No Such Group", Standalone()), u"");

  // Short batches of the group list: 234 until the last one, every group once.
  std::vector<std::u16string> seen;
  DWORD_PTR resume = 0;
  NET_API_STATUS st;
  int rounds = 0;
  do {
    NetBuffer buf(api);
    DWORD read = 0, total = 0;
    st = api.NetGroupEnum(Standalone().c_str(), 0, buf.out(), 20, &read, &total, &resume);
    ASSERT_TRUE(st == NERR_Success || st == ERROR_MORE_DATA) << st;
    for (DWORD i = 0; i < read; ++i) seen.push_back(buf.record<GROUP_INFO_0>(i).grpi0_name);
  } while (st == ERROR_MORE_DATA && ++rounds < 100);
  EXPECT_EQ(seen, Names(groups));
  ExpectAllReleased(api);
}

// Needs SMB sessions on the domain controller. Where the controller's file
// service is not running (the loopback setup runs only its directory and
// Kerberos), the test says so and skips.
TEST_F(LiveTest, ControllerNameAndLastLogonAfterKerberosLogon) {
  SambaNetApi api(Admin("QVXAD"));
  NetBuffer probe(api);
  const NET_API_STATUS reach = api.NetServerGetInfo(Dc().c_str(), 101, probe.out());
  if (reach != NERR_Success)
    GTEST_SKIP() << "no SMB session on the controller (status " << reach << ")";
  classNetAPI net(api);
  std::u16string pdc;
  ASSERT_EQ(net.fnGetPDCName(u"", u"QVXAD", pdc), 0);
  EXPECT_EQ(pdc, u"\\\\DC1");
  // The controller's locator gives the primary controller's DNS name; a
  // domain it does not know, none.
  std::u16string located;
  EXPECT_EQ(api.PrimaryControllerDnsName(pdc, u"QVXAD", located), NERR_Success);
  EXPECT_EQ(located, u"dc1.qvxad.test");
  EXPECT_NE(api.PrimaryControllerDnsName(pdc, u"NOSUCHDOMAIN", located), NERR_Success);
  // Asked of the file server first, the controller must still answer with
  // its own account database.
  uint32_t local = 0;
  EXPECT_EQ(net.GetLastLogon(Standalone(), u"alice", local), 0);
  uint32_t last = 0;
  ASSERT_EQ(net.GetLastLogon(pdc, u"alice", last), 0);
  EXPECT_GT(last, 1700000000u);  // alice logged on by Kerberos before the tests
}

// With a password, the machines are asked by Kerberos with the ticket that
// the password's logon got when the directory was read: no new logon at
// each machine, and no NTLM where the domain refuses it.
TEST_F(LiveTest, PasswordLogonAsksMachinesWithItsOwnTicket) {
  const std::string log = Env("QUORVIX_SAMBA_FILES_LOG");  // the file server's
  if (log.empty()) GTEST_SKIP() << "no log of the file server";
  SambaNetApi api(Admin("QVXAD"));
  classNetAPI net(api);
  ASSERT_EQ(ReadListing(net), 0);
  std::ifstream in(log);
  in.seekg(0, std::ios::end);
  {
    NetBuffer info(api);
    ASSERT_EQ(api.NetServerGetInfo(Standalone().c_str(), 101, info.out()), NERR_Success);
  }
  usleep(200000);  // the server has written its lines
  in.clear();
  const std::string logged{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(logged.find("[SMB2,krb5] user [QVXAD]\\[administrator]"), std::string::npos) << logged;
  EXPECT_EQ(logged.find("NTLM"), std::string::npos) << logged;
  ExpectAllReleased(api);
}

// The ticket a password got is got again, in the same cache, when it is
// about to end: a program left open past a ticket's lifetime would otherwise
// be refused by the directory as if the password were wrong.
TEST_F(LiveTest, APasswordsTicketIsGotAgainBeforeItEnds) {
  const std::string config = Env("KRB5_CONFIG");
  if (config.empty()) GTEST_SKIP() << "no Kerberos configuration of the live domain";
  std::ifstream in(config);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  const std::string section = "[libdefaults]\n";
  const auto at = text.find(section);
  ASSERT_NE(at, std::string::npos);
  text.insert(at + section.size(), "  ticket_lifetime = 4m\n");  // within the renewal margin
  const std::string shortLived = ::testing::TempDir() + "krb5-short-tickets.conf";
  std::ofstream(shortLived) << text;
  setenv("KRB5_CONFIG", shortLived.c_str(), 1);
  const SambaCredentials creds = Admin("QVXAD");
  const std::string host = s.dc + ".qvxad.test";
  TicketCache tickets;
  AdListing listing;
  DirectoryLogon first{creds, tickets, {}};
  EXPECT_EQ(ReadDirectory(host, first, listing), NERR_Success) << first.refusal;
  const std::string name = tickets.Name();
  const krb5_timestamp ends = InitialTicketEnd(name);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  DirectoryLogon second{creds, tickets, {}};
  EXPECT_EQ(ReadDirectory(host, second, listing), NERR_Success) << second.refusal;
  setenv("KRB5_CONFIG", config.c_str(), 1);
  std::remove(shortLived.c_str());
  EXPECT_EQ(tickets.Name(), name);
  EXPECT_GT(ends, 0);
  EXPECT_GT(InitialTicketEnd(name), ends);
}

// A password is tried on the directory's realm only for an account of the
// directory's domain, named by either of its names in any case. Another
// domain's account would be taken for the account of the same name here,
// whose lockout a wrong password counts towards.
TEST_F(LiveTest, APasswordIsTriedOnlyForItsOwnDomainsAccount) {
  const std::string host = s.dc + ".qvxad.test";
  for (const char* domain : {"qvxad", "QVXAD.TEST", "PARTNER"}) {
    TicketCache tickets;
    AdListing listing;
    DirectoryLogon logon{Admin(domain), tickets, {}};
    const NET_API_STATUS status = ReadDirectory(host, logon, listing);
    if (std::string(domain) != "PARTNER") {
      EXPECT_EQ(status, NERR_Success) << domain << ": " << logon.refusal;
      continue;
    }
    // No ticket, and over TLS (which this controller does not offer with a
    // certificate the system trusts) the account would bind as itself.
    EXPECT_EQ(status, ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(tickets.Empty());
    EXPECT_NE(logon.refusal.find("(PARTNER) is not the directory's (QVXAD)"), std::string::npos)
        << logon.refusal;
  }
}

// The default logon: no user named, the Kerberos ticket cache (KRB5CCNAME).
TEST_F(LiveTest, TicketCacheLogonReadsTheDirectory) {
  if (Env("QUORVIX_SAMBA_TICKET").empty()) GTEST_SKIP() << "no ticket for the live domain";
  SambaCredentials ticket;
  ticket.dc = s.dc + ".qvxad.test";  // Kerberos names the service by its full name
  SambaNetApi api(ticket);
  classNetAPI net(api);
  std::vector<std::u16string> domains;
  ASSERT_EQ(net.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), domains, false), 0);
  EXPECT_TRUE(Has(Names(domains), u"QVXAD"));
  std::vector<std::u16string> machines;
  ASSERT_EQ(net.fnNetServerEnum(u"QVXAD", static_cast<int32_t>(SV_TYPE_ALL), machines, false), 0);
  EXPECT_TRUE(Has(Names(machines), u"DC1"));
  // The file server takes the ticket too: its logged-on users, by Kerberos.
  std::vector<LoggedOnUser> users;
  ASSERT_EQ(fnNetWkstaUserEnum(api, Standalone(), users), 0);
  EXPECT_NE(Find(users, u"bob"), nullptr);
  {
    NetBuffer info(api), user(api);
    EXPECT_EQ(api.NetServerGetInfo(Standalone().c_str(), 101, info.out()), NERR_Success);
    EXPECT_EQ(api.NetUserGetInfo(FromUtf8(ticket.dc).c_str(), u"alice", 2, user.out()),
              NERR_Success);
  }
  // The machines' tickets end with their connections: a scan of thousands of
  // machines would otherwise leave thousands in the user's cache, each read
  // again by every later lookup there.
  for (const std::string& service : ServicesIn(UserDefaultCache()))
    EXPECT_NE(service.rfind("cifs/", 0), 0u) << service;
  ExpectAllReleased(api);

  // Named by its address, the controller is not asked, and the refusal
  // gives the name Kerberos knows it by (the failed bind read as a refused
  // logon, 1326).
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  ASSERT_EQ(getaddrinfo(ticket.dc.c_str(), nullptr, &hints, &found), 0);
  char address[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, address,
            sizeof address);
  freeaddrinfo(found);
  TicketCache tickets;
  AdListing listing;
  DirectoryLogon logon{ticket, tickets, {}};
  EXPECT_EQ(ReadDirectory(address, logon, listing), ERROR_NOT_SUPPORTED);
  EXPECT_NE(logon.refusal.find("(--dc " + ticket.dc + ")"), std::string::npos) << logon.refusal;
}

TEST_F(LiveTest, CallsFromSeveralThreadsAndContextRenewal) {
  SambaNetApi api(Admin("QVXFILES"));
  std::atomic<int> failures{0};
  std::atomic<NET_API_STATUS> lastFailure{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        NetBuffer buf(api);
        NET_API_STATUS st = (t % 2 == 0)
                                ? api.NetServerGetInfo(Standalone().c_str(), 101, buf.out())
                                : api.NetUserGetInfo(Standalone().c_str(), u"alice", 2, buf.out());
        if (st != NERR_Success) {
          ++failures;
          lastFailure = st;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0) << "last failure: status " << lastFailure.load();

  // Past the number of libnetapi calls after which its context is renewed,
  // with account-database calls (on their kept connection) in between.
  for (unsigned i = 0; i < SambaNetApi::kCallsPerContext + 10; ++i) {
    NetBuffer buf(api);
    ASSERT_EQ(api.NetServerGetInfo(Standalone().c_str(), 101, buf.out()), NERR_Success) << i;
    if (i % 100 == 0) {
      NetBuffer user(api);
      ASSERT_EQ(api.NetUserGetInfo(Standalone().c_str(), u"alice", 2, user.out()), NERR_Success);
    }
  }
  ExpectAllReleased(api);
}

// A loopback address whose SMB ports take connections and never answer
// (the kernel completes the handshake; nobody accepts or reads), or, with
// dropping set, whose accept queues are full so that connection attempts get
// no answer at all, as behind a firewall that drops them.
class DeadMachine {
 public:
  DeadMachine(const char* address, bool dropping) {
    for (int port : {445, 139}) {
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET, address, &sa.sin_addr);
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      ok_ = ok_ && bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            listen(fd, dropping ? 0 : 64) == 0;
      fds_.push_back(fd);
      // A backlog of 0 holds one connection: with it taken, SYNs are dropped.
      for (int i = 0; dropping && i < 2; ++i) {
        const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fds_.push_back(c);
      }
    }
    if (dropping) usleep(200000);
  }
  ~DeadMachine() {
    for (int fd : fds_) close(fd);
  }
  bool ok() const { return ok_; }
  const std::vector<int>& fds() const { return fds_; }

 private:
  std::vector<int> fds_;
  bool ok_ = true;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Each kind of machine that cannot be asked ends within the host timeout
// with "no answer"; once it gave none, the calls that go through libnetapi
// (which cannot bound its waits) answer at once.
TEST_F(LiveTest, DeadMachinesCostNoMoreThanTheHostTimeout) {
  DeadMachine silent("127.0.0.31", false);
  DeadMachine dropping("127.0.0.32", true);
  ASSERT_TRUE(silent.ok() && dropping.ok());
  SambaNetApi api(Admin("QVXFILES", std::chrono::milliseconds(1500)));
  for (const std::u16string host : {u"127.0.0.31", u"127.0.0.32", u"127.0.0.33"}) {
    std::vector<LoggedOnUser> users;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(fnNetWkstaUserEnum(api, host, users), ERROR_BAD_NETPATH) << ToUtf8(host);
    EXPECT_LT(Seconds(t0), 1.5 + 2.0) << ToUtf8(host);
    t0 = std::chrono::steady_clock::now();
    NetBuffer buf(api);
    EXPECT_EQ(api.NetServerGetInfo(host.c_str(), 101, buf.out()), ERROR_BAD_NETPATH);
    EXPECT_LT(Seconds(t0), 1.0) << ToUtf8(host);
  }
  // The primary controller's name, asked of a controller that never answers.
  DeadMachine mute("127.0.0.35", false);
  ASSERT_TRUE(mute.ok());
  const auto asked = std::chrono::steady_clock::now();
  NetBuffer dc(api);
  EXPECT_EQ(api.NetGetDCName(u"127.0.0.35", u"QVXAD", dc.out()), ERROR_BAD_NETPATH);
  EXPECT_LT(Seconds(asked), 1.5 + 1.0);
  ExpectAllReleased(api);
}

// A scan of thousands of machines opens and ends thousands of connections:
// none may stay open, whether the machine answered, refused, never answered
// (given up at its deadline) or dropped the attempt, and nothing may pile up
// under the settings the connections are made with. The account database's
// kept connection is made by the first round.
TEST_F(LiveTest, ConnectionsAreClosedWhateverTheMachineDid) {
  DeadMachine silent("127.0.0.36", false);
  DeadMachine dropping("127.0.0.37", true);
  ASSERT_TRUE(silent.ok() && dropping.ok());
  SambaNetApi api(Admin("QVXAD", std::chrono::milliseconds(300)));
  classNetAPI net(api);
  auto round = [&] {
    std::vector<std::u16string> machines;
    EXPECT_EQ(net.fnNetServerEnum(u"QVXAD", static_cast<int32_t>(SV_TYPE_ALL), machines, false), 0);
    std::vector<LoggedOnUser> users;
    EXPECT_EQ(fnNetWkstaUserEnum(api, Standalone(), users), 0);
    EXPECT_EQ(fnNetWkstaUserEnum(api, u"FILESDNS", users), 0);
    EXPECT_EQ(fnNetWkstaUserEnum(api, Dc(), users), ERROR_NOT_SUPPORTED);
    for (const std::u16string host : {u"127.0.0.36", u"127.0.0.37", u"127.0.0.33"})
      EXPECT_EQ(fnNetWkstaUserEnum(api, host, users), ERROR_BAD_NETPATH) << ToUtf8(host);
    NetBuffer info(api), user(api), dc(api);
    EXPECT_EQ(api.NetServerGetInfo(Standalone().c_str(), 101, info.out()), NERR_Success);
    EXPECT_EQ(api.NetUserGetInfo(Dc().c_str(), u"alice", 2, user.out()), NERR_Success);
    EXPECT_EQ(api.NetGetDCName(Dc().c_str(), u"QVXAD", dc.out()), NERR_Success);
  };
  round();
  const int before = OpenDescriptors();
  const std::size_t settingsBefore = PooledSettingsBytes();
  for (int i = 0; i < 5; ++i) round();
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(PooledSettingsBytes(), settingsBefore);
  ExpectAllReleased(api);
}

// Calls to different machines overlap: a healthy machine answers while
// another thread still waits on a silent one.
TEST_F(LiveTest, AHealthyMachineAnswersWhileAnotherWaitsOnASilentOne) {
  DeadMachine silent("127.0.0.34", false);
  ASSERT_TRUE(silent.ok());
  SambaNetApi api(Admin("QVXFILES", std::chrono::milliseconds(6000)));
  std::atomic<bool> waitingDone{false};
  std::atomic<NET_API_STATUS> waitingStatus{0};
  const auto asked = std::chrono::steady_clock::now();
  std::thread waiting([&] {
    std::vector<LoggedOnUser> users;
    waitingStatus = static_cast<NET_API_STATUS>(fnNetWkstaUserEnum(api, u"127.0.0.34", users));
    waitingDone = true;
  });
  usleep(300000);  // the other thread is connected and waiting by now
  std::vector<LoggedOnUser> users;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(fnNetWkstaUserEnum(api, Standalone(), users), 0);
  EXPECT_NE(Find(users, u"bob"), nullptr);
  EXPECT_LT(Seconds(t0), 3.0);
  EXPECT_FALSE(waitingDone.load());  // answered well before the silent one gave up
  waiting.join();
  EXPECT_EQ(waitingStatus.load(), ERROR_BAD_NETPATH);
  // It took the connection: it may be slow, not off, and has its whole time.
  EXPECT_GT(Seconds(asked), 5.5);
  ExpectAllReleased(api);
}

// As many calls as the provider serves at once, besides the account
// databases' kept connections, each hold a connection of their own to
// machines that never answer: every one of them gets settings of its own,
// none shares another's (which the libraries cannot take from two threads).
TEST_F(LiveTest, AsManyConnectionsAsServedAtOnceEachHaveTheirOwnSettings) {
  DeadMachine silent("127.0.0.39", false);
  ASSERT_TRUE(silent.ok());
  SambaNetApi api(Admin("QVXAD", std::chrono::milliseconds(2000)));
  const std::size_t sharedBefore = SharedSettingsTaken();
  std::vector<std::thread> threads;
  std::atomic<int> unanswered{0};
  for (std::size_t t = 0; t < api.MaxConcurrentCalls() + kKeptConnections; ++t)
    threads.emplace_back([&] {
      std::vector<LoggedOnUser> users;
      if (fnNetWkstaUserEnum(api, u"127.0.0.39", users) == ERROR_BAD_NETPATH) ++unanswered;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(unanswered.load(), static_cast<int>(threads.size()));
  EXPECT_EQ(SharedSettingsTaken(), sharedBefore);
  ExpectAllReleased(api);
}

// A machine that takes no connection at all (switched off behind a router,
// or a firewall that drops the attempts) is given up after a few seconds,
// not at the end of a long host timeout.
TEST_F(LiveTest, MachinesThatTakeNoConnectionAreGivenUpEarly) {
  DeadMachine dropping("127.0.0.38", true);
  ASSERT_TRUE(dropping.ok());
  SambaNetApi api(Admin("QVXFILES", std::chrono::milliseconds(12000)));
  std::vector<LoggedOnUser> users;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"127.0.0.38", users), ERROR_BAD_NETPATH);
  EXPECT_LT(Seconds(t0), 9.0);
  EXPECT_GT(Seconds(t0), 4.5);  // it had time to take the connection
  ExpectAllReleased(api);
}

// A machine that the look ahead found taking no connection is answered "no
// answer" when its turn comes, without a connection: here it has begun to
// take them since, and to reset them, which a connection reports otherwise.
TEST_F(LiveTest, MachinesFoundUnreachableAheadAreNotConnectedTo) {
  SambaCredentials creds = Admin("QVXFILES", std::chrono::milliseconds(12000));
  creds.lookAhead = std::make_shared<LookAhead>();
  SambaNetApi api(creds);
  {
    DeadMachine dropping("127.0.0.40", true);
    ASSERT_TRUE(dropping.ok());
    api.LookAhead({u"127.0.0.40"});
    for (int i = 0; i < 300 && !creds.lookAhead->Over(); ++i) usleep(100000);
    ASSERT_TRUE(creds.lookAhead->FoundUnreachable("127.0.0.40"));
  }
  DeadMachine resetting("127.0.0.40", false);
  ASSERT_TRUE(resetting.ok());
  std::atomic<bool> stop{false};
  for (int fd : resetting.fds()) fcntl(fd, F_SETFL, O_NONBLOCK);
  std::thread resetter([&] {
    while (!stop) {
      for (int fd : resetting.fds()) {
        const int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
        if (c < 0) continue;
        const linger now{1, 0};
        setsockopt(c, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        close(c);
      }
      usleep(10000);
    }
  });
  std::vector<LoggedOnUser> users;
  EXPECT_EQ(fnNetWkstaUserEnum(api, u"127.0.0.40", users), ERROR_BAD_NETPATH);
  api.LookAhead({});  // the scan is over: the machine is asked again
  const auto asked = fnNetWkstaUserEnum(api, u"127.0.0.40", users);
  EXPECT_NE(asked, ERROR_BAD_NETPATH);
  EXPECT_NE(asked, 0);
  stop = true;
  resetter.join();
  ExpectAllReleased(api);
}

}  // namespace
}  // namespace quorvix::samba
