#include "AdDirectory.h"

#include <lber.h>
#include <ldap.h>
#include <sasl/sasl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "SambaStatus.h"
#include "basStringHandler.h"

namespace quorvix::samba {

namespace {

constexpr int kPageSize = 500;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct LdapUnbind {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using LdapHandle = std::unique_ptr<LDAP, LdapUnbind>;

struct MsgFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using LdapResult = std::unique_ptr<LDAPMessage, MsgFree>;

// The first value of attr in entry, or "" when it has none.
std::string FirstValue(LDAP* ld, LDAPMessage* entry, const char* attr) {
  berval** vals = ldap_get_values_len(ld, entry, attr);
  if (vals == nullptr) return {};
  std::string v;
  if (vals[0] != nullptr && vals[0]->bv_val != nullptr) v.assign(vals[0]->bv_val, vals[0]->bv_len);
  ldap_value_free_len(vals);
  return v;
}

std::string EntryDn(LDAP* ld, LDAPMessage* entry) {
  char* dn = ldap_get_dn(ld, entry);
  if (dn == nullptr) return {};
  std::string s(dn);
  ldap_memfree(dn);
  return s;
}

// A base-scope read of one object's attributes.
int ReadObject(LDAP* ld, const std::string& dn, const char* const* attrs, LdapResult& res) {
  LDAPMessage* m = nullptr;
  timeval tv{15, 0};
  int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                             const_cast<char**>(attrs), 0, nullptr, nullptr, &tv, 1, &m);
  res.reset(m);
  return rc;
}

// A subtree search with the paged-results control; calls visit for each entry.
template <typename Visit>
int PagedSearch(LDAP* ld, const std::string& base, const char* filter, const char* const* attrs,
                Visit visit) {
  berval* cookie = nullptr;
  std::size_t seen = 0;
  int rc = LDAP_SUCCESS;
  for (;;) {
    LDAPControl* page = nullptr;
    rc = ldap_create_page_control(ld, kPageSize, cookie, 0, &page);
    if (cookie != nullptr) {
      ber_bvfree(cookie);
      cookie = nullptr;
    }
    if (rc != LDAP_SUCCESS) return rc;
    LDAPControl* serverControls[] = {page, nullptr};
    LDAPMessage* m = nullptr;
    timeval tv{30, 0};
    rc = ldap_search_ext_s(ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter, const_cast<char**>(attrs),
                           0, serverControls, nullptr, &tv, 0, &m);
    ldap_control_free(page);
    LdapResult res(m);
    if (rc != LDAP_SUCCESS) return rc;
    for (LDAPMessage* e = ldap_first_entry(ld, m); e != nullptr; e = ldap_next_entry(ld, e)) {
      if (++seen > kMaxDirectoryEntries) return LDAP_SIZELIMIT_EXCEEDED;
      visit(e);
    }
    LDAPControl** returned = nullptr;
    int err = LDAP_SUCCESS;
    rc = ldap_parse_result(ld, m, &err, nullptr, nullptr, nullptr, &returned, 0);
    if (rc != LDAP_SUCCESS) return rc;
    if (err != LDAP_SUCCESS) {
      ldap_controls_free(returned);
      return err;
    }
    LDAPControl* resp = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr);
    ber_int_t estimate = 0;
    berval next{0, nullptr};
    if (resp != nullptr) rc = ldap_parse_pageresponse_control(ld, resp, &estimate, &next);
    ldap_controls_free(returned);
    if (resp == nullptr || rc != LDAP_SUCCESS || next.bv_len == 0) {
      ber_memfree(next.bv_val);
      return LDAP_SUCCESS;
    }
    cookie = ber_bvdup(&next);
    ber_memfree(next.bv_val);
    if (cookie == nullptr) return LDAP_NO_MEMORY;
  }
}

// SASL GSSAPI needs no answers from the user: the ticket cache has them.
int QuietInteract(LDAP*, unsigned, void*, void* in) {
  for (auto* i = static_cast<sasl_interact_t*>(in); i != nullptr && i->id != SASL_CB_LIST_END;
       ++i) {
    i->result = i->defresult != nullptr ? i->defresult : "";
    i->len = static_cast<unsigned>(std::strlen(static_cast<const char*>(i->result)));
  }
  return LDAP_SUCCESS;
}

// The DN of the computer object that holds the primary controller role:
// fSMORoleOwner names the NTDS Settings object, whose parent server object
// points at the computer.
std::string PdcComputerDn(LDAP* ld, const std::string& domainDn) {
  static const char* const ownerAttrs[] = {"fSMORoleOwner", nullptr};
  LdapResult res;
  if (ReadObject(ld, domainDn, ownerAttrs, res) != LDAP_SUCCESS) return {};
  LDAPMessage* e = ldap_first_entry(ld, res.get());
  if (e == nullptr) return {};
  const std::string owner = FirstValue(ld, e, "fSMORoleOwner");
  const auto comma = owner.find(',');
  if (comma == std::string::npos) return {};
  static const char* const refAttrs[] = {"serverReference", nullptr};
  if (ReadObject(ld, owner.substr(comma + 1), refAttrs, res) != LDAP_SUCCESS) return {};
  e = ldap_first_entry(ld, res.get());
  return e == nullptr ? std::string() : FirstValue(ld, e, "serverReference");
}

}  // namespace

NET_API_STATUS ReadDirectory(const std::string& host, const SambaCredentials& creds,
                             AdListing& listing) {
  if (host.empty() || host.find_first_of("/ ") != std::string::npos) return ERROR_INVALID_NAME;
  LDAP* raw = nullptr;
  const std::string uri = "ldap://" + host;
  if (ldap_initialize(&raw, uri.c_str()) != LDAP_SUCCESS || raw == nullptr)
    return ERROR_BAD_NETPATH;
  LdapHandle ld(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(raw, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
  timeval net{10, 0};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &net);
  timeval op{30, 0};
  ldap_set_option(raw, LDAP_OPT_TIMEOUT, &op);

  int rc;
  if (creds.UsesTicketCache()) {
    rc = ldap_sasl_interactive_bind_s(raw, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                      QuietInteract, nullptr);
  } else {
    berval pw{static_cast<ber_len_t>(creds.password.size()),
              const_cast<char*>(creds.password.data())};
    rc =
        ldap_sasl_bind_s(raw, creds.user.c_str(), LDAP_SASL_SIMPLE, &pw, nullptr, nullptr, nullptr);
  }
  if (rc != LDAP_SUCCESS) return FromLdap(rc);

  static const char* const rootAttrs[] = {"defaultNamingContext", "configurationNamingContext",
                                          nullptr};
  LdapResult root;
  if ((rc = ReadObject(raw, "", rootAttrs, root)) != LDAP_SUCCESS) return FromLdap(rc);
  LDAPMessage* re = ldap_first_entry(raw, root.get());
  if (re == nullptr) return ERROR_BAD_NET_RESP;
  const std::string domainDn = FirstValue(raw, re, "defaultNamingContext");
  const std::string configDn = FirstValue(raw, re, "configurationNamingContext");
  if (domainDn.empty()) return ERROR_BAD_NET_RESP;

  AdListing out;
  std::vector<std::u16string> forest, trusts;
  const std::string pdcDn = Lower(PdcComputerDn(raw, domainDn));

  // The forest's domains by their NetBIOS names; ours is the one whose naming
  // context is the default one.
  if (!configDn.empty()) {
    static const char* const xrefAttrs[] = {"nETBIOSName", "nCName", "dnsRoot", nullptr};
    rc = PagedSearch(raw, "CN=Partitions," + configDn, "(&(objectClass=crossRef)(nETBIOSName=*))",
                     xrefAttrs, [&](LDAPMessage* e) {
                       const std::string nb = FirstValue(raw, e, "nETBIOSName");
                       if (nb.empty()) return;
                       if (Lower(FirstValue(raw, e, "nCName")) == Lower(domainDn)) {
                         out.netbiosDomain = FromUtf8(nb);
                         out.dnsDomain = FromUtf8(FirstValue(raw, e, "dnsRoot"));
                       } else {
                         forest.push_back(FromUtf8(nb));
                       }
                     });
    if (rc != LDAP_SUCCESS) return FromLdap(rc);
  }
  static const char* const trustAttrs[] = {"flatName", nullptr};
  rc = PagedSearch(raw, "CN=System," + domainDn, "(objectClass=trustedDomain)", trustAttrs,
                   [&](LDAPMessage* e) {
                     const std::string flat = FirstValue(raw, e, "flatName");
                     if (!flat.empty()) trusts.push_back(FromUtf8(flat));
                   });
  // A reader who may not see trusts still gets the machines.
  if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT && rc != LDAP_INSUFFICIENT_ACCESS)
    return FromLdap(rc);

  static const char* const compAttrs[] = {"sAMAccountName",
                                          "dNSHostName",
                                          "operatingSystem",
                                          "operatingSystemVersion",
                                          "userAccountControl",
                                          "description",
                                          nullptr};
  rc = PagedSearch(raw, domainDn, "(objectCategory=computer)", compAttrs, [&](LDAPMessage* e) {
    ComputerObject c;
    c.sAMAccountName = FirstValue(raw, e, "sAMAccountName");
    c.dNSHostName = FirstValue(raw, e, "dNSHostName");
    c.operatingSystem = FirstValue(raw, e, "operatingSystem");
    c.operatingSystemVersion = FirstValue(raw, e, "operatingSystemVersion");
    c.userAccountControl = FirstValue(raw, e, "userAccountControl");
    c.description = FirstValue(raw, e, "description");
    c.holdsPdcRole = !pdcDn.empty() && Lower(EntryDn(raw, e)) == pdcDn;
    std::optional<AdComputer> m = MachineFromComputer(c);
    if (!m) return;  // disabled (nobody can log on there) or nameless
    out.computers.push_back(std::move(*m));
  });
  if (rc != LDAP_SUCCESS) return FromLdap(rc);
  if (out.netbiosDomain.empty()) {
    // No readable partitions container: name the domain after its first DC= part.
    std::string dc = domainDn.substr(0, domainDn.find(','));
    if (dc.size() > 3) out.netbiosDomain = FromUtf8(dc.substr(3));
  }
  out.domains = DomainList(out.netbiosDomain, forest, trusts);
  listing = std::move(out);
  return NERR_Success;
}

}  // namespace quorvix::samba
