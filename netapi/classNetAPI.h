// The query class: each public operation wraps one network call. It keeps no
// state beyond the provider it talks to. Outputs are written only on success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "NetApi.h"

namespace quorvix {

class classNetAPI {
 public:
  explicit classNetAPI(NetApi& api) : api_(api) {}

  // The local machine's domain; the result is the status as decimal text ("0").
  std::u16string fnGetDomainName(std::u16string& strDomain);
  int32_t GetServerComment(const std::u16string& strServer, std::u16string& strComment);
  // "Wks", "Wks/Srv", "BDC" or "PDC"; strType unchanged when none applies.
  int32_t GetServerType(const std::u16string& strServer, std::u16string& strType);
  // "V major.minor"; the result is the status as decimal text.
  std::u16string GetServerVersion(const std::u16string& strServer, std::u16string& strVersion);
  int32_t fnGetLocalComputerName(std::u16string& strWorkstation);
  // The controller's name with its two leading backslashes.
  int32_t fnGetPDCName(const std::u16string& strServer, const std::u16string& strDomain,
                       std::u16string& strPDCName);
  // Global groups of a server (strUser empty) or of one user; slot 0 unused.
  int32_t fnGlobalGroupEnum(const std::u16string& strSystem, const std::u16string& strUser,
                            std::vector<std::u16string>& strReturn);
  // Note the order: group first, server second. Empty text on any failure.
  std::u16string GetGlobalGroupDescription(const std::u16string& strGroup,
                                           const std::u16string& strServer);
  int32_t AddUserToLocalGroup(const std::u16string& strServer, const std::u16string& strGroup,
                              const std::u16string& strUser);
  // The server-type word, 0 on failure.
  int32_t GetServerVal(const std::u16string& sServer);
  // Domains (lngServerType == SV_TYPE_DOMAIN_ENUM) or a domain's machines; slot 0 unused.
  int32_t fnNetServerEnum(const std::u16string& strDomain, int32_t lngServerType,
                          std::vector<std::u16string>& strReturn, bool bWKSOnly);
  // Seconds since 1970-01-01 00:00:00 UTC, unsigned so that times after 2038 stay right.
  int32_t GetLastLogon(const std::u16string& strServer, const std::u16string& strUser,
                       uint32_t& lngTime);

  // True when every bit of mask is set in value.
  static bool IsFlagSet(uint32_t value, uint32_t mask) { return (value & mask) == mask; }

 private:
  NetApi& api_;
};

}  // namespace quorvix
