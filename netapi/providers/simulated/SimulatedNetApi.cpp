#include "SimulatedNetApi.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

namespace quorvix::sim {

namespace {

std::size_t TextBytes(std::u16string_view s) {
  return (s.size() + 1) * sizeof(char16_t);
}

// Places records at the start of one allocation and their strings after them,
// as the platform lays out its answers.
class BufferWriter {
 public:
  BufferWriter(LPBYTE base, std::size_t recordBytes, std::size_t total)
      : base_(base), next_(recordBytes), total_(total) {}

  LPWSTR Put(std::u16string_view s) {
    const std::size_t bytes = TextBytes(s);
    if (next_ + bytes > total_) throw std::logic_error("simulated buffer overrun");
    auto* out = reinterpret_cast<char16_t*>(base_ + next_);
    if (!s.empty()) std::memcpy(out, s.data(), s.size() * sizeof(char16_t));
    out[s.size()] = u'\0';
    next_ += bytes;
    return out;
  }

 private:
  LPBYTE base_;
  std::size_t next_;
  std::size_t total_;
};

// The entries [first, first + count) that make one batch: they fit within
// prefmaxlen, except that a batch holds at least one entry.
struct Batch {
  std::size_t first = 0;
  std::size_t count = 0;
  std::size_t bytes = 0;  // records plus strings
};

template <typename SizeOf>
Batch PickBatch(std::size_t total, std::size_t first, DWORD prefmaxlen, SizeOf sizeOf) {
  Batch b;
  b.first = first;
  for (std::size_t i = first; i < total; ++i) {
    const std::size_t size = sizeOf(i);
    if (b.count > 0 && prefmaxlen != MAX_PREFERRED_LENGTH && b.bytes + size > prefmaxlen) break;
    b.bytes += size;
    ++b.count;
  }
  return b;
}

std::u16string ReadName(LPCWSTR p) {
  return p == nullptr ? std::u16string() : std::u16string(p);
}

}  // namespace

struct SimulatedNetApi::Impl {
  mutable std::mutex mu;
  SimDomain domain;
  std::unordered_map<std::u16string, std::size_t> machineIndex;  // folded name -> machine
  std::unordered_map<std::u16string, std::size_t> domainIndex;   // folded name -> domain
  std::unordered_map<void*, std::size_t> buffers;                // outstanding -> bytes
  std::size_t refused = 0;
  std::vector<CallRecord> calls;
  bool logging = true;
  // Per machine (same order): folded user name -> account. Large generated
  // domains keep tens of thousands of accounts on one controller.
  std::vector<std::unordered_map<std::u16string, std::size_t>> userIndex;
  // domain.faults' targets, folded, in the same order.
  std::vector<std::u16string> faultKeys;

  explicit Impl(SimDomain d) : domain(std::move(d)) {
    userIndex.resize(domain.machines.size());
    machineIndex.reserve(domain.machines.size());
    for (std::size_t i = 0; i < domain.machines.size(); ++i) {
      machineIndex.emplace(FoldName(domain.machines[i].name), i);
      const auto& users = domain.machines[i].users;
      for (std::size_t k = 0; k < users.size(); ++k)
        userIndex[i].emplace(FoldName(users[k].name), k);
    }
    for (const auto& f : domain.faults) faultKeys.push_back(FoldName(StripBackslashes(f.target)));
    for (std::size_t i = 0; i < domain.domains.size(); ++i)
      domainIndex.emplace(FoldName(domain.domains[i].name), i);
  }

  ~Impl() {
    for (auto& [p, size] : buffers) std::free(p);
  }

  static const uint32_t* Latency(const std::map<std::string, uint32_t>& table,
                                 const std::string& call) {
    auto it = table.find(call);
    if (it == table.end()) it = table.find("*");
    return it == table.end() ? nullptr : &it->second;
  }

  // Waits as long as the call's server (the first name argument) takes to
  // answer: silent, off, its own latency, or the domain's. What is read here
  // never changes after construction, so it is read without the lock, and
  // callers on several threads wait side by side as on a network.
  void Delay(const CallRecord& rec) const {
    uint64_t micros = 0;
    const SimMachine* m = nullptr;
    if (!rec.names.empty()) {
      auto it = machineIndex.find(ServerKey(rec.nullNames[0] ? nullptr : rec.names[0].c_str()));
      if (it != machineIndex.end()) m = &domain.machines[it->second];
    }
    const uint32_t* own = m != nullptr ? Latency(m->latencyMicros, rec.call) : nullptr;
    const uint32_t* any = Latency(domain.latencyMicros, rec.call);
    if (m != nullptr && m->unreachableStatus)
      micros = m->unreachableMicros;
    else if (own != nullptr)
      micros = *own;
    else if (any != nullptr)
      micros = *any;
    if (m != nullptr) micros += m->silentMicros;
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
  }

  // The folded key of a server argument; null or empty is the local machine.
  std::u16string ServerKey(LPCWSTR server) const {
    const std::u16string name = ReadName(server);
    const std::u16string_view stripped = StripBackslashes(name);
    return FoldName(stripped.empty() ? std::u16string_view(domain.computerName) : stripped);
  }

  std::u16string DomainKey(LPCWSTR d) const {
    const std::u16string name = ReadName(d);
    return FoldName(name.empty() ? domain.localDomain : name);
  }

  SimMachine* Machine(const std::u16string& key) {
    auto it = machineIndex.find(key);
    return it == machineIndex.end() ? nullptr : &domain.machines[it->second];
  }

  const SimDomainInfo* Domain(const std::u16string& key) const {
    auto it = domainIndex.find(key);
    return it == domainIndex.end() ? nullptr : &domain.domains[it->second];
  }

  std::optional<NET_API_STATUS> Fault(std::string_view call, const std::u16string& key) const {
    for (std::size_t i = 0; i < domain.faults.size(); ++i) {
      const SimFault& f = domain.faults[i];
      if (f.call == call && (f.target.empty() || faultKeys[i] == key)) return f.status;
    }
    // A machine that is off answers every call that names it with its status.
    if (call != "NetServerEnum" && call != "NetGetDCName") {
      auto it = machineIndex.find(key);
      if (it != machineIndex.end() && domain.machines[it->second].unreachableStatus)
        return domain.machines[it->second].unreachableStatus;
    }
    return std::nullopt;
  }

  LPBYTE Allocate(std::size_t bytes) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) return nullptr;
    std::memset(p, 0, bytes == 0 ? 1 : bytes);
    buffers.emplace(p, bytes);
    return static_cast<LPBYTE>(p);
  }

  // One answer of n records of type Rec with stringBytes of text after them;
  // fill(rec, writer, i) writes record i.
  template <typename Rec, typename Fill>
  LPBYTE Build(std::size_t n, std::size_t stringBytes, Fill fill) {
    const std::size_t recordBytes = n * sizeof(Rec);
    const std::size_t total = recordBytes + stringBytes;
    LPBYTE base = Allocate(total);
    if (base == nullptr) return nullptr;
    BufferWriter w(base, recordBytes, total);
    auto* recs = reinterpret_cast<Rec*>(base);
    for (std::size_t i = 0; i < n; ++i) fill(recs[i], w, i);
    return base;
  }

  // The name of the primary controller of the domain of key, as servername
  // (one of the domain's machines, or this computer) gives it (under mu).
  NET_API_STATUS PdcName(LPCWSTR servername, const std::u16string& key, std::u16string& name) {
    const std::u16string server = ServerKey(servername);
    if (Machine(server) == nullptr && server != FoldName(domain.computerName))
      return ERROR_BAD_NETPATH;
    const SimDomainInfo* d = Domain(key);
    if (d == nullptr || d->pdc.empty()) return NERR_DCNotFound;
    const SimMachine* pdc = Machine(FoldName(d->pdc));
    name = pdc != nullptr ? pdc->name : d->pdc;
    return NERR_Success;
  }

  void Log(CallRecord rec) {
    if (logging) calls.push_back(std::move(rec));
  }

  // Answers one logged call: its latency first (outside the lock), then the
  // body under the lock, then the call's outcome (and counts) in the log.
  template <typename Body>
  NET_API_STATUS Serve(CallRecord rec, Body body, LPDWORD entriesread = nullptr,
                       LPDWORD totalentries = nullptr) {
    Delay(rec);
    std::lock_guard lock(mu);
    const NET_API_STATUS status = body();
    rec.status = status;
    if (entriesread != nullptr) rec.entriesRead = *entriesread;
    if (totalentries != nullptr) rec.totalEntries = *totalentries;
    Log(std::move(rec));
    return status;
  }

  SimUser* FindUser(SimMachine& m, const std::u16string& name) {
    const auto& index = userIndex[static_cast<std::size_t>(&m - domain.machines.data())];
    auto it = index.find(FoldName(name));
    return it == index.end() ? nullptr : &m.users[it->second];
  }

  static SimGroup* FindGroup(std::vector<SimGroup>& groups, std::u16string_view name) {
    const std::u16string key = FoldName(name);
    for (auto& g : groups)
      if (FoldName(g.name) == key) return &g;
    return nullptr;
  }

  // Whose accounts a machine keeps: a controller keeps its domain's, any
  // other machine its own.
  static const std::u16string& Authority(const SimMachine& m) {
    return (m.type & (SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL)) != 0 ? m.domain : m.name;
  }

  // Resolves an account handed to NetLocalGroupAddMembers ("DOMAIN\name" or
  // "name") to its canonical "DOMAIN\name", or nothing when no account or
  // global group of that name is known. A bare name is looked up on the server
  // itself, then at its domain's primary controller.
  std::optional<std::u16string> ResolveAccount(SimMachine& server, std::u16string_view account) {
    auto knows = [this](SimMachine& m, std::u16string_view name) -> const std::u16string* {
      if (SimUser* u = FindUser(m, std::u16string(name))) return &u->name;
      if (SimGroup* g = FindGroup(m.globalGroups, name)) return &g->name;
      return nullptr;
    };
    auto pdcOf = [this](const std::u16string& domainName) -> SimMachine* {
      const SimDomainInfo* d = Domain(FoldName(domainName));
      return d == nullptr || d->pdc.empty() ? nullptr : Machine(FoldName(d->pdc));
    };
    const auto slash = account.rfind(u'\\');
    if (slash != std::u16string_view::npos) {
      const std::u16string_view qualifier = account.substr(0, slash);
      const std::u16string_view name = account.substr(slash + 1);
      if (name.empty() || qualifier.empty()) return std::nullopt;
      if (FoldName(qualifier) == FoldName(server.name)) {
        if (const auto* n = knows(server, name)) return Authority(server) + u'\\' + *n;
        return std::nullopt;
      }
      const SimDomainInfo* d = Domain(FoldName(qualifier));
      if (d == nullptr) return std::nullopt;
      if (SimMachine* pdc = pdcOf(d->name))
        if (const auto* n = knows(*pdc, name)) return d->name + u'\\' + *n;
      return std::nullopt;
    }
    if (account.empty()) return std::nullopt;
    if (const auto* n = knows(server, account)) return Authority(server) + u'\\' + *n;
    if (SimMachine* pdc = pdcOf(server.domain))
      if (const auto* n = knows(*pdc, account)) return server.domain + u'\\' + *n;
    return std::nullopt;
  }

  // The canonical form of a member already listed in a local group.
  std::u16string MemberKey(SimMachine& server, const std::u16string& member) {
    auto resolved = ResolveAccount(server, member);
    return FoldName(resolved ? *resolved : member);
  }
};

SimulatedNetApi::SimulatedNetApi(SimDomain domain)
    : impl_(std::make_unique<Impl>(std::move(domain))) {}

SimulatedNetApi::~SimulatedNetApi() = default;

namespace {

CallRecord Record(const char* call, std::initializer_list<LPCWSTR> names) {
  CallRecord rec;
  rec.call = call;
  for (LPCWSTR n : names) {
    rec.names.push_back(ReadName(n));
    rec.nullNames.push_back(n == nullptr);
  }
  return rec;
}

void ClearOutputs(LPBYTE* bufptr, LPDWORD entriesread, LPDWORD totalentries) {
  if (bufptr != nullptr) *bufptr = nullptr;
  if (entriesread != nullptr) *entriesread = 0;
  if (totalentries != nullptr) *totalentries = 0;
}

std::size_t ServerInfoBytes(const std::u16string& name, const std::u16string& comment) {
  return sizeof(SERVER_INFO_101) + TextBytes(name) + TextBytes(comment);
}

}  // namespace

NET_API_STATUS SimulatedNetApi::NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                              DWORD prefmaxlen, LPDWORD entriesread,
                                              LPDWORD totalentries, DWORD servertype,
                                              LPCWSTR domain, LPDWORD resume_handle) {
  CallRecord rec = Record("NetServerEnum", {servername, domain});
  rec.level = level;
  rec.prefmaxlen = prefmaxlen;
  rec.servertype = servertype;
  rec.resumeIn = resume_handle != nullptr ? *resume_handle : 0;
  Impl& s = *impl_;
  return s.Serve(
      std::move(rec),
      [&]() -> NET_API_STATUS {
        ClearOutputs(bufptr, entriesread, totalentries);
        if (auto f = s.Fault("NetServerEnum", s.DomainKey(domain))) return *f;
        if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
          return ERROR_INVALID_PARAMETER;
        if (level != 101) return ERROR_INVALID_LEVEL;
        if (s.Machine(s.ServerKey(servername)) == nullptr &&
            s.ServerKey(servername) != FoldName(s.domain.computerName))
          return ERROR_BAD_NETPATH;

        // The list: the visible domains, or the matching machines of one domain.
        struct Entry {
          DWORD type;
          const std::u16string* name;
          const std::u16string* comment;
          DWORD major;
          DWORD minor;
        };
        std::vector<Entry> list;
        const bool domainEnum =
            servertype != SV_TYPE_ALL && (servertype & SV_TYPE_DOMAIN_ENUM) != 0;
        if (domainEnum) {
          for (const auto& d : s.domain.domains)
            list.push_back({SV_TYPE_DOMAIN_ENUM | SV_TYPE_NT, &d.name, &d.pdc, 0, 0});
        } else {
          const std::u16string key = s.DomainKey(domain);
          if (s.Domain(key) == nullptr) return ERROR_NO_BROWSER_SERVERS_FOUND;
          for (const auto& m : s.domain.machines) {
            if (FoldName(m.domain) != key) continue;
            if (servertype != SV_TYPE_ALL && (m.type & servertype) == 0) continue;
            list.push_back({m.type, &m.name, &m.comment, m.versionMajor, m.versionMinor});
          }
        }

        const std::size_t first = resume_handle != nullptr ? *resume_handle : 0;
        if (first >= list.size()) {
          if (resume_handle != nullptr) *resume_handle = static_cast<DWORD>(list.size());
          return NERR_Success;
        }
        const Batch b = PickBatch(list.size(), first, prefmaxlen, [&](std::size_t i) {
          return ServerInfoBytes(*list[i].name, *list[i].comment);
        });
        LPBYTE buf =
            s.Build<SERVER_INFO_101>(b.count, b.bytes - b.count * sizeof(SERVER_INFO_101),
                                     [&](SERVER_INFO_101& r, BufferWriter& w, std::size_t k) {
                                       const Entry& e = list[b.first + k];
                                       r.sv101_platform_id = PLATFORM_ID_NT;
                                       r.sv101_name = w.Put(*e.name);
                                       r.sv101_version_major = e.major;
                                       r.sv101_version_minor = e.minor;
                                       r.sv101_type = e.type;
                                       r.sv101_comment = w.Put(*e.comment);
                                     });
        if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        *bufptr = buf;
        *entriesread = static_cast<DWORD>(b.count);
        *totalentries = static_cast<DWORD>(list.size() - first);
        const std::size_t next = b.first + b.count;
        if (resume_handle != nullptr) *resume_handle = static_cast<DWORD>(next);
        return next < list.size() ? ERROR_MORE_DATA : NERR_Success;
      },
      entriesread, totalentries);
}

NET_API_STATUS SimulatedNetApi::NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  CallRecord rec = Record("NetWkstaGetInfo", {servername});
  rec.level = level;
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    if (bufptr != nullptr) *bufptr = nullptr;
    const std::u16string key = s.ServerKey(servername);
    if (auto f = s.Fault("NetWkstaGetInfo", key)) return *f;
    if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
    if (level != 100) return ERROR_INVALID_LEVEL;
    const SimMachine* m = s.Machine(key);
    std::u16string name, group;
    DWORD major = 5, minor = 0;
    if (m != nullptr) {
      name = m->name, group = m->domain, major = m->versionMajor, minor = m->versionMinor;
    } else if (key == FoldName(s.domain.computerName)) {
      name = s.domain.computerName, group = s.domain.localDomain;
    } else {
      return ERROR_BAD_NETPATH;
    }
    LPBYTE buf = s.Build<WKSTA_INFO_100>(1, TextBytes(name) + TextBytes(group),
                                         [&](WKSTA_INFO_100& r, BufferWriter& w, std::size_t) {
                                           r.wki100_platform_id = PLATFORM_ID_NT;
                                           r.wki100_computername = w.Put(name);
                                           r.wki100_langroup = w.Put(group);
                                           r.wki100_ver_major = major;
                                           r.wki100_ver_minor = minor;
                                         });
    if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = buf;
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  CallRecord rec = Record("NetServerGetInfo", {servername});
  rec.level = level;
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    if (bufptr != nullptr) *bufptr = nullptr;
    const std::u16string key = s.ServerKey(servername);
    if (auto f = s.Fault("NetServerGetInfo", key)) return *f;
    if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
    if (level != 101) return ERROR_INVALID_LEVEL;
    const SimMachine* m = s.Machine(key);
    if (m == nullptr) return ERROR_BAD_NETPATH;
    LPBYTE buf = s.Build<SERVER_INFO_101>(1, TextBytes(m->name) + TextBytes(m->comment),
                                          [&](SERVER_INFO_101& r, BufferWriter& w, std::size_t) {
                                            r.sv101_platform_id = PLATFORM_ID_NT;
                                            r.sv101_name = w.Put(m->name);
                                            r.sv101_version_major = m->versionMajor;
                                            r.sv101_version_minor = m->versionMinor;
                                            r.sv101_type = m->type;
                                            r.sv101_comment = w.Put(m->comment);
                                          });
    if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = buf;
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::NetGetDCName(LPCWSTR servername, LPCWSTR domainname,
                                             LPBYTE* bufptr) {
  CallRecord rec = Record("NetGetDCName", {servername, domainname});
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    if (bufptr != nullptr) *bufptr = nullptr;
    const std::u16string key = s.DomainKey(domainname);
    if (auto f = s.Fault("NetGetDCName", key)) return *f;
    if (bufptr == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string pdc;
    if (NET_API_STATUS st = s.PdcName(servername, key, pdc); st != NERR_Success) return st;
    const std::u16string dc = u"\\\\" + pdc;
    LPBYTE buf = s.Allocate(TextBytes(dc));
    if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    BufferWriter(buf, 0, TextBytes(dc)).Put(dc);
    *bufptr = buf;
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::PrimaryControllerDnsName(const std::u16string& server,
                                                         const std::u16string& domain,
                                                         std::u16string& name) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mu);
  return s.PdcName(server.c_str(), s.DomainKey(domain.c_str()), name);
}

NET_API_STATUS SimulatedNetApi::NetWkstaUserEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                                 DWORD prefmaxlen, LPDWORD entriesread,
                                                 LPDWORD totalentries, LPDWORD resumehandle) {
  CallRecord rec = Record("NetWkstaUserEnum", {servername});
  rec.level = level;
  rec.prefmaxlen = prefmaxlen;
  rec.resumeIn = resumehandle != nullptr ? *resumehandle : 0;
  Impl& s = *impl_;
  return s.Serve(
      std::move(rec),
      [&]() -> NET_API_STATUS {
        ClearOutputs(bufptr, entriesread, totalentries);
        const std::u16string key = s.ServerKey(servername);
        if (auto f = s.Fault("NetWkstaUserEnum", key)) return *f;
        if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
          return ERROR_INVALID_PARAMETER;
        if (level != 1) return ERROR_INVALID_LEVEL;
        const SimMachine* m = s.Machine(key);
        if (m == nullptr) return ERROR_BAD_NETPATH;
        if (m->sessionsStatus) return *m->sessionsStatus;

        const auto& list = m->sessions;
        const std::size_t first = resumehandle != nullptr ? *resumehandle : 0;
        if (first >= list.size()) {
          if (resumehandle != nullptr) *resumehandle = static_cast<DWORD>(list.size());
          return NERR_Success;
        }
        const Batch b = PickBatch(list.size(), first, prefmaxlen, [&](std::size_t i) {
          const SimLogonEntry& e = list[i];
          return sizeof(WKSTA_USER_INFO_1) + TextBytes(e.user) + TextBytes(e.logonDomain) +
                 TextBytes(e.otherDomains) + TextBytes(e.logonServer);
        });
        LPBYTE buf =
            s.Build<WKSTA_USER_INFO_1>(b.count, b.bytes - b.count * sizeof(WKSTA_USER_INFO_1),
                                       [&](WKSTA_USER_INFO_1& r, BufferWriter& w, std::size_t k) {
                                         const SimLogonEntry& e = list[b.first + k];
                                         r.wkui1_username = w.Put(e.user);
                                         r.wkui1_logon_domain = w.Put(e.logonDomain);
                                         r.wkui1_oth_domains = w.Put(e.otherDomains);
                                         r.wkui1_logon_server = w.Put(e.logonServer);
                                       });
        if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        *bufptr = buf;
        *entriesread = static_cast<DWORD>(b.count);
        *totalentries = static_cast<DWORD>(list.size() - first);
        const std::size_t next = b.first + b.count;
        if (resumehandle != nullptr) *resumehandle = static_cast<DWORD>(next);
        return next < list.size() ? ERROR_MORE_DATA : NERR_Success;
      },
      entriesread, totalentries);
}

NET_API_STATUS SimulatedNetApi::NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                               LPBYTE* bufptr) {
  CallRecord rec = Record("NetUserGetInfo", {servername, username});
  rec.level = level;
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    if (bufptr != nullptr) *bufptr = nullptr;
    const std::u16string key = s.ServerKey(servername);
    if (auto f = s.Fault("NetUserGetInfo", key)) return *f;
    if (bufptr == nullptr || username == nullptr) return ERROR_INVALID_PARAMETER;
    if (level != 2) return ERROR_INVALID_LEVEL;
    SimMachine* m = s.Machine(key);
    if (m == nullptr) return ERROR_BAD_NETPATH;
    const SimUser* u = s.FindUser(*m, username);
    if (u == nullptr) return NERR_UserNotFound;
    static const std::u16string kEmpty;
    static const std::u16string kAnyServer = u"\\\\*";
    LPBYTE buf =
        s.Build<USER_INFO_2>(1, TextBytes(u->name) + 7 * TextBytes(kEmpty) + TextBytes(kAnyServer),
                             [&](USER_INFO_2& r, BufferWriter& w, std::size_t) {
                               r.usri2_name = w.Put(u->name);
                               r.usri2_password = nullptr;  // a server never hands out passwords
                               r.usri2_priv = 1;            // USER_PRIV_USER
                               r.usri2_home_dir = w.Put(kEmpty);
                               r.usri2_comment = w.Put(kEmpty);
                               r.usri2_flags = 0x0201;  // UF_SCRIPT | UF_NORMAL_ACCOUNT
                               r.usri2_script_path = w.Put(kEmpty);
                               r.usri2_full_name = w.Put(kEmpty);
                               r.usri2_usr_comment = w.Put(kEmpty);
                               r.usri2_parms = w.Put(kEmpty);
                               r.usri2_workstations = w.Put(kEmpty);
                               r.usri2_last_logon = u->lastLogon;
                               r.usri2_acct_expires = 0xFFFFFFFFu;  // TIMEQ_FOREVER
                               r.usri2_max_storage = 0xFFFFFFFFu;   // USER_MAXSTORAGE_UNLIMITED
                               r.usri2_units_per_week = 168;
                               r.usri2_logon_hours = nullptr;
                               r.usri2_logon_server = w.Put(kAnyServer);
                             });
    if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = buf;
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::NetGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                             DWORD prefmaxlen, LPDWORD entriesread,
                                             LPDWORD totalentries, PDWORD_PTR resume_handle) {
  CallRecord rec = Record("NetGroupEnum", {servername});
  rec.level = level;
  rec.prefmaxlen = prefmaxlen;
  rec.resumeIn = resume_handle != nullptr ? *resume_handle : 0;
  Impl& s = *impl_;
  return s.Serve(
      std::move(rec),
      [&]() -> NET_API_STATUS {
        ClearOutputs(bufptr, entriesread, totalentries);
        const std::u16string key = s.ServerKey(servername);
        if (auto f = s.Fault("NetGroupEnum", key)) return *f;
        if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr)
          return ERROR_INVALID_PARAMETER;
        if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
        const SimMachine* m = s.Machine(key);
        if (m == nullptr) return ERROR_BAD_NETPATH;

        const auto& list = m->globalGroups;
        const std::size_t first = resume_handle != nullptr ? *resume_handle : 0;
        if (first >= list.size()) {
          if (resume_handle != nullptr) *resume_handle = list.size();
          return NERR_Success;
        }
        const bool withComment = level == 1;
        const std::size_t recSize = withComment ? sizeof(GROUP_INFO_1) : sizeof(GROUP_INFO_0);
        const Batch b = PickBatch(list.size(), first, prefmaxlen, [&](std::size_t i) {
          return recSize + TextBytes(list[i].name) + (withComment ? TextBytes(list[i].comment) : 0);
        });
        LPBYTE buf = nullptr;
        if (withComment) {
          buf = s.Build<GROUP_INFO_1>(b.count, b.bytes - b.count * recSize,
                                      [&](GROUP_INFO_1& r, BufferWriter& w, std::size_t k) {
                                        r.grpi1_name = w.Put(list[b.first + k].name);
                                        r.grpi1_comment = w.Put(list[b.first + k].comment);
                                      });
        } else {
          buf = s.Build<GROUP_INFO_0>(b.count, b.bytes - b.count * recSize,
                                      [&](GROUP_INFO_0& r, BufferWriter& w, std::size_t k) {
                                        r.grpi0_name = w.Put(list[b.first + k].name);
                                      });
        }
        if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        *bufptr = buf;
        *entriesread = static_cast<DWORD>(b.count);
        *totalentries = static_cast<DWORD>(list.size() - first);
        const std::size_t next = b.first + b.count;
        if (resume_handle != nullptr) *resume_handle = next;
        return next < list.size() ? ERROR_MORE_DATA : NERR_Success;
      },
      entriesread, totalentries);
}

NET_API_STATUS SimulatedNetApi::NetUserGetGroups(LPCWSTR servername, LPCWSTR username, DWORD level,
                                                 LPBYTE* bufptr, DWORD prefmaxlen,
                                                 LPDWORD entriesread, LPDWORD totalentries) {
  CallRecord rec = Record("NetUserGetGroups", {servername, username});
  rec.level = level;
  rec.prefmaxlen = prefmaxlen;
  Impl& s = *impl_;
  return s.Serve(
      std::move(rec),
      [&]() -> NET_API_STATUS {
        ClearOutputs(bufptr, entriesread, totalentries);
        const std::u16string key = s.ServerKey(servername);
        if (auto f = s.Fault("NetUserGetGroups", key)) return *f;
        if (bufptr == nullptr || entriesread == nullptr || totalentries == nullptr ||
            username == nullptr)
          return ERROR_INVALID_PARAMETER;
        if (level != 0) return ERROR_INVALID_LEVEL;
        SimMachine* m = s.Machine(key);
        if (m == nullptr) return ERROR_BAD_NETPATH;
        const SimUser* u = s.FindUser(*m, username);
        if (u == nullptr) return NERR_UserNotFound;

        const auto& list = u->groups;
        if (list.empty()) return NERR_Success;
        const Batch b = PickBatch(list.size(), 0, prefmaxlen, [&](std::size_t i) {
          return sizeof(GROUP_USERS_INFO_0) + TextBytes(list[i]);
        });
        LPBYTE buf =
            s.Build<GROUP_USERS_INFO_0>(b.count, b.bytes - b.count * sizeof(GROUP_USERS_INFO_0),
                                        [&](GROUP_USERS_INFO_0& r, BufferWriter& w, std::size_t k) {
                                          r.grui0_name = w.Put(list[k]);
                                        });
        if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        *bufptr = buf;
        *entriesread = static_cast<DWORD>(b.count);
        *totalentries = static_cast<DWORD>(list.size());
        return b.count < list.size() ? ERROR_MORE_DATA : NERR_Success;
      },
      entriesread, totalentries);
}

NET_API_STATUS SimulatedNetApi::NetGroupGetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                                LPBYTE* bufptr) {
  CallRecord rec = Record("NetGroupGetInfo", {servername, groupname});
  rec.level = level;
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    if (bufptr != nullptr) *bufptr = nullptr;
    const std::u16string key = s.ServerKey(servername);
    if (auto f = s.Fault("NetGroupGetInfo", key)) return *f;
    if (bufptr == nullptr || groupname == nullptr) return ERROR_INVALID_PARAMETER;
    if (level != 0 && level != 1) return ERROR_INVALID_LEVEL;
    SimMachine* m = s.Machine(key);
    if (m == nullptr) return ERROR_BAD_NETPATH;
    const SimGroup* g = Impl::FindGroup(m->globalGroups, groupname);
    if (g == nullptr) return NERR_GroupNotFound;
    LPBYTE buf = nullptr;
    if (level == 1) {
      buf = s.Build<GROUP_INFO_1>(1, TextBytes(g->name) + TextBytes(g->comment),
                                  [&](GROUP_INFO_1& r, BufferWriter& w, std::size_t) {
                                    r.grpi1_name = w.Put(g->name);
                                    r.grpi1_comment = w.Put(g->comment);
                                  });
    } else {
      buf = s.Build<GROUP_INFO_0>(
          1, TextBytes(g->name),
          [&](GROUP_INFO_0& r, BufferWriter& w, std::size_t) { r.grpi0_name = w.Put(g->name); });
    }
    if (buf == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *bufptr = buf;
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname,
                                                        DWORD level, LPBYTE buf,
                                                        DWORD totalentries) {
  CallRecord rec = Record("NetLocalGroupAddMembers", {servername, groupname});
  rec.level = level;
  const auto* members = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3*>(buf);
  if (level == 3 && members != nullptr) {
    for (DWORD i = 0; i < totalentries; ++i) {
      rec.names.push_back(ReadName(members[i].lgrmi3_domainandname));
      rec.nullNames.push_back(members[i].lgrmi3_domainandname == nullptr);
    }
  }
  Impl& s = *impl_;
  return s.Serve(std::move(rec), [&]() -> NET_API_STATUS {
    const std::u16string key = s.ServerKey(servername);
    if (auto f = s.Fault("NetLocalGroupAddMembers", key)) return *f;
    if (groupname == nullptr || (buf == nullptr && totalentries > 0))
      return ERROR_INVALID_PARAMETER;
    if (level != 3) return ERROR_INVALID_LEVEL;
    SimMachine* m = s.Machine(key);
    if (m == nullptr) return ERROR_BAD_NETPATH;
    SimGroup* g = Impl::FindGroup(m->localGroups, groupname);
    if (g == nullptr) return ERROR_NO_SUCH_ALIAS;

    // All accounts are checked before any is added: the call adds all or none.
    std::vector<std::u16string> adding;
    std::vector<std::u16string> keys;
    for (const auto& member : g->members) keys.push_back(s.MemberKey(*m, member));
    for (DWORD i = 0; i < totalentries; ++i) {
      if (members[i].lgrmi3_domainandname == nullptr) return ERROR_INVALID_PARAMETER;
      auto account = s.ResolveAccount(*m, members[i].lgrmi3_domainandname);
      if (!account) return ERROR_NO_SUCH_MEMBER;
      const std::u16string k = FoldName(*account);
      for (const auto& existing : keys)
        if (existing == k) return ERROR_MEMBER_IN_ALIAS;
      keys.push_back(k);
      adding.push_back(std::move(*account));
    }
    for (auto& a : adding) g->members.push_back(std::move(a));
    return NERR_Success;
  });
}

NET_API_STATUS SimulatedNetApi::NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) {
  Impl& s = *impl_;
  CallRecord pace;  // the local machine: the domain's latency
  pace.call = "NetApiBufferAllocate";
  s.Delay(pace);
  std::lock_guard lock(s.mu);
  if (auto f = s.Fault("NetApiBufferAllocate", FoldName(s.domain.computerName))) {
    if (Buffer != nullptr) *Buffer = nullptr;
    return *f;
  }
  if (Buffer == nullptr) return ERROR_INVALID_PARAMETER;
  *Buffer = s.Allocate(ByteCount);
  return *Buffer == nullptr ? ERROR_NOT_ENOUGH_MEMORY : NERR_Success;
}

NET_API_STATUS SimulatedNetApi::NetApiBufferFree(LPVOID Buffer) {
  Impl& s = *impl_;
  std::lock_guard lock(s.mu);
  if (Buffer == nullptr) return NERR_Success;
  auto it = s.buffers.find(Buffer);
  if (it == s.buffers.end()) {
    ++s.refused;
    return ERROR_INVALID_PARAMETER;
  }
  std::free(it->first);
  s.buffers.erase(it);
  return NERR_Success;
}

std::size_t SimulatedNetApi::OutstandingBuffers() const {
  std::lock_guard lock(impl_->mu);
  return impl_->buffers.size();
}

std::size_t SimulatedNetApi::RefusedFrees() const {
  std::lock_guard lock(impl_->mu);
  return impl_->refused;
}

std::vector<CallRecord> SimulatedNetApi::Calls() const {
  std::lock_guard lock(impl_->mu);
  return impl_->calls;
}

void SimulatedNetApi::ClearCalls() {
  std::lock_guard lock(impl_->mu);
  impl_->calls.clear();
}

void SimulatedNetApi::SetLogging(bool on) {
  std::lock_guard lock(impl_->mu);
  impl_->logging = on;
}

void SimulatedNetApi::AddFault(SimFault fault) {
  std::lock_guard lock(impl_->mu);
  if (!IsCallName(fault.call) || fault.call == "NetApiBufferFree")
    throw std::invalid_argument("AddFault: no fault can be given to " + fault.call);
  // The newest fault for a call and target wins over those from the file.
  impl_->faultKeys.insert(impl_->faultKeys.begin(), FoldName(StripBackslashes(fault.target)));
  impl_->domain.faults.insert(impl_->domain.faults.begin(), std::move(fault));
}

void SimulatedNetApi::AddSession(const std::u16string& machine, SimLogonEntry entry) {
  std::lock_guard lock(impl_->mu);
  SimMachine* m = impl_->Machine(FoldName(StripBackslashes(machine)));
  if (m == nullptr) throw std::invalid_argument("AddSession: unknown machine");
  m->sessions.push_back(std::move(entry));
}

const SimDomain& SimulatedNetApi::Domain() const {
  return impl_->domain;
}

}  // namespace quorvix::sim
