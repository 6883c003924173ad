// quorvix-scan run as a process, as scripts run it.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#endif

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "CliTestSupport.h"
#include "ConsoleReport.h"
#include "ReportFormat.h"
#include "ReportOrder.h"
#include "ScanCommand.h"
#include "ScanSummary.h"
#include "SimulatedNetApi.h"
#include "basMain.h"
#include "basStringHandler.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace quorvix {
namespace {

using testing::ParseCsv;
using testing::ParseTable;

struct Result {
  int exit = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
  const std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

// One argument quoted so that the C runtime splits it back out unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// Runs quorvix-scan with args, stdout and stderr to files.
Result Scan(const std::vector<std::string>& args) {
  const std::string dir = ::testing::TempDir();
  const std::string outPath = dir + "scan-out-" + std::to_string(_getpid());
  const std::string errPath = dir + "scan-err-" + std::to_string(_getpid());
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileW(Wide(outPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(Wide(errPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::wstring commandLine = QuoteArgument(Wide(QUORVIX_SCAN_PATH));
  for (const auto& a : args) commandLine += L" " + QuoteArgument(Wide(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  Result r;
  const bool started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                       CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  if (!started) {
    ADD_FAILURE() << "cannot start " << QUORVIX_SCAN_PATH;
    return r;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  ::DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  r.exit = static_cast<int>(code);
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return r;
}
#else
// Runs quorvix-scan with args under the C locale (or the locale variables
// given), stdout and stderr to files; with interruptAfterMs, Ctrl+C reaches
// it after that long.
Result Scan(const std::vector<std::string>& args, int interruptAfterMs = -1,
            const std::vector<std::string>& localeVariables = {"LC_ALL=C"}) {
  const std::string dir = ::testing::TempDir();
  const std::string outPath = dir + "scan-out-" + std::to_string(getpid());
  const std::string errPath = dir + "scan-err-" + std::to_string(getpid());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> argStore = {QUORVIX_SCAN_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = localeVariables;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    if (var.rfind("LC_", 0) != 0 && var.rfind("LANG", 0) != 0) envStore.push_back(var);
  }
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  Result r;
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, QUORVIX_SCAN_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << QUORVIX_SCAN_PATH;
    return r;
  }
  if (interruptAfterMs >= 0) {
    usleep(static_cast<useconds_t>(interruptAfterMs) * 1000);
    kill(pid, SIGINT);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return r;
}
#endif

std::string Data(const std::string& name) {
  return std::string(QUORVIX_TEST_DATA_DIR) + "/" + name;
}

std::string SmallDomain() {
  return "--simulate=" + Data("scan-small.json");
}

// The rows of scan-small.json's domain HQ, ordered by user name.
const std::vector<std::vector<std::string>> kSmallRows = {
    {"admin", "PDC01 (PDC)", "HQ", "\\\\PDC01", "14-Mar-2002 09:12:45"},
    {"alice", "PC017 (Wks)", "HQ", "\\\\PDC01", "15-Dec-1999 08:00:00"},
    {"Bob", "PC017 (Wks)", "HQ", "", "01-Jan-1970 00:00:00"},
    {"carol", "SRV1 (Wks/Srv)", "SALES", "\\\\PDC01", ""},
    {"Jürgen", "ПК-01 (Wks)", "HQ", "\\\\PDC01", "19-Jan-2038 03:14:08"},
    {"Иван", "ПК-01 (Wks)", "HQ", "\\\\PDC01", "02-Jan-2002 08:00:00"},
};
const std::vector<std::string> kHeaders = {"Username", "Workstation", "Domain", "Logon Server",
                                           "Last Logon"};

TEST(ScanCli, EachFormatParsesBackToTheRows) {
  const Result csv = Scan({SmallDomain(), "HQ", "--format", "csv"});
  ASSERT_EQ(csv.exit, 0) << csv.err;
  // No progress when stderr is not a terminal; the one machine that could not
  // be asked is told in one line.
  EXPECT_EQ(csv.err, "quorvix-scan: 1 of 5 machines could not be asked: 1 no answer (53)\n");
  auto records = ParseCsv(csv.out);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0], kHeaders);
  records.erase(records.begin());
  EXPECT_EQ(records, kSmallRows);

  const Result table = Scan({SmallDomain(), "HQ"});
  ASSERT_EQ(table.exit, 0) << table.err;
  auto lines = ParseTable(table.out, kHeaders);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], kHeaders);
  lines.erase(lines.begin(), lines.begin() + 2);
  EXPECT_EQ(lines, kSmallRows);

  const Result json = Scan({SmallDomain(), "--format=JSON", "HQ"});
  ASSERT_EQ(json.exit, 0) << json.err;
  const auto array = nlohmann::json::parse(json.out);
  ASSERT_EQ(array.size(), kSmallRows.size());
  for (std::size_t i = 0; i < array.size(); ++i) {
    EXPECT_EQ(array[i]["user"], kSmallRows[i][0]);
    EXPECT_EQ(array[i]["domain"], kSmallRows[i][2]);
    EXPECT_EQ(array[i]["logonServer"], kSmallRows[i][3]);
    EXPECT_EQ(array[i]["lastLogonText"], kSmallRows[i][4]);
  }
  EXPECT_EQ(array[0]["workstation"], "PDC01");
  EXPECT_EQ(array[0]["role"], "PDC");
  EXPECT_EQ(array[0]["lastLogon"], "2002-03-14T09:12:45Z");
  EXPECT_EQ(array[2]["lastLogon"], "1970-01-01T00:00:00Z");
  EXPECT_TRUE(array[3]["lastLogon"].is_null());
  EXPECT_EQ(array[4]["lastLogon"], "2038-01-19T03:14:08Z");
}

TEST(ScanCli, SortsByTheNamedColumnAndScansTheOwnDomainByDefault) {
  // Chronological, newest first; the row without a time comes last.
  const Result byTime =
      Scan({SmallDomain(), "--format", "csv", "--sort", "last LOGON", "--descending"});
  ASSERT_EQ(byTime.exit, 0) << byTime.err;
  std::vector<std::string> users;
  for (const auto& r : ParseCsv(byTime.out)) users.push_back(r.at(0));
  EXPECT_EQ(users, (std::vector<std::string>{"Username", "Jürgen", "admin", "Иван", "alice", "Bob",
                                             "carol"}));

  // No DOMAIN: the machine's own domain, which is HQ in this file.
  const Result byDomain = Scan({SmallDomain(), "--format=csv", "--sort=domain", "--descending"});
  ASSERT_EQ(byDomain.exit, 0) << byDomain.err;
  const auto records = ParseCsv(byDomain.out);
  ASSERT_EQ(records.size(), kSmallRows.size() + 1);
  EXPECT_EQ(records[1][0], "carol");  // SALES before HQ; HQ rows in the order found
  EXPECT_EQ(records[2][0], "admin");

  const Result domains = Scan({SmallDomain(), "--list-domains"});
  ASSERT_EQ(domains.exit, 0) << domains.err;
  EXPECT_EQ(domains.out, "HQ\nEMPTY\n");

  // The machines with the roles of their type words; the own domain by default.
  const Result machines = Scan({SmallDomain(), "--list-machines"});
  ASSERT_EQ(machines.exit, 0) << machines.err;
  EXPECT_EQ(machines.out, "PDC01\tPDC\nPC017\tWks\nPC020\tWks\nSRV1\tWks/Srv\nПК-01\tWks\n");
  EXPECT_EQ(Scan({SmallDomain(), "--list-machines", "EMPTY"}).out, "");
  const Result failed = Scan({"--simulate=" + Data("scan-fault.json"), "--list-machines", "HQ"});
  EXPECT_EQ(failed.exit, 1);
  EXPECT_NE(failed.err.find("(status 53)"), std::string::npos) << failed.err;

  const Result empty = Scan({SmallDomain(), "EMPTY", "--format", "csv"});
  ASSERT_EQ(empty.exit, 0) << empty.err;
  EXPECT_EQ(ParseCsv(empty.out).size(), 1u);
}

TEST(ScanCli, HelpAndVersion) {
  const Result help = Scan({"--help"});
  EXPECT_EQ(help.exit, 0);
  for (const char* option : {"--simulate", "--format", "--sort", "--descending", "--list-domains",
                             "--list-machines", "--version", "DOMAIN"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const Result version = Scan({"--version"});
  EXPECT_EQ(version.exit, 0);
  EXPECT_NE(version.out.find("1.02.0019"), std::string::npos) << version.out;
}

TEST(ScanCli, BadArgumentsAndBadFilesExitWithTwoAndNameTheProblem) {
  struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message must name
  };
  const std::string missing = Data("scan-no-such-file.json");
  const std::vector<Case> cases = {
      {{SmallDomain(), "--format", "xml"}, "xml"},
      {{SmallDomain(), "--sort", "Colour"}, "Colour"},
      {{SmallDomain(), "--sort", "Цвет"}, "Цвет"},  // arguments are read as UTF-8
      {{SmallDomain(), "--bogus"}, "--bogus"},
      {{SmallDomain(), "HQ", "SALES"}, "SALES"},
      {{SmallDomain(), "--list-domains", "HQ"}, "--list-domains"},
      {{SmallDomain(), "--list-machines", "--format", "json"}, "--format"},
      {{SmallDomain(), "--list-domains", "--machines"}, "--machines"},
      {{SmallDomain(), "--machines", "--sort", "Domain"}, "--sort"},
      {{SmallDomain(), "--machines", "--descending"}, "--descending"},
      {{SmallDomain(), ""}, "the domain name is empty"},
      {{SmallDomain(), " "}, "the domain name is empty"},
      {{"--simulate=" + missing, "HQ"}, missing},
      {{"--simulate=" + Data("scan-malformed.json"), "HQ"}, "scan-malformed.json"},
  };
  for (const auto& c : cases) {
    const Result r = Scan(c.args);
    EXPECT_EQ(r.exit, 2) << c.named << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.named;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
  }
}

TEST(ScanCli, AListThatCannotBeWrittenIsAFailure) {
  const std::string domain = SmallDomain();
  for (const char* list : {"--list-domains", "--list-machines"}) {
    std::ostream nowhere(nullptr);
    std::ostringstream err;
    const char* const argv[] = {"quorvix-scan", domain.c_str(), list};
    EXPECT_EQ(RunScanCommand(3, argv, nowhere, err, false), kExitNetworkFailure) << list;
    EXPECT_NE(err.str().find("the list could not be written"), std::string::npos) << err.str();
  }
}

TEST(ScanCli, HostileNamesReachTheTerminalHarmlessAndCsvIsSafeForSpreadsheets) {
  const std::string hostile = "--simulate=" + Data("scan-hostile.json");
  // A name holding CR/LF stays one line; its escape sequence is defused.
  const Result domains = Scan({hostile, "--list-domains"});
  ASSERT_EQ(domains.exit, 0) << domains.err;
  EXPECT_EQ(domains.out,
            "HQ\nEVIL\xEF\xBF\xBD\xEF\xBF\xBD"
            "FAKE\xEF\xBF\xBD]0;owned\xEF\xBF\xBD\nLOCKED\n");
  // An error message that echoes the name.
  const Result evil = Scan({hostile, std::string("EVIL\r\nFAKE\x1b]0;owned\x07")});
  EXPECT_EQ(evil.exit, 1);
  EXPECT_EQ(std::count(evil.err.begin(), evil.err.end(), '\n'), 1) << evil.err;
  EXPECT_EQ(evil.err.find_first_of("\x1b\x07\r"), std::string::npos) << evil.err;
  // Line ends in arguments that messages echo do not make lines of their own.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {hostile, "--format", "x\ry\nz"}, {"--simulate=a\rb\nquorvix-scan: fine"}}) {
    const Result bad = Scan(args);
    EXPECT_EQ(bad.exit, 2);
    EXPECT_EQ(bad.err.find('\r'), std::string::npos) << bad.err;
    EXPECT_EQ(bad.err.find("\nquorvix-scan: fine"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.err.find("\nz"), std::string::npos) << bad.err;
  }
  // A status of 2^31 and above is a word, not a negative number.
  const Result locked = Scan({hostile, "LOCKED"});
  EXPECT_EQ(locked.exit, 1);
  EXPECT_NE(locked.err.find("(status 3221225506)"), std::string::npos) << locked.err;
  // A hostile key in a domain file: the message names it, escaped.
  const std::string dir = ::testing::TempDir();
  const std::string file = dir + "scan-hostile-key.json";
  {
    std::ofstream f(file, std::ios::binary);
    f << "{\"\\u001b]0;owned\\u0007\\u009b\": 1}";
  }
  const Result key = Scan({"--simulate=" + file});
  std::remove(file.c_str());
  EXPECT_EQ(key.exit, 2);
  EXPECT_EQ(key.err.find_first_of("\x1b\x07"), std::string::npos) << key.err;
  EXPECT_EQ(key.err.find("\xC2\x9B"), std::string::npos) << key.err;  // U+009B, a C1 CSI
  EXPECT_NE(key.err.find("unknown field"), std::string::npos) << key.err;

  // Cells a spreadsheet would run get an apostrophe; --csv-raw leaves them.
  const Result csv = Scan({hostile, "HQ", "--format=csv", "--sort=Domain"});
  ASSERT_EQ(csv.exit, 0) << csv.err;
  const auto safe = ParseCsv(csv.out);
  ASSERT_EQ(safe.size(), 4u);
  const Result raw = Scan({hostile, "HQ", "--csv-raw", "--sort=Domain"});
  ASSERT_EQ(raw.exit, 0) << raw.err;
  const auto asIs = ParseCsv(raw.out);
  ASSERT_EQ(asIs.size(), 4u);
  EXPECT_EQ(asIs[1], (std::vector<std::string>{"-2+3", "PDC01 (PDC)", "@SUM(A1)", "", ""}));
  EXPECT_EQ(safe[1], (std::vector<std::string>{"'-2+3", "PDC01 (PDC)", "'@SUM(A1)", "", ""}));
  EXPECT_EQ(safe[2][0], "'=HYPERLINK(\"http://x\")");
  EXPECT_EQ(safe[3][0], "anna");
  const Result clash = Scan({hostile, "HQ", "--csv-raw", "--format=json"});
  EXPECT_EQ(clash.exit, 2);
  EXPECT_NE(clash.err.find("--csv-raw"), std::string::npos) << clash.err;

  // A user name that would set the title, clear the screen and turn text
  // around: JSON writes it in escapes, the same value; CSV keeps it in a
  // file and makes it visible on a terminal.
  // ..., U+202E, U+009B, U+1F600 (shown), U+E0041 (a tag, hidden)
  const std::string name =
      "x\x1b]0;t\x07\x1b[2J\xE2\x80\xAE\xC2\x9B\xF0\x9F\x98\x80\xF3\xA0\x81\x81";
  {
    nlohmann::json d = {{"local", {{"computerName", "PC01"}, {"domain", "HQ"}}},
                        {"domains", {{{"name", "HQ"}}}},
                        {"machines",
                         {{{"name", "PC01"},
                           {"domain", "HQ"},
                           {"type", {"WORKSTATION"}},
                           {"sessions", {{{"user", name}, {"logonDomain", "HQ"}}}}}}}};
    std::ofstream(file, std::ios::binary) << d.dump();
  }
  const Result json = Scan({"--simulate=" + file, "--format=json"});
  ASSERT_EQ(json.exit, 0) << json.err;
  EXPECT_EQ(json.out.find_first_of("\x1b\x07"), std::string::npos) << json.out;
  EXPECT_EQ(json.out.find("\xE2\x80\xAE"), std::string::npos) << json.out;
  EXPECT_EQ(json.out.find("\xC2\x9B"), std::string::npos) << json.out;
  EXPECT_EQ(json.out.find("\xF3\xA0\x81\x81"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\xF0\x9F\x98\x80"), std::string::npos) << json.out;
  EXPECT_EQ(nlohmann::json::parse(json.out).at(0).at("user"), name);
  const Result toFile = Scan({"--simulate=" + file, "--format=csv"});
  ASSERT_EQ(toFile.exit, 0) << toFile.err;
  EXPECT_EQ(ParseCsv(toFile.out).at(1).at(0), name);
  const std::string simulate = "--simulate=" + file;
  const char* const argv[] = {"quorvix-scan", simulate.c_str(), "--format=csv"};
  std::ostringstream terminal, err;
  EXPECT_EQ(RunScanCommand(3, argv, terminal, err, false, true), kExitOk) << err.str();
  std::remove(file.c_str());
  EXPECT_EQ(ParseCsv(terminal.str()).at(1).at(0),
            "x\xEF\xBF\xBD]0;t\xEF\xBF\xBD\xEF\xBF\xBD[2J\xEF\xBF\xBD\xEF\xBF\xBD"
            "\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(ScanCli, AMachineWithoutANetworkGetsAMessage) {
#ifdef _WIN32
  GTEST_SKIP() << "network namespaces are Linux";
#else
  // The Samba libraries end the program without a word when no network
  // interface is up; the provider must answer with a status instead.
  if (Scan({"--help"}).out.find("--dc") == std::string::npos)
    GTEST_SKIP() << "no Samba provider in this build";
  if (std::system("unshare -rn true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no network namespace can be made here";
  const std::string err = ::testing::TempDir() + "scan-no-network-err";
  const std::string command =
      std::string("unshare -rn '") + QUORVIX_SCAN_PATH + "' HQ >/dev/null 2>'" + err + "'";
  const int status = std::system(command.c_str());
  const std::string text = ReadFile(err);
  std::remove(err.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(text.find("network interface"), std::string::npos) << text;
  EXPECT_NE(text.find("(status 1231)"), std::string::npos) << text;
#endif
}

TEST(ScanCli, AFailingMachineEnumerationExitsWithOne) {
  const Result r = Scan({"--simulate=" + Data("scan-fault.json"), "HQ"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out, "");
  const std::string text = ToUtf8(GetNetErrorText(53));
  ASSERT_FALSE(text.empty());
  EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("53"), std::string::npos) << r.err;
}

TEST(ScanCli, TheReportDoesNotDependOnTheJobs) {
  const Result one = Scan({"--simulate", "--format", "csv", "--jobs", "1"});
  ASSERT_EQ(one.exit, 0) << one.err;
  for (const char* jobs : {"4", "32"}) {
    const Result many = Scan({"--simulate", "--format", "csv", "--jobs", jobs});
    EXPECT_EQ(many.exit, 0) << many.err;
    EXPECT_EQ(many.out, one.out) << "--jobs " << jobs;
    EXPECT_EQ(many.err, one.err) << "--jobs " << jobs;
  }
  const Result bad = Scan({"--simulate", "--jobs", "257"});
  EXPECT_EQ(bad.exit, 2);
  EXPECT_NE(bad.err.find("--jobs"), std::string::npos) << bad.err;
}

TEST(ScanCli, NumbersReadTheSameInEveryLocale) {
#ifdef _WIN32
  GTEST_SKIP() << "on Windows the locale follows the user's settings, not the environment";
#else
  // A German user: the German locale, compiled from the system's locale
  // sources into a folder of the test's own when it is not installed.
  const char* german = "de_DE.UTF-8";
  std::vector<std::string> variables = {std::string("LC_ALL=") + german};
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const bool installed = std::setlocale(LC_NUMERIC, german) != nullptr;
  std::setlocale(LC_NUMERIC, saved.c_str());
  namespace fs = std::filesystem;
  const fs::path dir = ::testing::TempDir() + "scan-locale-" + std::to_string(getpid());
  if (!installed) {
    if (!fs::exists("/usr/share/i18n/locales/de_DE")) GTEST_SKIP() << "no German locale sources";
    fs::create_directories(dir);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / german).string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      fs::remove_all(dir);
      GTEST_SKIP() << "the German locale cannot be built";
    }
    variables.push_back("LOCPATH=" + dir.string());
    // glibc's setlocale leaks the LOCPATH list it splits when a category is
    // set again, as the program does; a sanitized build would report it.
    std::ofstream(dir / "leaks.supp") << "leak:__argz_add_sep\n";
    variables.push_back("LSAN_OPTIONS=suppressions=" + (dir / "leaks.supp").string());
  }
  // Seconds are written with a point whatever the locale writes numbers
  // with; the month names still follow the user's locale.
  const Result point =
      Scan({SmallDomain(), "HQ", "--format", "csv", "--host-timeout", "2.5"}, -1, variables);
  const Result comma = Scan({SmallDomain(), "HQ", "--host-timeout", "2,5"}, -1, variables);
  fs::remove_all(dir);
  ASSERT_EQ(point.exit, 0) << point.err;
  EXPECT_EQ(ParseCsv(point.out).at(1).at(4), "14-Mär-2002 09:12:45");
  EXPECT_EQ(comma.exit, 2) << comma.err;
  EXPECT_NE(comma.err.find("--host-timeout"), std::string::npos) << comma.err;
#endif
}

TEST(ScanCli, AGeneratedDomainGivesTheSameCsvForAnyJobs) {
  sim::GeneratorOptions o;
  o.machines = 400;
  o.entriesPerMachine = 4;
  o.latencyMicros = 100;
  o.unreachableShare = 0.1;
  std::vector<std::string> outputs;
  for (unsigned jobs : {1u, 4u, 32u}) {
    sim::SimulatedNetApi api(sim::GenerateDomain(o));
    api.SetLogging(false);
    ConsoleReport report(u"BENCH");
    ASSERT_EQ(RunAuditScan(api, report, ScanSettings{jobs, {}}), ScanOutcome::Done);
    std::string all;
    for (int16_t key = 0; key < 5; ++key) {  // every column has ties
      SortRows(report.Rows(), SortState{true, key, key % 2});
      all += FormatCsv(report.Rows());
    }
    outputs.push_back(all + ToUtf8(SummaryText(report.Machines())));
  }
  EXPECT_EQ(outputs[1], outputs[0]);
  EXPECT_EQ(outputs[2], outputs[0]);
}

TEST(ScanCli, MachinesListsEveryMachineWithItsOutcome) {
  const Result r = Scan({SmallDomain(), "HQ", "--machines", "--format", "csv"});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto records = ParseCsv(r.out);
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[0], (std::vector<std::string>{"Machine", "Role", "Entries", "Outcome", "Status",
                                                  "Message"}));
  EXPECT_EQ(records[1], (std::vector<std::string>{"PDC01", "PDC", "1", "listed", "", ""}));
  EXPECT_EQ(records[3][0], "PC020");
  EXPECT_EQ(records[3][3], "not asked");
  EXPECT_EQ(records[3][4], "53");
  EXPECT_NE(records[3][5], "");
  EXPECT_NE(r.err.find("1 of 5 machines could not be asked"), std::string::npos) << r.err;
}

#ifdef _WIN32
// The program ends without waiting for a machine it gave up; the console it
// shares keeps its code page all the same.
TEST(ScanCli, AnEndWithAMachineGivenUpGivesTheConsoleItsCodePageBack) {
  // Under Wine without a terminal the process holds a console that has no
  // code page; one of its own has one where Wine has a display.
  if (GetConsoleOutputCP() == 0) {
    FreeConsole();
    if (!AllocConsole()) GTEST_SKIP() << "no console";
  }
  const UINT saved = GetConsoleOutputCP();
  if (!SetConsoleOutputCP(437)) GTEST_SKIP() << "the console keeps its code page";
  const Result r = Scan({"--simulate=" + Data("scan-slow.json"), "HQ", "--host-timeout", "0.3"});
  const UINT after = GetConsoleOutputCP();
  SetConsoleOutputCP(saved);
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.err.find("1 timed out"), std::string::npos) << r.err;
  EXPECT_EQ(after, 437u);
}
#else
TEST(ScanCli, ASilentMachineIsGivenUpAndCtrlCPrintsTheRowsFound) {
  const std::string slow = "--simulate=" + Data("scan-slow.json");
  // The silent machine is given up at its deadline; the program does not
  // wait for its answer.
  const Result r = Scan({slow, "HQ", "--format", "csv", "--host-timeout", "0.3"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(ParseCsv(r.out).size(), 3u);  // header, admin, ann
  EXPECT_EQ(r.err,
            "quorvix-scan: 2 of 4 machines could not be asked: 1 no answer (53), 1 timed out\n");

  // Without a deadline, Ctrl+C stops the scan: the rows found are printed.
  const Result stopped = Scan({slow, "HQ", "--format", "csv", "--host-timeout", "0"}, 1500);
  EXPECT_EQ(stopped.exit, 130) << stopped.err;
  EXPECT_EQ(ParseCsv(stopped.out).size(), 3u) << stopped.out;
  EXPECT_NE(stopped.err.find("1 stopped"), std::string::npos) << stopped.err;
}
#endif

}  // namespace
}  // namespace quorvix
