// A whole scan of a simulated domain that the fuzzer describes (hostile
// names, failing machines, odd types and logons), ordered by any column, then
// written in the three formats. Checks that the provider gets every buffer
// back, that the table and CSV hold nothing that steers a terminal or a
// spreadsheet, and that the JSON parses back to the rows.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "AuditScan.h"
#include "ConsoleReport.h"
#include "FuzzInput.h"
#include "ReportFormat.h"
#include "ReportOrder.h"
#include "SimulatedNetApi.h"

namespace {

using namespace quorvix;

// Names as the loader lets them through: no U+0000, no backslash, not empty,
// unique (the last unit is the machine's number).
std::u16string Name(fuzz::FuzzInput& in, std::size_t k) {
  std::u16string n = in.Text(12);
  for (auto& c : n)
    if (c == 0 || c == u'\\') c = u'_';
  return n + static_cast<char16_t>(u'A' + k);
}

sim::SimDomain Domain(fuzz::FuzzInput& in) {
  sim::SimDomain d;
  d.localDomain = u"HQ";
  const std::size_t machines = 1 + in.Below(8);
  for (std::size_t k = 0; k < machines; ++k) {
    sim::SimMachine m;
    m.name = Name(in, k);
    m.domain = u"HQ";
    m.type = in.U32();
    if (in.Below(4) == 0) {
      m.sessionsStatus = 1 + in.Below(3000);
    } else {
      const std::size_t sessions = in.Below(6);
      for (std::size_t s = 0; s < sessions; ++s) {
        sim::SimLogonEntry e;
        e.user = in.Text(10);
        for (auto& c : e.user)
          if (c == 0) c = u'_';
        if (e.user.empty()) e.user = u"u";
        e.logonDomain = in.Text(6);
        e.logonServer = in.Text(6);
        if (!d.machines.empty() && in.Bool()) e.logonServer = u"\\\\" + d.machines.front().name;
        for (auto* t : {&e.logonDomain, &e.logonServer})
          for (auto& c : *t)
            if (c == 0) c = u'_';
        m.sessions.push_back(std::move(e));
      }
    }
    d.machines.push_back(std::move(m));
  }
  // The first machine is the controller and knows some of the users.
  for (const auto& m : d.machines)
    for (const auto& e : m.sessions)
      if (in.Bool()) {
        bool known = false;
        for (const auto& u : d.machines.front().users) known = known || u.name == e.user;
        if (!known) d.machines.front().users.push_back({e.user, in.U32(), {}});
      }
  d.domains.push_back({u"HQ", d.machines.front().name});
  d.computerName = d.machines.back().name;
  return d;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  sim::SimulatedNetApi api(Domain(in));
  api.SetLogging(false);
  ConsoleReport report(u"HQ");
  const ScanOutcome outcome = RunAuditScan(api, report);
  Check(api.OutstandingBuffers() == 0 && api.RefusedFrees() == 0);
  if (outcome != ScanOutcome::Done) return 0;

  SortState sort;
  sort.SortKey = static_cast<int16_t>(in.Below(5));
  sort.SortOrder = in.Below(2);
  SortRows(report.Rows(), sort);
  const auto& rows = report.Rows();

  const std::string table = FormatTable(rows);
  std::size_t lines = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const auto c = static_cast<unsigned char>(table[i]);
    if (c == '\n') ++lines;
    Check(c >= 0x20 || c == '\n');
    Check(c != 0x7F);
    // No C1 control (U+0080 to U+009F), no line or paragraph separator.
    if (c == 0xC2 && i + 1 < table.size()) Check(static_cast<unsigned char>(table[i + 1]) >= 0xA0);
    if (c == 0xE2 && i + 2 < table.size())
      Check(!(static_cast<unsigned char>(table[i + 1]) == 0x80 &&
              (static_cast<unsigned char>(table[i + 2]) == 0xA8 ||
               static_cast<unsigned char>(table[i + 2]) == 0xA9)));
  }
  Check(lines == rows.size() + 2);

  // Every field of the spreadsheet CSV opens with a quote and then something
  // that a spreadsheet does not run.
  const std::string csv = FormatCsv(rows);
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    if (csv[i] != '"') continue;
    if (!quoted && i + 1 < csv.size())
      Check(std::string("=+-@\t\r").find(csv[i + 1]) == std::string::npos);
    if (quoted && i + 1 < csv.size() && csv[i + 1] == '"') {
      ++i;  // a doubled quote inside the field
      continue;
    }
    quoted = !quoted;
  }
  Check(!quoted);
  Check(FormatCsv(rows, CsvFields::Raw).size() <= csv.size());

  const auto json = nlohmann::json::parse(FormatJson(rows));
  Check(json.is_array() && json.size() == rows.size());
  return 0;
}
