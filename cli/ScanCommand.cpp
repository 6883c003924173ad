#include "ScanCommand.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "ConsoleReport.h"
#include "ProviderFactory.h"
#include "ReportFormat.h"
#include "ReportOrder.h"
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
  std::string format = "table";
  bool csvRaw = false;
  std::string sortColumn = "Username";
  bool descending = false;
};

std::vector<std::string> ColumnNames() {
  std::vector<std::string> names;
  for (const char16_t* c : kReportColumns) names.push_back(ToUtf8(c));
  return names;
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
  return kExitOk;
}

}  // namespace

int RunScanCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& errOut,
                   bool showProgress) {
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
  app.add_option("--format", opt.format, "Output format: table, csv or json")
      ->transform(CLI::IsMember({"table", "csv", "json"}, CLI::ignore_case))
      ->capture_default_str();
  app.add_option("--sort", opt.sortColumn, "Order the report by this column header")
      ->transform(CLI::IsMember(ColumnNames(), CLI::ignore_case))
      ->capture_default_str();
  app.add_flag("--descending", opt.descending, "Order the report in descending order");
  app.add_flag("--csv-raw", opt.csvRaw,
               "CSV with every field as it is (plain CSV puts an apostrophe before a field "
               "that a spreadsheet would run as a formula)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e, out, err);  // --help, --version
    err << kProgram << ": ";
    app.exit(e, out, err);
    return kExitBadInput;
  }
  opt.domainGiven = domainOpt->count() > 0;
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
    err << kProgram << ": " << e.what() << "\n";
    return kExitBadInput;
  }
  if (!provider.note.empty()) err << kProgram << ": " << provider.note << "\n";
  NetApi& api = *provider.api;

  if (opt.listDomains) return ListDomains(api, out, err);

  std::u16string domain = FromUtf8(opt.domain);
  if (!opt.domainGiven) {
    classNetAPI net(api);
    const std::u16string result = net.fnGetDomainName(domain);
    if (result != u"0") {
      int32_t status = 0;
      try {
        status = static_cast<int32_t>(std::stol(ToUtf8(result)));
      } catch (const std::exception&) {
        status = -1;
      }
      err << kProgram << ": this machine's domain is not known: " << StatusDescription(status)
          << "; name the domain to scan\n";
      return kExitNetworkFailure;
    }
  }

  ConsoleReport report(domain);
  ScanHooks hooks;
  int32_t failedStatus = 0;
  hooks.enumerationFailed = [&failedStatus](int32_t status) { failedStatus = status; };
  if (showProgress) {
    hooks.machineAsked = [&err](std::size_t asked, std::size_t total) {
      err << "\r" << kProgram << ": asked " << asked << " of " << total << " machines"
          << (asked == total ? "\n" : "") << std::flush;
    };
  }

  const ScanOutcome outcome = RunAuditScan(api, report, hooks);
  if (outcome == ScanOutcome::Failed) {
    err << kProgram << ": the machines of domain \"" << TerminalLine(ToUtf8(domain))
        << "\" could not be listed: " << StatusDescription(failedStatus) << "\n";
    return kExitNetworkFailure;
  }
  if (outcome != ScanOutcome::Done) {
    err << kProgram << ": the scan did not finish\n";
    return kExitNetworkFailure;
  }

  SortState sort;
  const std::vector<std::string> names = ColumnNames();
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (names[k] == opt.sortColumn) sort.SortKey = static_cast<int16_t>(k);
  }
  sort.SortOrder = opt.descending ? 1 : 0;
  SortRows(report.Rows(), sort);

  if (opt.format == "csv") {
    out << FormatCsv(report.Rows(), opt.csvRaw ? CsvFields::Raw : CsvFields::ForSpreadsheets);
  } else if (opt.format == "json") {
    out << FormatJson(report.Rows());
  } else {
    out << FormatTable(report.Rows());
  }
  out.flush();
  if (!out) {
    err << kProgram << ": the report could not be written\n";
    return kExitNetworkFailure;
  }
  return kExitOk;
}

}  // namespace quorvix
