// The native provider against the platform's netapi32 (Windows, or Wine).
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: windows.h would bring in the old winsock.h
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DirectoryRules.h"
#include "LdapDirectory.h"
#include "MachineProbe.h"
#include "ProviderFactory.h"
#include "Win32NetApi.h"
#include "basMainWin32.h"
#include "basStringHandler.h"
#include "classNetAPI.h"

namespace quorvix {
namespace {

std::u16string LocalComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  ::DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return std::u16string(name, name + size);
}

TEST(Win32NetApi, LocalWorkstationAndServerAnswerWithTheMachinesName) {
  const std::u16string machine = LocalComputerName();
  ASSERT_FALSE(machine.empty());
  Win32NetApi api;

  // The empty name (a lone terminator) and the null name both mean this machine.
  for (LPCWSTR server : {NameArgument(u""), static_cast<LPCWSTR>(nullptr)}) {
    NetBuffer wksta(api);
    ASSERT_EQ(api.NetWkstaGetInfo(server, 100, wksta.out()), NERR_Success);
    ASSERT_TRUE(wksta);
    const auto& info = wksta.record<WKSTA_INFO_100>();
    EXPECT_EQ(fnPointerToString(info.wki100_computername), machine);
    EXPECT_FALSE(fnPointerToString(info.wki100_langroup).empty());
    EXPECT_EQ(info.wki100_platform_id, DWORD{500});  // PLATFORM_ID_NT
  }

  NetBuffer server(api);
  ASSERT_EQ(api.NetServerGetInfo(NameArgument(u""), 101, server.out()), NERR_Success);
  ASSERT_TRUE(server);
  const auto& info = server.record<SERVER_INFO_101>();
  EXPECT_EQ(fnPointerToString(info.sv101_name), machine);
  EXPECT_EQ(info.sv101_platform_id, DWORD{500});
  EXPECT_NE(info.sv101_type & SV_TYPE_NT, DWORD{0});
}

TEST(Win32NetApi, QueryClassReadsTheLocalMachineThroughNetApi32) {
  Win32NetApi api;
  classNetAPI query(api);
  std::u16string name = u"unchanged";
  ASSERT_EQ(query.fnGetLocalComputerName(name), 0);
  EXPECT_EQ(name, LocalComputerName());

  std::u16string domain;
  EXPECT_EQ(query.fnGetDomainName(domain), u"0");
  EXPECT_FALSE(domain.empty());

  std::u16string version;
  EXPECT_EQ(query.GetServerVersion(u"", version), u"0");
  EXPECT_EQ(version.rfind(u"V ", 0), 0u) << ToUtf8(version);

  // Whatever the network answers, a failed enumeration leaves the list as it was.
  std::vector<std::u16string> domains = {u"sentinel"};
  const int32_t status =
      query.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), domains, false);
  if (status != 0) {
    EXPECT_EQ(domains, std::vector<std::u16string>{u"sentinel"});
  } else {
    ASSERT_FALSE(domains.empty());
    EXPECT_EQ(domains[0], u"");
  }
}

TEST(Win32NetApi, UnknownLevelIsRefusedAndNothingIsHandedBack) {
  Win32NetApi api;
  LPBYTE buffer = nullptr;
  EXPECT_EQ(api.NetWkstaGetInfo(NameArgument(u""), 12345, &buffer), ERROR_INVALID_LEVEL);
  EXPECT_EQ(buffer, nullptr);
}

TEST(Win32NetApi, AllocatedBufferIsWritableAndReleasedOnce) {
  Win32NetApi api;
  LPVOID buffer = nullptr;
  ASSERT_EQ(api.NetApiBufferAllocate(64, &buffer), NERR_Success);
  ASSERT_NE(buffer, nullptr);
  std::memset(buffer, 0xAB, 64);
  EXPECT_EQ(static_cast<unsigned char*>(buffer)[63], 0xAB);
  EXPECT_EQ(api.NetApiBufferFree(buffer), NERR_Success);
}

// A loopback port that takes connections, refuses them (closed), or drops
// them (a listener whose queue is full).
class LoopbackPort {
 public:
  enum Kind { kTakes, kRefuses, kDrops };
  explicit LoopbackPort(Kind kind, const char* address = "127.0.0.1", std::uint16_t port = 0) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address, &sa.sin_addr);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int size = sizeof sa;
    ok_ = listener_ != INVALID_SOCKET &&
          bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
          getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &size) == 0;
    port_ = ntohs(sa.sin_port);
    if (ok_ && kind != kRefuses) ok_ = listen(listener_, kind == kDrops ? 0 : 16) == 0;
    if (ok_ && kind == kRefuses) closesocket(std::exchange(listener_, INVALID_SOCKET));
    for (int i = 0; ok_ && kind == kDrops && i < 3; ++i) {
      const SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      u_long nonblocking = 1;
      ioctlsocket(c, FIONBIO, &nonblocking);
      connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
      fill_.push_back(c);
    }
    if (kind == kDrops) Sleep(200);
  }
  ~LoopbackPort() {
    for (SOCKET c : fill_) closesocket(c);
    if (listener_ != INVALID_SOCKET) closesocket(listener_);
  }
  bool ok() const { return ok_; }
  std::uint16_t port() const { return port_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::vector<SOCKET> fill_;
  std::uint16_t port_ = 0;
  bool ok_ = false;
};

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A machine is on when a port takes the connection or refuses it, silent
// when none answers within the wait; a name without an address, or a probe
// that could try nothing, is left to the platform.
TEST(MachineProbe, AMachineIsOnWhenAPortAnswers) {
  LoopbackPort takes(LoopbackPort::kTakes), refuses(LoopbackPort::kRefuses),
      drops(LoopbackPort::kDrops);
  ASSERT_TRUE(takes.ok() && refuses.ok() && drops.ok());
  const auto wait = std::chrono::milliseconds(800);
  EXPECT_EQ(ProbeMachine(u"127.0.0.1", {drops.port(), takes.port()}, wait), MachineReach::Answers);
  EXPECT_EQ(ProbeMachine(u"127.0.0.1", {refuses.port()}, wait), MachineReach::Answers);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ProbeMachine(u"127.0.0.1", {drops.port()}, wait), MachineReach::Silent);
  EXPECT_GE(SecondsSince(t0), 0.7);
  EXPECT_EQ(ProbeMachine(u"no-such-machine.invalid", {445}, wait), MachineReach::NoAddress);
  EXPECT_EQ(ProbeMachine(u"", {445}, wait), MachineReach::Unknown);
  EXPECT_EQ(ProbeMachine(u"127.0.0.1", {}, wait), MachineReach::Unknown);  // nothing tried
}

// A machine that drops every attempt on its SMB ports (switched off behind
// a router) is "network path not found" after the probe's wait (5 s, or the
// host timeout when shorter), and at once when asked again; this machine is
// never probed.
TEST(Win32NetApi, SilentMachinesAreNotWaitedFor) {
  LoopbackPort smb(LoopbackPort::kDrops, "127.0.0.51", 445);
  LoopbackPort netbios(LoopbackPort::kDrops, "127.0.0.51", 139);
  if (!smb.ok() || !netbios.ok()) GTEST_SKIP() << "ports 445 and 139 cannot be taken here";
  ProviderOptions options;
  options.hostTimeout = std::chrono::milliseconds(1000);
  Provider provider = MakeProvider(options);
  NetApi& api = *provider.api;
  auto t0 = std::chrono::steady_clock::now();
  NetBuffer users(api);
  DWORD read = 7, total = 7;
  EXPECT_EQ(api.NetWkstaUserEnum(u"\\\\127.0.0.51", 1, users.out(), MAX_PREFERRED_LENGTH, &read,
                                 &total, nullptr),
            ERROR_BAD_NETPATH);
  EXPECT_FALSE(users);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(total, 0u);
  EXPECT_LT(SecondsSince(t0), 4.0);
  t0 = std::chrono::steady_clock::now();
  NetBuffer info(api), user(api);
  EXPECT_EQ(api.NetServerGetInfo(u"127.0.0.51", 101, info.out()), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.NetUserGetInfo(u"127.0.0.51", u"alice", 2, user.out()), ERROR_BAD_NETPATH);
  EXPECT_LT(SecondsSince(t0), 0.5);
  NetBuffer local(api);
  EXPECT_EQ(api.NetServerGetInfo(nullptr, 101, local.out()), NERR_Success);
}

// A machine that answered is not probed again for a while: a scan asks a
// machine, and a logon server, several times within seconds, and each probe
// takes ports of this computer.
TEST(Win32NetApi, AMachineThatAnsweredIsNotProbedAgainAtOnce) {
  SilentMachines machines(std::chrono::milliseconds(800));
  {
    LoopbackPort smb(LoopbackPort::kTakes, "127.0.0.52", 445);
    if (!smb.ok()) GTEST_SKIP() << "port 445 cannot be taken here";
    EXPECT_EQ(machines.Probe(u"127.0.0.52"), MachineReach::Answers);
  }
  // Now it would be silent; the answer of a moment ago stands.
  LoopbackPort smb(LoopbackPort::kDrops, "127.0.0.52", 445);
  LoopbackPort netbios(LoopbackPort::kDrops, "127.0.0.52", 139);
  ASSERT_TRUE(smb.ok() && netbios.ok());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(machines.Probe(u"127.0.0.52"), MachineReach::Answers);
  EXPECT_LT(SecondsSince(t0), 0.5);
}

// The machines of a scan are probed ahead of it, and Probe gives their
// verdicts when the scan comes to them without a probe of its own. Ending
// the look-ahead ends its thread at once, even with a machine still waited
// for, which is then left without a verdict.
TEST(MachineProbe, TheLookAheadAnswersForTheScanAndEndsAtOnce) {
  SilentMachines machines(std::chrono::seconds(30));
  // Unreachable (a group address: the network takes no connection there);
  // refused (nothing listens there); no address.
  machines.LookAhead({u"224.0.0.1", u"\\\\127.0.0.61", u"no-such-machine.invalid", u""});
  machines.WaitForLookAhead();
  EXPECT_EQ(machines.Probe(u"224.0.0.1"), MachineReach::Silent);
  EXPECT_EQ(machines.Probe(u"127.0.0.61"), MachineReach::Answers);
  EXPECT_EQ(machines.Probe(u"NO-SUCH-MACHINE.invalid"), MachineReach::NoAddress);
  EXPECT_EQ(machines.ProbesMade(), 0u);

  {
    LoopbackPort smb(LoopbackPort::kDrops, "127.0.0.62", 445);
    LoopbackPort netbios(LoopbackPort::kDrops, "127.0.0.62", 139);
    if (!smb.ok() || !netbios.ok()) GTEST_SKIP() << "ports 445 and 139 cannot be taken here";
    machines.LookAhead({u"127.0.0.62"});
    machines.WaitForLookAhead();  // its ports are being tried, for 30 s
    EXPECT_TRUE(machines.LookingAhead());
    machines.LookAhead({});
    EXPECT_FALSE(machines.LookingAhead());
  }
  // Its ports refuse now: no verdict was kept, and this probe is the first.
  EXPECT_EQ(machines.Probe(u"127.0.0.62"), MachineReach::Answers);
  EXPECT_EQ(machines.ProbesMade(), 1u);
}

// Machines the scan has not come to are probed again while their verdict
// holds, by the name they were probed by (here the third one's other name):
// a scan slower than the look-ahead still finds a recent verdict there, and
// a machine switched on meanwhile is no longer taken for off.
TEST(MachineProbe, TheLookAheadProbesAgainWhatTheScanHasNotComeTo) {
  std::optional<LoopbackPort> smb, netbios;
  smb.emplace(LoopbackPort::kDrops, "127.0.0.64", 445);
  netbios.emplace(LoopbackPort::kDrops, "127.0.0.64", 139);
  LoopbackPort offSmb(LoopbackPort::kDrops, "127.0.0.65", 445);
  LoopbackPort offNetbios(LoopbackPort::kDrops, "127.0.0.65", 139);
  LoopbackPort otherSmb(LoopbackPort::kDrops, "127.0.0.66", 445);
  LoopbackPort otherNetbios(LoopbackPort::kDrops, "127.0.0.66", 139);
  if (!smb->ok() || !netbios->ok() || !offSmb.ok() || !offNetbios.ok() || !otherSmb.ok() ||
      !otherNetbios.ok())
    GTEST_SKIP() << "ports 445 and 139 cannot be taken here";

  // Verdicts are kept 8 s, and made again after 4 s.
  SilentMachines machines(
      std::chrono::milliseconds(300),
      [](const std::u16string& host) {
        return host == u"no-such-machine-3.invalid" ? std::u16string(u"127.0.0.66")
                                                    : std::u16string();
      },
      std::chrono::seconds(8));
  const auto t0 = std::chrono::steady_clock::now();
  auto sleepUntil = [&](double seconds) {
    const double left = seconds - SecondsSince(t0);
    if (left > 0) Sleep(static_cast<::DWORD>(left * 1000));
  };
  machines.LookAhead({u"127.0.0.64", u"127.0.0.65", u"no-such-machine-3.invalid"});
  sleepUntil(2);  // all are found silent
  // Asked as a logon server: not where the scan has come.
  EXPECT_EQ(machines.Probe(u"127.0.0.65"), MachineReach::Silent);
  smb.emplace(LoopbackPort::kTakes, "127.0.0.64", 445);
  netbios.emplace(LoopbackPort::kTakes, "127.0.0.64", 139);
  ASSERT_TRUE(smb->ok() && netbios->ok());
  sleepUntil(6);  // its first verdict still holds; the second says it answers
  EXPECT_EQ(machines.Probe(u"127.0.0.64"), MachineReach::Answers);
  sleepUntil(10);  // the other's first verdict is over; a second one holds
  EXPECT_EQ(machines.Probe(u"127.0.0.65"), MachineReach::Silent);
  EXPECT_EQ(machines.Probe(u"127.0.0.66"), MachineReach::Silent);
  EXPECT_EQ(machines.ProbesMade(), 0u);
}

TEST(Win32Provider, NetApi32IsTheDefaultAndSimulationIsAskedFor) {
  EXPECT_TRUE(HasNativeProvider());
  ProviderOptions options;
  Provider native = MakeProvider(options);
  EXPECT_FALSE(native.simulated);
  EXPECT_NE(dynamic_cast<Win32NetApi*>(native.api.get()), nullptr);

  options.simulate = true;
  Provider simulated = MakeProvider(options);
  EXPECT_TRUE(simulated.simulated);
  EXPECT_EQ(dynamic_cast<Win32NetApi*>(simulated.api.get()), nullptr);
  NetBuffer wksta(*simulated.api);
  ASSERT_EQ(simulated.api->NetWkstaGetInfo(nullptr, 100, wksta.out()), NERR_Success);
  EXPECT_NE(fnPointerToString(wksta.record<WKSTA_INFO_100>().wki100_computername),
            LocalComputerName());
}

// A directory that answers from a fixed listing, or fails with a status.
class FixedDirectory : public DirectoryReader {
 public:
  NET_API_STATUS status = NERR_Success;
  std::string remoteDns;  // when set, a third machine, REMOTE01, with this DNS name
  mutable int reads = 0;
  NET_API_STATUS Read(const std::u16string&, DirectoryListing& out) const override {
    ++reads;
    if (status != NERR_Success) return status;
    ComputerObject wks;
    wks.sAMAccountName = "WKS01$";
    wks.userAccountControl = "4096";
    ComputerObject dc;
    dc.sAMAccountName = "DC1$";
    dc.userAccountControl = "532480";
    dc.holdsPdcRole = true;
    out.netbiosDomain = u"QVXAD";
    out.computers = {*MachineFromComputer(wks), *MachineFromComputer(dc)};
    if (!remoteDns.empty()) {
      ComputerObject remote;
      remote.sAMAccountName = "REMOTE01$";
      remote.userAccountControl = "4096";
      remote.dNSHostName = remoteDns;
      out.computers.push_back(*MachineFromComputer(remote));
    }
    out.domains = DomainList(u"QVXAD", {}, {u"PARTNER"});
    return NERR_Success;
  }
};

// Wine's NetServerEnum is a stub answering 6118, the status of a network
// without browsers: the provider's fallback is what runs here.
TEST(Win32Directory, MachinesAndDomainsComeFromTheDirectoryWhenNoBrowserAnswers) {
  auto owned = std::make_unique<FixedDirectory>();
  FixedDirectory& directory = *owned;
  Win32NetApi api(std::move(owned));
  classNetAPI query(api);
  std::vector<std::u16string> names;
  ASSERT_EQ(query.fnNetServerEnum(u"QVXAD", -1, names, false), 0);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"WKS01", u"DC1"}));
  ASSERT_EQ(query.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), names, false), 0);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"QVXAD", u"PARTNER"}));
  EXPECT_EQ(directory.reads, 2);

  // The records sit in a netapi32 buffer with the type words of the roles.
  NetBuffer buf(api);
  DWORD read = 0, total = 0;
  ASSERT_EQ(api.NetServerEnum(nullptr, 101, buf.out(), MAX_PREFERRED_LENGTH, &read, &total,
                              SV_TYPE_DOMAIN_CTRL, NameArgument(u"qvxad"), nullptr),
            NERR_Success);
  ASSERT_EQ(read, 1u);
  EXPECT_EQ(fnPointerToString(buf.record<SERVER_INFO_101>().sv101_name), u"DC1");
  EXPECT_EQ(buf.record<SERVER_INFO_101>().sv101_type & SV_TYPE_DOMAIN_CTRL, SV_TYPE_DOMAIN_CTRL);

  // No directory: the browser's status stands; a failing one speaks for itself.
  names = {u"sentinel"};
  directory.status = ERROR_NO_SUCH_DOMAIN;
  EXPECT_EQ(query.fnNetServerEnum(u"QVXAD", -1, names, false), 6118);
  directory.status = ERROR_LOGON_FAILURE;
  EXPECT_EQ(query.fnNetServerEnum(u"QVXAD", -1, names, false), ERROR_LOGON_FAILURE);
  EXPECT_EQ(names, std::vector<std::u16string>{u"sentinel"});

  Win32NetApi without(nullptr);
  classNetAPI plain(without);
  EXPECT_EQ(plain.fnNetServerEnum(u"QVXAD", -1, names, false), 6118);
}

// A listed name without an address is probed ahead by the name that
// reaches its machine, and the scan, which probes the machine by that name,
// finds its verdict there without a probe of its own; the name without an
// address stays so.
TEST(MachineProbe, TheLookAheadProbesTheNameThatReachesAMachineWithoutAddress) {
  SilentMachines machines(std::chrono::seconds(30), [](const std::u16string& host) {
    if (host == u"no-such-machine-1.invalid") return std::u16string(u"224.0.0.1");
    if (host == u"No-Such-Machine-2.invalid") return std::u16string(u"127.0.0.63");
    return std::u16string();
  });
  // Unreachable; refused.
  machines.LookAhead({u"no-such-machine-1.invalid", u"\\\\No-Such-Machine-2.invalid"});
  machines.WaitForLookAhead();
  EXPECT_EQ(machines.Probe(u"no-such-machine-1.invalid"), MachineReach::NoAddress);
  EXPECT_EQ(machines.Probe(u"224.0.0.1"), MachineReach::Silent);
  EXPECT_EQ(machines.Probe(u"NO-SUCH-MACHINE-2.invalid"), MachineReach::NoAddress);
  EXPECT_EQ(machines.Probe(u"127.0.0.63"), MachineReach::Answers);
  EXPECT_EQ(machines.ProbesMade(), 0u);
}

// A machine whose name has no address here is reached by the DNS name the
// directory gave for it; here that address drops every attempt on its SMB
// ports, so the probe finds the machine silent (by its name alone, Wine's
// netapi32 finds no such machine).
TEST(Win32Directory, MachinesWithoutAnAddressAreReachedByTheirDnsNames) {
  LoopbackPort smb(LoopbackPort::kDrops, "127.0.0.52", 445);
  LoopbackPort netbios(LoopbackPort::kDrops, "127.0.0.52", 139);
  if (!smb.ok() || !netbios.ok()) GTEST_SKIP() << "ports 445 and 139 cannot be taken here";
  auto directory = std::make_unique<FixedDirectory>();
  directory->remoteDns = "127.0.0.52";
  Win32NetApi api(std::move(directory), std::chrono::milliseconds(500));
  classNetAPI query(api);
  std::vector<std::u16string> names;
  ASSERT_EQ(query.fnNetServerEnum(u"QVXAD", -1, names, false), 0);
  NetBuffer info(api), user(api);
  EXPECT_EQ(api.NetServerGetInfo(u"\\\\remote01", 101, info.out()), ERROR_BAD_NETPATH);
  EXPECT_EQ(api.NetUserGetInfo(u"REMOTE01", u"alice", 2, user.out()), ERROR_BAD_NETPATH);
  // This machine is never looked up in the directory's names.
  NetBuffer local(api);
  EXPECT_EQ(api.NetServerGetInfo(nullptr, 101, local.out()), NERR_Success);
}

TEST(Win32Directory, ReaderFailsCleanlyWhereNoDirectoryAnswers) {
  DirectoryListing listing;
  listing.netbiosDomain = u"untouched";
  // Nothing listens for LDAP on 127.0.0.1 here.
  DirectoryLogon named;
  named.user = u"nobody";
  named.userDomain = u"NOWHERE";
  named.password = u"x";
  named.dc = u"\\\\127.0.0.1";
  named.timeout = std::chrono::seconds(5);
  EXPECT_NE(LdapDirectoryReader(named).Read(u"NOWHERE", listing), NERR_Success);
  // The user's own logon: under Wine its bind would crash the library, so
  // the reader declines there; on Windows the bind fails.
  DirectoryLogon own;
  own.dc = u"127.0.0.1";
  own.timeout = std::chrono::seconds(5);
  EXPECT_NE(LdapDirectoryReader(own).Read(u"", listing), NERR_Success);
  // A controller name that is no host name is refused before any connection.
  named.dc = u"dc1/evil";
  EXPECT_EQ(LdapDirectoryReader(named).Read(u"NOWHERE", listing), ERROR_NO_SUCH_DOMAIN);
  EXPECT_EQ(listing.netbiosDomain, u"untouched");
}

TEST(Win32Provider, DirectoryAccountNeedsDomainNameAndPassword) {
  // Throws, with a message naming what is wrong.
  auto fails = [](const ProviderOptions& o, const std::string& named) {
    try {
      MakeProvider(o);
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
      return;
    }
    ADD_FAILURE() << "no error for " << o.user;
  };
  ProviderOptions o;
  o.user = "QVXAD\\auditor";
  fails(o, "--password-file");  // no way to get the password
  o.user = "auditor";
  o.askPassword = [](const std::string&) { return std::optional<std::string>("pw"); };
  fails(o, "DOMAIN\\NAME");
  o.user.clear();
  o.passwordFile = "pw.txt";
  fails(o, "--user");

  o.passwordFile.clear();
  o.user = "QVXAD\\auditor";
  std::string asked;
  o.askPassword = [&asked](const std::string& user) {
    asked = user;
    return std::optional<std::string>("pw");
  };
  Provider p = MakeProvider(o);
  EXPECT_NE(dynamic_cast<Win32NetApi*>(p.api.get()), nullptr);
  EXPECT_EQ(asked, "QVXAD\\auditor");

  // A password file whose name the ANSI code page cannot spell is read.
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
  CreateDirectoryW(temp, nullptr);  // a fresh Wine prefix may not have it yet
  const std::u16string name = reinterpret_cast<const char16_t*>(temp) +
                              std::u16string(u"\u03ba\u03c9\u03b4\u03b9\u03ba\u03cc\u5bc6.txt");
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << ToUtf8(name) << ": error " << GetLastError();
  ::DWORD written = 0;
  WriteFile(file, "pw\r\n", 4, &written, nullptr);
  CloseHandle(file);
  o.askPassword = nullptr;
  o.passwordFile = ToUtf8(name);
  EXPECT_NO_THROW(MakeProvider(o));
  DeleteFileW(reinterpret_cast<const wchar_t*>(name.c_str()));
  fails(o, "is not a readable regular file");
}

TEST(Win32ErrorText, MessagesComeWithoutPaddingAndUnknownCodesAreEmpty) {
  const std::u16string denied = GetNetErrorTextWin32(5);
  ASSERT_FALSE(denied.empty());
  EXPECT_NE(denied.back(), u' ');
  EXPECT_NE(denied.back(), u'\n');
  EXPECT_EQ(denied.find(u'\0'), std::u16string::npos);
  EXPECT_LT(denied.size(), 256u);

  // No table holds these codes: the text is empty, not 256 spaces.
  EXPECT_EQ(GetNetErrorTextWin32(0x3FFF0000), u"");
  EXPECT_EQ(GetNetErrorTextWin32(-1), u"");

  // Network codes fall back to the system's table where netmsg.dll has no
  // message, and a code is looked up afresh on every call.
  EXPECT_EQ(GetNetErrorTextWin32(2221), GetNetErrorTextWin32(2221));
  EXPECT_EQ(GetNetErrorTextWin32(5), denied);
}

TEST(Win32ErrorText, MessagesWithInsertsAreFilledWithoutValues) {
  // The system's text for 193 names the program in an insert (%1); it is
  // filled from the zeroed insert values (a null string), never from beyond them.
  const std::u16string text = GetNetErrorTextWin32(193);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find(u"%1"), std::u16string::npos) << ToUtf8(text);
  for (int32_t code : {34, 129, 1168, 2100, 2999}) (void)GetNetErrorTextWin32(code);
}

}  // namespace
}  // namespace quorvix
