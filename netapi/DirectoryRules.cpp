#include "DirectoryRules.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "basStringHandler.h"

namespace quorvix {

namespace {

constexpr unsigned kUfAccountDisable = 0x0002;
constexpr unsigned kUfServerTrust = 0x2000;
constexpr unsigned kUfPartialSecretsAccount = 0x04000000;  // read-only controller
// NetBIOS names have 15 characters and DNS labels 63; anything much longer
// is not a machine name.
constexpr std::size_t kMaxNameBytes = 255;

std::string LowerAscii(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

// userAccountControl is a signed 32-bit number in decimal; anything else
// counts as no flags.
unsigned ParseFlags(const std::string& text) {
  std::int64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || v < INT32_MIN || v > UINT32_MAX) return 0;
  return static_cast<unsigned>(static_cast<std::uint32_t>(v));
}

}  // namespace

bool NoBrowserAnswered(NET_API_STATUS status, bool domainNamed) {
  switch (status) {
    case ERROR_NO_BROWSER_SERVERS_FOUND:
    case NERR_ServerNotStarted:
    case NERR_WkstaNotStarted:
      return true;
    case ERROR_BAD_NETPATH:
      return domainNamed;
    default:
      return false;
  }
}

NET_API_STATUS StatusAfterDirectory(NET_API_STATUS browserStatus, NET_API_STATUS directoryStatus) {
  return directoryStatus == ERROR_NO_SUCH_DOMAIN ? browserStatus : directoryStatus;
}

DWORD ComputerType(unsigned uac, bool holdsPdcRole, const std::string& os) {
  DWORD type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;
  const bool dc = (uac & kUfServerTrust) != 0 || (uac & kUfPartialSecretsAccount) != 0;
  if (dc || os.find("Server") != std::string::npos || os.find("Samba") != std::string::npos)
    type |= SV_TYPE_SERVER_NT;
  if (dc) type |= holdsPdcRole ? SV_TYPE_DOMAIN_CTRL : SV_TYPE_DOMAIN_BAKCTRL;
  return type;
}

void ParseOsVersion(const std::string& text, DWORD& major, DWORD& minor) {
  major = 0;
  minor = 0;
  std::size_t i = 0;
  auto number = [&](DWORD& out) {
    bool any = false;
    unsigned long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 100000) {
      v = v * 10 + static_cast<unsigned long>(text[i++] - '0');
      any = true;
    }
    if (any) out = static_cast<DWORD>(v);
    return any;
  };
  if (number(major) && i < text.size() && text[i] == '.') {
    ++i;
    number(minor);
  }
}

bool IsDnsHostName(const std::string& name) {
  std::string_view rest(name);
  if (!rest.empty() && rest.back() == '.') rest.remove_suffix(1);
  if (rest.empty() || rest.size() > 253) return false;
  std::size_t label = 0;
  for (const char c : rest) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
  }
  return label > 0;
}

std::string PdcDnsNameFromLocator(const std::u16string& controllerName, uint32_t flags) {
  if ((flags & kLocatedPdc) == 0 || (flags & kLocatedDnsName) == 0) return {};
  std::string name = ToUtf8(WithoutBackslashes(controllerName));
  if (!IsDnsHostName(name)) return {};
  if (name.back() == '.') name.pop_back();
  // A host name has a domain, and a top-level domain begins with a letter:
  // the name is no IPv4 address in any of the forms the resolvers take
  // ("10.1.2.3", "10.1.0x203"), nor a Windows IPv6 literal.
  const std::string lower = LowerAscii(name);
  const std::size_t dot = lower.rfind('.');
  if (dot == std::string::npos || lower[dot + 1] < 'a' || lower[dot + 1] > 'z' ||
      lower.ends_with(".ipv6-literal.net"))
    return {};
  return name;
}

std::optional<DirectoryMachine> MachineFromComputer(const ComputerObject& c) {
  const unsigned uac = ParseFlags(c.userAccountControl);
  if ((uac & kUfAccountDisable) != 0) return std::nullopt;
  // The directory renames the account that lost a name collision to
  // "$DUPLICATE-<hex>"; it keeps the real machine's DNS name, so it would
  // list that machine a second time under a name that is none.
  constexpr std::string_view kDuplicate = "$duplicate-";
  if (c.sAMAccountName.size() >= kDuplicate.size() &&
      std::equal(kDuplicate.begin(), kDuplicate.end(), c.sAMAccountName.begin(),
                 [](char want, char got) {
                   return want == (got >= 'A' && got <= 'Z' ? got - 'A' + 'a' : got);
                 }))
    return std::nullopt;
  std::string name = c.sAMAccountName;
  if (!name.empty() && name.back() == '$') name.pop_back();
  if (name.empty()) name = c.dNSHostName.substr(0, c.dNSHostName.find('.'));
  if (name.empty() || name.size() > kMaxNameBytes) return std::nullopt;
  DirectoryMachine m;
  m.name = FromUtf8(name);
  if (m.name.empty() || m.name.find(u'\0') != std::u16string::npos) return std::nullopt;
  m.type = ComputerType(uac, c.holdsPdcRole, c.operatingSystem);
  ParseOsVersion(c.operatingSystemVersion, m.versionMajor, m.versionMinor);
  m.comment = FromUtf8(c.description);
  // A comment with a NUL would end early in the record; keep what precedes it.
  m.comment.resize(std::min(m.comment.size(), m.comment.find(u'\0')));
  if (IsDnsHostName(c.dNSHostName)) m.dnsHostName = c.dNSHostName;
  return m;
}

std::optional<std::pair<std::string, std::string>> ControllerHostName(
    const std::string& cn, const std::string& dNSHostName) {
  if (!IsDnsHostName(dNSHostName)) return std::nullopt;
  std::string name = cn.empty() ? dNSHostName.substr(0, dNSHostName.find('.')) : cn;
  if (name.size() > kMaxNameBytes || name.find('\0') != std::string::npos) return std::nullopt;
  // A NetBIOS name is the host name's first 15 characters (UTF-8 sequences
  // kept whole).
  std::size_t chars = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80 && ++chars > 15) {
      name.resize(i);
      break;
    }
  }
  if (name.empty()) return std::nullopt;
  return std::make_pair(std::move(name), dNSHostName);
}

std::vector<std::u16string> DomainList(const std::u16string& ownDomain,
                                       const std::vector<std::u16string>& forestDomains,
                                       const std::vector<std::u16string>& trustedDomains) {
  std::vector<std::u16string> out;
  // Lower case. Domain lists are short, but a hostile directory may name a
  // million trusts.
  std::unordered_set<std::u16string> seen;
  auto add = [&](const std::u16string& d) {
    if (d.empty() || d.size() > kMaxNameBytes || d.find(u'\0') != std::u16string::npos) return;
    if (seen.insert(Lower(d)).second) out.push_back(d);
  };
  add(ownDomain);
  for (const auto& d : forestDomains) add(d);
  for (const auto& d : trustedDomains) add(d);
  return out;
}

bool IsOwnDomain(const DirectoryListing& listing, const std::u16string& name) {
  const std::u16string n = Lower(name);
  return n == Lower(listing.netbiosDomain) || (!n.empty() && n == Lower(listing.dnsDomain));
}

bool AsksForDomains(DWORD servertype) {
  return servertype != SV_TYPE_ALL && (servertype & SV_TYPE_DOMAIN_ENUM) != 0;
}

NET_API_STATUS SelectEntries(const DirectoryListing& listing, DWORD servertype,
                             const std::u16string& domain, std::vector<DirectoryMachine>& entries) {
  std::vector<DirectoryMachine> out;
  if (AsksForDomains(servertype)) {
    for (const std::u16string& d : listing.domains)
      out.push_back({d, SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT, 0, 0, {}, {}});
  } else {
    if (!domain.empty() && !IsOwnDomain(listing, domain)) return ERROR_NO_BROWSER_SERVERS_FOUND;
    for (const DirectoryMachine& m : listing.computers)
      if ((m.type & servertype) != 0) out.push_back(m);
  }
  entries = std::move(out);
  return NERR_Success;
}

NET_API_STATUS AnswerServerInfo101(NetApi& allocator, const std::vector<DirectoryMachine>& entries,
                                   DWORD prefmaxlen, LPBYTE* bufptr, LPDWORD entriesread,
                                   LPDWORD totalentries, LPDWORD resume_handle) {
  if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
    return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  auto textBytes = [](const std::u16string& t) { return (t.size() + 1) * sizeof(char16_t); };
  auto entryBytes = [&](const DirectoryMachine& m) {
    return sizeof(SERVER_INFO_101) + textBytes(m.name) + textBytes(m.comment);
  };

  const std::size_t n = entries.size();
  const std::size_t begin = resume_handle != nullptr ? std::min<std::size_t>(*resume_handle, n) : 0;
  std::size_t end = begin;
  std::size_t bytes = 0;
  while (end < n) {
    const std::size_t next = bytes + entryBytes(entries[end]);
    if (prefmaxlen != MAX_PREFERRED_LENGTH && end > begin && next > prefmaxlen) break;
    bytes = next;
    ++end;
  }
  if (bytes > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
  if (bytes == 0) bytes = sizeof(SERVER_INFO_101);  // an empty answer still gets a buffer

  LPVOID raw = nullptr;
  if (NET_API_STATUS s = allocator.NetApiBufferAllocate(static_cast<DWORD>(bytes), &raw);
      s != NERR_Success || raw == nullptr)
    return s != NERR_Success ? s : ERROR_NOT_ENOUGH_MEMORY;
  std::memset(raw, 0, bytes);
  auto* records = static_cast<SERVER_INFO_101*>(raw);
  auto* text = reinterpret_cast<char16_t*>(static_cast<BYTE*>(raw) +
                                           (end - begin) * sizeof(SERVER_INFO_101));
  auto place = [&text](const std::u16string& t) {
    std::memcpy(text, t.data(), t.size() * sizeof(char16_t));
    text[t.size()] = u'\0';
    char16_t* at = text;
    text += t.size() + 1;
    return at;
  };
  for (std::size_t k = begin; k < end; ++k) {
    const DirectoryMachine& m = entries[k];
    SERVER_INFO_101& r = records[k - begin];
    r.sv101_platform_id = PLATFORM_ID_NT;
    r.sv101_version_major = m.versionMajor;
    r.sv101_version_minor = m.versionMinor;
    r.sv101_type = m.type;
    r.sv101_name = place(m.name);
    r.sv101_comment = place(m.comment);
  }
  *bufptr = static_cast<LPBYTE>(raw);
  *entriesread = static_cast<DWORD>(end - begin);
  *totalentries = static_cast<DWORD>(n - begin);
  const bool more = end < n;
  if (resume_handle != nullptr) *resume_handle = more ? static_cast<DWORD>(end) : 0;
  return more ? ERROR_MORE_DATA : NERR_Success;
}

namespace {

// Names found under a domain that are remembered at most.
constexpr std::size_t kMaxFound = 4096;

}  // namespace

uint64_t DirectoryHostNames::Begin() {
  std::lock_guard lock(mu_);
  return ++begun_;
}

bool DirectoryHostNames::Replace(const DirectoryListing& listing, uint64_t begun) {
  std::unordered_map<std::string, std::string> byName;
  byName.reserve(listing.computers.size() + listing.forestControllers.size());
  for (const DirectoryMachine& m : listing.computers)
    if (!m.dnsHostName.empty()) byName.emplace(LowerAscii(ToUtf8(m.name)), m.dnsHostName);
  std::unordered_map<std::string, std::string> controllers;
  for (const auto& [name, dns] : listing.forestControllers) {
    byName.emplace(LowerAscii(name), dns);
    controllers.emplace(LowerAscii(name), dns);
    controllers.emplace(LowerAscii(dns), dns);
  }
  std::vector<std::string> domains;
  auto addDomain = [&domains](std::string name) {
    if (!name.empty() && name.back() == '.') name.pop_back();
    if (domains.size() >= kMaxDomains || !IsDnsHostName(name)) return;
    name = LowerAscii(std::move(name));
    if (std::find(domains.begin(), domains.end(), name) == domains.end())
      domains.push_back(std::move(name));
  };
  addDomain(ToUtf8(listing.dnsDomain));
  for (const std::string& d : listing.domainDnsNames) addDomain(d);
  std::lock_guard lock(mu_);
  if (begun != begun_) return false;
  byName_.swap(byName);
  domains_.swap(domains);
  controllers_.swap(controllers);
  found_.clear();
  return true;
}

std::string DirectoryHostNames::ForestControllerDnsName(const std::string& name) const {
  const std::string key = LowerAscii(name);
  std::lock_guard lock(mu_);
  const auto it = controllers_.find(key);
  return it != controllers_.end() ? it->second : std::string();
}

std::string DirectoryHostNames::DnsNameOf(const std::string& name,
                                          const std::function<bool(const std::string&)>& hasAddress,
                                          std::chrono::steady_clock::time_point until) const {
  const std::string key = LowerAscii(name);  // also the host name looked for
  std::vector<std::string> domains;
  {
    std::lock_guard lock(mu_);
    if (const auto it = byName_.find(key); it != byName_.end()) return it->second;
    if (const auto it = found_.find(key); it != found_.end()) return it->second;
    domains = domains_;
  }
  // Only a NetBIOS name that is also a host name can be looked for.
  if (name.find('.') != std::string::npos || !IsDnsHostName(name)) return {};
  std::string found;
  for (const std::string& domain : domains) {
    if (std::chrono::steady_clock::now() >= until) return {};
    std::string candidate = key + '.' + domain;
    if (!IsDnsHostName(candidate) || !hasAddress(candidate)) continue;
    if (!found.empty()) return {};
    found = std::move(candidate);
  }
  if (!found.empty()) {
    std::lock_guard lock(mu_);
    if (found_.size() < kMaxFound) found_.emplace(key, found);
  }
  return found;
}

NET_API_STATUS ServerEnumFromDirectory(NetApi& allocator, const DirectoryReader* reader,
                                       NET_API_STATUS browserStatus, DWORD level, LPBYTE* bufptr,
                                       DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                       DWORD servertype, LPCWSTR domain, LPDWORD resume_handle,
                                       DirectoryHostNames* hostNames, uint64_t begun) {
  const std::u16string named = domain != nullptr ? std::u16string(domain) : std::u16string();
  if (reader == nullptr || level != 101 || bufptr == nullptr || entriesread == nullptr ||
      totalentries == nullptr || !NoBrowserAnswered(browserStatus, !named.empty()))
    return browserStatus;
  if (*bufptr != nullptr) {
    allocator.NetApiBufferFree(*bufptr);
    *bufptr = nullptr;
  }
  const std::u16string where = AsksForDomains(servertype) ? std::u16string() : named;
  if (hostNames != nullptr && begun == 0) begun = hostNames->Begin();
  DirectoryListing listing;
  if (NET_API_STATUS s = reader->Read(where, listing); s != NERR_Success)
    return StatusAfterDirectory(browserStatus, s);
  std::vector<DirectoryMachine> entries;
  if (NET_API_STATUS s = SelectEntries(listing, servertype, where, entries); s != NERR_Success)
    return s;
  if (hostNames != nullptr) hostNames->Replace(listing, begun);
  return AnswerServerInfo101(allocator, entries, prefmaxlen, bufptr, entriesread, totalentries,
                             resume_handle);
}

}  // namespace quorvix
