// How a domain's directory stands in for the browse list. Current Windows
// networks run no browser, so NetServerEnum finds nobody to ask; the domain
// controller's directory knows the same machines and domains. Both native
// providers read it (libldap on Linux, wldap32 on Windows) and turn what it
// says into the browse list's records by the rules here, so that a domain
// lists alike from either system. docs/directory.md describes the rules.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "NetApi.h"

namespace quorvix {

// True when a failed NetServerEnum means that no browser answered, so that
// the directory is asked instead: no browser servers (6118), the server or
// workstation service not started (2114, 2138), and, when the call names a
// domain, a network path not found (53: no browser of that domain).
bool NoBrowserAnswered(NET_API_STATUS status, bool domainNamed);

// The status a caller sees when the directory was asked instead of the
// browser: the directory's answer, except that a domain whose directory
// cannot be found at all (1355) leaves the browser's own status.
NET_API_STATUS StatusAfterDirectory(NET_API_STATUS browserStatus, NET_API_STATUS directoryStatus);

// A computer object's attributes as read from the directory (UTF-8 text, the
// first value of each; empty when missing).
struct ComputerObject {
  std::string sAMAccountName;
  std::string dNSHostName;
  std::string operatingSystem;
  std::string operatingSystemVersion;
  std::string userAccountControl;  // decimal, as the directory writes it
  std::string description;
  bool holdsPdcRole = false;  // the domain's PDC role owner is this computer
};

// One machine as the browse list shows it.
struct DirectoryMachine {
  std::u16string name;  // NetBIOS name
  DWORD type = 0;       // SV_TYPE_* word
  DWORD versionMajor = 0;
  DWORD versionMinor = 0;
  std::u16string comment;
  // The machine's DNS name as the directory gives it (a well-formed one, or
  // empty): what reaches a machine whose NetBIOS name has no address.
  std::string dnsHostName;
};

// What the directory says about one domain.
struct DirectoryListing {
  std::u16string netbiosDomain;  // the directory's own domain
  std::u16string dnsDomain;
  std::vector<DirectoryMachine> computers;  // enabled computer accounts
  std::vector<std::u16string> domains;      // own domain first, then the others
  // The domain controllers of the whole forest (the servers of its sites), by
  // NetBIOS name and DNS name (UTF-8): what reaches a user's logon server in
  // another domain of the forest, whose name this computer's DNS search list
  // need not hold.
  std::vector<std::pair<std::string, std::string>> forestControllers;
  // The DNS names of the forest's other domains and of the trusted Active
  // Directory domains (UTF-8, as the directory gives them): a user's logon
  // server that neither the machines nor the forest's controllers name lies
  // under one of them, or under the domain's own.
  std::vector<std::string> domainDnsNames;
};

// The trustType of a trust with an Active Directory domain, whose
// trustPartner is then the domain's DNS name (an older domain's trust names
// its NetBIOS name there).
inline constexpr const char* kActiveDirectoryTrustType = "2";

// A directory that answers more entries than this is broken or hostile; the
// readers stop there.
inline constexpr std::size_t kMaxDirectoryEntries = 1000000;

// Entries asked for per page of a search. A server that keeps handing out
// empty or nearly empty pages with a cookie is not followed for ever.
inline constexpr int kDirectoryPageSize = 500;
inline constexpr std::size_t kMaxDirectoryPages = kMaxDirectoryEntries / kDirectoryPageSize + 16;

// A reading of the directory ends by this time, however the server paces its
// pages. Each page has a bound of its own, but a server that answers every
// page just within it would hold the reader for hours.
inline constexpr std::chrono::minutes kMaxDirectoryReadTime{10};

// The end of one reading of the directory.
class DirectoryDeadline {
 public:
  explicit DirectoryDeadline(std::chrono::steady_clock::duration limit)
      : end_(std::chrono::steady_clock::now() + limit) {}
  // How long the next call may wait: perCall, less as the end nears, zero
  // once the reading's time is up.
  std::chrono::milliseconds Next(std::chrono::milliseconds perCall) const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), perCall);
  }
  std::chrono::steady_clock::time_point End() const { return end_; }

 private:
  std::chrono::steady_clock::time_point end_;
};

// The type word of a computer account: every machine is a workstation and
// server running NT; a domain controller or a server system also counts as an
// NT server; a controller holds the primary role or is a backup.
DWORD ComputerType(unsigned userAccountControl, bool holdsPdcRole,
                   const std::string& operatingSystem);

// Major and minor version from operatingSystemVersion ("10.0 (19045)");
// 0 for a part that is missing or not a number.
void ParseOsVersion(const std::string& text, DWORD& major, DWORD& minor);

// The browse-list entry of a computer object; nullopt for an account that is
// disabled (nobody can log on there), has no usable name, or is the loser of
// a name collision ("$DUPLICATE-<hex>").
std::optional<DirectoryMachine> MachineFromComputer(const ComputerObject& computer);

// Whether name is a DNS host name: labels of letters, digits, '-' and '_',
// 1 to 63 bytes each, 253 in all, a final dot allowed.
bool IsDnsHostName(const std::string& name);

// What a domain controller locator (DsGetDcName) is asked for a domain's
// primary controller by the domain's NetBIOS name, to be answered by DNS
// name; and the bits of its answer that say the controller holds the
// primary role and that its name is a DNS name.
inline constexpr uint32_t kLocatePdcByDnsName = 0x00000080 | 0x00010000 | 0x40000000;
inline constexpr uint32_t kLocatedPdc = 0x00000001;
inline constexpr uint32_t kLocatedDnsName = 0x20000000;

// The DNS name of a primary controller from a locator's answer asked for one
// by DNS name: its "\\name" without the backslashes, UTF-8. Empty unless the
// answer says so in its flags and the name is a DNS host name of at least two
// labels that is no address.
std::string PdcDnsNameFromLocator(const std::u16string& controllerName, uint32_t flags);

// The NetBIOS name and DNS name of a server object of the forest's sites (a
// domain controller): its name cut to the 15 characters of a NetBIOS name,
// or the first label of its DNS name when it has none; nullopt without a
// well-formed DNS name or a usable name.
std::optional<std::pair<std::string, std::string>> ControllerHostName(
    const std::string& cn, const std::string& dNSHostName);

// The domain list: the own domain first, then the forest's other domains,
// then the trusted domains (their NetBIOS names); each once, whatever its
// case; empty names left out.
std::vector<std::u16string> DomainList(const std::u16string& ownDomain,
                                       const std::vector<std::u16string>& forestDomains,
                                       const std::vector<std::u16string>& trustedDomains);

// True when name (NetBIOS or DNS, any case) names the directory's domain.
bool IsOwnDomain(const DirectoryListing& listing, const std::u16string& name);

// True when a NetServerEnum type filter asks for domains rather than
// machines: the domain bit, but not SV_TYPE_ALL.
bool AsksForDomains(DWORD servertype);

// The entries NetServerEnum answers from a listing for a type filter and a
// domain (empty: the directory's own). Domains come as entries typed
// SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT; machines are those whose type word shares
// a bit with the filter. Another domain's machines are not in this
// directory: 6118, as from a browser that cannot be found.
NET_API_STATUS SelectEntries(const DirectoryListing& listing, DWORD servertype,
                             const std::u16string& domain, std::vector<DirectoryMachine>& entries);

// The DNS names the directory gave for machines, by NetBIOS name (those of
// the last listing: its machines, and the forest's domain controllers), and
// the DNS names of the domains it names. A machine whose NetBIOS name has no
// address is reached by its DNS name: the DNS search list of a computer
// outside the domain need not hold the domain's. Any thread may ask while
// another replaces them.
class DirectoryHostNames {
 public:
  // Marks the start of a reading of the directory (or of a listing that
  // may come from it), for Replace.
  uint64_t Begin();
  // The names of listing, read since begun, in place of those before; where
  // a machine and a controller share a name, the machine's DNS name holds.
  // A listing during whose reading another one began changes nothing
  // (false): a stopped scan's listing may end after the next scan's began.
  bool Replace(const DirectoryListing& listing, uint64_t begun);
  bool Replace(const DirectoryListing& listing) { return Replace(listing, Begin()); }
  // The DNS name that reaches the machine called name (UTF-8, any case) when
  // that name has no address here: the one the directory gave for it; else,
  // for a logon server that the listing does not name (one of a trusted
  // domain), name under the one domain DNS name where hasAddress finds it.
  // Empty when it is found under none, or under several (which domain's
  // server is meant cannot be told, and asking the wrong one would give
  // another account's answer), or when until passes before all are tried.
  std::string DnsNameOf(const std::string& name,
                        const std::function<bool(const std::string&)>& hasAddress,
                        std::chrono::steady_clock::time_point until =
                            std::chrono::steady_clock::time_point::max()) const;

  // The DNS name of the forest's domain controller that the last listing
  // named name (its NetBIOS or DNS name, UTF-8, any case); empty for any other.
  std::string ForestControllerDnsName(const std::string& name) const;

  // Domain names tried at most: a hostile directory may name a million
  // trusts, and each name tried is a DNS query.
  static constexpr std::size_t kMaxDomains = 32;

 private:
  mutable std::mutex mu_;
  uint64_t begun_ = 0;                                   // readings begun
  std::unordered_map<std::string, std::string> byName_;  // by lower-case name
  std::vector<std::string> domains_;                     // lower case, own domain first
  // The forest's controllers' DNS names, by lower-case NetBIOS and DNS name.
  std::unordered_map<std::string, std::string> controllers_;
  // Names already found under a domain (by lower-case name), so that the
  // logon server of many users is looked for once.
  mutable std::unordered_map<std::string, std::string> found_;
};

// Reads a domain's machines and domains from its directory. Called from any
// thread; an implementation keeps no state between calls.
class DirectoryReader {
 public:
  virtual ~DirectoryReader() = default;
  // domain: the domain the call named (NetBIOS or DNS name), or empty for
  // this machine's own. ERROR_NO_SUCH_DOMAIN when no directory is found.
  virtual NET_API_STATUS Read(const std::u16string& domain, DirectoryListing& listing) const = 0;
};

// Finishes a NetServerEnum call whose browser answered browserStatus. When
// no browser answered (NoBrowserAnswered) and a reader is given, the answer
// comes from the directory: any buffer the browser left is released, and
// the call's outputs are written as the browser would have written them.
// *bufptr must be null or a buffer of allocator when the browser failed.
// Otherwise browserStatus is returned and nothing is touched. Domains are
// listed by this machine's own directory, whatever domain the call names.
// hostNames, when given, takes the DNS names of the directory's listing,
// as a reading begun at begun (hostNames->Begin(), taken before the browser
// was asked), or, when begun is 0, when the directory is asked.
NET_API_STATUS ServerEnumFromDirectory(NetApi& allocator, const DirectoryReader* reader,
                                       NET_API_STATUS browserStatus, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       DWORD servertype, LPCWSTR domain, LPDWORD resume_handle,
                                       DirectoryHostNames* hostNames = nullptr, uint64_t begun = 0);

// Answers a NetServerEnum call at level 101 with entries: SERVER_INFO_101
// records followed by their texts, in one buffer from
// allocator.NetApiBufferAllocate (released with its NetApiBufferFree). A
// batch holds what fits in prefmaxlen (at least one entry); ERROR_MORE_DATA
// and the resume handle tell that more follow.
NET_API_STATUS AnswerServerInfo101(NetApi& allocator, const std::vector<DirectoryMachine>& entries,
                                   DWORD prefmaxlen, LPBYTE* bufptr, LPDWORD entriesread,
                                   LPDWORD totalentries, LPDWORD resume_handle);

}  // namespace quorvix
