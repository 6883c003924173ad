#include "classNetAPI.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "BatchedEnum.h"
#include "basStringHandler.h"

namespace quorvix {

namespace {

// The empty text as a name argument: a lone terminator, the local computer.
const std::u16string kLocal;

// Group enumeration over a server: small batches, one exchange per few names.
constexpr DWORD kGroupBatchLength = 255;

// A number as its decimal digits, no blanks (statuses have no sign).
std::u16string DecimalText(int64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// A call that claims success but hands back no record cannot be read; it is
// answered as a server whose response cannot be used.
NET_API_STATUS CheckRecord(NET_API_STATUS status, const NetBuffer& buffer) {
  if (status == NERR_Success && !buffer) return ERROR_BAD_NET_RESP;
  return status;
}

// The one SERVER_INFO_101 of a server, into buffer.
NET_API_STATUS ServerInfo101(NetApi& api, const std::u16string& server, NetBuffer& buffer) {
  return CheckRecord(api.NetServerGetInfo(NameArgument(server), 101, buffer.out()), buffer);
}

// The one WKSTA_INFO_100 of the local machine, into buffer.
NET_API_STATUS LocalWkstaInfo100(NetApi& api, NetBuffer& buffer) {
  return CheckRecord(api.NetWkstaGetInfo(NameArgument(kLocal), 100, buffer.out()), buffer);
}

}  // namespace

std::u16string classNetAPI::fnGetDomainName(std::u16string& strDomain) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = LocalWkstaInfo100(api_, buffer);
  if (status != NERR_Success) return DecimalText(status);
  strDomain = fnPointerToString(buffer.record<WKSTA_INFO_100>().wki100_langroup);
  return u"0";
}

int32_t classNetAPI::GetServerComment(const std::u16string& strServer, std::u16string& strComment) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = ServerInfo101(api_, strServer, buffer);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  strComment = fnPointerToString(buffer.record<SERVER_INFO_101>().sv101_comment);
  return 0;
}

int32_t classNetAPI::GetServerType(const std::u16string& strServer, std::u16string& strType) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = ServerInfo101(api_, strServer, buffer);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  const DWORD type = buffer.record<SERVER_INFO_101>().sv101_type;
  // Every test is made; the last hit wins, so a controller reads "PDC" or
  // "BDC" whatever else it is. With none of the four, strType stays as given.
  if (IsFlagSet(type, SV_TYPE_WORKSTATION)) strType = u"Wks";
  if (IsFlagSet(type, SV_TYPE_SERVER_NT)) strType = u"Wks/Srv";
  if (IsFlagSet(type, SV_TYPE_DOMAIN_BAKCTRL)) strType = u"BDC";
  if (IsFlagSet(type, SV_TYPE_DOMAIN_CTRL)) strType = u"PDC";
  return 0;
}

std::u16string classNetAPI::GetServerVersion(const std::u16string& strServer,
                                             std::u16string& strVersion) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = ServerInfo101(api_, strServer, buffer);
  if (status != NERR_Success) return DecimalText(status);
  const auto& info = buffer.record<SERVER_INFO_101>();
  strVersion = u"V " + DecimalText(static_cast<int32_t>(info.sv101_version_major)) + u"." +
               DecimalText(static_cast<int32_t>(info.sv101_version_minor));
  return u"0";
}

int32_t classNetAPI::fnGetLocalComputerName(std::u16string& strWorkstation) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = LocalWkstaInfo100(api_, buffer);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  strWorkstation = fnPointerToString(buffer.record<WKSTA_INFO_100>().wki100_computername);
  return 0;
}

int32_t classNetAPI::fnGetPDCName(const std::u16string& strServer, const std::u16string& strDomain,
                                  std::u16string& strPDCName) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = CheckRecord(
      api_.NetGetDCName(NameArgument(strServer), NameArgument(strDomain), buffer.out()), buffer);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  // The platform gives the name with its two leading backslashes; kept as is.
  strPDCName = fnPointerToString(reinterpret_cast<const char16_t*>(buffer.get()));
  return 0;
}

int32_t classNetAPI::fnGlobalGroupEnum(const std::u16string& strSystem,
                                       const std::u16string& strUser,
                                       std::vector<std::u16string>& strReturn) {
  const LPCWSTR server = NameArgument(strSystem);

  // A user's groups: NetUserGetGroups has no resume handle, so the whole list
  // is asked for in one call. If even that answers ERROR_MORE_DATA, the
  // status goes back: a partial list never passes for the whole one.
  // (A user name of blanks is a user name; it is not trimmed.)
  if (!strUser.empty()) {
    NetBuffer buffer(api_);
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = api_.NetUserGetGroups(
        server, NameArgument(strUser), 0, buffer.out(), MAX_PREFERRED_LENGTH, &read, &total);
    if (status != NERR_Success) return static_cast<int32_t>(status);
    if (read > kMaxEnumEntries || (read > 0 && !buffer))
      return static_cast<int32_t>(ERROR_BAD_NET_RESP);
    std::vector<std::u16string> names;
    names.reserve(1 + static_cast<std::size_t>(read));
    names.emplace_back();  // slot 0 stays empty
    for (DWORD k = 0; k < read; ++k) {
      names.push_back(fnPointerToString(buffer.record<GROUP_USERS_INFO_0>(k).grui0_name));
    }
    strReturn = std::move(names);
    return 0;
  }

  // A server's groups, in small batches with a resume handle; names arriving
  // beyond the first batch's total are appended, so none is dropped.
  DWORD_PTR resume = 0;
  return EnumerateInBatches(
      api_, strReturn, resume,
      [&](LPBYTE* buf, DWORD* read, DWORD* total) {
        return api_.NetGroupEnum(server, 0, buf, kGroupBatchLength, read, total, &resume);
      },
      [](const NetBuffer& buffer, DWORD k) {
        return fnPointerToString(buffer.record<GROUP_INFO_0>(k).grpi0_name);
      });
}

std::u16string classNetAPI::GetGlobalGroupDescription(const std::u16string& strGroup,
                                                      const std::u16string& strServer) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = CheckRecord(
      api_.NetGroupGetInfo(NameArgument(strServer), NameArgument(strGroup), 1, buffer.out()),
      buffer);
  if (status != NERR_Success) return {};
  return fnPointerToString(buffer.record<GROUP_INFO_1>().grpi1_comment);
}

int32_t classNetAPI::AddUserToLocalGroup(const std::u16string& strServer,
                                         const std::u16string& strGroup,
                                         const std::u16string& strUser) {
  // The server name always reaches the call with "\\" in front: a name that
  // already starts with two backslashes is kept, any other gets them added
  // (one that starts with a single backslash ends up with three).
  const std::u16string server = strServer.starts_with(u"\\\\") ? strServer : u"\\\\" + strServer;

  // The member's account name travels in a buffer of the interface's own,
  // as the caller gave it, terminator included.
  const std::size_t units = strUser.size() + 1;
  if (units > MAX_PREFERRED_LENGTH / 2) return static_cast<int32_t>(ERROR_INVALID_PARAMETER);
  LPVOID raw = nullptr;
  const NET_API_STATUS allocated =
      api_.NetApiBufferAllocate(static_cast<DWORD>(units * sizeof(char16_t)), &raw);
  NetBuffer account(api_);
  *account.out() = static_cast<LPBYTE>(raw);
  if (allocated != NERR_Success) return static_cast<int32_t>(allocated);
  if (!account) return static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY);
  auto* name = reinterpret_cast<char16_t*>(account.get());
  std::copy_n(strUser.c_str(), units, name);

  LOCALGROUP_MEMBERS_INFO_3 member{name};
  return static_cast<int32_t>(api_.NetLocalGroupAddMembers(
      NameArgument(server), NameArgument(strGroup), 3, reinterpret_cast<LPBYTE>(&member), 1));
}

int32_t classNetAPI::GetServerVal(const std::u16string& sServer) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = ServerInfo101(api_, sServer, buffer);
  // A failure reads as 0, like a server without any type flag.
  if (status != NERR_Success) return 0;
  return static_cast<int32_t>(buffer.record<SERVER_INFO_101>().sv101_type);
}

int32_t classNetAPI::fnNetServerEnum(const std::u16string& strDomain, int32_t lngServerType,
                                     std::vector<std::u16string>& strReturn, bool bWKSOnly) {
  const DWORD type = static_cast<DWORD>(lngServerType);
  // Exactly SV_TYPE_DOMAIN_ENUM lists the domains the local machine sees, so
  // no domain is named; any other filter lists the machines of strDomain.
  const LPCWSTR domain = type == SV_TYPE_DOMAIN_ENUM ? nullptr : NameArgument(strDomain);
  NetBuffer buffer(api_);
  DWORD read = 0;
  DWORD total = 0;
  DWORD resume = 0;
  // The whole list in one call: ERROR_MORE_DATA is no success here, as no
  // second call is made.
  const NET_API_STATUS status = api_.NetServerEnum(nullptr, 101, buffer.out(), MAX_PREFERRED_LENGTH,
                                                   &read, &total, type, domain, &resume);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  if (read > kMaxEnumEntries || (read > 0 && !buffer))
    return static_cast<int32_t>(ERROR_BAD_NET_RESP);

  // Under bWKSOnly the kept names fill 1, 2, ... and the slots after the
  // last kept name stay empty; the size is the count read either way.
  std::vector<std::u16string> names(1 + static_cast<std::size_t>(read));
  std::size_t next = 1;
  constexpr DWORD kNotWorkstation = SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL | SV_TYPE_NOVELL |
                                    SV_TYPE_WFW | SV_TYPE_SQLSERVER;
  for (DWORD k = 0; k < read; ++k) {
    const auto& info = buffer.record<SERVER_INFO_101>(k);
    if (bWKSOnly && (info.sv101_type & kNotWorkstation) != 0) continue;
    names[next++] = fnPointerToString(info.sv101_name);
  }
  strReturn = std::move(names);
  return 0;
}

int32_t classNetAPI::GetLastLogon(const std::u16string& strServer, const std::u16string& strUser,
                                  uint32_t& lngTime) {
  NetBuffer buffer(api_);
  const NET_API_STATUS status = CheckRecord(
      api_.NetUserGetInfo(NameArgument(strServer), NameArgument(strUser), 2, buffer.out()), buffer);
  if (status != NERR_Success) return static_cast<int32_t>(status);
  lngTime = buffer.record<USER_INFO_2>().usri2_last_logon;
  return 0;
}

}  // namespace quorvix
