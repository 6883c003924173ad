#include "AnswerConversion.h"

#include <cstdlib>

#include "basStringHandler.h"

namespace quorvix::samba {

namespace {

constexpr unsigned kUfAccountDisable = 0x0002;

Text FromC(const char* s) {
  if (s == nullptr) return std::nullopt;
  return FromUtf8(s);
}

}  // namespace

WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer) {
  return {FromC(user), FromC(logonDomain), FromC(otherDomains), FromC(logonServer)};
}

std::optional<AdComputer> ComputerFromAttributes(const ComputerAttributes& a) {
  std::string name = a.samAccountName;
  if (!name.empty() && name.back() == '$') name.pop_back();
  if (name.empty()) name = a.dnsHostName.substr(0, a.dnsHostName.find('.'));
  if (name.empty()) return std::nullopt;
  const auto uac = static_cast<unsigned>(std::strtoul(a.userAccountControl.c_str(), nullptr, 10));
  if ((uac & kUfAccountDisable) != 0) return std::nullopt;  // cannot log on, so nobody is there
  AdComputer c;
  c.name = FromUtf8(name);
  c.type = ComputerType(uac, a.holdsPdcRole, a.operatingSystem);
  ParseOsVersion(a.operatingSystemVersion, c.versionMajor, c.versionMinor);
  c.comment = FromUtf8(a.description);
  return c;
}

}  // namespace quorvix::samba
