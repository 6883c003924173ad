#include "AnswerConversion.h"

#include "basStringHandler.h"

namespace quorvix::samba {

namespace {

Text FromC(const char* s) {
  if (s == nullptr) return std::nullopt;
  return FromUtf8(s);
}

}  // namespace

WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer) {
  return {FromC(user), FromC(logonDomain), FromC(otherDomains), FromC(logonServer)};
}

}  // namespace quorvix::samba
