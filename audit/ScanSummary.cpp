#include "ScanSummary.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "TerminalText.h"

namespace quorvix {

namespace {

std::u16string Ascii(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

std::u16string StatusNumber(int32_t status) {
  return Ascii(std::to_string(static_cast<uint32_t>(status)));
}

}  // namespace

std::u16string GroupedNumber(std::size_t n) {
  const std::string digits = std::to_string(n);
  std::u16string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(u',');
    out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

std::u16string WorkingStatusText(std::size_t done, std::size_t total) {
  return u"Status: Working... " + GroupedNumber(done) + u" of " + GroupedNumber(total) +
         u" machines";
}

bool FullyAsked(const MachineOutcome& machine) {
  return machine.state == MachineState::Listed;
}

std::u16string EndStatusText(ScanOutcome outcome, const std::vector<MachineOutcome>& machines) {
  const std::size_t total = machines.size();
  const std::size_t notAsked = static_cast<std::size_t>(std::count_if(
      machines.begin(), machines.end(), [](const MachineOutcome& m) { return !FullyAsked(m); }));
  if (outcome == ScanOutcome::Stopped) {
    const std::size_t asked = static_cast<std::size_t>(
        std::count_if(machines.begin(), machines.end(),
                      [](const MachineOutcome& m) { return m.state != MachineState::Stopped; }));
    return u"Status: Stopped - " + GroupedNumber(asked) + u" of " + GroupedNumber(total) +
           u" machines asked";
  }
  if (notAsked == 0) return u"Status: Done";
  return u"Status: Done - " + GroupedNumber(notAsked) + u" of " + GroupedNumber(total) +
         u" machines not asked";
}

std::u16string StateText(MachineState state) {
  switch (state) {
    case MachineState::Listed:
      return u"listed";
    case MachineState::PartlyListed:
      return u"partly listed";
    case MachineState::NotAsked:
      return u"not asked";
    case MachineState::TimedOut:
      return u"timed out";
    case MachineState::Stopped:
      return u"stopped";
  }
  return u"";
}

std::u16string ShortStatusText(int32_t status) {
  switch (static_cast<uint32_t>(status)) {
    case 5:
      return u"access denied";
    case 51:
    case 53:
    case 1231:
      return u"no answer";
    case 58:
      return u"bad answer";
    case 64:
    case 1236:
      return u"connection lost";
    case 121:
    case 1460:
      return u"timed out";
    case 1326:
    case 1385:
    case 1907:
    case 1909:
      return u"logon refused";
    case 1722:
    case 1753:
      return u"service unavailable";
    default:
      return u"error";
  }
}

std::u16string SummaryText(const std::vector<MachineOutcome>& machines) {
  std::map<uint32_t, std::size_t> notAsked;  // by status
  std::size_t partly = 0, timedOut = 0, stopped = 0, missing = 0;
  for (const MachineOutcome& m : machines) {
    switch (m.state) {
      case MachineState::Listed:
        continue;
      case MachineState::NotAsked:
        ++notAsked[static_cast<uint32_t>(m.status)];
        break;
      case MachineState::PartlyListed:
        ++partly;
        break;
      case MachineState::TimedOut:
        ++timedOut;
        break;
      case MachineState::Stopped:
        ++stopped;
        break;
    }
    ++missing;
  }
  if (missing == 0) return {};

  // The most frequent reasons first.
  std::vector<std::pair<uint32_t, std::size_t>> reasons(notAsked.begin(), notAsked.end());
  std::stable_sort(reasons.begin(), reasons.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::vector<std::u16string> parts;
  for (const auto& [status, count] : reasons)
    parts.push_back(GroupedNumber(count) + u" " + ShortStatusText(static_cast<int32_t>(status)) +
                    u" (" + StatusNumber(static_cast<int32_t>(status)) + u")");
  if (partly > 0) parts.push_back(GroupedNumber(partly) + u" partly listed");
  if (timedOut > 0) parts.push_back(GroupedNumber(timedOut) + u" timed out");
  if (stopped > 0) parts.push_back(GroupedNumber(stopped) + u" stopped");

  std::u16string text = GroupedNumber(missing) + u" of " + GroupedNumber(machines.size()) +
                        u" machines could not be asked: ";
  for (std::size_t k = 0; k < parts.size(); ++k) text += (k > 0 ? u", " : u"") + parts[k];
  return text;
}

std::u16string UnaskedMachinesText(const std::vector<MachineOutcome>& machines) {
  std::u16string text;
  for (const MachineOutcome& m : machines) {
    if (FullyAsked(m)) continue;
    // One line per machine, whatever its name holds.
    text += VisibleText(m.machine);
    if (!m.role.empty()) text += u" (" + m.role + u")";
    text += u": " + StateText(m.state);
    if (m.state == MachineState::PartlyListed)
      text += u" after " + GroupedNumber(m.entries) + (m.entries == 1 ? u" entry" : u" entries");
    if (m.status != 0) {
      text += u" - ";
      if (!m.message.empty()) text += m.message + u" ";
      text += u"(status " + StatusNumber(m.status) + u")";
    }
    text += u"\n";
  }
  return text;
}

}  // namespace quorvix
