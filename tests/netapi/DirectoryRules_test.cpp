// The directory's stand-in for the browse list: when it is asked, what its
// computer objects and trusts become, and the answer the query class reads.
#include "DirectoryRules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "QueryTestSupport.h"
#include "basStringHandler.h"
#include "classNetAPI.h"
#include "simulated/SimTestDomain.h"

namespace quorvix {
namespace {

constexpr DWORD kBase = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;

TEST(DirectoryRules, OnlyAMissingBrowserSendsTheCallToTheDirectory) {
  for (NET_API_STATUS s : {6118, 2114, 2138}) {
    EXPECT_TRUE(NoBrowserAnswered(s, true)) << s;
    EXPECT_TRUE(NoBrowserAnswered(s, false)) << s;
  }
  // 53 means the named domain's browser was not found; without a domain it
  // is this machine's own trouble.
  EXPECT_TRUE(NoBrowserAnswered(53, true));
  EXPECT_FALSE(NoBrowserAnswered(53, false));
  for (NET_API_STATUS s : {0, 5, 234, 1326, 1722, 2102, 2453})
    EXPECT_FALSE(NoBrowserAnswered(s, true)) << s;

  // A domain without a directory keeps the browser's status; any other
  // failure of the directory is what the user needs to see.
  EXPECT_EQ(StatusAfterDirectory(6118, ERROR_NO_SUCH_DOMAIN), 6118);
  EXPECT_EQ(StatusAfterDirectory(53, ERROR_NO_SUCH_DOMAIN), 53);
  EXPECT_EQ(StatusAfterDirectory(6118, ERROR_LOGON_FAILURE), ERROR_LOGON_FAILURE);
}

ComputerObject Computer(std::string sam, std::string uac, std::string os = "", bool pdc = false) {
  ComputerObject c;
  c.sAMAccountName = std::move(sam);
  c.userAccountControl = std::move(uac);
  c.operatingSystem = std::move(os);
  c.holdsPdcRole = pdc;
  return c;
}

TEST(DirectoryRules, ComputerObjectsBecomeTypedMachines) {
  struct Case {
    ComputerObject object;
    std::u16string name;
    DWORD type;
  };
  const Case cases[] = {
      {Computer("WKS01$", "4096", "Windows 10 Pro"), u"WKS01", kBase},
      {Computer("SRV01$", "4096", "Windows Server 2019 Standard"), u"SRV01",
       kBase | SV_TYPE_SERVER_NT},
      {Computer("FILES$", "4096", "Samba"), u"FILES", kBase | SV_TYPE_SERVER_NT},
      {Computer("DC1$", "532480", "Windows Server 2022", true), u"DC1",
       kBase | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL},
      {Computer("BDC01$", "532480", "Windows Server 2016"), u"BDC01",
       kBase | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL},
      // A read-only controller is a backup, whatever its system says.
      {Computer("RODC01$", "67112960"), u"RODC01",
       kBase | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL},
      // The directory writes flags as a signed number: bit 31 and the
      // controller bit still count.
      {Computer("NEG$", "-2147475456"), u"NEG", kBase | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_BAKCTRL},
      // Flags that are no number count as none.
      {Computer("ODD$", "12x"), u"ODD", kBase},
      {Computer("BIG$", "99999999999999999999"), u"BIG", kBase},
  };
  for (const Case& c : cases) {
    const std::optional<DirectoryMachine> m = MachineFromComputer(c.object);
    ASSERT_TRUE(m) << c.object.sAMAccountName;
    EXPECT_EQ(m->name, c.name);
    EXPECT_EQ(m->type, c.type) << c.object.sAMAccountName;
  }

  // Disabled accounts, and objects without a usable name, are left out.
  EXPECT_FALSE(MachineFromComputer(Computer("OLD$", "4098")));
  EXPECT_FALSE(MachineFromComputer(Computer("", "4096")));
  EXPECT_FALSE(MachineFromComputer(Computer("$", "4096")));
  EXPECT_FALSE(MachineFromComputer(Computer(std::string(100000, 'A'), "4096")));

  // The loser of a name collision, renamed "$DUPLICATE-<hex>", keeps the
  // real machine's DNS name: it is left out, the real machine is not.
  ComputerObject duplicate = Computer("$DUPLICATE-1f4$", "4096");
  duplicate.dNSHostName = "wks01.corp.example";
  EXPECT_FALSE(MachineFromComputer(duplicate));
  duplicate.sAMAccountName = "$duplicate-1F4";
  EXPECT_FALSE(MachineFromComputer(duplicate));
  duplicate.sAMAccountName = "WKS01$";
  EXPECT_TRUE(MachineFromComputer(duplicate));

  // Without an account name the DNS name's first label stands in.
  ComputerObject dnsOnly = Computer("", "4096");
  dnsOnly.dNSHostName = "wks02.corp.example";
  dnsOnly.operatingSystemVersion = "10.0 (19045)";
  dnsOnly.description = std::string("front desk\0hidden", 17);
  const std::optional<DirectoryMachine> m = MachineFromComputer(dnsOnly);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->name, u"wks02");
  EXPECT_EQ(m->versionMajor, 10u);
  EXPECT_EQ(m->versionMinor, 0u);
  EXPECT_EQ(m->comment, u"front desk");
  EXPECT_EQ(m->dnsHostName, "wks02.corp.example");

  // The DNS name is kept only when it is one: it is looked up and handed to
  // Kerberos when the NetBIOS name has no address.
  const std::string label(63, 'a');
  for (const std::string& good :
       std::vector<std::string>{"WKS02.corp.example.", "wks_02", label + "." + label})
    EXPECT_TRUE(IsDnsHostName(good)) << good;
  dnsOnly.sAMAccountName = "WKS02$";
  for (const std::string& bad :
       std::vector<std::string>{"", ".", "wks02..corp", ".corp", "wks 02.corp", "wks02/../x",
                                "wks\x1b]0;x\a", std::string("wks\0x", 5), label + "a",
                                label + "." + label + "." + label + "." + label}) {
    EXPECT_FALSE(IsDnsHostName(bad)) << bad;
    dnsOnly.dNSHostName = bad;
    EXPECT_EQ(MachineFromComputer(dnsOnly)->dnsHostName, "");
  }
}

// A controller of another domain of the forest is known by its NetBIOS name
// (what workstations name as logon server) and reached by its DNS name.
TEST(DirectoryRules, ForestControllersAreKnownByTheirNetBiosNames) {
  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(ControllerHostName("EASTDC1", "eastdc1.east.corp.example"),
            Pair("EASTDC1", "eastdc1.east.corp.example"));
  EXPECT_EQ(ControllerHostName("", "eastdc2.east.corp.example"),
            Pair("eastdc2", "eastdc2.east.corp.example"));
  // Cut to 15 characters, never inside one.
  EXPECT_EQ(ControllerHostName("VERYLONGCONTROLLER01", "v.east")->first, "VERYLONGCONTROL");
  EXPECT_EQ(ControllerHostName("\xc3\x89" + std::string(20, 'E'), "e.east")->first,
            "\xc3\x89" + std::string(14, 'E'));
  for (const Pair& bad : {Pair("EASTDC1", ""), Pair("EASTDC1", "east dc1.corp"),
                          Pair(std::string("EAST\0DC", 7), "eastdc.corp"),
                          Pair(std::string(300, 'E'), "eastdc.corp")})
    EXPECT_FALSE(ControllerHostName(bad.first, bad.second)) << bad.first << " " << bad.second;

  // Where a machine of the domain and a controller share a name, the
  // machine's DNS name holds.
  DirectoryListing listing;
  listing.computers = {{u"FilesDns", 0, 0, 0, u"", "files.corp.example"},
                       {u"WKS01", 0, 0, 0, u"", ""}};
  listing.forestControllers = {{"FILESDNS", "eastdc.east.corp.example"},
                               {"EASTDC1", "eastdc1.east"}};
  DirectoryHostNames names;
  names.Replace(listing);
  const auto never = [](const std::string& host) {
    ADD_FAILURE() << "looked up " << host;
    return false;
  };
  EXPECT_EQ(names.DnsNameOf("filesdns", never), "files.corp.example");
  EXPECT_EQ(names.DnsNameOf("EastDC1", never), "eastdc1.east");
  EXPECT_EQ(names.DnsNameOf("WKS01", never), "");
  // The forest's controllers are known as such, by either name, any case,
  // and have their own DNS names; the domain's machines are not, and a later
  // listing replaces them.
  EXPECT_EQ(names.ForestControllerDnsName("eastdc1"), "eastdc1.east");
  EXPECT_EQ(names.ForestControllerDnsName("EastDC1.East"), "eastdc1.east");
  EXPECT_EQ(names.ForestControllerDnsName("FilesDns"), "eastdc.east.corp.example");
  EXPECT_EQ(names.ForestControllerDnsName("WKS01"), "");
  names.Replace(DirectoryListing{});
  EXPECT_EQ(names.ForestControllerDnsName("EASTDC1"), "");
}

// A trusted domain's primary controller, as a controller's locator gives it.
TEST(DirectoryRules, ALocatedPrimaryControllerIsTakenOnlyByItsDnsName) {
  const uint32_t pdcByDns = kLocatedPdc | kLocatedDnsName | 0x4;
  EXPECT_EQ(PdcDnsNameFromLocator(u"\\\\pdc.partner.example", pdcByDns), "pdc.partner.example");
  EXPECT_EQ(PdcDnsNameFromLocator(u"\\\\PDC.Partner.Example.", pdcByDns), "PDC.Partner.Example");
  for (const std::u16string bad :
       {u"\\\\PDC", u"\\\\10.1.2.3", u"\\\\10.1.2.3.", u"\\\\pdc.partner example", u"\\\\",
        u"\\\\pdc.partner.example\u202e", u"\\\\pdc..example", u""})
    EXPECT_EQ(PdcDnsNameFromLocator(bad, pdcByDns), "") << ToUtf8(bad);
  // Addresses as the resolvers read them too.
  for (const std::u16string address : {u"\\\\10.1.2.0x3", u"\\\\1.0X2", u"\\\\127.1.0x1.",
                                       u"\\\\010.1.1.1", u"\\\\fe80--1.IPv6-Literal.Net"})
    EXPECT_EQ(PdcDnsNameFromLocator(address, pdcByDns), "") << ToUtf8(address);
  // Not the primary controller, or not by its DNS name.
  EXPECT_EQ(PdcDnsNameFromLocator(u"\\\\bdc.partner.example", kLocatedDnsName), "");
  EXPECT_EQ(PdcDnsNameFromLocator(u"\\\\pdc.partner.example", kLocatedPdc), "");
}

// A logon server of a trusted domain, which the listing does not name, is
// looked for under each domain DNS name the listing gives, and taken only
// where exactly one has it.
TEST(DirectoryRules, OtherDomainsServersAreFoundUnderTheOneDomainThatHasThem) {
  DirectoryListing listing;
  listing.dnsDomain = u"corp.example";
  listing.domainDnsNames = {"East.Corp.Example.", "partner.example", "corp.example", "bad name",
                            "lab.example"};
  listing.computers = {{u"WKS01", 0, 0, 0, u"", "wks01.corp.example"}};
  DirectoryHostNames names;
  names.Replace(listing);
  const std::set<std::string> hosts = {"ptnrdc.partner.example", "twin.partner.example",
                                       "twin.lab.example"};
  std::vector<std::string> asked;
  const auto lookup = [&](const std::string& host) {
    asked.push_back(host);
    return hosts.count(host) > 0;
  };
  EXPECT_EQ(names.DnsNameOf("PtnrDC", lookup), "ptnrdc.partner.example");
  EXPECT_EQ(asked, (std::vector<std::string>{"ptnrdc.corp.example", "ptnrdc.east.corp.example",
                                             "ptnrdc.partner.example", "ptnrdc.lab.example"}));
  asked.clear();
  EXPECT_EQ(names.DnsNameOf("PTNRDC", lookup), "ptnrdc.partner.example");  // found once
  EXPECT_EQ(names.DnsNameOf("wks01", lookup), "wks01.corp.example");
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(names.DnsNameOf("twin", lookup), "");  // two domains have one
  EXPECT_EQ(names.DnsNameOf("nowhere", lookup), "");
  // A name that is no host name is not looked for, nor one past its time.
  asked.clear();
  for (const char* name : {"pc.other", "PC 01", ""}) EXPECT_EQ(names.DnsNameOf(name, lookup), "");
  EXPECT_EQ(names.DnsNameOf("late", lookup, std::chrono::steady_clock::now()), "");
  EXPECT_TRUE(asked.empty());

  // Several threads look while another replaces the listing with the same
  // one: every answer is the same.
  const auto pure = [&hosts](const std::string& host) { return hosts.count(host) > 0; };
  std::atomic<int> other{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i)
        if (names.DnsNameOf(i % 2 ? "PtnrDC" : "wks01", pure) !=
            (i % 2 ? "ptnrdc.partner.example" : "wks01.corp.example"))
          ++other;
    });
  for (int i = 0; i < 300; ++i) names.Replace(listing);
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(other, 0);

  // A hostile directory's hundred thousand trusts: a bounded number tried.
  listing.domainDnsNames.clear();
  for (int k = 0; k < 100000; ++k) listing.domainDnsNames.push_back("t" + std::to_string(k) + ".x");
  names.Replace(listing);
  EXPECT_EQ(names.DnsNameOf("PtnrDC", lookup), "");  // what was found goes with the listing
  EXPECT_EQ(asked.size(), DirectoryHostNames::kMaxDomains);
}

TEST(DirectoryRules, DomainListPutsTheOwnDomainFirstAndNamesEachOnce) {
  EXPECT_EQ(DomainList(u"CORP", {u"EAST", u"corp", u""}, {u"PARTNER", u"east", u"Partner", u"LAB"}),
            (std::vector<std::u16string>{u"CORP", u"EAST", u"PARTNER", u"LAB"}));
  EXPECT_EQ(DomainList(u"", {}, {u"PARTNER"}), std::vector<std::u16string>{u"PARTNER"});
  EXPECT_EQ(DomainList(u"CORP", {}, {std::u16string(300, u'X')}),
            std::vector<std::u16string>{u"CORP"});
  // A hostile directory's million trusts are sorted out in one pass, first seen first.
  std::vector<std::u16string> many;
  for (int k = 0; k < 200000; ++k) many.push_back(u"T" + FromUtf8(std::to_string(k % 100000)));
  const auto listed = DomainList(u"CORP", {}, many);
  ASSERT_EQ(listed.size(), 100001u);
  EXPECT_EQ(listed[1], u"T0");
  EXPECT_EQ(listed.back(), u"T99999");
}

DirectoryListing CorpListing() {
  DirectoryListing l;
  l.netbiosDomain = u"CORP";
  l.dnsDomain = u"corp.example";
  for (const ComputerObject& c :
       {Computer("PDC01$", "532480", "Windows Server 2022", true),
        Computer("PC-001$", "4096", "Windows 11 Pro"), Computer("PC-002$", "4096", "Windows 10"),
        Computer("GONE$", "4098", "Windows XP")})
    if (auto m = MachineFromComputer(c)) l.computers.push_back(*m);
  l.domains = DomainList(u"CORP", {u"EAST"}, {u"PARTNER"});
  return l;
}

TEST(DirectoryRules, APageWaitsNoLongerThanTheReadingHasLeft) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  EXPECT_EQ(DirectoryDeadline(std::chrono::hours(1)).Next(seconds(30)), seconds(30));
  const milliseconds near = DirectoryDeadline(seconds(10)).Next(seconds(30));
  EXPECT_GT(near, seconds(9));
  EXPECT_LE(near, seconds(10));
  EXPECT_EQ(DirectoryDeadline(seconds(0)).Next(seconds(30)), milliseconds(0));
  EXPECT_EQ(DirectoryDeadline(seconds(-5)).Next(seconds(30)), milliseconds(0));
}

TEST(DirectoryRules, EntriesFollowTheTypeFilterAndTheDomain) {
  const DirectoryListing l = CorpListing();
  std::vector<DirectoryMachine> e;
  ASSERT_EQ(SelectEntries(l, SV_TYPE_ALL, u"corp.EXAMPLE", e), NERR_Success);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].name, u"PDC01");

  ASSERT_EQ(SelectEntries(l, SV_TYPE_DOMAIN_CTRL, u"CORP", e), NERR_Success);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].name, u"PDC01");

  ASSERT_EQ(SelectEntries(l, SV_TYPE_DOMAIN_ENUM, u"ignored", e), NERR_Success);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[2].name, u"PARTNER");
  EXPECT_EQ(e[2].type, SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT);

  // Another domain's machines are not in this directory; the entries stay.
  EXPECT_EQ(SelectEntries(l, SV_TYPE_ALL, u"PARTNER", e), ERROR_NO_BROWSER_SERVERS_FOUND);
  EXPECT_EQ(e.size(), 3u);
}

// A directory that answers from a fixed listing, or fails with a status.
class FixedDirectory : public DirectoryReader {
 public:
  DirectoryListing listing = CorpListing();
  NET_API_STATUS status = NERR_Success;
  mutable std::vector<std::u16string> asked;
  NET_API_STATUS Read(const std::u16string& domain, DirectoryListing& out) const override {
    asked.push_back(domain);
    if (status == NERR_Success) out = listing;
    return status;
  }
};

// The simulated network with no browser (every NetServerEnum answers
// 6118), finished by the directory as the Windows provider finishes it.
class BrowserlessNetApi : public test::ScriptedNetApi {
 public:
  BrowserlessNetApi(sim::SimulatedNetApi& inner, const DirectoryReader* directory)
      : ScriptedNetApi(inner), directory_(directory) {}
  NET_API_STATUS NetServerEnum(LPCWSTR s, DWORD level, LPBYTE* buf, DWORD pref, LPDWORD read,
                               LPDWORD total, DWORD type, LPCWSTR domain, LPDWORD resume) override {
    const NET_API_STATUS browser =
        ScriptedNetApi::NetServerEnum(s, level, buf, pref, read, total, type, domain, resume);
    return ServerEnumFromDirectory(*this, directory_, browser, level, buf, pref, read, total, type,
                                   domain, resume);
  }

 private:
  const DirectoryReader* directory_;
};

class DirectoryFallback : public test::SimTest {
 protected:
  void SetUp() override {
    sim::SimDomain d = sim::test::SmallDomain();
    d.faults.push_back({"NetServerEnum", u"", ERROR_NO_BROWSER_SERVERS_FOUND});
    Use(std::move(d));
  }
  FixedDirectory directory;
};

TEST_F(DirectoryFallback, QueryClassListsTheDirectorysMachinesAndDomains) {
  BrowserlessNetApi net(api(), &directory);
  classNetAPI query(net);
  std::vector<std::u16string> names;
  ASSERT_EQ(query.fnNetServerEnum(u"CORP", static_cast<int32_t>(SV_TYPE_ALL), names, false), 0);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"PDC01", u"PC-001", u"PC-002"}));
  // Workstations only: the controller is left out.
  ASSERT_EQ(query.fnNetServerEnum(u"CORP", static_cast<int32_t>(SV_TYPE_ALL), names, true), 0);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"PC-001", u"PC-002", u""}));

  ASSERT_EQ(query.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), names, false), 0);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"CORP", u"EAST", u"PARTNER"}));
  // Domains come from this machine's own directory.
  EXPECT_EQ(directory.asked, (std::vector<std::u16string>{u"CORP", u"CORP", u""}));
}

TEST_F(DirectoryFallback, FailuresOfTheDirectoryAndOtherStatusesReachTheCaller) {
  BrowserlessNetApi net(api(), &directory);
  classNetAPI query(net);
  std::vector<std::u16string> names = {u"sentinel"};
  directory.status = ERROR_NO_SUCH_DOMAIN;
  EXPECT_EQ(query.fnNetServerEnum(u"CORP", -1, names, false), 6118);
  directory.status = ERROR_LOGON_FAILURE;
  EXPECT_EQ(query.fnNetServerEnum(u"CORP", -1, names, false), ERROR_LOGON_FAILURE);
  directory.status = NERR_Success;
  EXPECT_EQ(query.fnNetServerEnum(u"PARTNER", -1, names, false), 6118);
  EXPECT_EQ(names, std::vector<std::u16string>{u"sentinel"});

  // Access denied is an answer of the browser: the directory is not asked.
  api().AddFault({"NetServerEnum", u"", ERROR_ACCESS_DENIED});
  const std::size_t before = directory.asked.size();
  EXPECT_EQ(query.fnNetServerEnum(u"CORP", -1, names, false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(directory.asked.size(), before);
}

TEST_F(DirectoryFallback, AnswerComesInBatchesAndEachBufferIsReleased) {
  BrowserlessNetApi net(api(), &directory);
  LPBYTE buf = nullptr;
  DWORD read = 0, total = 0, resume = 0;
  ASSERT_EQ(net.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              u"CORP", &resume),
            NERR_Success);
  ASSERT_EQ(read, 3u);
  const auto* rec = reinterpret_cast<const SERVER_INFO_101*>(buf);
  EXPECT_EQ(fnPointerToString(rec[0].sv101_name), u"PDC01");
  EXPECT_EQ(rec[0].sv101_type, kBase | SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL);
  EXPECT_EQ(rec[1].sv101_type, kBase);
  EXPECT_EQ(rec[2].sv101_platform_id, PLATFORM_ID_NT);
  EXPECT_EQ(fnPointerToString(rec[2].sv101_comment), u"");
  EXPECT_EQ(net.NetApiBufferFree(buf), NERR_Success);

  // A small preferred length: one entry a call, resumed where it stopped.
  std::vector<std::u16string> seen;
  resume = 0;
  NET_API_STATUS s = ERROR_MORE_DATA;
  for (int calls = 0; s == ERROR_MORE_DATA && calls < 10; ++calls) {
    buf = nullptr;
    s = net.NetServerEnum(nullptr, 101, &buf, 1, &read, &total, SV_TYPE_ALL, u"CORP", &resume);
    ASSERT_TRUE(s == NERR_Success || s == ERROR_MORE_DATA) << s;
    ASSERT_EQ(read, 1u);
    EXPECT_EQ(total, 3u - seen.size());
    seen.push_back(fnPointerToString(reinterpret_cast<SERVER_INFO_101*>(buf)->sv101_name));
    net.NetApiBufferFree(buf);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"PDC01", u"PC-001", u"PC-002"}));

  // An empty directory still hands back a buffer, holding no entry.
  directory.listing.computers.clear();
  buf = nullptr;
  ASSERT_EQ(net.NetServerEnum(nullptr, 101, &buf, MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL,
                              nullptr, nullptr),
            NERR_Success);
  EXPECT_EQ(read, 0u);
  EXPECT_NE(buf, nullptr);
  net.NetApiBufferFree(buf);
}

// A listing that began first and ends last, as a stopped scan's may, leaves
// the names of the listing that began after it.
TEST_F(DirectoryFallback, AListingOvertakenByALaterOneLeavesTheLaterNames) {
  struct Overtaken : DirectoryReader {
    mutable std::function<void()> meanwhile;  // runs inside the reading of OLD
    NET_API_STATUS Read(const std::u16string& domain, DirectoryListing& out) const override {
      if (domain == u"OLD" && meanwhile) std::exchange(meanwhile, nullptr)();
      out.netbiosDomain = domain;
      out.computers = {{u"PC-" + domain, kBase, 5, 0, u"", ToUtf8(domain) + ".pc.example"}};
      return NERR_Success;
    }
  } directory;
  DirectoryHostNames names;
  const auto list = [&](const char16_t* domain) {
    LPBYTE buf = nullptr;
    DWORD read = 0, total = 0;
    EXPECT_EQ(ServerEnumFromDirectory(api(), &directory, ERROR_NO_BROWSER_SERVERS_FOUND, 101, &buf,
                                      MAX_PREFERRED_LENGTH, &read, &total, SV_TYPE_ALL, domain,
                                      nullptr, &names),
              NERR_Success);
    EXPECT_EQ(read, 1u);
    api().NetApiBufferFree(buf);
  };
  directory.meanwhile = [&] { list(u"NEW"); };
  list(u"OLD");
  const auto none = [](const std::string&) { return false; };
  EXPECT_EQ(names.DnsNameOf("pc-new", none), "NEW.pc.example");
  EXPECT_EQ(names.DnsNameOf("pc-old", none), "");
  // So does a listing begun meanwhile that gives no names (a browser's).
  directory.meanwhile = [&] { names.Begin(); };
  list(u"OLD");
  EXPECT_EQ(names.DnsNameOf("pc-old", none), "");
  // The next listing replaces them.
  list(u"OLD");
  EXPECT_EQ(names.DnsNameOf("pc-old", none), "OLD.pc.example");
}

}  // namespace
}  // namespace quorvix
