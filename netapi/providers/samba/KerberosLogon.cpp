#include "KerberosLogon.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string_view>

#include "DirectoryRules.h"
#include "basStringHandler.h"

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

// "TYPE:residual", the name a cache is resolved by.
std::string FullName(krb5_context ctx, krb5_ccache cc) {
  const char* type = krb5_cc_get_type(ctx, cc);
  const char* n = krb5_cc_get_name(ctx, cc);
  return std::string(type != nullptr ? type : "MEMORY") + ":" + (n != nullptr ? n : "");
}

// A ticket-granting ticket (of the realm or a cross-realm one), or one of
// the settings the library keeps among the tickets.
bool IsInitialOrSetting(krb5_context ctx, const krb5_creds& creds) {
  if (krb5_is_config_principal(ctx, creds.server)) return true;
  if (krb5_princ_size(ctx, creds.server) != 2) return false;
  const krb5_data* service = krb5_princ_component(ctx, creds.server, 0);
  return service != nullptr && service->length == 6 &&
         std::equal(service->data, service->data + 6, "krbtgt");
}

// The connections' cache files that exist. A program that ends while
// machines given up are still inside their calls ends by quick_exit, and
// removes the files of those connections then: each holds a copy of the
// user's ticket-granting ticket, which must not outlive the program.
struct CacheFiles {
  std::mutex lock;
  std::set<std::string> paths;
  bool ending = false;
};

CacheFiles& Files() {
  static auto* files = new CacheFiles;  // never destroyed: used at exit
  return *files;
}

void RemoveCacheFiles() {
  CacheFiles& f = Files();
  std::lock_guard guard(f.lock);
  f.ending = true;
  for (const std::string& path : f.paths) unlink(path.c_str());
  f.paths.clear();
}

void ForgetCachePath(const std::string& path) {
  CacheFiles& f = Files();
  std::lock_guard guard(f.lock);
  f.paths.erase(path);
}

// name: "FILE:path"; caches of other kinds are not files of ours.
void ForgetCacheFile(const std::string& name) {
  constexpr std::string_view kFile = "FILE:";
  if (name.compare(0, kFile.size(), kFile) == 0) ForgetCachePath(name.substr(kFile.size()));
}

// A new, empty cache file of the user's alone.
krb5_error_code NewCacheFile(krb5_context ctx, krb5_ccache* out) {
  static const std::string folder = [] {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (run != nullptr && run[0] == '/' && stat(run, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == geteuid() && access(run, W_OK | X_OK) == 0)
      return std::string(run);
    return std::string("/tmp");
  }();
  std::string path = folder + "/quorvix-krb5cc-XXXXXX";
  {
    CacheFiles& f = Files();
    std::lock_guard guard(f.lock);
    if (f.ending) return EACCES;
    static const bool registered = at_quick_exit(RemoveCacheFiles) == 0;
    static_cast<void>(registered);
    const int fd = mkostemp(path.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return errno;
    close(fd);
    f.paths.insert(path);
  }
  krb5_error_code e = krb5_cc_resolve(ctx, ("FILE:" + path).c_str(), out);
  if (e != 0) {
    unlink(path.c_str());
    ForgetCachePath(path);
  }
  return e;
}

}  // namespace

TicketCache::~TicketCache() {
  if (owned_ && !name_.empty()) DestroyCache(name_);
}

std::string CopyInitialTickets(const std::string& from) {
  Context k;
  if (k.ctx == nullptr || from.empty()) return "";
  krb5_ccache src = nullptr;
  if (krb5_cc_resolve(k.ctx, from.c_str(), &src) != 0) return "";
  krb5_principal client = nullptr;
  krb5_ccache dst = nullptr;
  krb5_cc_cursor cursor = nullptr;
  bool initial = false;
  krb5_error_code e = krb5_cc_get_principal(k.ctx, src, &client);
  if (e == 0) e = NewCacheFile(k.ctx, &dst);
  if (e == 0) e = krb5_cc_initialize(k.ctx, dst, client);
  if (e == 0) e = krb5_cc_start_seq_get(k.ctx, src, &cursor);
  if (e == 0) {
    krb5_creds creds;
    while (e == 0 && krb5_cc_next_cred(k.ctx, src, &cursor, &creds) == 0) {
      if (IsInitialOrSetting(k.ctx, creds)) {
        e = krb5_cc_store_cred(k.ctx, dst, &creds);
        initial = initial || !krb5_is_config_principal(k.ctx, creds.server);
      }
      krb5_free_cred_contents(k.ctx, &creds);
    }
    krb5_cc_end_seq_get(k.ctx, src, &cursor);
  }
  std::string name;
  if (dst != nullptr) {
    if (e == 0 && initial) {
      name = FullName(k.ctx, dst);
      krb5_cc_close(k.ctx, dst);
    } else {
      const std::string failed = FullName(k.ctx, dst);
      krb5_cc_destroy(k.ctx, dst);
      ForgetCacheFile(failed);
    }
  }
  if (client != nullptr) krb5_free_principal(k.ctx, client);
  krb5_cc_close(k.ctx, src);
  return name;
}

void DestroyCache(const std::string& name) {
  Context k;
  krb5_ccache cc = nullptr;
  if (k.ctx != nullptr && krb5_cc_resolve(k.ctx, name.c_str(), &cc) == 0)
    krb5_cc_destroy(k.ctx, cc);
  ForgetCacheFile(name);
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
  // A ticket got again goes into the same cache, whose name connections
  // already copy their tickets from.
  const bool again = owned_ && !name_.empty();
  krb5_ccache cc = nullptr;
  e = again ? krb5_cc_resolve(k.ctx, name_.c_str(), &cc)
            : krb5_cc_new_unique(k.ctx, "MEMORY", nullptr, &cc);
  if (e == 0) e = krb5_cc_initialize(k.ctx, cc, client);
  if (e == 0) e = krb5_cc_store_cred(k.ctx, cc, &creds);
  std::string name;
  if (e == 0) name = FullName(k.ctx, cc);
  const auto ends =
      std::chrono::system_clock::from_time_t(static_cast<time_t>(creds.times.endtime));
  krb5_free_cred_contents(k.ctx, &creds);
  krb5_free_principal(k.ctx, client);
  if (e != 0) {
    // A new cache goes; the kept one keeps its name.
    if (cc != nullptr && again)
      krb5_cc_close(k.ctx, cc);
    else if (cc != nullptr)
      krb5_cc_destroy(k.ctx, cc);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  // The memory cache lives on after its handle closes, until destroyed.
  krb5_cc_close(k.ctx, cc);
  name_ = std::move(name);
  owned_ = true;
  ends_ = ends;
  return NERR_Success;
}

bool TicketCache::EndsWithin(std::chrono::seconds within) const {
  return owned_ && !name_.empty() && std::chrono::system_clock::now() + within >= ends_;
}

std::string KerberosPrincipal(const std::string& user, const std::string& realm) {
  if (user.find('@') != std::string::npos) return user;
  const auto slash = user.find('\\');
  const std::string name = slash == std::string::npos ? user : user.substr(slash + 1);
  return realm.empty() ? name : name + "@" + realm;
}

bool OfDirectoryDomain(const std::string& user, const std::string& netbiosDomain,
                       const std::string& realm) {
  const auto slash = user.find('\\');
  if (slash == std::string::npos || user.find('@') != std::string::npos) return true;
  DirectoryListing own;
  own.dnsDomain = FromUtf8(realm);
  own.netbiosDomain =
      FromUtf8(netbiosDomain.empty() ? realm.substr(0, realm.find('.')) : netbiosDomain);
  return IsOwnDomain(own, FromUtf8(user.substr(0, slash)));
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
