#include <windows.h>
// The logon identity record; WIN32_LEAN_AND_MEAN leaves it out of windows.h.
#include <rpc.h>
// windows.h must precede these.
#include <dsgetdc.h>
#include <lm.h>
#include <winldap.h>

#include <process.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>

#include "LdapDirectory.h"
#include "basStringHandler.h"

namespace quorvix {

namespace {

// Attribute values longer than this are cut: no name or version is near it.
constexpr std::size_t kMaxValueUnits = 4096;

PWCHAR W(const std::u16string& s) {
  return const_cast<PWCHAR>(reinterpret_cast<const wchar_t*>(s.c_str()));
}
PWCHAR W(const wchar_t* s) {
  return const_cast<PWCHAR>(s);
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

struct Unbind {
  void operator()(LDAP* ld) const { ldap_unbind(ld); }
};
using LdapHandle = std::unique_ptr<LDAP, Unbind>;

struct MsgFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using LdapResult = std::unique_ptr<LDAPMessage, MsgFree>;

std::u16string FromWide(const wchar_t* text) {
  if (text == nullptr) return {};
  const std::size_t n = wcsnlen(text, kMaxValueUnits);
  return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}

// The first value of attr in entry, or "" when it has none.
std::u16string FirstValue(LDAP* ld, LDAPMessage* entry, const wchar_t* attr) {
  PWCHAR* vals = ldap_get_valuesW(ld, entry, W(attr));
  if (vals == nullptr) return {};
  std::u16string v = FromWide(vals[0]);
  ldap_value_freeW(vals);
  return v;
}

std::u16string EntryDn(LDAP* ld, LDAPMessage* entry) {
  PWCHAR dn = ldap_get_dnW(ld, entry);
  if (dn == nullptr) return {};
  std::u16string s = FromWide(dn);
  ldap_memfreeW(dn);
  return s;
}

NET_API_STATUS FromLdap(ULONG rc) {
  const ULONG mapped = LdapMapErrorToWin32(rc);
  // A listing cut short (by the server, or by the reader's bounds) maps to
  // "more data", which would promise a next batch that does not exist.
  return mapped != 0 && mapped != ERROR_MORE_DATA ? static_cast<NET_API_STATUS>(mapped)
                                                  : ERROR_BAD_NET_RESP;
}

l_timeval Timeval(std::chrono::milliseconds timeout) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
  return l_timeval{static_cast<LONG>(std::clamp<long long>(s, 1, 86400)), 0};
}

// A base-scope read of one object's attributes.
ULONG ReadObject(LDAP* ld, const std::u16string& dn, const wchar_t* const* attrs, l_timeval tv,
                 LdapResult& res) {
  LDAPMessage* m = nullptr;
  const ULONG rc = ldap_search_ext_sW(ld, W(dn), LDAP_SCOPE_BASE, W(L"(objectClass=*)"),
                                      const_cast<PWCHAR*>(attrs), 0, nullptr, nullptr, &tv, 1, &m);
  res.reset(m);
  return rc;
}

// A subtree search with the paged-results control; calls visit for each
// entry. Each page waits at most perPage. A listing longer than the reader's
// bounds (entries, pages, time) is cut short as by the server's size limit.
template <typename Visit>
ULONG PagedSearch(LDAP* ld, const std::u16string& base, const wchar_t* filter,
                  const wchar_t* const* attrs, std::chrono::milliseconds perPage,
                  const DirectoryDeadline& deadline, Visit visit) {
  berval* cookie = nullptr;
  std::size_t seen = 0;
  for (std::size_t pages = 0;; ++pages) {
    const std::chrono::milliseconds wait = deadline.Next(perPage);
    if (pages >= kMaxDirectoryPages || wait.count() == 0) {
      ber_bvfree(cookie);
      return LDAP_SIZELIMIT_EXCEEDED;
    }
    PLDAPControlW page = nullptr;
    ULONG rc = ldap_create_page_controlW(ld, kDirectoryPageSize, cookie, FALSE, &page);
    ber_bvfree(cookie);
    cookie = nullptr;
    if (rc != LDAP_SUCCESS) return rc;
    PLDAPControlW serverControls[] = {page, nullptr};
    LDAPMessage* m = nullptr;
    l_timeval tv = Timeval(wait);
    rc = ldap_search_ext_sW(ld, W(base), LDAP_SCOPE_SUBTREE, W(filter), const_cast<PWCHAR*>(attrs),
                            0, serverControls, nullptr, &tv, 0, &m);
    ldap_control_freeW(page);
    LdapResult res(m);
    // A page that had less than its own time, and ran out of it: the
    // reading's time is up.
    if (rc == LDAP_TIMEOUT && wait < perPage) return LDAP_SIZELIMIT_EXCEEDED;
    if (rc != LDAP_SUCCESS) return rc;
    for (LDAPMessage* e = ldap_first_entry(ld, m); e != nullptr; e = ldap_next_entry(ld, e)) {
      if (++seen > kMaxDirectoryEntries) return LDAP_SIZELIMIT_EXCEEDED;
      visit(e);
    }
    ULONG err = LDAP_SUCCESS;
    PLDAPControlW* returned = nullptr;
    rc = ldap_parse_resultW(ld, m, &err, nullptr, nullptr, nullptr, &returned, FALSE);
    if (rc != LDAP_SUCCESS) return rc;
    if (err != LDAP_SUCCESS || returned == nullptr) {
      if (returned != nullptr) ldap_controls_freeW(returned);
      return err;
    }
    ULONG estimate = 0;
    berval* next = nullptr;
    rc = ldap_parse_page_controlW(ld, returned, &estimate, &next);
    ldap_controls_freeW(returned);
    if (rc != LDAP_SUCCESS || next == nullptr || next->bv_len == 0) {
      if (next != nullptr) ber_bvfree(next);
      return LDAP_SUCCESS;  // the last page, or a server that does not page
    }
    cookie = next;
  }
}

// The DN of the computer object that holds the primary controller role:
// fSMORoleOwner names the NTDS Settings object, whose parent server object
// points at the computer.
std::u16string PdcComputerDn(LDAP* ld, const std::u16string& domainDn, l_timeval tv) {
  static const wchar_t* const ownerAttrs[] = {L"fSMORoleOwner", nullptr};
  LdapResult res;
  if (ReadObject(ld, domainDn, ownerAttrs, tv, res) != LDAP_SUCCESS) return {};
  LDAPMessage* e = ldap_first_entry(ld, res.get());
  if (e == nullptr) return {};
  const std::u16string owner = FirstValue(ld, e, L"fSMORoleOwner");
  const auto comma = owner.find(u',');
  if (comma == std::u16string::npos) return {};
  static const wchar_t* const refAttrs[] = {L"serverReference", nullptr};
  if (ReadObject(ld, owner.substr(comma + 1), refAttrs, tv, res) != LDAP_SUCCESS) return {};
  e = ldap_first_entry(ld, res.get());
  return e == nullptr ? std::u16string() : FirstValue(ld, e, L"serverReference");
}

// A Negotiate bind, signed and sealed, with the named account or the
// logged-on user's own logon; runs on a thread of its own.
struct BindJob {
  LdapHandle ld;
  std::u16string user, domain, password;
  ULONG rc = LDAP_SUCCESS;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~BindJob() {
    std::fill(password.begin(), password.end(), u'\0');
    if (done != nullptr) CloseHandle(done);
  }
  void Run() {
    SEC_WINNT_AUTH_IDENTITY_W identity{};
    PWCHAR credentials = nullptr;  // the logged-on user's own
    if (!user.empty()) {
      identity.User = reinterpret_cast<unsigned short*>(W(user));
      identity.UserLength = static_cast<unsigned long>(user.size());
      identity.Domain = reinterpret_cast<unsigned short*>(W(domain));
      identity.DomainLength = static_cast<unsigned long>(domain.size());
      identity.Password = reinterpret_cast<unsigned short*>(W(password));
      identity.PasswordLength = static_cast<unsigned long>(password.size());
      identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
      credentials = reinterpret_cast<PWCHAR>(&identity);
    }
    rc = ldap_bind_sW(ld.get(), nullptr, credentials, LDAP_AUTH_NEGOTIATE);
  }
};

unsigned __stdcall RunBindJob(void* arg) {
  const std::unique_ptr<std::shared_ptr<BindJob>> own(static_cast<std::shared_ptr<BindJob>*>(arg));
  const std::shared_ptr<BindJob> job = *own;
  job->Run();
  SetEvent(job->done);
  return 0;
}

// Binds ld within the logon's timeout. wldap32's bind waits without a limit
// of its own (its time limit is the server's), so a controller that takes the
// connection and then says nothing would hold the reader for ever. The bind
// runs on a thread of its own; past the timeout it is left there, with the
// handle and the credentials it uses, which its thread frees whenever the
// bind returns, and LDAP_TIMEOUT comes back with ld empty.
ULONG BindWithin(LdapHandle& ld, const DirectoryLogon& logon) {
  auto job = std::make_shared<BindJob>();
  job->user = logon.user;
  job->domain = logon.userDomain;
  job->password = logon.password;
  job->ld = std::move(ld);
  auto* arg = new std::shared_ptr<BindJob>(job);
  const uintptr_t thread =
      job->done != nullptr ? _beginthreadex(nullptr, 0, RunBindJob, arg, 0, nullptr) : 0;
  if (thread == 0) {  // no thread to be had: the bind waits here
    delete arg;
    job->Run();
  } else {
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    const auto ms = static_cast<DWORD>(std::clamp<long long>(logon.timeout.count(), 1, 86400000));
    if (WaitForSingleObject(job->done, ms) != WAIT_OBJECT_0) return LDAP_TIMEOUT;
  }
  ld = std::move(job->ld);
  return job->rc;
}

// True when this machine is joined to a domain.
bool JoinedToDomain() {
  ::LPWSTR name = nullptr;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  const bool joined = NetGetJoinInformation(nullptr, &name, &status) == NERR_Success &&
                      status == NetSetupDomainName;
  if (name != nullptr) NetApiBufferFree(name);
  return joined;
}

// The host name of a controller of domain (empty: this machine's own): the
// one named by --dc, or on a machine joined to a domain the one the platform
// locates. A machine outside any domain looks for none (no DNS queries on its
// behalf); there the controller is named.
NET_API_STATUS LocateController(const std::u16string& domain, const std::u16string& dc,
                                std::u16string& host) {
  std::u16string found = dc;
  if (found.empty()) {
    if (!JoinedToDomain()) return ERROR_NO_SUCH_DOMAIN;
    PDOMAIN_CONTROLLER_INFOW info = nullptr;
    const DWORD s = DsGetDcNameW(nullptr, domain.empty() ? nullptr : W(domain), nullptr, nullptr,
                                 DS_DIRECTORY_SERVICE_REQUIRED | DS_RETURN_DNS_NAME, &info);
    if (s == ERROR_SUCCESS && info != nullptr) found = FromWide(info->DomainControllerName);
    if (info != nullptr) NetApiBufferFree(info);
  }
  found.erase(0, std::min(found.find_first_not_of(u'\\'), found.size()));
  if (found.empty() || found.find_first_of(u"/ ") != std::u16string::npos)
    return ERROR_NO_SUCH_DOMAIN;
  host = found;
  return NERR_Success;
}

// Wine's wldap32 (8.0) dereferences a null pointer when a Negotiate bind
// takes the logged-on user's own credentials; there, only a named account
// can read the directory.
bool OwnLogonBindCrashes() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

LdapDirectoryReader::LdapDirectoryReader(DirectoryLogon logon) : logon_(std::move(logon)) {}

LdapDirectoryReader::~LdapDirectoryReader() {
  std::fill(logon_.password.begin(), logon_.password.end(), u'\0');
}

NET_API_STATUS LdapDirectoryReader::Read(const std::u16string& domain,
                                         DirectoryListing& listing) const {
  std::u16string host;
  if (NET_API_STATUS s = LocateController(domain, logon_.dc, host); s != NERR_Success) return s;
  if (logon_.user.empty() && OwnLogonBindCrashes()) return ERROR_NOT_SUPPORTED;

  LdapHandle ld(ldap_initW(W(host), LDAP_PORT));
  if (!ld) return ERROR_BAD_NETPATH;
  LDAP* raw = ld.get();
  ULONG version = LDAP_VERSION3;
  ldap_set_optionW(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_optionW(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  const l_timeval tv = Timeval(logon_.timeout);
  ULONG limit = static_cast<ULONG>(tv.tv_sec);
  ldap_set_optionW(raw, LDAP_OPT_TIMELIMIT, &limit);
  // Signed and sealed. Wine's library refuses both options (92) but seals a
  // Negotiate bind anyway; Windows honours them.
  ldap_set_optionW(raw, LDAP_OPT_SIGN, LDAP_OPT_ON);
  ldap_set_optionW(raw, LDAP_OPT_ENCRYPT, LDAP_OPT_ON);
  l_timeval connectTimeout = tv;
  if (ULONG rc = ldap_connect(raw, &connectTimeout); rc != LDAP_SUCCESS) return FromLdap(rc);

  if (ULONG rc = BindWithin(ld, logon_); rc != LDAP_SUCCESS)
    return rc == LDAP_TIMEOUT ? ERROR_BAD_NETPATH : FromLdap(rc);
  raw = ld.get();
  const DirectoryDeadline deadline(logon_.readLimit);

  static const wchar_t* const rootAttrs[] = {L"defaultNamingContext", L"configurationNamingContext",
                                             nullptr};
  LdapResult root;
  if (ULONG rc = ReadObject(raw, u"", rootAttrs, tv, root); rc != LDAP_SUCCESS) return FromLdap(rc);
  LDAPMessage* re = ldap_first_entry(raw, root.get());
  if (re == nullptr) return ERROR_BAD_NET_RESP;
  const std::u16string domainDn = FirstValue(raw, re, L"defaultNamingContext");
  const std::u16string configDn = FirstValue(raw, re, L"configurationNamingContext");
  if (domainDn.empty()) return ERROR_BAD_NET_RESP;

  DirectoryListing out;
  std::vector<std::u16string> forest, trusts;
  const std::u16string pdcDn = Lower(PdcComputerDn(raw, domainDn, tv));

  // The forest's domains by their NetBIOS names; ours is the one whose naming
  // context is the default one.
  ULONG rc = LDAP_SUCCESS;
  if (!configDn.empty()) {
    static const wchar_t* const xrefAttrs[] = {L"nETBIOSName", L"nCName", L"dnsRoot", nullptr};
    rc = PagedSearch(raw, u"CN=Partitions," + configDn, L"(&(objectClass=crossRef)(nETBIOSName=*))",
                     xrefAttrs, logon_.timeout, deadline, [&](LDAPMessage* e) {
                       const std::u16string nb = FirstValue(raw, e, L"nETBIOSName");
                       if (nb.empty()) return;
                       if (Lower(FirstValue(raw, e, L"nCName")) == Lower(domainDn)) {
                         out.netbiosDomain = nb;
                         out.dnsDomain = FirstValue(raw, e, L"dnsRoot");
                       } else {
                         forest.push_back(nb);
                         out.domainDnsNames.push_back(ToUtf8(FirstValue(raw, e, L"dnsRoot")));
                       }
                     });
    if (rc != LDAP_SUCCESS) return FromLdap(rc);
    // The forest's controllers, for users who logged on in another of its
    // domains. A reader who may not see them still gets the machines.
    static const wchar_t* const serverAttrs[] = {L"cn", L"dNSHostName", nullptr};
    rc = PagedSearch(raw, u"CN=Sites," + configDn, L"(&(objectClass=server)(dNSHostName=*))",
                     serverAttrs, logon_.timeout, deadline, [&](LDAPMessage* e) {
                       if (auto c = ControllerHostName(ToUtf8(FirstValue(raw, e, L"cn")),
                                                       ToUtf8(FirstValue(raw, e, L"dNSHostName"))))
                         out.forestControllers.push_back(std::move(*c));
                     });
    if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT && rc != LDAP_INSUFFICIENT_RIGHTS)
      return FromLdap(rc);
  }
  static const wchar_t* const trustAttrs[] = {L"flatName", L"trustPartner", L"trustType", nullptr};
  rc = PagedSearch(raw, u"CN=System," + domainDn, L"(objectClass=trustedDomain)", trustAttrs,
                   logon_.timeout, deadline, [&](LDAPMessage* e) {
                     trusts.push_back(FirstValue(raw, e, L"flatName"));
                     if (ToUtf8(FirstValue(raw, e, L"trustType")) == kActiveDirectoryTrustType)
                       out.domainDnsNames.push_back(ToUtf8(FirstValue(raw, e, L"trustPartner")));
                   });
  // A reader who may not see trusts still gets the machines.
  if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT && rc != LDAP_INSUFFICIENT_RIGHTS)
    return FromLdap(rc);

  static const wchar_t* const compAttrs[] = {L"sAMAccountName",
                                             L"dNSHostName",
                                             L"operatingSystem",
                                             L"operatingSystemVersion",
                                             L"userAccountControl",
                                             L"description",
                                             nullptr};
  rc = PagedSearch(raw, domainDn, L"(objectCategory=computer)", compAttrs, logon_.timeout, deadline,
                   [&](LDAPMessage* e) {
                     ComputerObject c;
                     c.sAMAccountName = ToUtf8(FirstValue(raw, e, L"sAMAccountName"));
                     c.dNSHostName = ToUtf8(FirstValue(raw, e, L"dNSHostName"));
                     c.operatingSystem = ToUtf8(FirstValue(raw, e, L"operatingSystem"));
                     c.operatingSystemVersion =
                         ToUtf8(FirstValue(raw, e, L"operatingSystemVersion"));
                     c.userAccountControl = ToUtf8(FirstValue(raw, e, L"userAccountControl"));
                     c.description = ToUtf8(FirstValue(raw, e, L"description"));
                     c.holdsPdcRole = !pdcDn.empty() && Lower(EntryDn(raw, e)) == pdcDn;
                     if (std::optional<DirectoryMachine> m = MachineFromComputer(c))
                       out.computers.push_back(*m);
                   });
  if (rc != LDAP_SUCCESS) return FromLdap(rc);
  if (out.netbiosDomain.empty()) {
    // No readable partitions container: name the domain after its first DC= part.
    const std::u16string dc = domainDn.substr(0, domainDn.find(u','));
    if (dc.size() > 3) out.netbiosDomain = dc.substr(3);
  }
  out.domains = DomainList(out.netbiosDomain, forest, trusts);
  listing = std::move(out);
  return NERR_Success;
}

}  // namespace quorvix
