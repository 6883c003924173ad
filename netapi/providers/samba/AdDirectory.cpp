#include "AdDirectory.h"

#include <lber.h>
#include <ldap.h>
#include <sasl/sasl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "AnswerConversion.h"
#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaStatus.h"
#include "basStringHandler.h"

namespace quorvix::samba {

namespace {

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

// The longest value the reader keeps; no attribute it reads needs more.
constexpr std::size_t kMaxValueBytes = 4096;

// The first value of attr in entry (its first kMaxValueBytes bytes), or ""
// when it has none.
std::string FirstValue(LDAP* ld, LDAPMessage* entry, const char* attr) {
  berval** vals = ldap_get_values_len(ld, entry, attr);
  if (vals == nullptr) return {};
  std::string v;
  if (vals[0] != nullptr && vals[0]->bv_val != nullptr)
    v.assign(vals[0]->bv_val, std::min<std::size_t>(vals[0]->bv_len, kMaxValueBytes));
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

// The largest message a directory connection takes: an entry of the few
// attributes the reader asks for is well below it.
constexpr ber_len_t kMaxMessageBytes = 1u << 20;

// Reads the answer to search msgid one message at a time, each freed once
// looked at, so that no answer is ever held whole (libldap's synchronous
// search gathers all of it first, however many entries a server sends):
// entries go to take, which may keep them, the closing result to done. An
// answer of more than maxEntries entries, or one not over by until, is
// abandoned.
template <typename Take>
int ReadAnswer(LDAP* ld, int msgid, std::chrono::steady_clock::time_point until,
               std::size_t maxEntries, Take take, LdapResult& done) {
  std::size_t entries = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      return LDAP_TIMEOUT;
    }
    timeval tv{static_cast<time_t>(left.count() / 1000000),
               static_cast<suseconds_t>(left.count() % 1000000)};
    LDAPMessage* m = nullptr;
    const int type = ldap_result(ld, msgid, LDAP_MSG_ONE, &tv, &m);
    LdapResult message(m);
    if (type == 0) continue;  // the time is looked at again
    if (type < 0) {
      int rc = LDAP_SERVER_DOWN;
      ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
      return rc != LDAP_SUCCESS ? rc : LDAP_SERVER_DOWN;
    }
    if (type == LDAP_RES_SEARCH_RESULT) {
      done = std::move(message);
      return LDAP_SUCCESS;
    }
    if (type != LDAP_RES_SEARCH_ENTRY) continue;  // references are not followed
    if (++entries > maxEntries) {
      ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      return LDAP_SIZELIMIT_EXCEEDED;
    }
    take(message);
  }
}

// The result code a search's closing result carries.
int ResultCode(LDAP* ld, LDAPMessage* done, LDAPControl*** controls = nullptr) {
  int err = LDAP_SUCCESS;
  const int rc = ldap_parse_result(ld, done, &err, nullptr, nullptr, nullptr, controls, 0);
  return rc != LDAP_SUCCESS ? rc : err;
}

// A base-scope read of one object's attributes: res gets its entry, or the
// read fails (LDAP_NO_SUCH_OBJECT when the server sent none).
int ReadObject(LDAP* ld, const std::string& dn, const char* const* attrs, LdapResult& res,
               const char* filter = "(objectClass=*)") {
  res.reset();
  int msgid = -1;
  int rc = ldap_search_ext(ld, dn.c_str(), LDAP_SCOPE_BASE, filter, const_cast<char**>(attrs), 0,
                           nullptr, nullptr, nullptr, 1, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  LdapResult done;
  rc = ReadAnswer(
      ld, msgid, std::chrono::steady_clock::now() + std::chrono::seconds(15), 1,
      [&res](LdapResult& entry) { res = std::move(entry); }, done);
  if (rc == LDAP_SUCCESS) rc = ResultCode(ld, done.get());
  if (rc == LDAP_SUCCESS && !res) rc = LDAP_NO_SUCH_OBJECT;
  if (rc != LDAP_SUCCESS) res.reset();
  return rc;
}

// The longest wait for one page of a search.
constexpr std::chrono::seconds kPageWait{30};

// A subtree search with the paged-results control; calls visit for each
// entry. A listing longer than the reader's bounds (entries, pages, time) is
// cut short as by the server's size limit.
template <typename Visit>
int PagedSearch(LDAP* ld, const std::string& base, const char* filter, const char* const* attrs,
                const DirectoryDeadline& deadline, Visit visit) {
  berval* cookie = nullptr;
  std::size_t seen = 0;
  int rc = LDAP_SUCCESS;
  for (std::size_t pages = 0;; ++pages) {
    const std::chrono::milliseconds wait = deadline.Next(kPageWait);
    if (pages >= kMaxDirectoryPages || wait.count() == 0) {
      ber_bvfree(cookie);
      return LDAP_SIZELIMIT_EXCEEDED;
    }
    LDAPControl* page = nullptr;
    rc = ldap_create_page_control(ld, kDirectoryPageSize, cookie, 0, &page);
    if (cookie != nullptr) {
      ber_bvfree(cookie);
      cookie = nullptr;
    }
    if (rc != LDAP_SUCCESS) return rc;
    LDAPControl* serverControls[] = {page, nullptr};
    int msgid = -1;
    rc = ldap_search_ext(ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter, const_cast<char**>(attrs), 0,
                         serverControls, nullptr, nullptr, 0, &msgid);
    ldap_control_free(page);
    if (rc != LDAP_SUCCESS) return rc;
    LdapResult done;
    rc = ReadAnswer(
        ld, msgid, std::chrono::steady_clock::now() + wait, kMaxDirectoryEntries - seen,
        [&](LdapResult& entry) {
          ++seen;
          visit(entry.get());
        },
        done);
    // A page that had less than its own time, and ran out of it: the
    // reading's time is up.
    if (rc == LDAP_TIMEOUT && wait < kPageWait) return LDAP_SIZELIMIT_EXCEEDED;
    if (rc != LDAP_SUCCESS) return rc;
    LDAPControl** returned = nullptr;
    rc = ResultCode(ld, done.get(), &returned);
    if (rc != LDAP_SUCCESS) {
      ldap_controls_free(returned);
      return rc;
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
// The cache's credentials are handed to the bind here; set earlier, the
// library drops them.
int QuietInteract(LDAP* ld, unsigned, void* defaults, void* in) {
  if (defaults != nullptr) ldap_set_option(ld, LDAP_OPT_X_SASL_GSS_CREDS, defaults);
  for (auto* i = static_cast<sasl_interact_t*>(in); i != nullptr && i->id != SASL_CB_LIST_END;
       ++i) {
    i->result = i->defresult != nullptr ? i->defresult : "";
    i->len = static_cast<unsigned>(std::strlen(static_cast<const char*>(i->result)));
  }
  return LDAP_SUCCESS;
}

// Shuts the directory's connections down once a time has passed, and refuses
// new ones from then on. libldap makes the TLS handshake (StartTLS, LDAPS)
// with blocking reads that none of its timeouts bound: a server that accepts
// StartTLS and then stays silent, or sends a byte now and then, would hold the
// reader, and the scan waiting for it, for ever.
class ConnectionWatch {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ConnectionWatch(Clock::time_point end) : end_(end) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {  // no thread to be had: nothing is watched
    }
  }
  ~ConnectionWatch() {
    {
      std::lock_guard lock(mu_);
      done_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  ConnectionWatch(const ConnectionWatch&) = delete;
  ConnectionWatch& operator=(const ConnectionWatch&) = delete;

  // Watches the connections ld makes from now on; ld must not outlive this.
  void Watch(LDAP* ld) { ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &callbacks_); }

  // A later (or earlier) time, unless it has passed already.
  void Until(Clock::time_point end) {
    {
      std::lock_guard lock(mu_);
      end_ = end;
    }
    cv_.notify_all();
  }

  bool Expired() const {
    std::lock_guard lock(mu_);
    return expired_;
  }

 private:
  static int Added(LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb* cb) {
    auto* self = static_cast<ConnectionWatch*>(cb->lc_arg);
    ber_socket_t fd = -1;
    if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) != 1) return -1;
    // A message longer than this ends the connection instead of being read.
    ber_len_t most = kMaxMessageBytes;
    if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &most) != 1) return -1;
    std::lock_guard lock(self->mu_);
    if (self->expired_) return -1;
    self->fds_.push_back(fd);
    return 0;
  }
  // Called before the connection's socket is closed, so that its number is
  // never shut down once it might name another file.
  static void Removed(LDAP*, Sockbuf* sb, ldap_conncb* cb) {
    auto* self = static_cast<ConnectionWatch*>(cb->lc_arg);
    ber_socket_t fd = -1;
    if (sb == nullptr || ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) != 1) return;
    std::lock_guard lock(self->mu_);
    self->fds_.erase(std::remove(self->fds_.begin(), self->fds_.end(), fd), self->fds_.end());
  }

  void Run() {
    std::unique_lock lock(mu_);
    while (!done_) {
      if (!expired_ && Clock::now() >= end_) {
        expired_ = true;
        for (const ber_socket_t fd : fds_) shutdown(fd, SHUT_RDWR);
      }
      if (expired_)
        cv_.wait(lock, [this] { return done_; });
      else
        cv_.wait_until(lock, end_);
    }
  }

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<ber_socket_t> fds_;
  Clock::time_point end_;
  bool expired_ = false;
  bool done_ = false;
  ldap_conncb callbacks_{Added, Removed, this};
  std::thread thread_;
};

// How long a connection to the directory may take to be made.
constexpr std::chrono::seconds kConnectTime{10};

LdapHandle Open(const std::string& uri, ConnectionWatch& watch) {
  LDAP* raw = nullptr;
  if (ldap_initialize(&raw, uri.c_str()) != LDAP_SUCCESS || raw == nullptr) return nullptr;
  LdapHandle ld(raw);
  watch.Watch(raw);
  int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(raw, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
  timeval net{kConnectTime.count(), 0};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &net);
  timeval op{30, 0};
  ldap_set_option(raw, LDAP_OPT_TIMEOUT, &op);
  return ld;
}

// SASL GSSAPI with the named cache's ticket; the session is signed and
// sealed or the bind fails.
int GssapiBind(LDAP* ld, const std::string& cacheName) {
  ldap_set_option(ld, LDAP_OPT_X_SASL_SECPROPS, "minssf=56");
  void* cred = ImportGssCredentials(cacheName);
  if (cred == nullptr) return LDAP_LOCAL_ERROR;  // no ticket
  const int rc = ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr,
                                              LDAP_SASL_QUIET, QuietInteract, cred);
  ReleaseGssCredentials(cred);
  return rc;
}

// The directory's own domain, asked anonymously: its realm from the root
// entry, and its NetBIOS name from an LDAP ping ("" when the controller
// answers none). An empty realm: the directory does not answer.
struct DirectoryDomain {
  std::string realm;
  std::string netbios;
};
DirectoryDomain DirectoryDomainOf(LDAP* ld) {
  static const char* const attrs[] = {"defaultNamingContext", nullptr};
  LdapResult res;
  if (ReadObject(ld, "", attrs, res) != LDAP_SUCCESS) return {};
  LDAPMessage* e = ldap_first_entry(ld, res.get());
  if (e == nullptr) return {};
  DirectoryDomain d;
  d.realm = RealmFromDn(FirstValue(ld, e, "defaultNamingContext"));
  static const char* const pingAttrs[] = {"netlogon", nullptr};
  if (ReadObject(ld, "", pingAttrs, res, "(&(NtVer=\\06\\00\\00\\00))") == LDAP_SUCCESS &&
      (e = ldap_first_entry(ld, res.get())) != nullptr) {
    const std::string ping = FirstValue(ld, e, "netlogon");
    if (auto nb =
            NetbiosDomainFromPing(reinterpret_cast<const unsigned char*>(ping.data()), ping.size()))
      d.netbios = std::move(*nb);
  }
  return d;
}

// A simple bind, only inside TLS with a verified certificate: StartTLS on
// the LDAP port, else LDAPS. Returns the bound handle, or nullptr with rc
// LDAP_CONNECT_ERROR when no verified TLS could be had (nothing was sent).
LdapHandle TlsSimpleBind(const std::string& host, const SambaCredentials& creds,
                         ConnectionWatch& watch, int& rc) {
  for (const bool startTls : {true, false}) {
    LdapHandle ld = Open((startTls ? "ldap://" : "ldaps://") + host, watch);
    if (!ld) continue;
    int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(ld.get(), LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    if (!creds.ldapCa.empty())
      ldap_set_option(ld.get(), LDAP_OPT_X_TLS_CACERTFILE, creds.ldapCa.c_str());
    // A TLS context of this handle's own, with the settings above. Without
    // it (a CA file that cannot be read, say) libldap would use the
    // process's shared one, whose settings (ldap.conf, LDAPTLS_REQCERT=never)
    // may check no certificate at all: nothing is sent then.
    int fresh = 0;
    if (ldap_set_option(ld.get(), LDAP_OPT_X_TLS_NEWCTX, &fresh) != LDAP_OPT_SUCCESS) {
      rc = LDAP_PARAM_ERROR;
      return nullptr;
    }
    // The connection is made within the network timeout, the handshake then
    // waits in blocking reads until the watch ends it. With a network timeout
    // set, libldap makes the handshake on a non-blocking socket and retries
    // it at once for as long as the server is silent: a whole core's work.
    const timeval none{-1, 0};
    if (startTls) {
      if (ldap_connect(ld.get()) != LDAP_SUCCESS ||
          ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &none) != LDAP_OPT_SUCCESS ||
          ldap_start_tls_s(ld.get(), nullptr, nullptr) != LDAP_SUCCESS)
        continue;
    } else {
      // libldap connects and makes the handshake in one go, so the port is
      // tried first: one that a firewall drops costs the network timeout,
      // not the system's minutes. The handshake (and the certificate check)
      // comes before anything is sent.
      if (!TakesConnection(host, "636", Deadline(kConnectTime)) ||
          ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &none) != LDAP_OPT_SUCCESS ||
          ldap_connect(ld.get()) != LDAP_SUCCESS)
        continue;
    }
    berval pw{static_cast<ber_len_t>(creds.password.size()),
              const_cast<char*>(creds.password.data())};
    rc = ldap_sasl_bind_s(ld.get(), creds.user.c_str(), LDAP_SASL_SIMPLE, &pw, nullptr, nullptr,
                          nullptr);
    if (rc == LDAP_SUCCESS) return ld;
    return nullptr;
  }
  rc = LDAP_CONNECT_ERROR;
  return nullptr;
}

// Host names in messages: what a name may hold, nothing a terminal acts on.
std::string Printable(const std::string& host) {
  std::string out;
  for (char c : host)
    out +=
        std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':'
            ? c
            : '?';
  return out;
}

// The controller's own DNS name, from its root entry (readable
// anonymously), when host names it otherwise: an address or an alias.
// Kerberos knows the directory's service by that name (and by its first
// label, which is no other name here).
std::string OtherNameOf(const std::string& host, ConnectionWatch& watch) {
  LdapHandle ld = Open("ldap://" + host, watch);
  static const char* const attrs[] = {"dnsHostName", nullptr};
  LdapResult res;
  if (!ld || ReadObject(ld.get(), "", attrs, res) != LDAP_SUCCESS) return {};
  const std::string name =
      FirstValue(ld.get(), ldap_first_entry(ld.get(), res.get()), "dnsHostName");
  const std::string n = Lower(name), h = Lower(host);
  return n == h || n.substr(0, n.find('.')) == h ? std::string() : name;
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

DWORD WithDirectoryRole(DWORD answered, DWORD fromDirectory) {
  constexpr DWORD kRole = SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL;
  return (answered & ~kRole) | (fromDirectory & (kRole | SV_TYPE_SERVER_NT));
}

NET_API_STATUS ReadDirectory(const std::string& host, DirectoryLogon& logon, AdListing& listing) {
  if (host.empty() || host.find_first_of("/ ") != std::string::npos) return ERROR_INVALID_NAME;
  const SambaCredentials& creds = logon.creds;
  IgnoreBrokenPipes();  // the watch may shut a connection that libldap then writes to
  // Declared before every handle, so that it outlives them.
  ConnectionWatch watch(ConnectionWatch::Clock::now() + logon.logonLimit);
  LdapHandle ld = Open("ldap://" + host, watch);
  if (!ld) return ERROR_BAD_NETPATH;

  int rc = LDAP_SUCCESS;
  if (creds.UsesTicketCache()) {
    if (logon.tickets.Empty()) {
      if (NET_API_STATUS s = logon.tickets.UseDefault(); s != NERR_Success) return s;
    }
    rc = GssapiBind(ld.get(), logon.tickets.Name());
  } else {
    NET_API_STATUS kdc = NERR_Success;
    std::string otherDomain;  // the directory's domain, when the account is not of it
    // A ticket that is about to end is got again: one that ended makes the
    // bind fail as a refused logon.
    if (logon.tickets.Empty() || logon.tickets.EndsWithin(std::chrono::minutes(5))) {
      DirectoryDomain own;
      if (creds.user.find('@') == std::string::npos) {
        own = DirectoryDomainOf(ld.get());
        if (own.realm.empty()) return ERROR_BAD_NETPATH;  // the directory does not answer
      }
      // The realm's KDC knows the accounts of the directory's domain alone:
      // for another domain's account it would be asked for the account of
      // the same name here, and a password that is not that account's would
      // count towards its lockout. Such an account binds as itself over TLS.
      if (OfDirectoryDomain(creds.user, own.netbios, own.realm)) {
        kdc =
            logon.tickets.GetFromPassword(KerberosPrincipal(creds.user, own.realm), creds.password);
        // A refused password is not tried again some other way.
        if (kdc != NERR_Success && kdc != NERR_DCNotFound) return kdc;
      } else {
        otherDomain = own.netbios.empty() ? own.realm : own.netbios;
        kdc = NERR_DCNotFound;
      }
    }
    if (kdc == NERR_Success) {
      rc = GssapiBind(ld.get(), logon.tickets.Name());
    } else {
      ld = TlsSimpleBind(host, creds, watch, rc);
      if (watch.Expired()) return ERROR_BAD_NETPATH;  // no answer in time
      if (rc == LDAP_PARAM_ERROR) {
        logon.refusal = "the directory on " + Printable(host) +
                        " was not asked: the certificates to check its TLS certificate with "
                        "could not be read (" +
                        (creds.ldapCa.empty() ? std::string("the system's store")
                                              : std::string("the file named by --ldap-ca")) +
                        "), and the password is never sent unchecked";
        return ERROR_NOT_SUPPORTED;
      }
      if (rc == LDAP_CONNECT_ERROR) {
        const std::string why = otherDomain.empty()
                                    ? "no Kerberos KDC of its realm can be reached"
                                    : "the account's domain (" +
                                          Printable(creds.user.substr(0, creds.user.find('\\'))) +
                                          ") is not the directory's (" + Printable(otherDomain) +
                                          "), whose KDC gives tickets to its own accounts alone";
        const std::string how =
            otherDomain.empty()
                ? "Log on with a Kerberos ticket (kinit, then no --user), make the realm's "
                  "KDC reachable (krb5.conf)"
                : "Log on with a Kerberos ticket of the account's own realm (kinit "
                  "NAME@REALM, then no --user)";
        logon.refusal = "the directory on " + Printable(host) + " was not asked: " + why +
                        ", it offers no TLS with a certificate this system trusts, and the "
                        "password is never sent in clear. " +
                        how +
                        ", or name the controller's certificate authority with --ldap-ca FILE";
        return ERROR_NOT_SUPPORTED;
      }
    }
  }
  if (watch.Expired()) return ERROR_BAD_NETPATH;
  // A Kerberos bind that failed: a controller named by its address (say)
  // would otherwise read as a refused password.
  if (rc == LDAP_LOCAL_ERROR && !logon.tickets.Empty()) {
    if (const std::string name = OtherNameOf(host, watch); !name.empty()) {
      logon.refusal = "the directory on " + Printable(host) +
                      " was not asked: Kerberos knows its service under the controller's DNS "
                      "name alone; name the controller so (--dc " +
                      Printable(name) + ")";
      return ERROR_NOT_SUPPORTED;
    }
  }
  if (rc != LDAP_SUCCESS || !ld) return FromLdap(rc != LDAP_SUCCESS ? rc : LDAP_OTHER);
  LDAP* raw = ld.get();
  // The reading has its own bounds, call by call and as a whole; the watch
  // stays as a last resort, a page's wait after the reading's end.
  const DirectoryDeadline deadline(logon.readLimit);
  watch.Until(deadline.End() + kPageWait);

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
                     xrefAttrs, deadline, [&](LDAPMessage* e) {
                       const std::string nb = FirstValue(raw, e, "nETBIOSName");
                       if (nb.empty()) return;
                       if (Lower(FirstValue(raw, e, "nCName")) == Lower(domainDn)) {
                         out.netbiosDomain = FromUtf8(nb);
                         out.dnsDomain = FromUtf8(FirstValue(raw, e, "dnsRoot"));
                       } else {
                         forest.push_back(FromUtf8(nb));
                         out.domainDnsNames.push_back(FirstValue(raw, e, "dnsRoot"));
                       }
                     });
    if (rc != LDAP_SUCCESS) return FromLdap(rc);
    // The forest's controllers, for users who logged on in another of its
    // domains. A reader who may not see them still gets the machines.
    static const char* const serverAttrs[] = {"cn", "dNSHostName", nullptr};
    rc = PagedSearch(raw, "CN=Sites," + configDn, "(&(objectClass=server)(dNSHostName=*))",
                     serverAttrs, deadline, [&](LDAPMessage* e) {
                       if (auto c = ControllerHostName(FirstValue(raw, e, "cn"),
                                                       FirstValue(raw, e, "dNSHostName")))
                         out.forestControllers.push_back(std::move(*c));
                     });
    if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT && rc != LDAP_INSUFFICIENT_ACCESS)
      return FromLdap(rc);
  }
  static const char* const trustAttrs[] = {"flatName", "trustPartner", "trustType", nullptr};
  rc = PagedSearch(raw, "CN=System," + domainDn, "(objectClass=trustedDomain)", trustAttrs,
                   deadline, [&](LDAPMessage* e) {
                     const std::string flat = FirstValue(raw, e, "flatName");
                     if (!flat.empty()) trusts.push_back(FromUtf8(flat));
                     if (FirstValue(raw, e, "trustType") == kActiveDirectoryTrustType)
                       out.domainDnsNames.push_back(FirstValue(raw, e, "trustPartner"));
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
  rc = PagedSearch(raw, domainDn, "(objectCategory=computer)", compAttrs, deadline,
                   [&](LDAPMessage* e) {
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
