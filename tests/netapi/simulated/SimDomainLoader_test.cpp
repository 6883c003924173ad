#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "SimDomain.h"
#include "SimulatedNetApi.h"
#include "basStringHandler.h"

namespace quorvix::sim {
namespace {

std::string DataFile(const std::string& name) {
  return std::string(QUORVIX_TEST_DATA_DIR) + "/" + name;
}

// The loader's message for a file, or "<loaded>" when it loads.
std::string LoadError(const std::string& path) {
  try {
    LoadDomainFile(path);
  } catch (const DomainFileError& e) {
    return e.what();
  }
  return "<loaded>";
}

std::string ParseError(const std::string& text) {
  try {
    ParseDomainJson(text, "inline.json");
  } catch (const DomainFileError& e) {
    return e.what();
  }
  return "<loaded>";
}

struct BrokenFile {
  const char* file;
  const char* place;  // the JSON pointer or line/column the message must name
  const char* what;   // what the message must say is wrong
};

TEST(DomainFileLoader, BrokenFilesNameFilePlaceAndProblem) {
  const BrokenFile cases[] = {
      {"bad-syntax.json", "line 4, column 12", "syntax error"},
      {"bad-empty.json", "line 1, column 1", "unexpected end of input"},
      {"bad-utf8.json", "line 2, column", "UTF-8"},
      {"bad-missing-field.json", ": /machines/1/domain:", "missing required field \"domain\""},
      {"bad-wrong-type.json", ": /machines/0/versionMajor:", "expected a number, found a string"},
      {"bad-sessions-not-array.json",
       ": /machines/0/sessions:", "expected an array, found an object"},
      {"bad-fault-unknown-machine.json", ": /faults/1/target:", "unknown machine \"\\\\WS-99\""},
      {"bad-fault-unknown-domain.json", ": /faults/0/target:", "unknown domain \"WS-01\""},
      {"bad-unknown-call.json", ": /faults/0/call:", "unknown call \"NetWkstaUserEnumerate\""},
      {"bad-duplicate-machine.json",
       ": /machines/2/name:", "duplicate machine \"pc-01\" (also at /machines/0)"},
      {"bad-pdc-not-machine.json", ": /domains/1/pdc:", "\"LAB-DC\" is not a machine"},
      {"bad-out-of-range.json", ": /machines/0/users/1/lastLogon:", "4294967296 is out of range"},
      {"bad-negative.json", ": /machines/0/sessionsStatus:", "-53 is out of range"},
      {"bad-type-flag.json",
       ": /machines/0/type/1:", "unknown server-type flag \"SV_TYPE_SERVRE\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = DataFile(c.file);
    const std::string message = LoadError(path);
    EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.place), std::string::npos) << message;
    EXPECT_NE(message.find(c.what), std::string::npos) << message;
  }
  const std::string missing = DataFile("no-such-domain-file.json");
  EXPECT_EQ(LoadError(missing), missing + ": cannot open the domain file");
}

TEST(DomainFileLoader, InconsistentDomainsAreRefused) {
  const std::string head =
      R"({"local": {"computerName": "PC-01", "domain": "CORP"}, "domains": [{"name": "CORP"}], )";
  auto machines = [&](const std::string& list, const std::string& more = "") {
    return ParseError(head + R"("machines": [)" + list + "]" + more + "}");
  };
  const std::string pc = R"({"name": "PC-01", "domain": "CORP", "type": 3})";

  EXPECT_EQ(machines(pc), "<loaded>");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "LAB", "type": 3})"),
            "inline.json: /machines/0/domain: unknown domain \"LAB\" (not listed in /domains)");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "sesions": []})"),
            "inline.json: /machines/0/sesions: unknown field \"sesions\" (known: name, domain, "
            "type, comment, versionMajor, versionMinor, sessions, sessionsStatus, users, "
            "globalGroups, localGroups, latencyMicros, unreachable, silentMicros)");
  EXPECT_EQ(machines(R"({"name": "", "domain": "CORP", "type": 3})"),
            "inline.json: /machines/0/name: must not be empty");
  EXPECT_EQ(machines(R"({"name": "\\\\PC-01", "domain": "CORP", "type": 3})"),
            "inline.json: /machines/0/name: a name must not contain a backslash");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3.5})"),
            "inline.json: /machines/0/type: expected a whole number from 0 to 4294967295");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": "0x1234567890"})"),
            "inline.json: /machines/0/type: \"0x1234567890\" is not a hexadecimal type word "
            "like \"0x00009003\"");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "sessionsStatus": 53,
                         "sessions": []})"),
            "inline.json: /machines/0/sessionsStatus: a machine has either \"sessions\" or "
            "\"sessionsStatus\", not both");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "sessionsStatus": 0})"),
            "inline.json: /machines/0/sessionsStatus: a failure status must not be 0");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3,
                         "sessions": [{"logonDomain": "CORP"}]})"),
            "inline.json: /machines/0/sessions/0/user: missing required field \"user\"");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3,
                         "users": [{"name": "anna", "groups": ["Staff"]}]})"),
            "inline.json: /machines/0/users/0/groups/0: \"Staff\" is not a global group of this "
            "machine");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3,
                         "users": [{"name": "anna"}, {"name": "ANNA"}]})"),
            "inline.json: /machines/0/users/1/name: duplicate user \"ANNA\" (also at "
            "/machines/0/users/0)");
  // Greek letters with tonos and Ukrainian letters fold as the report's order folds them.
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3,
                         "users": [{"name": "Άννα"}, {"name": "άννα"}]})"),
            "inline.json: /machines/0/users/1/name: duplicate user \"άννα\" (also at "
            "/machines/0/users/0)");
  EXPECT_EQ(machines(pc + R"(, {"name": "ҐАЛИНА", "domain": "CORP", "type": 3},
                              {"name": "ґалина", "domain": "CORP", "type": 3})"),
            "inline.json: /machines/2/name: duplicate machine \"ґалина\" (also at /machines/1)");
  // Far down a long list, where a domain is looked up once for a run of
  // machines naming it: the first machine that is wrong is the one named.
  auto many = [](int count, int sameAs, const char* domainFrom40) {
    std::string list;
    for (int i = 0; i < count; ++i) {
      const int n = i == 30 && sameAs >= 0 ? sameAs : i;
      list += (i ? ", " : "") + std::string(R"({"name": "pc-)") + std::to_string(n) +
              R"(", "domain": ")" + (i >= 40 ? domainFrom40 : "corp") + R"(", "type": 3})";
    }
    return list;
  };
  EXPECT_EQ(machines(many(80, -1, "CORP")), "<loaded>");
  EXPECT_EQ(machines(pc + ", 7, " + pc),
            "inline.json: /machines/1: expected an object, found an integer");
  EXPECT_EQ(machines(many(80, 3, "CORP")),
            "inline.json: /machines/30/name: duplicate machine \"pc-3\" (also at /machines/3)");
  EXPECT_EQ(machines(many(80, 45, "CORP")),
            "inline.json: /machines/45/name: duplicate machine \"pc-45\" (also at /machines/30)");
  EXPECT_EQ(machines(many(80, -1, "LAB")),
            "inline.json: /machines/40/domain: unknown domain \"LAB\" (not listed in /domains)");
  EXPECT_EQ(machines(pc, R"(, "latencyMicros": {"NetWkstaUserEnum": 500, "Net/Bogus": 1})"),
            "inline.json: /latencyMicros/Net~1Bogus: unknown call \"Net/Bogus\"");
  EXPECT_EQ(machines(pc, R"(, "latencyMicros": {"*": -1})"),
            "inline.json: /latencyMicros/*: number -1 is out of range (0 to 4294967295)");
  EXPECT_EQ(machines(pc, R"(, "faults": [{"call": "NetApiBufferFree", "status": 5}])"),
            "inline.json: /faults/0/call: NetApiBufferFree cannot be given a fault");
  EXPECT_EQ(machines(pc, R"(, "faults": [{"call": "NetGetDCName", "target": "corp"}])"),
            "inline.json: /faults/0/status: missing required field \"status\"");

  EXPECT_EQ(ParseError(R"({"local": {"computerName": "PC-01", "domain": "LAB"},
                           "domains": [{"name": "CORP"}], "machines": []})"),
            "inline.json: /local/domain: the local domain \"LAB\" is not listed in /domains");
  EXPECT_EQ(ParseError(R"({"local": {"computerName": "PC-01", "domain": "CORP"},
                           "domains": [{"name": "CORP"}, {"name": "corp"}], "machines": []})"),
            "inline.json: /domains/1/name: duplicate domain \"corp\" (also at /domains/0)");
  EXPECT_EQ(ParseError(R"({"local": {"computerName": "PC-01", "domain": "CORP"},
                           "domains": [{"name": "CORP", "pdc": "LAB-DC"}, {"name": "LAB"}],
                           "machines": [{"name": "LAB-DC", "domain": "LAB", "type": 8}]})"),
            "inline.json: /domains/0/pdc: primary controller \"LAB-DC\" belongs to domain \"LAB\"");
  // A field given twice would silently lose the first value.
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "name": "PC-02"})"),
            "inline.json: /machines/0/name: field \"name\" given twice");
  EXPECT_EQ(machines(pc + R"(, {"name": "PC-02", "domain": "CORP", "type": 3,
                     "users": [{"name": "a"}, {"name": "b", "lastLogon": 1, "lastLogon": 2}]})"),
            "inline.json: /machines/1/users/1/lastLogon: field \"lastLogon\" given twice");
  EXPECT_EQ(machines(pc, R"(, "machines": [])"),
            "inline.json: /machines: field \"machines\" given twice");
  EXPECT_EQ(ParseError("[1, 2]"), "inline.json: (top level): expected an object, found an array");
  EXPECT_EQ(ParseError("{}"), "inline.json: /local: missing required field \"local\"");
}

TEST(DomainFileLoader, HostileInputGivesAnErrorNotACrash) {
  // Deep nesting, a huge number, a stray NUL, trailing garbage.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(ParseError(deep),
            "inline.json: /0/0/0/0/0/0: nesting deeper than 6 levels; no domain file needs more");
  EXPECT_NE(ParseError(std::string(100000, '[')).find("nesting deeper"), std::string::npos);
  EXPECT_EQ(ParseError("{\n \"local\": 1e99999}"),
            "inline.json: line 2, column 11: number overflow parsing '1e99999'");
  EXPECT_NE(ParseError(std::string("{\0}", 3)).find("line 1, column 2"), std::string::npos);
  EXPECT_NE(ParseError("{} x").find("line 1, column 4"), std::string::npos);
  EXPECT_NE(ParseError("{\n\n   \"local\" 5}").find("line 3, column 12"), std::string::npos);
}

TEST(DomainFileLoader, NamesNumbersAndKeysGetMessagesAboutTheirPlace) {
  const std::string head =
      R"({"local": {"computerName": "PC-01", "domain": "CORP"}, "domains": [{"name": "CORP"}], )";
  auto machines = [&](const std::string& list, const std::string& more = "") {
    return ParseError(head + R"("machines": [)" + list + "]" + more + "}");
  };
  const std::string pc = R"({"name": "PC-01", "domain": "CORP", "type": 3})";
  // "PC-01" and "PC-01\0B" would be one machine on the wire.
  EXPECT_EQ(machines(pc + R"(, {"name": "PC-01\u0000B", "domain": "CORP", "type": 3})"),
            "inline.json: /machines/1/name: U+0000 is not allowed in a text");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3,
                         "sessions": [{"user": "anna", "logonDomain": "CO\u0000RP"}]})"),
            "inline.json: /machines/0/sessions/0/logonDomain: U+0000 is not allowed in a text");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "na\u0000me": 1})"),
            "inline.json: /machines/0/na\\u0000me: field name \"na\\u0000me\" holds U+0000");
  // A hostile key cannot carry terminal controls into the message.
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "\u001b]0;x\u0007": 1})"),
            "inline.json: /machines/0/\\u001B]0;x\\u0007: unknown field \"\\u001B]0;x\\u0007\" "
            "(known: name, domain, type, comment, versionMajor, versionMinor, sessions, "
            "sessionsStatus, users, globalGroups, localGroups, latencyMicros, unreachable, "
            "silentMicros)");
  EXPECT_EQ(machines(R"({"name": "PC-01", "domain": "CORP", "type": 3, "versionMajor": -0})"),
            "inline.json: /machines/0/versionMajor: -0 is not a number from 0 to 4294967295; "
            "write 0");
  // The number's place, not that of an earlier string with the same text.
  EXPECT_EQ(ParseError("{\"x\": \"1e99999\",\n \"local\": 1e99999}"),
            "inline.json: line 2, column 11: number overflow parsing '1e99999'");
  EXPECT_EQ(machines(pc, R"(, "latencyMicros": {"*": 3600000000})"), "<loaded>");
  EXPECT_EQ(machines(pc, R"(, "latencyMicros": {"NetUserGetInfo": 3600000001})"),
            "inline.json: /latencyMicros/NetUserGetInfo: a delay of 3600000001 microseconds is "
            "more than one hour (3600000000)");
}

TEST(DomainFileLoader, FlagNamesIgnoreCaseInATurkishLocale) {
#ifdef _WIN32
  GTEST_SKIP() << "the Turkish locale is built with localedef";
#else
  namespace fs = std::filesystem;
  if (!fs::exists("/usr/share/i18n/locales/tr_TR")) GTEST_SKIP() << "no Turkish locale sources";
  // In ISO-8859-9 toupper('i') is the dotted capital I (0xDD), not 'I'.
  const fs::path dir = fs::temp_directory_path() / "quorvix-locale-test";
  fs::create_directories(dir);
  const std::string command = "localedef -i tr_TR -f ISO-8859-9 '" +
                              (dir / "tr_TR.ISO-8859-9").string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "the Turkish locale cannot be built";
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  setenv("LOCPATH", dir.c_str(), 1);
  const bool turkish = std::setlocale(LC_CTYPE, "tr_TR.ISO-8859-9") != nullptr;
  unsetenv("LOCPATH");
  ASSERT_TRUE(turkish);
  const std::string result = ParseError(
      R"({"local": {"computerName": "PC-01", "domain": "CORP"}, "domains": [{"name": "CORP"}],
          "machines": [{"name": "PC-01", "domain": "CORP",
                        "type": ["sv_type_workstation", "time_source", "Dialin_Server"]}]})");
  std::setlocale(LC_CTYPE, saved.c_str());
  EXPECT_EQ(result, "<loaded>");
#endif
}

TEST(DomainFileLoader, ReadsOnlyBoundedRegularFiles) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs and devices are POSIX";
#else
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("quorvix-read-test-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string fifo = (dir / "domain.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Without a writer, opening a FIFO for reading would wait for ever.
  EXPECT_EQ(LoadError(fifo), fifo + ": cannot read the domain file: not a regular file");
  EXPECT_EQ(LoadError("/dev/zero"), "/dev/zero: cannot read the domain file: not a regular file");
  EXPECT_EQ(LoadError(dir.string()),
            dir.string() + ": cannot read the domain file: not a regular file");
  const std::string big = (dir / "big.json").string();
  { std::ofstream(big) << "{}"; }
  fs::resize_file(big, kMaxDomainFileBytes + 1);  // sparse: costs no disk
  EXPECT_EQ(LoadError(big), big + ": the domain file is larger than 256 MiB");
  const std::string locked = (dir / "locked.json").string();
  { std::ofstream(locked) << "{}"; }
  fs::permissions(locked, fs::perms::none);
  if (geteuid() != 0) {
    EXPECT_EQ(LoadError(locked), locked + ": cannot open the domain file: Permission denied");
  }
  fs::remove_all(dir);
#endif
}

TEST(DomainFileLoader, ReadsEveryFormOfTheFields) {
  const SimDomain d = ParseDomainJson(R"({
    "local": {"computerName": "WS-01", "domain": "CORP"},
    "domains": [{"name": "CORP", "pdc": "dc-01"}, {"name": "Ярд"}],
    "machines": [
      {"name": "DC-01", "domain": "corp", "type": ["sv_type_domain_ctrl", "SERVER_NT"],
       "comment": "Контроллер", "versionMajor": 4, "versionMinor": 0,
       "users": [{"name": "anna", "lastLogon": 4294967295, "groups": ["Staff"]}, {"name": "otto"}],
       "globalGroups": [{"name": "Staff", "comment": "Everybody", "members": ["anna"]}],
       "localGroups": [{"name": "Administrators"}]},
      {"name": "WS-01", "domain": "CORP", "type": "0x00011003",
       "sessions": [{"user": "anna", "logonDomain": "CORP"},
                    {"user": "otto", "logonDomain": "CORP", "otherDomains": "Ярд",
                     "logonServer": "\\\\DC-01"}]},
      {"name": "WS-02", "domain": "Ярд", "type": 4099, "sessionsStatus": 5}
    ],
    "faults": [{"call": "NetUserGetInfo", "target": "\\\\dc-01", "status": 1722},
               {"call": "NetGetDCName", "target": "ярд", "status": 2453},
               {"call": "NetServerGetInfo", "status": 54}],
    "latencyMicros": {"NetWkstaUserEnum": 1500, "*": 10}
  })",
                                      "forms.json");
  ASSERT_EQ(d.machines.size(), 3u);
  EXPECT_EQ(d.computerName, u"WS-01");
  EXPECT_EQ(d.domains[1].name, u"Ярд");
  EXPECT_EQ(d.domains[1].pdc, u"");
  const SimMachine& dc = d.machines[0];
  EXPECT_EQ(dc.type, SV_TYPE_DOMAIN_CTRL | SV_TYPE_SERVER_NT);
  EXPECT_EQ(dc.comment, u"Контроллер");
  EXPECT_EQ(dc.versionMajor, 4u);
  ASSERT_EQ(dc.users.size(), 2u);
  EXPECT_EQ(dc.users[0].lastLogon, 4294967295u);
  EXPECT_EQ(dc.users[0].groups, std::vector<std::u16string>{u"Staff"});
  EXPECT_EQ(dc.users[1].lastLogon, 0u);
  EXPECT_EQ(dc.globalGroups[0].members, std::vector<std::u16string>{u"anna"});
  EXPECT_EQ(dc.localGroups[0].comment, u"");
  const SimMachine& ws = d.machines[1];
  EXPECT_EQ(ws.type, 0x00011003u);
  EXPECT_EQ(ws.versionMajor, 5u);  // defaults
  EXPECT_EQ(ws.versionMinor, 0u);
  EXPECT_FALSE(ws.sessionsStatus.has_value());
  ASSERT_EQ(ws.sessions.size(), 2u);
  EXPECT_EQ(ws.sessions[0].logonServer, u"");
  EXPECT_EQ(ws.sessions[1].otherDomains, u"Ярд");
  EXPECT_EQ(ws.sessions[1].logonServer, u"\\\\DC-01");
  EXPECT_EQ(d.machines[2].type, 4099u);
  EXPECT_EQ(d.machines[2].sessionsStatus, std::optional<NET_API_STATUS>(5));
  ASSERT_EQ(d.faults.size(), 3u);
  EXPECT_EQ(d.faults[1].call, "NetGetDCName");
  EXPECT_EQ(d.faults[1].status, 2453u);
  EXPECT_EQ(d.faults[2].target, u"");
  EXPECT_EQ(d.latencyMicros.at("NetWkstaUserEnum"), 1500u);
  EXPECT_EQ(d.latencyMicros.at("*"), 10u);

  // The faults of a file act through the provider, targets matched by any spelling.
  SimulatedNetApi api(d);
  LPBYTE buf = nullptr;
  EXPECT_EQ(api.NetUserGetInfo(u"DC-01", u"anna", 2, &buf), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(api.NetGetDCName(nullptr, u"ЯРД", &buf), NERR_DCNotFound);
  EXPECT_EQ(api.NetGetDCName(nullptr, u"CORP", &buf), NERR_Success);
  // The controller's name as the machine spells it.
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buf)), u"\\\\DC-01");
  api.NetApiBufferFree(buf);
  EXPECT_EQ(api.NetServerGetInfo(u"WS-01", 101, &buf), ERROR_NETWORK_BUSY);
}

TEST(DomainFileLoader, DocumentedExampleLoads) {
  std::ifstream in(std::string(QUORVIX_TEST_DATA_DIR) + "/../../docs/domain-file.md");
  ASSERT_TRUE(in);
  std::stringstream page;
  page << in.rdbuf();
  const std::string text = page.str();
  const auto open = text.find("```json\n");
  ASSERT_NE(open, std::string::npos);
  const auto close = text.find("\n```", open + 8);
  ASSERT_NE(close, std::string::npos);
  const SimDomain d = ParseDomainJson(text.substr(open + 8, close - open - 8), "domain-file.md");
  EXPECT_EQ(d.machines.size(), 8u);
  EXPECT_EQ(d.machines[4].sessionsStatus, std::optional<NET_API_STATUS>(ERROR_BAD_NETPATH));
  EXPECT_EQ(d.machines[5].unreachableStatus, std::optional<NET_API_STATUS>(ERROR_BAD_NETPATH));
  EXPECT_EQ(d.machines[5].unreachableMicros, 300000u);
  EXPECT_EQ(d.machines[6].silentMicros, 2000000u);
  EXPECT_EQ(d.machines[6].latencyMicros.at("NetServerGetInfo"), 50000u);
  EXPECT_EQ(d.machines[3].type, 0x00011003u);
  EXPECT_EQ(d.latencyMicros.at("*"), 100u);

  // The cases it shows behave as described.
  SimulatedNetApi api(d);
  LPBYTE buf = nullptr;
  EXPECT_EQ(api.NetUserGetInfo(u"PDC01", u"tmpkraus", 2, &buf), NERR_UserNotFound);
  EXPECT_EQ(api.NetUserGetInfo(u"\\\\BDC01", u"mkeller", 2, &buf), RPC_S_SERVER_UNAVAILABLE);
  ASSERT_EQ(api.NetUserGetInfo(u"PDC01", u"смирнова", 2, &buf), NERR_Success);
  EXPECT_EQ(reinterpret_cast<const USER_INFO_2*>(buf)->usri2_last_logon, 4102444800u);
  api.NetApiBufferFree(buf);
  // A machine that is off answers every call with its status, after its delay.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(api.NetServerGetInfo(u"PC-OFF", 101, &buf), ERROR_BAD_NETPATH);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
  EXPECT_EQ(buf, nullptr);

  // A machine is either off or silent.
  const std::string both = R"({"local": {"computerName": "A", "domain": "D"},
    "domains": [{"name": "D"}], "machines": [{"name": "A", "domain": "D", "type": 1,
    "unreachable": {"status": 53}, "silentMicros": 5}]})";
  try {
    ParseDomainJson(both, "both.json");
    ADD_FAILURE() << "loaded";
  } catch (const DomainFileError& e) {
    EXPECT_NE(std::string(e.what()).find("/machines/0/silentMicros"), std::string::npos)
        << e.what();
  }
}

TEST(DomainFileLoader, DemoDomainTextIsAValidDomainFile) {
  // The built-in text passes the same checks as any file.
  const SimDomain d = ParseDomainJson(DemoDomainJson(), "demo");
  EXPECT_EQ(d.machines.size(), DemoDomain().machines.size());
  EXPECT_NO_THROW(LoadDomainFile(DataFile("domain-small.json")));
}

}  // namespace
}  // namespace quorvix::sim
