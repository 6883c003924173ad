// The network management interface: the calls, records and constants of the
// platform's netapi32, under the platform's names and argument order.
//
// Text fields and name arguments are NUL-terminated UTF-16 (char16_t). The
// records are the program's own definitions with the platform's field names
// and natural layout; on Windows they are layout-identical to the platform's.
// Every buffer a call hands back belongs to the caller, who releases it once
// with NetApiBufferFree of the same provider.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvix {

using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using DWORD_PTR = std::uintptr_t;
using PDWORD_PTR = DWORD_PTR*;
using BYTE = std::uint8_t;
using LPBYTE = BYTE*;
using LPVOID = void*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using NET_API_STATUS = DWORD;

// Constants keep the platform's names. Windows headers define many of them
// as macros; the guards let both sets of definitions meet in one file.
#ifndef NERR_Success
inline constexpr NET_API_STATUS NERR_Success = 0;
#endif
#ifndef NERR_BASE
inline constexpr NET_API_STATUS NERR_BASE = 2100;
#endif
#ifndef MAX_NERR
inline constexpr NET_API_STATUS MAX_NERR = 2999;
#endif
#ifndef MAX_PREFERRED_LENGTH
inline constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFFu;
#endif

// Statuses the providers commonly answer with.
#ifndef ERROR_ACCESS_DENIED
inline constexpr NET_API_STATUS ERROR_ACCESS_DENIED = 5;
#endif
#ifndef ERROR_INVALID_HANDLE
inline constexpr NET_API_STATUS ERROR_INVALID_HANDLE = 6;
#endif
#ifndef ERROR_NOT_ENOUGH_MEMORY
inline constexpr NET_API_STATUS ERROR_NOT_ENOUGH_MEMORY = 8;
#endif
#ifndef ERROR_NOT_SUPPORTED
inline constexpr NET_API_STATUS ERROR_NOT_SUPPORTED = 50;
#endif
#ifndef ERROR_BAD_NETPATH
inline constexpr NET_API_STATUS ERROR_BAD_NETPATH = 53;
#endif
#ifndef ERROR_NETWORK_BUSY
inline constexpr NET_API_STATUS ERROR_NETWORK_BUSY = 54;
#endif
#ifndef ERROR_BAD_NET_RESP
inline constexpr NET_API_STATUS ERROR_BAD_NET_RESP = 58;
#endif
#ifndef ERROR_UNEXP_NET_ERR
inline constexpr NET_API_STATUS ERROR_UNEXP_NET_ERR = 59;
#endif
#ifndef ERROR_NETNAME_DELETED
inline constexpr NET_API_STATUS ERROR_NETNAME_DELETED = 64;
#endif
#ifndef ERROR_BAD_NET_NAME
inline constexpr NET_API_STATUS ERROR_BAD_NET_NAME = 67;
#endif
#ifndef ERROR_REQ_NOT_ACCEP
inline constexpr NET_API_STATUS ERROR_REQ_NOT_ACCEP = 71;
#endif
#ifndef ERROR_INVALID_PARAMETER
inline constexpr NET_API_STATUS ERROR_INVALID_PARAMETER = 87;
#endif
#ifndef ERROR_INSUFFICIENT_BUFFER
inline constexpr NET_API_STATUS ERROR_INSUFFICIENT_BUFFER = 122;
#endif
#ifndef ERROR_INVALID_NAME
inline constexpr NET_API_STATUS ERROR_INVALID_NAME = 123;
#endif
#ifndef ERROR_INVALID_LEVEL
inline constexpr NET_API_STATUS ERROR_INVALID_LEVEL = 124;
#endif
#ifndef ERROR_MORE_DATA
inline constexpr NET_API_STATUS ERROR_MORE_DATA = 234;
#endif
#ifndef ERROR_SESSION_CREDENTIAL_CONFLICT
inline constexpr NET_API_STATUS ERROR_SESSION_CREDENTIAL_CONFLICT = 1219;
#endif
#ifndef ERROR_LOGON_FAILURE
inline constexpr NET_API_STATUS ERROR_LOGON_FAILURE = 1326;
#endif
#ifndef ERROR_ACCOUNT_RESTRICTION
inline constexpr NET_API_STATUS ERROR_ACCOUNT_RESTRICTION = 1327;
#endif
#ifndef ERROR_PASSWORD_EXPIRED
inline constexpr NET_API_STATUS ERROR_PASSWORD_EXPIRED = 1330;
#endif
#ifndef ERROR_ACCOUNT_DISABLED
inline constexpr NET_API_STATUS ERROR_ACCOUNT_DISABLED = 1331;
#endif
#ifndef ERROR_NO_SUCH_DOMAIN
inline constexpr NET_API_STATUS ERROR_NO_SUCH_DOMAIN = 1355;
#endif
#ifndef ERROR_NO_SUCH_ALIAS
inline constexpr NET_API_STATUS ERROR_NO_SUCH_ALIAS = 1376;
#endif
#ifndef ERROR_MEMBER_IN_ALIAS
inline constexpr NET_API_STATUS ERROR_MEMBER_IN_ALIAS = 1378;
#endif
#ifndef ERROR_NO_SUCH_MEMBER
inline constexpr NET_API_STATUS ERROR_NO_SUCH_MEMBER = 1387;
#endif
#ifndef RPC_S_SERVER_UNAVAILABLE
inline constexpr NET_API_STATUS RPC_S_SERVER_UNAVAILABLE = 1722;
#endif
#ifndef RPC_S_CALL_FAILED
inline constexpr NET_API_STATUS RPC_S_CALL_FAILED = 1726;
#endif
#ifndef ERROR_NO_BROWSER_SERVERS_FOUND
inline constexpr NET_API_STATUS ERROR_NO_BROWSER_SERVERS_FOUND = 6118;
#endif
#ifndef ERROR_NETWORK_UNREACHABLE
inline constexpr NET_API_STATUS ERROR_NETWORK_UNREACHABLE = 1231;
#endif
#ifndef NERR_NetNotStarted
inline constexpr NET_API_STATUS NERR_NetNotStarted = 2102;
#endif
#ifndef NERR_ServerNotStarted
inline constexpr NET_API_STATUS NERR_ServerNotStarted = 2114;
#endif
#ifndef NERR_BufTooSmall
inline constexpr NET_API_STATUS NERR_BufTooSmall = 2123;
#endif
#ifndef NERR_WkstaNotStarted
inline constexpr NET_API_STATUS NERR_WkstaNotStarted = 2138;
#endif
#ifndef NERR_GroupNotFound
inline constexpr NET_API_STATUS NERR_GroupNotFound = 2220;
#endif
#ifndef NERR_UserNotFound
inline constexpr NET_API_STATUS NERR_UserNotFound = 2221;
#endif
#ifndef NERR_InvalidComputer
inline constexpr NET_API_STATUS NERR_InvalidComputer = 2351;
#endif
#ifndef NERR_DCNotFound
inline constexpr NET_API_STATUS NERR_DCNotFound = 2453;
#endif

// Server-type flags of SERVER_INFO_101::sv101_type and of NetServerEnum's filter.
#ifndef SV_TYPE_WORKSTATION
inline constexpr DWORD SV_TYPE_WORKSTATION = 0x00000001;
inline constexpr DWORD SV_TYPE_SERVER = 0x00000002;
inline constexpr DWORD SV_TYPE_SQLSERVER = 0x00000004;
inline constexpr DWORD SV_TYPE_DOMAIN_CTRL = 0x00000008;
inline constexpr DWORD SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
inline constexpr DWORD SV_TYPE_TIME_SOURCE = 0x00000020;
inline constexpr DWORD SV_TYPE_AFP = 0x00000040;
inline constexpr DWORD SV_TYPE_NOVELL = 0x00000080;
inline constexpr DWORD SV_TYPE_DOMAIN_MEMBER = 0x00000100;
inline constexpr DWORD SV_TYPE_PRINTQ_SERVER = 0x00000200;
inline constexpr DWORD SV_TYPE_DIALIN_SERVER = 0x00000400;
inline constexpr DWORD SV_TYPE_XENIX_SERVER = 0x00000800;
inline constexpr DWORD SV_TYPE_NT = 0x00001000;
inline constexpr DWORD SV_TYPE_WFW = 0x00002000;
inline constexpr DWORD SV_TYPE_SERVER_MFPN = 0x00004000;
inline constexpr DWORD SV_TYPE_SERVER_NT = 0x00008000;
inline constexpr DWORD SV_TYPE_POTENTIAL_BROWSER = 0x00010000;
inline constexpr DWORD SV_TYPE_BACKUP_BROWSER = 0x00020000;
inline constexpr DWORD SV_TYPE_MASTER_BROWSER = 0x00040000;
inline constexpr DWORD SV_TYPE_DOMAIN_MASTER = 0x00080000;
inline constexpr DWORD SV_TYPE_DOMAIN_ENUM = 0x80000000;
inline constexpr DWORD SV_TYPE_ALL = 0xFFFFFFFF;
#endif

#ifndef PLATFORM_ID_NT
inline constexpr DWORD PLATFORM_ID_NT = 500;
#endif

// Records. Text fields point at NUL-terminated UTF-16 strings inside the
// same buffer (or are null).
struct WKSTA_INFO_100 {
  DWORD wki100_platform_id;
  LPWSTR wki100_computername;
  LPWSTR wki100_langroup;
  DWORD wki100_ver_major;
  DWORD wki100_ver_minor;
};

struct SERVER_INFO_101 {
  DWORD sv101_platform_id;
  LPWSTR sv101_name;
  DWORD sv101_version_major;
  DWORD sv101_version_minor;
  DWORD sv101_type;
  LPWSTR sv101_comment;
};

struct WKSTA_USER_INFO_1 {
  LPWSTR wkui1_username;
  LPWSTR wkui1_logon_domain;
  LPWSTR wkui1_oth_domains;
  LPWSTR wkui1_logon_server;
};

struct USER_INFO_2 {
  LPWSTR usri2_name;
  LPWSTR usri2_password;
  DWORD usri2_password_age;
  DWORD usri2_priv;
  LPWSTR usri2_home_dir;
  LPWSTR usri2_comment;
  DWORD usri2_flags;
  LPWSTR usri2_script_path;
  DWORD usri2_auth_flags;
  LPWSTR usri2_full_name;
  LPWSTR usri2_usr_comment;
  LPWSTR usri2_parms;
  LPWSTR usri2_workstations;
  DWORD usri2_last_logon;  // seconds since 1970-01-01 00:00:00 UTC, unsigned
  DWORD usri2_last_logoff;
  DWORD usri2_acct_expires;
  DWORD usri2_max_storage;
  DWORD usri2_units_per_week;
  LPBYTE usri2_logon_hours;
  DWORD usri2_bad_pw_count;
  DWORD usri2_num_logons;
  LPWSTR usri2_logon_server;
  DWORD usri2_country_code;
  DWORD usri2_code_page;
};

struct GROUP_INFO_0 {
  LPWSTR grpi0_name;
};

struct GROUP_USERS_INFO_0 {
  LPWSTR grui0_name;
};

struct GROUP_INFO_1 {
  LPWSTR grpi1_name;
  LPWSTR grpi1_comment;
};

struct LOCALGROUP_MEMBERS_INFO_3 {
  LPWSTR lgrmi3_domainandname;
};

// One provider of the interface: simulated, Windows' netapi32 or Samba.
// Each call keeps the platform's argument order and meaning; the result is
// the platform's status (NERR_Success, ERROR_MORE_DATA or an error code).
//
// Every provider may be called from several threads at once: the scan asks
// many machines side by side. A buffer may be released on another thread
// than the one whose call returned it.
class NetApi {
 public:
  virtual ~NetApi() = default;

  // How many calls this provider serves side by side at most; the scan asks
  // no more machines at once than this.
  virtual unsigned MaxConcurrentCalls() const { return 256; }

  // The machines a scan is about to ask, in the order it asks them, or an
  // empty list once the scan is over. A provider may meanwhile find out,
  // many machines at a time, which of them cannot be reached at all, and
  // answer for those at once when their turn comes. Returns at once.
  virtual void LookAhead(const std::vector<std::u16string>& machines) { (void)machines; }

  // The DNS name of server (a NetBIOS or DNS name, with or without leading
  // backslashes) when it is a domain controller that the provider learnt of
  // from a source it trusts (the directory it read); empty otherwise.
  virtual std::u16string ControllerDnsName(const std::u16string& server) const {
    (void)server;
    return {};
  }

  // The DNS name of domain's primary controller (domain: a NetBIOS name) as
  // server, a domain controller, locates it, in name: NERR_Success; else the
  // status of the search (NERR_DCNotFound where the answer names none by a
  // DNS name) and name as it was. A trusted domain's controller is asked by
  // it: its short name, where this computer's DNS search list or a name
  // broadcast resolves it, may reach a host of anyone's choosing.
  virtual NET_API_STATUS PrimaryControllerDnsName(const std::u16string& server,
                                                  const std::u16string& domain,
                                                  std::u16string& name) {
    (void)server;
    (void)domain;
    (void)name;
    return ERROR_NOT_SUPPORTED;
  }

  virtual NET_API_STATUS NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       DWORD servertype, LPCWSTR domain, LPDWORD resume_handle) = 0;
  virtual NET_API_STATUS NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) = 0;
  virtual NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) = 0;
  virtual NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) = 0;
  virtual NET_API_STATUS NetWkstaUserEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                          DWORD prefmaxlen, LPDWORD entriesread,
                                          LPDWORD totalentries, LPDWORD resumehandle) = 0;
  virtual NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                        LPBYTE* bufptr) = 0;
  virtual NET_API_STATUS NetGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                      DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                      PDWORD_PTR resume_handle) = 0;
  virtual NET_API_STATUS NetUserGetGroups(LPCWSTR servername, LPCWSTR username, DWORD level,
                                          LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                          LPDWORD totalentries) = 0;
  virtual NET_API_STATUS NetGroupGetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                         LPBYTE* bufptr) = 0;
  virtual NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                                 LPBYTE buf, DWORD totalentries) = 0;
  virtual NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) = 0;
  virtual NET_API_STATUS NetApiBufferFree(LPVOID Buffer) = 0;
};

}  // namespace quorvix
