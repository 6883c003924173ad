#include "WindowTexts.h"

namespace quorvix {

namespace {

void AppendClean(std::u16string& out, const std::u16string& text) {
  for (char16_t c : text) out.push_back(c < 0x20 || c == 0x7F ? u' ' : c);
}

void AppendNumber(std::u16string& out, long long n) {
  for (char c : std::to_string(n)) out.push_back(static_cast<char16_t>(c));
}

bool FullyAsked(const MachineOutcome& o) {
  return o.state == MachineState::Listed;
}

}  // namespace

std::u16string MachineStateText(MachineState state) {
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
  return u"unknown";
}

std::size_t CountNotFullyAsked(const std::vector<MachineOutcome>& outcomes) {
  std::size_t n = 0;
  for (const MachineOutcome& o : outcomes)
    if (!FullyAsked(o)) ++n;
  return n;
}

std::u16string NotFullyAskedText(const std::vector<MachineOutcome>& outcomes) {
  std::u16string out;
  for (const MachineOutcome& o : outcomes) {
    if (FullyAsked(o)) continue;
    AppendClean(out, o.machine);
    out += u'\t';
    AppendClean(out, o.role);
    out += u'\t';
    out += MachineStateText(o.state);
    out += u'\t';
    AppendNumber(out, static_cast<long long>(o.entries));
    out += u" rows\t";
    if (o.status != 0) {
      out += u"status ";
      AppendNumber(out, o.status);
      if (!o.message.empty()) out += u": ";
    }
    AppendClean(out, o.message);
    out += u"\r\n";
  }
  return out;
}

}  // namespace quorvix
