#include "SambaLibs.h"
#include "SambaRpc.h"

#include "KerberosLogon.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// libsamba-util's thread hooks (its smb_threads.h is not installed).
extern "C" {
struct smb_thread_functions {
  int (*create_mutex)(const char* lockname, void** pplock, const char* location);
  void (*destroy_mutex)(void* plock, const char* location);
  int (*lock_mutex)(void* plock, int lock_type, const char* location);
  int (*create_tls)(const char* keyname, void** ppkey, const char* location);
  void (*destroy_tls)(void** ppkey, const char* location);
  int (*set_tls)(void* pkey, const void* pval, const char* location);
  void* (*get_tls)(void* pkey, const char* location);
};
int smb_thread_set_functions(const struct smb_thread_functions* tf);
}

namespace quorvix::samba {

namespace {

constexpr int kSmbThreadLock = 1;

int CreateMutex(const char*, void** pplock, const char*) {
  auto* m = new (std::nothrow) pthread_mutex_t;
  if (m == nullptr) return ENOMEM;
  pthread_mutex_init(m, nullptr);
  *pplock = m;
  return 0;
}

void DestroyMutex(void* plock, const char*) {
  auto* m = static_cast<pthread_mutex_t*>(plock);
  pthread_mutex_destroy(m);
  delete m;
}

int LockMutex(void* plock, int type, const char*) {
  auto* m = static_cast<pthread_mutex_t*>(plock);
  return type == kSmbThreadLock ? pthread_mutex_lock(m) : pthread_mutex_unlock(m);
}

int CreateTls(const char*, void** ppkey, const char*) {
  auto* key = new (std::nothrow) pthread_key_t;
  if (key == nullptr) return ENOMEM;
  if (const int e = pthread_key_create(key, nullptr); e != 0) {
    delete key;
    return e;
  }
  *ppkey = key;
  return 0;
}

void DestroyTls(void** ppkey, const char*) {
  auto* key = static_cast<pthread_key_t*>(*ppkey);
  pthread_key_delete(*key);
  delete key;
  *ppkey = nullptr;
}

// The library reads a variable before it made its key (and so learns that
// the key must be made).
int SetTls(void* pkey, const void* value, const char*) {
  if (pkey == nullptr) return EINVAL;
  return pthread_setspecific(*static_cast<pthread_key_t*>(pkey), value);
}

void* GetTls(void* pkey, const char*) {
  if (pkey == nullptr) return nullptr;
  return pthread_getspecific(*static_cast<pthread_key_t*>(pkey));
}

}  // namespace

void IgnoreBrokenPipes() {
  static const bool done = [] {
    struct sigaction now {};
    if (sigaction(SIGPIPE, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return false;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
  }();
  (void)done;
}

void UseLibrariesFromThreads() {
  IgnoreBrokenPipes();
  static const bool done = [] {
    static const smb_thread_functions hooks = {CreateMutex, DestroyMutex, LockMutex, CreateTls,
                                               DestroyTls,  SetTls,       GetTls};
    const bool set = smb_thread_set_functions(&hooks) == 0;
    // tevent registers its backends with the first event context made, behind
    // a flag that a second thread finds set before the registration is done
    // (its context then fails): the first one is made here.
    talloc_free(tevent_context_init(nullptr));
    return set;
  }();
  (void)done;
}

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

std::shared_mutex& LibraryStateLock() {
  static std::shared_mutex lock;
  return lock;
}

const char* ConfigFile() {
  static const std::string path = [] {
    const char* system = "/etc/samba/smb.conf";
    if (access(system, R_OK) == 0) return std::string(system);
    return std::string("/dev/null");
  }();
  return path.c_str();
}

loadparm_context* RpcLoadparm() {
  static loadparm_context* lp = [] {
    // Registers the transports and authentication mechanisms.
    dcerpc_init();
    loadparm_context* p = loadparm_init_global(false);
    if (p == nullptr) return p;
    lpcfg_load(p, ConfigFile());
    // The client's diagnostics stay out of the user's terminal.
    lpcfg_set_cmdline(p, "log level", "0");
    // These settings convert with the process-wide handle as it is now, and
    // keep pointing at it; libnetapi frees that handle when its context is
    // released. A reference keeps it alive for them.
    if (smb_iconv_handle* ic = lpcfg_iconv_handle(p)) talloc_reference(p, ic);
    return p;
  }();
  return lp;
}

namespace {

// Settings of the libraries for connections, each used by one connection at
// a time. Only the pool's lock guards them and their talloc parent: while a
// connection holds settings, nothing else touches them.
struct SettingsPool {
  std::mutex lock;
  void* mem = nullptr;  // the parent of every pooled settings object
  std::vector<loadparm_context*> spare;
  std::vector<loadparm_context*> worn;  // given back grown past kWornBytes
  std::size_t lent = 0;                 // pooled settings held by connections
  std::size_t holders = 0;              // connections holding settings, pooled or shared
  std::size_t mostHolders = 0;
  std::size_t shared = 0;  // connections that found no spare
};

SettingsPool& Pool() {
  static SettingsPool pool;
  return pool;
}

// Settings on hand beyond the most connections the provider makes at once
// (or that ever held some at once, if more): for the connection that asks a
// controller's name, and for kept connections given up while still in use.
// Each takes about a millisecond to make.
constexpr std::size_t kSpareSettings = 16;
// Settings that hold this much, grown with use in a way not foreseen, are
// replaced.
constexpr std::size_t kWornBytes = std::size_t{1} << 20;

// Each connection leaves its name-resolution context (a few hundred bytes)
// under the settings it was made with, which nothing uses once the
// connection is gone. Kept, they grew each pooled settings object past
// kWornBytes every 2,800 connections or so, and a scan of some 130,000
// connections used up the pool.
void DropResolveContexts(loadparm_context* lp) {
  std::vector<void*> left;
  talloc_report_depth_cb(
      lp, 0, 1,
      +[](const void* p, int depth, int, int isRef, void* out) {
        if (depth == 1 && isRef == 0 &&
            std::strcmp(talloc_get_name(p), "struct resolve_context") == 0)
          static_cast<std::vector<void*>*>(out)->push_back(const_cast<void*>(p));
      },
      &left);
  for (void* p : left) talloc_free(p);
}

}  // namespace

ConnectionSettings::ConnectionSettings() : lp_(nullptr), own_(false) {
  SettingsPool& pool = Pool();
  {
    std::lock_guard lock(pool.lock);
    pool.mostHolders = std::max(pool.mostHolders, ++pool.holders);
    if (!pool.spare.empty()) {
      lp_ = pool.spare.back();
      pool.spare.pop_back();
      ++pool.lent;
      own_ = true;
      return;
    }
    ++pool.shared;
  }
  lp_ = RpcLoadparm();
}

ConnectionSettings::~ConnectionSettings() {
  SettingsPool& pool = Pool();
  std::lock_guard lock(pool.lock);
  --pool.holders;
  if (!own_) return;
  --pool.lent;
  DropResolveContexts(lp_);
  (talloc_total_size(lp_) > kWornBytes ? pool.worn : pool.spare).push_back(lp_);
}

void ReadyConnectionSettings() {
  if (RpcLoadparm() == nullptr) return;  // the libraries' own setup first
  SettingsPool& pool = Pool();
  std::lock_guard lock(pool.lock);
  for (loadparm_context* lp : pool.worn) talloc_free(lp);
  pool.worn.clear();
  if (pool.mem == nullptr) pool.mem = talloc_named_const(nullptr, 0, "connection settings");
  if (pool.mem == nullptr) return;
  const std::size_t wanted =
      std::max(pool.mostHolders, std::size_t{kMaxConnectionCalls} + kKeptConnections) +
      kSpareSettings;
  while (pool.lent + pool.spare.size() < wanted) {
    loadparm_context* lp = loadparm_init(pool.mem);
    if (lp == nullptr) break;
    lpcfg_load_no_global(lp, ConfigFile());
    pool.spare.push_back(lp);
  }
}

std::size_t SharedSettingsTaken() {
  SettingsPool& pool = Pool();
  std::lock_guard lock(pool.lock);
  return pool.shared;
}

std::size_t PooledSettingsBytes() {
  SettingsPool& pool = Pool();
  std::lock_guard lock(pool.lock);
  return pool.mem != nullptr ? talloc_total_size(pool.mem) : 0;
}

void ReadyCharsetConversions() {
  loadparm_context* lp = RpcLoadparm();  // loaded first: loading resets the shared handle
  smb_iconv_handle* const shared = get_iconv_handle();
  smb_iconv_handle* const settings = lpcfg_iconv_handle(lp);
  for (smb_iconv_handle* ic : {shared, settings != shared ? settings : nullptr}) {
    if (ic == nullptr) continue;
    // Samba's own converters keep no state; the C library's iconv, which it
    // uses for the code page 850 of the default settings, does, and serves
    // one thread at a time. Text of the "dos" kind (a few protocol fields,
    // such as NTLMSSP's names, in practice ASCII; machine names and comments
    // come from the directory and over RPC in UTF-16) is therefore taken as
    // Latin-1, and unix text as UTF-8, which is what this provider hands the
    // libraries.
    smb_iconv_handle_reinit(nullptr, "ISO-8859-1", "UTF-8", true, ic);
    for (int from = CH_UTF16LE; from <= CH_UTF16MUNGED; ++from)
      for (int to = CH_UTF16LE; to <= CH_UTF16MUNGED; ++to)
        get_conv_handle(ic, static_cast<charset_t>(from), static_cast<charset_t>(to));
  }
}

namespace {

// A cache of the connection's own with the initial tickets of cache from,
// destroyed with the connection's credentials; nullptr when from holds no
// initial ticket.
const char* ConnectionCache(cli_credentials* cc, const std::string& from) {
  const std::string name = CopyInitialTickets(from);
  if (name.empty()) return nullptr;
  char* held = talloc_strdup(cc, name.c_str());
  if (held == nullptr) {
    DestroyCache(name);
    return nullptr;
  }
  talloc_set_destructor(
      held, +[](char* n) {
        DestroyCache(n);
        return 0;
      });
  return held;
}

cli_credentials* MakeCredentials(TALLOC_CTX* mem, loadparm_context* lp,
                                 const SambaCredentials& creds, bool ownCache) {
  cli_credentials* cc = cli_credentials_init(mem);
  if (cc == nullptr) return nullptr;
  cli_credentials_set_conf(cc, lp);
  if (creds.UsesTicketCache()) {
    cli_credentials_set_kerberos_state(cc, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
    const char* error = nullptr;
    // The ticket cache names the principal and holds the ticket. No password
    // is set: set after the cache, a password of any kind, even an empty one,
    // makes the library drop the cache and try a password logon of its own
    // (set before it, it stays for NTLM, see below). Without a ticket
    // the connection fails with a logon status. A connection's own cache is
    // made before the library opens it: talloc frees later children first,
    // so the library has closed it when it is destroyed.
    const char* cache = ownCache ? ConnectionCache(cc, UserDefaultCache()) : nullptr;
    if (cache == nullptr && !UserDefaultCache().empty()) cache = UserDefaultCache().c_str();
    cli_credentials_set_ccache(cc, lp, cache, CRED_SPECIFIED, &error);
  } else {
    cli_credentials_parse_string(cc, creds.user.c_str(), CRED_SPECIFIED);
    cli_credentials_set_password(cc, creds.password.c_str(), CRED_SPECIFIED);
    // Once the password's logon has a ticket, a connection takes it: no new
    // logon at each machine, and Kerberos where the domain refuses NTLM. The
    // cache comes after the password, which the library then keeps for NTLM
    // where no ticket can be had for a machine (it then logs on as the
    // ticket's user@REALM, which a domain's machines take).
    const std::string ticket =
        ownCache && creds.logonTicket ? creds.logonTicket->Get() : std::string();
    if (const char* cache = ticket.empty() ? nullptr : ConnectionCache(cc, ticket)) {
      const char* error = nullptr;
      cli_credentials_set_ccache(cc, lp, cache, CRED_SPECIFIED, &error);
    }
  }
  return cc;
}

}  // namespace

cli_credentials* MakeRpcCredentials(TALLOC_CTX* mem, loadparm_context* lp,
                                    const SambaCredentials& creds) {
  return MakeCredentials(mem, lp, creds, true);
}

cli_credentials* MakeLibraryCredentials(const SambaCredentials& creds) {
  cli_credentials* cc = MakeCredentials(nullptr, RpcLoadparm(), creds, false);
  if (cc != nullptr && !creds.UsesTicketCache())
    cli_credentials_set_kerberos_state(cc, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
  return cc;
}

void FreeLibraryCredentials(cli_credentials* cc) {
  if (cc != nullptr) talloc_free(cc);
}

std::string LocalNetbiosName() {
  loadparm_context* lp = RpcLoadparm();
  const char* n = lp != nullptr ? lpcfg_netbios_name(lp) : nullptr;
  return n != nullptr ? n : "";
}

std::string LocalWorkgroup() {
  loadparm_context* lp = RpcLoadparm();
  const char* w = lp != nullptr ? lpcfg_workgroup(lp) : nullptr;
  return w != nullptr ? w : "";
}

void LogonTicket::Set(const std::string& cacheName) {
  std::lock_guard lock(mu_);
  cacheName_ = cacheName;
}

std::string LogonTicket::Get() const {
  std::lock_guard lock(mu_);
  return cacheName_;
}

std::string BareHost(std::string name) {
  std::size_t lead = 0;
  while (lead < name.size() && (name[lead] == '\\' || name[lead] == '/')) ++lead;
  name.erase(0, lead);
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace quorvix::samba
