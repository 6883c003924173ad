#include "SamrClient.h"

#include <strings.h>

#include <chrono>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaRpc.h"
#include "SambaStatus.h"
#include "basStringHandler.h"

extern "C" {
#include <gen_ndr/ndr_samr.h>
#include <gen_ndr/samr.h>
}

namespace quorvix::samba {

namespace {

constexpr uint32_t kMaximumAllowed = 0x02000000;
constexpr uint32_t kRidAdministrator = 500;
constexpr uint32_t kRidGuest = 501;
constexpr DWORD kUserPrivGuest = 0, kUserPrivUser = 1, kUserPrivAdmin = 2;

// One of a server's kept connections: the pipe and its opened account
// domain. One call at a time uses it (its tevent context is not shared
// between threads at once).
struct Session {
  std::string host;
  std::uint64_t owner = 0;  // the credentials it was opened with
  int slot = 0;             // which of the server's connections
  std::mutex lock;
  ConnectionSettings settings;  // outlives mem
  std::unique_ptr<void, TallocFree> mem;
  tevent_context* ev = nullptr;
  dcerpc_pipe* pipe = nullptr;
  policy_handle domain{};
  std::string domainName;  // the server's account domain
  bool open = false;
  std::chrono::steady_clock::time_point used;  // when it last answered
};

// A kept connection idle for longer is not trusted: a firewall or a new
// network (a laptop's VPN) may have dropped it without a word, and a call on
// it would wait for nothing.
constexpr std::chrono::seconds kKeptIdle{60};

struct Sessions {
  std::mutex lock;
  std::list<std::shared_ptr<Session>> kept;  // most recently used first
};

Sessions& Kept() {
  static Sessions s;
  return s;
}

// Which credentials a connection was opened with. The fields are hashed
// where they are: a string joining them would leave a copy of the password
// behind at each lookup.
std::uint64_t CredentialsKey(const SambaCredentials& c) {
  std::uint64_t key = 0;
  for (const std::string* field : {&c.user, &c.password, &c.dc})
    key = key * 1000003u ^ std::hash<std::string>{}(*field);
  return key;
}

std::shared_ptr<Session> SessionFor(const std::string& host, std::uint64_t owner, int slot) {
  Sessions& s = Kept();
  std::lock_guard lock(s.lock);
  for (auto it = s.kept.begin(); it != s.kept.end(); ++it)
    if ((*it)->host == host && (*it)->owner == owner && (*it)->slot == slot) {
      auto found = *it;
      s.kept.splice(s.kept.begin(), s.kept, it);
      return found;
    }
  auto made = std::make_shared<Session>();
  made->host = host;
  made->owner = owner;
  made->slot = slot;
  s.kept.push_front(made);
  // The least recently used goes; a thread still using it keeps it alive.
  if (s.kept.size() > kKeptConnections) s.kept.pop_back();
  return made;
}

// Connections a server's account database is asked over at once: the last
// logons that many machines' users need of one controller would otherwise
// queue on one connection, a round trip after another.
constexpr int kSessionsPerServer = 4;

// One of host's connections, held: a free one, else the first to come free
// within the time a call may take; none when none does (the wait is not the
// server's: it is not marked silent).
struct HeldSession {
  std::shared_lock<std::shared_mutex> state;  // the libraries' state, held first, let go last
  std::shared_ptr<Session> session;
  std::unique_lock<std::mutex> lock;
};
HeldSession TakeSession(const std::string& host, std::uint64_t owner,
                        std::chrono::milliseconds hostTimeout) {
  const Deadline deadline(hostTimeout);
  for (;;) {
    for (int slot = 0; slot < kSessionsPerServer; ++slot) {
      HeldSession h{{}, SessionFor(host, owner, slot), {}};
      h.lock = std::unique_lock(h.session->lock, std::try_to_lock);
      if (h.lock.owns_lock()) return h;
    }
    if (deadline.Passed()) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The start of every call to host's account database: a connection to it,
// held with the libraries' state; or the status without one (a name that is
// none, a server found silent lately, before or while waiting, or all its
// connections busy).
NET_API_STATUS TakeServer(const std::string& host, const SambaCredentials& creds,
                          HeldSession& held) {
  if (host.empty()) return ERROR_INVALID_NAME;
  if (RecentlySilent(host, creds)) return ERROR_BAD_NETPATH;
  std::shared_lock<std::shared_mutex> state(LibraryStateLock());
  held = TakeSession(host, CredentialsKey(creds), creds.hostTimeout);
  if (!held.session) return ERROR_NETWORK_BUSY;
  held.state = std::move(state);
  return RecentlySilent(host, creds) ? ERROR_BAD_NETPATH : NERR_Success;
}

void Drop(Session& s) {
  s.open = false;
  s.pipe = nullptr;
  s.ev = nullptr;
  s.mem.reset();
}

NET_API_STATUS Result(NTSTATUS st) {
  return NT_STATUS_IS_OK(st) ? NERR_Success : FromFailedNtStatus(NT_STATUS_V(st));
}

// One account-database call on the session's pipe: the transport's status,
// else the call's own result.
template <class Call>
NET_API_STATUS Samr(Session& s, uint32_t opnum, void* mem, Call& r, const Deadline& deadline) {
  if (NET_API_STATUS st = CallPipe(s.pipe, s.ev, &ndr_table_samr, opnum, mem, &r, deadline);
      st != NERR_Success)
    return st;
  return Result(r.out.result);
}

// Connects and opens the server's account domain (the one that is not
// Builtin).
NET_API_STATUS Open(Session& s, const SambaCredentials& creds, const Deadline& deadline) {
  s.mem.reset(talloc_new(nullptr));
  if (!s.mem) return ERROR_NOT_ENOUGH_MEMORY;
  void* mem = s.mem.get();
  s.ev = tevent_context_init(mem);
  if (s.ev == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  if (NET_API_STATUS st = ConnectPipe(mem, s.ev, s.settings.get(), s.host, "samr", &ndr_table_samr,
                                      creds, deadline, &s.pipe);
      st != NERR_Success)
    return st;

  auto* connect = talloc_zero(mem, policy_handle);
  samr_Connect2 c{};
  c.in.system_name = talloc_strdup(mem, s.host.c_str());
  c.in.access_mask = kMaximumAllowed;
  c.out.connect_handle = connect;
  if (NET_API_STATUS st = Samr(s, NDR_SAMR_CONNECT2, mem, c, deadline); st != NERR_Success)
    return st;

  uint32_t resume = 0, count = 0;
  samr_SamArray* domains = nullptr;
  samr_EnumDomains e{};
  e.in.connect_handle = connect;
  e.in.buf_size = 0xFFFFFFFF;
  e.in.resume_handle = &resume;
  e.out.sam = &domains;
  e.out.num_entries = &count;
  e.out.resume_handle = &resume;
  if (NET_API_STATUS st = Samr(s, NDR_SAMR_ENUMDOMAINS, mem, e, deadline);
      st != NERR_Success && st != ERROR_MORE_DATA)
    return st;
  const char* name = nullptr;
  for (uint32_t i = 0; domains != nullptr && i < domains->count && domains->entries != nullptr;
       ++i) {
    const char* n = domains->entries[i].name.string;
    if (n != nullptr && strcasecmp(n, "Builtin") != 0) {
      name = n;
      break;
    }
  }
  if (name == nullptr) return NERR_UserNotFound;

  lsa_String domainName{};
  domainName.string = name;
  dom_sid2* sid = nullptr;
  samr_LookupDomain l{};
  l.in.connect_handle = connect;
  l.in.domain_name = &domainName;
  l.out.sid = &sid;
  if (NET_API_STATUS st = Samr(s, NDR_SAMR_LOOKUPDOMAIN, mem, l, deadline); st != NERR_Success)
    return st;
  if (sid == nullptr) return ERROR_BAD_NET_RESP;

  samr_OpenDomain o{};
  o.in.connect_handle = connect;
  o.in.access_mask = kMaximumAllowed;
  o.in.sid = sid;
  o.out.domain_handle = &s.domain;
  if (NET_API_STATUS st = Samr(s, NDR_SAMR_OPENDOMAIN, mem, o, deadline); st != NERR_Success)
    return st;
  s.domainName = name;
  s.open = true;
  return NERR_Success;
}

Text FromLsa(const lsa_String& s) {
  if (s.string == nullptr) return std::u16string();
  return FromUtf8(s.string);
}

Text FromBinary(const lsa_BinaryString& b) {
  if (b.array == nullptr) return std::u16string();
  std::u16string out;
  for (uint16_t i = 0; i < b.length / 2; ++i) out.push_back(static_cast<char16_t>(b.array[i]));
  return out;
}

// One question on an open session: the account's level-21 facts.
NET_API_STATUS Ask(Session& s, const std::string& user, const Deadline& deadline,
                   SamrAccount& out) {
  std::unique_ptr<void, TallocFree> mem(talloc_new(s.mem.get()));
  if (!mem) return ERROR_NOT_ENOUGH_MEMORY;
  lsa_String name{};
  name.string = user.c_str();
  samr_Ids rids{}, types{};
  samr_LookupNames n{};
  n.in.domain_handle = &s.domain;
  n.in.num_names = 1;
  n.in.names = &name;
  n.out.rids = &rids;
  n.out.types = &types;
  if (NET_API_STATUS st =
          CallPipe(s.pipe, s.ev, &ndr_table_samr, NDR_SAMR_LOOKUPNAMES, mem.get(), &n, deadline);
      st != NERR_Success)
    return st;
  // No such name: NONE_MAPPED (or SOME_NOT_MAPPED for one name).
  if (NT_STATUS_V(n.out.result) == 0xC0000073 || NT_STATUS_V(n.out.result) == 0x00000107)
    return NERR_UserNotFound;
  if (NET_API_STATUS st = Result(n.out.result); st != NERR_Success) return st;
  if (rids.count != 1 || rids.ids == nullptr) return NERR_UserNotFound;

  policy_handle account{};
  samr_OpenUser u{};
  u.in.domain_handle = &s.domain;
  u.in.access_mask = kMaximumAllowed;
  u.in.rid = rids.ids[0];
  u.out.user_handle = &account;
  if (NET_API_STATUS st = Samr(s, NDR_SAMR_OPENUSER, mem.get(), u, deadline); st != NERR_Success)
    return st;

  samr_UserInfo* info = nullptr;
  samr_QueryUserInfo q{};
  q.in.user_handle = &account;
  q.in.level = UserAllInformation;
  q.out.info = &info;
  const NET_API_STATUS st = Samr(s, NDR_SAMR_QUERYUSERINFO, mem.get(), q, deadline);
  samr_Close close{};
  close.in.handle = &account;
  close.out.handle = &account;
  if (st != ERROR_BAD_NETPATH)
    CallPipe(s.pipe, s.ev, &ndr_table_samr, NDR_SAMR_CLOSE, mem.get(), &close, deadline);
  if (st != NERR_Success) return st;
  if (info == nullptr) return ERROR_BAD_NET_RESP;

  const samr_UserInfo21& i = info->info21;
  SamrAccount a;
  a.name = FromLsa(i.account_name);
  a.homeDir = FromLsa(i.home_directory);
  a.comment = FromLsa(i.description);
  a.scriptPath = FromLsa(i.logon_script);
  a.fullName = FromLsa(i.full_name);
  a.usrComment = FromLsa(i.comment);
  a.parms = FromBinary(i.parameters);
  a.workstations = FromLsa(i.workstations);
  const DWORD changed = SecondsOf(i.last_password_change);
  const auto now = static_cast<DWORD>(std::time(nullptr));
  a.passwordAge = changed != 0 && changed <= now ? now - changed : 0;
  a.priv = i.rid == kRidAdministrator ? kUserPrivAdmin
                                      : (i.rid == kRidGuest ? kUserPrivGuest : kUserPrivUser);
  a.flags = AccountFlags(i.acct_flags);
  a.lastLogon = SecondsOf(i.last_logon);
  a.lastLogoff = SecondsOf(i.last_logoff);
  a.acctExpires = SecondsOf(i.acct_expiry);
  a.unitsPerWeek = i.logon_hours.units_per_week;
  a.badPwCount = i.bad_password_count;
  a.numLogons = i.logon_count;
  a.countryCode = i.country_code;
  a.codePage = i.code_page;
  out = std::move(a);
  return NERR_Success;
}

}  // namespace

DWORD SecondsOf(std::uint64_t nttime) {
  constexpr DWORD TIMEQ_FOREVER = kTimeqForever;
  constexpr std::uint64_t kTicks = 10000000;                 // per second
  constexpr std::uint64_t kEpoch = 11644473600ull * kTicks;  // 1601 to 1970
  if (nttime == 0x7FFFFFFFFFFFFFFFull || nttime == 0xFFFFFFFFFFFFFFFFull) return TIMEQ_FOREVER;
  if (nttime <= kEpoch) return 0;
  const std::uint64_t seconds = (nttime - kEpoch) / kTicks;  // cut, never rounded up
  return seconds >= TIMEQ_FOREVER ? TIMEQ_FOREVER : static_cast<DWORD>(seconds);
}

DWORD AccountFlags(std::uint32_t acb) {
  static constexpr std::pair<std::uint32_t, DWORD> kMap[] = {
      {0x00000001, 0x0002},    {0x00000002, 0x0008},   {0x00000004, 0x0020},
      {0x00000008, 0x0100},    {0x00000010, 0x0200},   {0x00000020, 0x20000},
      {0x00000040, 0x0800},    {0x00000080, 0x1000},   {0x00000100, 0x2000},
      {0x00000200, 0x10000},   {0x00000400, 0x0010},   {0x00000800, 0x0080},
      {0x00001000, 0x40000},   {0x00002000, 0x80000},  {0x00004000, 0x100000},
      {0x00008000, 0x200000},  {0x00010000, 0x400000}, {0x00020000, 0x800000},
      {0x00080000, 0x2000000},
  };
  DWORD flags = 0x0001;  // UF_SCRIPT, always set on the platform
  for (const auto& [from, to] : kMap)
    if ((acb & from) != 0) flags |= to;
  return flags;
}

NET_API_STATUS QueryAccount(const std::string& host, const std::string& user,
                            const SambaCredentials& creds, SamrAccount& out) {
  HeldSession held;
  if (NET_API_STATUS st = TakeServer(host, creds, held); st != NERR_Success) return st;
  Session* s = held.session.get();
  // The time spent waiting for the connection is not the server's: its
  // deadline starts now.
  const Deadline deadline(creds.hostTimeout);
  if (s->open && std::chrono::steady_clock::now() - s->used > kKeptIdle) Drop(*s);
  // A kept connection may have been closed or lost meanwhile: it gets half
  // the time, and a fresh one is tried in the rest. Its silence says nothing
  // of the server.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool kept = s->open;
    const auto half = (creds.hostTimeout.count() > 0 ? creds.hostTimeout : deadline.Left()) / 2;
    const Deadline keptDeadline(std::max(half, std::chrono::milliseconds(1)));
    NET_API_STATUS st = kept ? NERR_Success : Open(*s, creds, deadline);
    if (st == NERR_Success) st = Ask(*s, user, kept ? keptDeadline : deadline, out);
    if (st == NERR_Success || st == NERR_UserNotFound) {
      s->used = std::chrono::steady_clock::now();
      return st;
    }
    Drop(*s);
    if (!kept || deadline.Passed()) {
      if (st == ERROR_BAD_NETPATH && !kept) RememberSilent(host);
      return st;
    }
  }
  return ERROR_BAD_NETPATH;
}

NET_API_STATUS AccountDomainName(const std::string& host, const SambaCredentials& creds,
                                 std::string& out) {
  HeldSession held;
  if (NET_API_STATUS st = TakeServer(host, creds, held); st != NERR_Success) return st;
  Session* s = held.session.get();
  if (!s->open) {
    if (NET_API_STATUS st = Open(*s, creds, Deadline(creds.hostTimeout)); st != NERR_Success) {
      Drop(*s);
      if (st == ERROR_BAD_NETPATH) RememberSilent(host);
      return st;
    }
    s->used = std::chrono::steady_clock::now();
  }
  out = s->domainName;
  return NERR_Success;
}

void ForgetAccountServers() {
  Sessions& s = Kept();
  std::lock_guard lock(s.lock);
  s.kept.clear();
}

}  // namespace quorvix::samba
