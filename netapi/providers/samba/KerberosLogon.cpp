#include "KerberosLogon.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include <algorithm>
#include <cctype>

namespace quorvix::samba {

namespace {

struct Context {
  krb5_context ctx = nullptr;
  Context() {
    if (krb5_init_context(&ctx) != 0) ctx = nullptr;
  }
  ~Context() {
    if (ctx != nullptr) krb5_free_context(ctx);
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
};

NET_API_STATUS FromKdc(krb5_error_code e) {
  switch (e) {
    case 0:
      return NERR_Success;
    case KRB5KDC_ERR_PREAUTH_FAILED:
    case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
    case KRB5KRB_AP_ERR_BAD_INTEGRITY:
      return ERROR_LOGON_FAILURE;
    case KRB5KDC_ERR_CLIENT_REVOKED:
      return ERROR_ACCOUNT_DISABLED;
    case KRB5KDC_ERR_KEY_EXP:
      return ERROR_PASSWORD_EXPIRED;
    case KRB5_KDC_UNREACH:
    case KRB5_REALM_UNKNOWN:
    case KRB5_REALM_CANT_RESOLVE:
    case KRB5_CONFIG_NOTENUFSPACE:
    case KRB5_CONFIG_BADFORMAT:
    case KRB5_CONFIG_CANTOPEN:
      return NERR_DCNotFound;
    default:
      return ERROR_LOGON_FAILURE;
  }
}

}  // namespace

TicketCache::~TicketCache() {
  if (!owned_ || name_.empty()) return;
  Context k;
  krb5_ccache cc = nullptr;
  if (k.ctx != nullptr && krb5_cc_resolve(k.ctx, name_.c_str(), &cc) == 0)
    krb5_cc_destroy(k.ctx, cc);
}

const std::string& UserDefaultCache() {
  static const std::string name = [] {
    Context k;
    const char* n = k.ctx != nullptr ? krb5_cc_default_name(k.ctx) : nullptr;
    return std::string(n != nullptr ? n : "");
  }();
  return name;
}

NET_API_STATUS TicketCache::UseDefault() {
  if (UserDefaultCache().empty()) return ERROR_LOGON_FAILURE;
  name_ = UserDefaultCache();
  owned_ = false;
  return NERR_Success;
}

NET_API_STATUS TicketCache::GetFromPassword(const std::string& principal,
                                            const std::string& password) {
  Context k;
  if (k.ctx == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  krb5_principal client = nullptr;
  if (krb5_parse_name(k.ctx, principal.c_str(), &client) != 0) return ERROR_LOGON_FAILURE;
  krb5_get_init_creds_opt* opt = nullptr;
  krb5_get_init_creds_opt_alloc(k.ctx, &opt);
  if (opt != nullptr) krb5_get_init_creds_opt_set_forwardable(opt, 0);
  krb5_creds creds{};
  krb5_error_code e = krb5_get_init_creds_password(k.ctx, &creds, client, password.c_str(), nullptr,
                                                   nullptr, 0, nullptr, opt);
  if (opt != nullptr) krb5_get_init_creds_opt_free(k.ctx, opt);
  if (e != 0) {
    krb5_free_principal(k.ctx, client);
    return FromKdc(e);
  }
  krb5_ccache cc = nullptr;
  e = krb5_cc_new_unique(k.ctx, "MEMORY", nullptr, &cc);
  if (e == 0) e = krb5_cc_initialize(k.ctx, cc, client);
  if (e == 0) e = krb5_cc_store_cred(k.ctx, cc, &creds);
  std::string name;
  if (e == 0) {
    const char* type = krb5_cc_get_type(k.ctx, cc);
    const char* n = krb5_cc_get_name(k.ctx, cc);
    name = std::string(type != nullptr ? type : "MEMORY") + ":" + (n != nullptr ? n : "");
  }
  krb5_free_cred_contents(k.ctx, &creds);
  krb5_free_principal(k.ctx, client);
  if (e != 0) {
    if (cc != nullptr) krb5_cc_destroy(k.ctx, cc);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  // The memory cache lives on after its handle closes, until destroyed.
  krb5_cc_close(k.ctx, cc);
  name_ = std::move(name);
  owned_ = true;
  return NERR_Success;
}

std::string KerberosPrincipal(const std::string& user, const std::string& realm) {
  if (user.find('@') != std::string::npos) return user;
  const auto slash = user.find('\\');
  const std::string name = slash == std::string::npos ? user : user.substr(slash + 1);
  return realm.empty() ? name : name + "@" + realm;
}

std::string RealmFromDn(const std::string& dn) {
  std::string realm;
  std::size_t pos = 0;
  while (pos < dn.size()) {
    std::size_t end = dn.find(',', pos);
    if (end == std::string::npos) end = dn.size();
    std::string part = dn.substr(pos, end - pos);
    while (!part.empty() && part.front() == ' ') part.erase(0, 1);
    if (part.size() > 3 && (part[0] == 'D' || part[0] == 'd') &&
        (part[1] == 'C' || part[1] == 'c') && part[2] == '=') {
      if (!realm.empty()) realm += '.';
      for (std::size_t i = 3; i < part.size(); ++i)
        realm += static_cast<char>(std::toupper(static_cast<unsigned char>(part[i])));
    }
    pos = end + 1;
  }
  return realm;
}

void* ImportGssCredentials(const std::string& cacheName) {
  Context k;
  if (k.ctx == nullptr || cacheName.empty()) return nullptr;
  krb5_ccache cc = nullptr;
  if (krb5_cc_resolve(k.ctx, cacheName.c_str(), &cc) != 0) return nullptr;
  OM_uint32 minor = 0;
  gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
  const OM_uint32 major = gss_krb5_import_cred(&minor, cc, nullptr, nullptr, &cred);
  krb5_cc_close(k.ctx, cc);
  if (GSS_ERROR(major) != 0) return nullptr;
  return cred;
}

void ReleaseGssCredentials(void* cred) {
  if (cred == nullptr) return;
  OM_uint32 minor = 0;
  auto c = static_cast<gss_cred_id_t>(cred);
  gss_release_cred(&minor, &c);
}

}  // namespace quorvix::samba
