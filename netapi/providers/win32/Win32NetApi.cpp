// The platform's headers come first: NetApi.h then leaves the constants that
// they define as macros to them.
#include <windows.h>
// windows.h must precede lm.h.
#include <dsgetdc.h>
#include <lm.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <string>

#include "LdapDirectory.h"
#include "Win32NetApi.h"
#include "basStringHandler.h"

// The pass-through relies on the program's types and records being the
// platform's, byte for byte.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is not UTF-16 here");
static_assert(sizeof(quorvix::DWORD) == sizeof(::DWORD));
static_assert(sizeof(quorvix::DWORD_PTR) == sizeof(::DWORD_PTR));
static_assert(sizeof(quorvix::NET_API_STATUS) == sizeof(::NET_API_STATUS));

#define QUORVIX_SAME_SIZE(record)                            \
  static_assert(sizeof(quorvix::record) == sizeof(::record), \
                #record " differs in size from the platform's")
#define QUORVIX_SAME_FIELD(record, field)                                        \
  static_assert(offsetof(quorvix::record, field) == offsetof(::record, field) && \
                    sizeof(quorvix::record::field) == sizeof(::record::field),   \
                #record "::" #field " differs from the platform's")

QUORVIX_SAME_SIZE(WKSTA_INFO_100);
QUORVIX_SAME_FIELD(WKSTA_INFO_100, wki100_platform_id);
QUORVIX_SAME_FIELD(WKSTA_INFO_100, wki100_computername);
QUORVIX_SAME_FIELD(WKSTA_INFO_100, wki100_langroup);
QUORVIX_SAME_FIELD(WKSTA_INFO_100, wki100_ver_major);
QUORVIX_SAME_FIELD(WKSTA_INFO_100, wki100_ver_minor);

QUORVIX_SAME_SIZE(SERVER_INFO_101);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_platform_id);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_name);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_version_major);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_version_minor);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_type);
QUORVIX_SAME_FIELD(SERVER_INFO_101, sv101_comment);

QUORVIX_SAME_SIZE(WKSTA_USER_INFO_1);
QUORVIX_SAME_FIELD(WKSTA_USER_INFO_1, wkui1_username);
QUORVIX_SAME_FIELD(WKSTA_USER_INFO_1, wkui1_logon_domain);
QUORVIX_SAME_FIELD(WKSTA_USER_INFO_1, wkui1_oth_domains);
QUORVIX_SAME_FIELD(WKSTA_USER_INFO_1, wkui1_logon_server);

QUORVIX_SAME_SIZE(USER_INFO_2);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_name);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_password);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_password_age);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_priv);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_home_dir);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_comment);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_flags);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_script_path);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_auth_flags);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_full_name);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_usr_comment);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_parms);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_workstations);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_last_logon);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_last_logoff);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_acct_expires);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_max_storage);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_units_per_week);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_logon_hours);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_bad_pw_count);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_num_logons);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_logon_server);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_country_code);
QUORVIX_SAME_FIELD(USER_INFO_2, usri2_code_page);

QUORVIX_SAME_SIZE(GROUP_INFO_0);
QUORVIX_SAME_FIELD(GROUP_INFO_0, grpi0_name);
QUORVIX_SAME_SIZE(GROUP_USERS_INFO_0);
QUORVIX_SAME_FIELD(GROUP_USERS_INFO_0, grui0_name);
QUORVIX_SAME_SIZE(GROUP_INFO_1);
QUORVIX_SAME_FIELD(GROUP_INFO_1, grpi1_name);
QUORVIX_SAME_FIELD(GROUP_INFO_1, grpi1_comment);
QUORVIX_SAME_SIZE(LOCALGROUP_MEMBERS_INFO_3);
QUORVIX_SAME_FIELD(LOCALGROUP_MEMBERS_INFO_3, lgrmi3_domainandname);

#undef QUORVIX_SAME_SIZE
#undef QUORVIX_SAME_FIELD

namespace quorvix {

namespace {

// Name arguments: the same UTF-16 units under the platform's type. Some of
// the platform's declarations take a non-const string (LMSTR) that the call
// only reads.
::LPCWSTR In(LPCWSTR text) {
  return reinterpret_cast<::LPCWSTR>(text);
}
::LMSTR InMutable(LPCWSTR text) {
  return const_cast<::LMSTR>(In(text));
}
// Count outputs: quorvix::DWORD is unsigned int, the platform's is unsigned long,
// both 32 bits wide (checked above).
::LPDWORD Out(LPDWORD count) {
  return reinterpret_cast<::LPDWORD>(count);
}

// The machine a call names, as it is reached: by the name given, or, when
// that name has no address here (a computer outside the domain, whose DNS
// search list lacks the domain's), by the DNS name the directory gave for it
// or, for a trusted domain's logon server, under that domain's DNS name.
// Given probe, it first looks whether the machine is on (this machine, a
// null or empty name, never): the probe's own lookup of the name tells
// whether it has an address, so that the name is looked up once (a call
// that is not probed looks it up for that alone), and a name without one
// not again for a minute. The search for the DNS name ends at the call's
// host timeout (zero: none): a name server that does not answer makes each
// of its lookups wait.
class Reach {
 public:
  Reach(const DirectoryHostNames& names, LPCWSTR servername, SilentMachines& machines,
        std::chrono::milliseconds hostTimeout, bool probe = false)
      : given_(servername != nullptr) {
    const auto start = std::chrono::steady_clock::now();
    if (!given_) return;
    name_ = servername;
    const std::u16string bare(WithoutBackslashes(name_));
    if (bare.empty()) return;
    MachineReach reach = probe ? machines.Probe(bare) : MachineReach::Unknown;
    if (reach == MachineReach::NoAddress ||
        (reach == MachineReach::Unknown && !machines.HasAddress(bare))) {
      const std::string dns = names.DnsNameOf(
          ToUtf8(bare),
          [&machines](const std::string& host) { return machines.HasAddress(FromUtf8(host)); },
          hostTimeout.count() > 0 ? start + hostTimeout
                                  : std::chrono::steady_clock::time_point::max());
      if (!dns.empty()) {
        name_ = u"\\\\" + FromUtf8(dns);
        if (probe) reach = machines.Probe(FromUtf8(dns));
      }
    }
    silent_ = reach == MachineReach::Silent;
  }
  LPCWSTR get() const { return given_ ? name_.c_str() : nullptr; }
  // Whether the probe found the machine silent.
  bool Silent() const { return silent_; }

 private:
  bool given_;
  bool silent_ = false;
  std::u16string name_;
};

// How long the probe waits for a machine's ports: 5 s, a shorter host
// timeout when one is given.
std::chrono::milliseconds ProbeWait(std::chrono::milliseconds hostTimeout) {
  const std::chrono::milliseconds usual = std::chrono::seconds(5);
  return hostTimeout.count() > 0 ? std::min(hostTimeout, usual) : usual;
}

// What the platform answers for a machine that is switched off.
NET_API_STATUS Unanswered(LPBYTE* bufptr) {
  if (bufptr != nullptr) *bufptr = nullptr;
  return ERROR_BAD_NETPATH;
}

}  // namespace

Win32NetApi::Win32NetApi() : Win32NetApi(std::make_unique<LdapDirectoryReader>(DirectoryLogon{})) {}

Win32NetApi::Win32NetApi(std::unique_ptr<DirectoryReader> reader,
                         std::chrono::milliseconds hostTimeout)
    : directory_(std::move(reader)),
      hostTimeout_(hostTimeout),
      // The look-ahead probes a machine whose name has no address by the
      // DNS name that Reach would choose for it, when that is known without
      // a lookup: the directory's for its machines, or one found before.
      // Any other is left to the scan's calls, which look it up.
      silent_(ProbeWait(hostTimeout), [this](const std::u16string& host) {
        return FromUtf8(
            hostNames_.DnsNameOf(ToUtf8(host), [](const std::string&) { return false; }));
      }) {}

Win32NetApi::~Win32NetApi() = default;

void Win32NetApi::LookAhead(const std::vector<std::u16string>& machines) {
  silent_.LookAhead(machines);
}

std::u16string Win32NetApi::ControllerDnsName(const std::u16string& server) const {
  return FromUtf8(hostNames_.ForestControllerDnsName(ToUtf8(WithoutBackslashes(server))));
}

NET_API_STATUS Win32NetApi::PrimaryControllerDnsName(const std::u16string& server,
                                                     const std::u16string& domain,
                                                     std::u16string& name) {
  const Reach at(hostNames_, server.c_str(), silent_, hostTimeout_);
  const std::u16string host(WithoutBackslashes(at.get()));
  if (host.empty() || domain.empty()) return ERROR_INVALID_NAME;
  ::PDOMAIN_CONTROLLER_INFOW info = nullptr;
  const auto s = ::DsGetDcNameW(In(host.c_str()), In(domain.c_str()), nullptr, nullptr,
                                kLocatePdcByDnsName, &info);
  std::string found;
  if (s == ERROR_SUCCESS && info != nullptr && info->DomainControllerName != nullptr) {
    const wchar_t* unc = info->DomainControllerName;
    // A host name is far shorter; a longer answer is no name.
    found = PdcDnsNameFromLocator(
        std::u16string(reinterpret_cast<const char16_t*>(unc), wcsnlen(unc, 1024)),
        static_cast<uint32_t>(info->Flags));
  }
  if (info != nullptr) ::NetApiBufferFree(info);
  if (s != ERROR_SUCCESS) return static_cast<NET_API_STATUS>(s);
  if (found.empty()) return NERR_DCNotFound;
  name = FromUtf8(found);
  return NERR_Success;
}

NET_API_STATUS Win32NetApi::NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                          DWORD prefmaxlen, LPDWORD entriesread,
                                          LPDWORD totalentries, DWORD servertype, LPCWSTR domain,
                                          LPDWORD resume_handle) {
  // Whatever the call leaves here on failure was handed back by the platform
  // (Wine's stub leaves the slot untouched), so the fallback may release it.
  if (bufptr != nullptr) *bufptr = nullptr;
  // Numbered before the browser is asked, which may take long: a listing of
  // a stopped scan that ends after this one began leaves the names alone.
  const uint64_t begun = hostNames_.Begin();
  const NET_API_STATUS browser =
      ::NetServerEnum(In(servername), level, bufptr, prefmaxlen, Out(entriesread),
                      Out(totalentries), servertype, In(domain), Out(resume_handle));
  return ServerEnumFromDirectory(*this, directory_.get(), browser, level, bufptr, prefmaxlen,
                                 entriesread, totalentries, servertype, domain, resume_handle,
                                 &hostNames_, begun);
}

NET_API_STATUS Win32NetApi::NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_);
  return ::NetWkstaGetInfo(InMutable(server.get()), level, bufptr);
}

NET_API_STATUS Win32NetApi::NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_, true);
  if (server.Silent()) return Unanswered(bufptr);
  return ::NetServerGetInfo(InMutable(server.get()), level, bufptr);
}

NET_API_STATUS Win32NetApi::NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) {
  return ::NetGetDCName(In(servername), In(domainname), bufptr);
}

NET_API_STATUS Win32NetApi::NetWkstaUserEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                             DWORD prefmaxlen, LPDWORD entriesread,
                                             LPDWORD totalentries, LPDWORD resumehandle) {
  // Only before the first batch: a machine that answered one is on.
  const bool first = resumehandle == nullptr || *resumehandle == 0;
  // A scan asks each of its machines this first; the logon servers it asks
  // later for the users' logons are not where it has come.
  if (first && servername != nullptr) silent_.ScanComesTo(servername);
  const Reach server(hostNames_, servername, silent_, hostTimeout_, first);
  if (server.Silent()) {
    if (entriesread != nullptr) *entriesread = 0;
    if (totalentries != nullptr) *totalentries = 0;
    return Unanswered(bufptr);
  }
  return ::NetWkstaUserEnum(InMutable(server.get()), level, bufptr, prefmaxlen, Out(entriesread),
                            Out(totalentries), Out(resumehandle));
}

NET_API_STATUS Win32NetApi::NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                           LPBYTE* bufptr) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_, true);
  if (server.Silent()) return Unanswered(bufptr);
  return ::NetUserGetInfo(In(server.get()), In(username), level, bufptr);
}

NET_API_STATUS Win32NetApi::NetGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                         DWORD prefmaxlen, LPDWORD entriesread,
                                         LPDWORD totalentries, PDWORD_PTR resume_handle) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_);
  return ::NetGroupEnum(In(server.get()), level, bufptr, prefmaxlen, Out(entriesread),
                        Out(totalentries), reinterpret_cast<::PDWORD_PTR>(resume_handle));
}

NET_API_STATUS Win32NetApi::NetUserGetGroups(LPCWSTR servername, LPCWSTR username, DWORD level,
                                             LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                             LPDWORD totalentries) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_);
  return ::NetUserGetGroups(In(server.get()), In(username), level, bufptr, prefmaxlen,
                            Out(entriesread), Out(totalentries));
}

NET_API_STATUS Win32NetApi::NetGroupGetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                            LPBYTE* bufptr) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_);
  return ::NetGroupGetInfo(In(server.get()), In(groupname), level, bufptr);
}

NET_API_STATUS Win32NetApi::NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname,
                                                    DWORD level, LPBYTE buf, DWORD totalentries) {
  const Reach server(hostNames_, servername, silent_, hostTimeout_);
  return ::NetLocalGroupAddMembers(In(server.get()), In(groupname), level, buf, totalentries);
}

NET_API_STATUS Win32NetApi::NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) {
  return ::NetApiBufferAllocate(ByteCount, Buffer);
}

NET_API_STATUS Win32NetApi::NetApiBufferFree(LPVOID Buffer) {
  return ::NetApiBufferFree(Buffer);
}

}  // namespace quorvix
