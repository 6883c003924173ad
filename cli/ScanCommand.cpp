#include "ScanCommand.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "BatchedEnum.h"
#include "ConsoleReport.h"
#include "ProviderFactory.h"
#include "ReportFormat.h"
#include "ReportOrder.h"
#include "ScanSummary.h"
#include "TerminalText.h"
#include "basMain.h"
#include "basStringHandler.h"
#include "classNetAPI.h"

#ifndef QUORVIX_VERSION_TEXT
#error "QUORVIX_VERSION_TEXT must be defined by the build"
#endif

namespace quorvix {

namespace {

constexpr const char* kProgram = "quorvix-scan";

// "text (status N)", or a text naming the status alone when it has no message.
std::string StatusDescription(int32_t status) {
  std::string text = ToUtf8(GetNetErrorText(status));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  if (text.empty()) text = "no message is known for this status";
  // Statuses are 32-bit words: 2^31 and above are not negative numbers.
  return text + " (status " + std::to_string(static_cast<uint32_t>(status)) + ")";
}

struct Options {
  ProviderOptions provider;
  std::string domain;
  bool domainGiven = false;
  bool listDomains = false;
  bool listMachines = false;
  std::string format = "table";
  bool csvRaw = false;
  std::string sortColumn = "Username";
  bool descending = false;
  bool machines = false;
};

// Set by Ctrl+C while a scan runs: the scan stops and prints what it found.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
  std::signal(SIGINT, SIG_DFL);
}

// Ctrl+C stops the scan while this lives; a second one ends the program.
class InterruptStops {
 public:
  InterruptStops() {
    g_interrupted.store(false);
    previous_ = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptStops() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
  InterruptStops(const InterruptStops&) = delete;
  InterruptStops& operator=(const InterruptStops&) = delete;

 private:
  void (*previous_)(int) = SIG_DFL;
};

// "about 2 min left"
std::string TimeLeft(std::chrono::steady_clock::duration elapsed, std::size_t done,
                     std::size_t total) {
  if (done == 0 || done >= total) return {};
  const double perMachine = std::chrono::duration<double>(elapsed).count() / double(done);
  const auto seconds = static_cast<long long>(perMachine * double(total - done) + 0.5);
  if (seconds < 1) return ", almost done";
  if (seconds < 60) return ", about " + std::to_string(seconds) + " s left";
  if (seconds < 3600) return ", about " + std::to_string((seconds + 30) / 60) + " min left";
  return ", about " + std::to_string(seconds / 3600) + " h " +
         std::to_string((seconds % 3600 + 30) / 60) + " min left";
}

std::vector<std::string> ColumnNames() {
  std::vector<std::string> names;
  for (const char16_t* c : kReportColumns) names.push_back(ToUtf8(c));
  return names;
}

// rc once out holds everything written to it; otherwise a message and the
// exit status of a failure.
int Written(std::ostream& out, std::ostream& err, const char* what, int rc) {
  out.flush();
  if (out) return rc;
  err << kProgram << ": the " << what << " could not be written\n";
  return kExitNetworkFailure;
}

int ListDomains(NetApi& api, std::ostream& out, std::ostream& err) {
  classNetAPI net(api);
  std::vector<std::u16string> domains;
  const int32_t status =
      net.fnNetServerEnum(u"", static_cast<int32_t>(SV_TYPE_DOMAIN_ENUM), domains, false);
  if (status != 0) {
    err << kProgram << ": the domains could not be listed: " << StatusDescription(status) << "\n";
    return kExitNetworkFailure;
  }
  // One line per domain, whatever a name holds.
  for (std::size_t i = 1; i < domains.size(); ++i) out << ToUtf8(VisibleText(domains[i])) << "\n";
  return Written(out, err, "list", kExitOk);
}

// The role text of a type word, tested in the order GetServerType tests it.
const char* RoleOfType(DWORD type) {
  const char* role = "";
  if ((type & SV_TYPE_WORKSTATION) != 0) role = "Wks";
  if ((type & SV_TYPE_SERVER_NT) != 0) role = "Wks/Srv";
  if ((type & SV_TYPE_DOMAIN_BAKCTRL) != 0) role = "BDC";
  if ((type & SV_TYPE_DOMAIN_CTRL) != 0) role = "PDC";
  return role;
}

// The domain's machines as the enumeration names them, each with the role
// its type word gives, one a line ("NAME<tab>ROLE").
int ListMachines(NetApi& api, const std::u16string& domain, std::ostream& out, std::ostream& err) {
  NetBuffer buffer(api);
  DWORD read = 0;
  DWORD total = 0;
  DWORD resume = 0;
  const NET_API_STATUS status =
      api.NetServerEnum(nullptr, 101, buffer.out(), MAX_PREFERRED_LENGTH, &read, &total,
                        SV_TYPE_ALL, domain.empty() ? nullptr : NameArgument(domain), &resume);
  if (status != NERR_Success) {
    err << kProgram << ": the machines of domain \"" << TerminalLine(ToUtf8(domain))
        << "\" could not be listed: " << StatusDescription(status) << "\n";
    return kExitNetworkFailure;
  }
  if (read > kMaxEnumEntries || (read > 0 && !buffer)) {
    err << kProgram << ": the machines of domain \"" << TerminalLine(ToUtf8(domain))
        << "\" could not be listed: " << StatusDescription(ERROR_BAD_NET_RESP) << "\n";
    return kExitNetworkFailure;
  }
  for (DWORD k = 0; k < read; ++k) {
    const auto& info = buffer.record<SERVER_INFO_101>(k);
    out << ToUtf8(VisibleText(fnPointerToString(info.sv101_name))) << "\t"
        << RoleOfType(info.sv101_type) << "\n";
  }
  return Written(out, err, "list", kExitOk);
}

}  // namespace

int RunScanCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& errOut,
                   bool showProgress, bool outputIsTerminal) {
  // Messages echo names, keys and file content: nothing of them may steer the terminal.
  TerminalStreamBuf errBuf(errOut);
  std::ostream err(&errBuf);
  Options opt;
  CLI::App app{
      "Shows who is logged on where in a Windows domain: one row per logged-on user "
      "with the workstation and its role, the logon domain, the logon server and the "
      "user's last logon.",
      kProgram};
  AddProviderOptions(app, opt.provider);
  app.set_version_flag("--version", std::string(kProgram) + " " + QUORVIX_VERSION_TEXT);
  CLI::Option* domainOpt =
      app.add_option("DOMAIN", opt.domain, "The domain to scan (default: this machine's domain)");
  app.add_flag("--list-domains", opt.listDomains, "Print the visible domains, one a line")
      ->excludes(domainOpt);
  app.add_flag("--list-machines", opt.listMachines,
               "Print the domain's machines with their roles, one a line")
      ->excludes("--list-domains");
  app.add_option("--format", opt.format, "Output format: table, csv or json")
      ->transform(CLI::IsMember({"table", "csv", "json"}, CLI::ignore_case))
      ->capture_default_str();
  app.add_option("--sort", opt.sortColumn, "Order the report by this column header")
      ->transform(CLI::IsMember(ColumnNames(), CLI::ignore_case))
      ->capture_default_str();
  app.add_flag("--descending", opt.descending, "Order the report in descending order");
  app.add_flag("--machines", opt.machines,
               "Print one line per machine instead of the rows: Machine, Role, Entries, "
               "Outcome, Status, Message");
  app.add_flag("--csv-raw", opt.csvRaw,
               "CSV with every field as it is (plain CSV puts an apostrophe before a field "
               "that a spreadsheet would run as a formula)");
  // The lists have a form of their own: the report's options would go unused.
  for (const char* list : {"--list-domains", "--list-machines"})
    for (const char* report : {"--format", "--sort", "--descending", "--machines", "--csv-raw"})
      app.get_option(list)->excludes(report);
  // Nor do the rows' order: machines are printed as the list named them.
  for (const char* order : {"--sort", "--descending"})
    app.get_option("--machines")->excludes(order);

  // Parse errors echo the arguments, which may hold line ends of their own.
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return TerminalLine(e.what()) + "\nRun with --help for more information.\n";
  });
  try {
    ParseCommandLine(app, argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
    err << kProgram << ": ";
    app.exit(e, out, err);
    return kExitBadInput;
  }
  opt.domainGiven = domainOpt->count() > 0;
  // An empty name would scan this machine's own domain instead (a script
  // whose variable is empty, say).
  if (opt.domainGiven && opt.domain.find_first_not_of(" \t") == std::string::npos) {
    err << kProgram << ": the domain name is empty; leave it out to scan this machine's domain\n";
    return kExitBadInput;
  }
  if (opt.csvRaw) {
    if (app.get_option("--format")->count() > 0 && opt.format != "csv") {
      err << kProgram << ": --csv-raw writes CSV; it cannot go with --format " << opt.format
          << "\n";
      return kExitBadInput;
    }
    opt.format = "csv";
  }

  Provider provider;
  try {
    provider = MakeProvider(opt.provider);
  } catch (const std::exception& e) {
    err << kProgram << ": " << TerminalLine(e.what()) << "\n";
    return kExitBadInput;
  }
  if (!provider.note.empty()) err << kProgram << ": " << TerminalLine(provider.note) << "\n";
  NetApi& api = *provider.api;

  if (opt.listDomains) return ListDomains(api, out, err);

  std::u16string domain = FromUtf8(opt.domain);
  if (!opt.domainGiven && !opt.listMachines) {
    classNetAPI net(api);
    const std::u16string result = net.fnGetDomainName(domain);
    if (result != u"0") {
      // The status is a 32-bit word in decimal, 2^31 and above included
      // (more than a 32-bit long holds).
      const std::string text = ToUtf8(result);
      uint32_t word = 0;
      const char* end = text.data() + text.size();
      const auto [ptr, ec] = std::from_chars(text.data(), end, word);
      const int32_t status =
          ec == std::errc() && ptr == end ? static_cast<int32_t>(word) : static_cast<int32_t>(-1);
      err << kProgram << ": this machine's domain is not known: " << StatusDescription(status)
          << "; name the domain to scan\n";
      return kExitNetworkFailure;
    }
  }

  if (opt.listMachines) return ListMachines(api, domain, out, err);

  ConsoleReport report(domain, &g_interrupted);
  ScanHooks hooks;
  int32_t failedStatus = 0;
  hooks.enumerationFailed = [&failedStatus](int32_t status) { failedStatus = status; };
  const auto started = std::chrono::steady_clock::now();
  auto shown = started - std::chrono::seconds(1);
  std::size_t shownWidth = 0;
  if (showProgress) {
    hooks.progress = [&](const ScanProgress& p) {
      const auto now = std::chrono::steady_clock::now();
      if (now - shown < std::chrono::milliseconds(100) && p.done < p.total) return;
      shown = now;
      std::string line = std::string(kProgram) + ": " + ToUtf8(GroupedNumber(p.done)) + " of " +
                         ToUtf8(GroupedNumber(p.total)) + " machines, " +
                         ToUtf8(GroupedNumber(p.rows)) + (p.rows == 1 ? " row" : " rows") +
                         TimeLeft(now - started, p.done, p.total);
      const std::size_t width = line.size();
      if (width < shownWidth) line.append(shownWidth - width, ' ');
      shownWidth = width;
      err << "\r" << line << std::flush;
    };
  }

  ScanSettings settings;
  settings.jobs = opt.provider.jobs;
  settings.hostTimeout = opt.provider.hostTimeout;
  ScanOutcome outcome;
  {
    InterruptStops interrupt;
    outcome = RunAuditScan(api, report, settings, hooks);
  }
  if (shownWidth > 0) err << "\n";
  // Machines given up may still be inside a call to the provider, which must
  // outlive them; the program ends soon after, and so do they.
  if (BusyScanWorkers() > 0) static_cast<void>(provider.api.release());

  if (outcome == ScanOutcome::Failed) {
    err << kProgram << ": the machines of domain \"" << TerminalLine(ToUtf8(domain))
        << "\" could not be listed: " << StatusDescription(failedStatus) << "\n";
    return kExitNetworkFailure;
  }
  if (outcome != ScanOutcome::Done && outcome != ScanOutcome::Stopped) {
    err << kProgram << ": the scan did not finish\n";
    return kExitNetworkFailure;
  }
  if (const std::u16string summary = SummaryText(report.Machines()); !summary.empty())
    err << kProgram << ": " << ToUtf8(summary) << "\n";
  const int done = outcome == ScanOutcome::Stopped ? kExitInterrupted : kExitOk;

  if (opt.machines) {
    const auto& machines = report.Machines();
    if (opt.format == "csv") {
      out << FormatMachinesCsv(machines, opt.csvRaw ? CsvFields::Raw : CsvFields::ForSpreadsheets,
                               outputIsTerminal);
    } else if (opt.format == "json") {
      out << FormatMachinesJson(machines);
    } else {
      out << FormatMachinesTable(machines);
    }
    return Written(out, err, "report", done);
  }

  SortState sort;
  const std::vector<std::string> names = ColumnNames();
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (names[k] == opt.sortColumn) sort.SortKey = static_cast<int16_t>(k);
  }
  sort.SortOrder = opt.descending ? 1 : 0;
  SortRows(report.Rows(), sort);

  if (opt.format == "csv") {
    out << FormatCsv(report.Rows(), opt.csvRaw ? CsvFields::Raw : CsvFields::ForSpreadsheets,
                     outputIsTerminal);
  } else if (opt.format == "json") {
    out << FormatJson(report.Rows());
  } else {
    out << FormatTable(report.Rows());
  }
  return Written(out, err, "report", done);
}

}  // namespace quorvix
