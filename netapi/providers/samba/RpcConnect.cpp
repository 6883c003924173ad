#include "RpcConnect.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <samba/version.h>

#include "LookAhead.h"
#include "NetworkSetup.h"
#include "RecentHosts.h"
#include "SambaLibs.h"
#include "SambaRpc.h"
#include "SambaStatus.h"

extern "C" {
// From libdcerpc-binding (public, undeclared in the installed headers).
NTSTATUS dcerpc_parse_binding(TALLOC_CTX* mem_ctx, const char* s, struct dcerpc_binding** b_out);
NTSTATUS dcerpc_binding_set_string_option(struct dcerpc_binding* b, const char* name,
                                          const char* value);
struct tevent_req* dcerpc_binding_handle_call_send(TALLOC_CTX* mem_ctx, struct tevent_context* ev,
                                                   struct dcerpc_binding_handle* h,
                                                   const struct GUID* object,
                                                   const struct ndr_interface_table* table,
                                                   uint32_t opnum, TALLOC_CTX* r_mem, void* r_ptr);
NTSTATUS dcerpc_binding_handle_call_recv(struct tevent_req* req);
}

namespace quorvix::samba {

namespace {

// The head of the RPC library's composite request: its state comes first
// (init, in progress, done, error) and has done so since the type exists.
struct CompositeHead {
  int state;
};
constexpr int kCompositeDone = 2;

constexpr std::chrono::milliseconds kLibraryLimit{60000};

// The largest answer to one call that a connection takes (reassembled).
constexpr std::size_t kMaxAnswerBytes = 8u << 20;

// Whether the running Samba libraries are of the release series these were
// built against (4.17.x): a connection's own fields are laid out as the
// headers of that series say, which another series may change.
bool SameSambaSeries() {
  static const bool same = [] {
    using Version = const char* (*)();
    const auto running = reinterpret_cast<Version>(dlsym(RTLD_DEFAULT, "samba_version_string"));
    if (running == nullptr || running() == nullptr) return false;
    const std::string built =
        std::to_string(SAMBA_VERSION_MAJOR) + "." + std::to_string(SAMBA_VERSION_MINOR) + ".";
    return std::string(running()).rfind(built, 0) == 0;
  }();
  return same;
}

// How long the addresses of a name that has several are given to take a
// connection before the first is taken all the same.
constexpr std::chrono::milliseconds kAddressProbe{2000};

// The address of host to connect to, as text; IPv4 preferred (the binding
// takes it bare). Of several (a laptop's wireless, docked and VPN addresses,
// a server's second network), the first that takes a connection on the SMB
// port: the first alone may be one that is gone. Looked up here, in the
// calling thread, so that the RPC library neither resolves names itself nor
// waits on it.
std::string AddressOf(const std::string& host, const Deadline& deadline) {
  auto [v4, v6] = AddressesOf(host);
  std::vector<std::string>& all = v4.empty() ? v6 : v4;
  if (all.size() <= 1) return all.empty() ? std::string() : all.front();
  const auto probe = std::min(kAddressProbe, deadline.Left());
  if (probe.count() <= 0) return all.front();
  const std::string taking = FirstTakingConnection(all, "445", Deadline(probe));
  return taking.empty() ? all.front() : taking;
}

// Whether address takes a TCP connection on an SMB port before deadline.
// Only asked after a failed connection, whose status the library may have
// lost ("no memory" for a refused one).
bool TakesConnections(const std::string& address, const Deadline& deadline) {
  return TakesConnection(address, "445", deadline) || TakesConnection(address, "139", deadline);
}

void Expire(tevent_context*, tevent_timer*, timeval, void* flag) {
  *static_cast<bool*>(flag) = true;
}

timeval TeventDeadline(const Deadline& d) {
  const auto ms = d.Left().count();
  return tevent_timeval_current_ofs(static_cast<uint32_t>(ms / 1000),
                                    static_cast<uint32_t>((ms % 1000) * 1000));
}

RecentHosts<std::string>& SilentHosts() {
  static RecentHosts<std::string> hosts(std::chrono::minutes(1));
  return hosts;
}

// Names found without an address lately. A machine known here only by its
// DNS name is asked by several calls of a scan, and each lookup of its
// NetBIOS name would fail again first, at the cost of a round to the name
// server (of its timeouts, when the server does not answer).
RecentHosts<std::string>& NamesWithoutAddress() {
  static RecentHosts<std::string> names(std::chrono::minutes(1));
  return names;
}

// AddressOf host on a thread of its own, waited for until deadline: a name
// server that does not answer holds a lookup for its timeouts (seconds, for
// each name of the search list), which nothing else bounds. A lookup given up
// is finished by its thread alone. Empty when none is found in time.
std::string AddressBefore(const std::string& host, const Deadline& deadline) {
  struct Lookup {
    std::mutex mu;
    std::condition_variable done;
    bool finished = false;
    std::string address;
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, host, deadline] {
      std::string address = AddressOf(host, deadline);
      {
        std::lock_guard lock(lookup->mu);
        lookup->address = std::move(address);
        lookup->finished = true;
      }
      lookup->done.notify_all();
    }).detach();
  } catch (const std::exception&) {  // no thread to be had: looked up here
    return AddressOf(host, deadline);
  }
  std::unique_lock lock(lookup->mu);
  if (!lookup->done.wait_for(lock, deadline.Left(), [&] { return lookup->finished; })) return {};
  return lookup->address;
}

// AddressBefore, or nothing at once for a name found without an address
// lately (or whose lookup did not end in time).
std::string RememberedAddressOf(const std::string& host, const Deadline& deadline) {
  if (NamesWithoutAddress().Holds(host)) return {};
  std::string address = AddressBefore(host, deadline);
  if (address.empty()) NamesWithoutAddress().Remember(host);
  return address;
}

}  // namespace

bool TakesConnection(const std::string& host, const char* port, const Deadline& deadline) {
  auto [v4, v6] = AddressesOf(host);
  v4.insert(v4.end(), v6.begin(), v6.end());
  return !FirstTakingConnection(v4, port, deadline).empty();
}

std::string FirstTakingConnection(const std::vector<std::string>& addresses, const char* port,
                                  const Deadline& deadline) {
  struct Attempt {
    int fd = -1;
    const std::string* address = nullptr;
  };
  std::vector<Attempt> attempts;
  std::vector<pollfd> waits;
  std::string taking;
  for (const std::string& address : addresses) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* ai = nullptr;
    if (getaddrinfo(address.c_str(), port, &hints, &ai) != 0 || ai == nullptr) continue;
    const int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool now = fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    const bool pending = fd >= 0 && !now && errno == EINPROGRESS;
    freeaddrinfo(ai);
    if (now && taking.empty()) taking = address;
    if (pending) {
      attempts.push_back({fd, &address});
      waits.push_back({fd, POLLOUT, 0});
    } else if (fd >= 0) {
      CloseAtOnce(fd);
    }
  }
  while (taking.empty() && !waits.empty() && !deadline.Passed()) {
    if (poll(waits.data(), waits.size(), static_cast<int>(deadline.Left().count())) <= 0) break;
    for (std::size_t k = 0; k < waits.size(); ++k) {
      if (waits[k].revents == 0) continue;
      int err = 0;
      socklen_t len = sizeof err;
      if (getsockopt(waits[k].fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
        taking = *attempts[k].address;  // of those that connected at once, the first listed
        break;
      }
      waits[k].fd = -1;  // refused: poll passes over it from now on
    }
    if (std::all_of(waits.begin(), waits.end(), [](const pollfd& p) { return p.fd < 0; })) break;
  }
  for (const Attempt& a : attempts) CloseAtOnce(a.fd);
  return taking;
}

Deadline::Deadline(std::chrono::milliseconds budget)
    : at_(std::chrono::steady_clock::now() + (budget.count() > 0 ? budget : kLibraryLimit)) {}

std::chrono::milliseconds Deadline::Left() const {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(at_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? left : std::chrono::milliseconds(0);
}

NET_API_STATUS ConnectPipe(void* mem, tevent_context* ev, loadparm_context* lp,
                           const std::string& host, const char* pipeName,
                           const ndr_interface_table* table, const SambaCredentials& creds,
                           const Deadline& deadline, dcerpc_pipe** out) {
  *out = nullptr;
  if (host.empty() || host.find_first_of("[]\\/:, ") != std::string::npos)
    return ERROR_INVALID_NAME;
  // The libraries end the program on a machine without a working interface.
  if (NET_API_STATUS s = CheckNetworkInterfaces(); s != NERR_Success) return s;
  // A machine whose name has no address is tried by the DNS name the
  // directory gave for it, or a trusted domain's logon server under its
  // domain's DNS name, while there is time (every lookup ends at the
  // deadline); Kerberos then asks for that name's service.
  std::string name = host;
  std::string address = RememberedAddressOf(host, deadline);
  if (address.empty() && creds.hostNames && !deadline.Passed()) {
    // A name found under a domain is the one candidate that had an address.
    std::string found;
    name = creds.hostNames->DnsNameOf(
        host,
        [&found, &deadline](const std::string& candidate) {
          std::string a = AddressBefore(candidate, deadline);
          if (a.empty()) return false;
          found = std::move(a);
          return true;
        },
        std::chrono::steady_clock::now() + deadline.Left());
    if (!name.empty()) address = found.empty() ? AddressBefore(name, deadline) : found;
  }
  if (address.empty()) return ERROR_BAD_NETPATH;
  cli_credentials* cc = lp != nullptr ? MakeRpcCredentials(mem, lp, creds) : nullptr;
  if (cc == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  const std::string text = "ncacn_np:" + address + "[\\pipe\\" + pipeName + "]";
  dcerpc_binding* binding = nullptr;
  if (!NT_STATUS_IS_OK(dcerpc_parse_binding(mem, text.c_str(), &binding)))
    return ERROR_INVALID_NAME;
  // Kerberos asks for the service of the machine's name, not of its address.
  dcerpc_binding_set_string_option(binding, "target_hostname", name.c_str());

  composite_context* c = dcerpc_pipe_connect_b_send(mem, binding, table, cc, ev, lp);
  if (c == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  // Both timers hang on one context, freed at the end with whichever has
  // not fired (one that fired is gone already).
  void* timers = talloc_new(mem);
  if (timers == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  bool expired = deadline.Passed();
  bool check = false;
  tevent_add_timer(ev, timers, TeventDeadline(deadline), Expire, &expired);
  tevent_add_timer(ev, timers, TeventDeadline(Deadline(kConnectGrace)), Expire, &check);
  const auto* head = reinterpret_cast<const CompositeHead*>(c);
  while (head->state < kCompositeDone && !expired) {
    if (check) {
      check = false;
      const auto left = std::min(kConnectCheck, deadline.Left());
      if (left.count() > 0 && !TakesConnections(address, Deadline(left))) break;
    }
    if (tevent_loop_once(ev) != 0) break;
  }
  talloc_free(timers);
  // Given up: the half-made connection goes with mem.
  if (head->state < kCompositeDone) return ERROR_BAD_NETPATH;
  const NTSTATUS st = dcerpc_pipe_connect_b_recv(c, mem, out);
  if (!NT_STATUS_IS_OK(st)) {
    *out = nullptr;
    const NET_API_STATUS s = FromFailedNtStatus(NT_STATUS_V(st));
    if (s == ERROR_NOT_ENOUGH_MEMORY || s == ERROR_UNEXP_NET_ERR || s == ERROR_NETNAME_DELETED)
      return TakesConnections(address, deadline) ? s : ERROR_BAD_NETPATH;
    return s;
  }
  // An answer is taken whole before it is looked at: the library's own bound
  // (240 MiB) would let one machine's answer decode into gigabytes. The
  // largest legitimate answer, a server's thousands of logged-on users, is
  // far below this.
  if (*out != nullptr && (*out)->conn != nullptr && SameSambaSeries())
    (*out)->conn->max_total_response_size = kMaxAnswerBytes;
  return NERR_Success;
}

NET_API_STATUS CheckCallLayout(const ndr_interface_table& table, uint32_t opnum, const char* name,
                               std::size_t structSize) {
  if (table.calls == nullptr || table.num_calls <= opnum) return ERROR_NOT_SUPPORTED;
  const ndr_interface_call& call = table.calls[opnum];
  if (call.name == nullptr || std::strcmp(call.name, name) != 0) return ERROR_NOT_SUPPORTED;
  return call.struct_size == structSize ? NERR_Success : ERROR_NOT_SUPPORTED;
}

NET_API_STATUS CallPipe(dcerpc_pipe* pipe, tevent_context* ev, const ndr_interface_table* table,
                        std::uint32_t opnum, void* mem, void* r, const Deadline& deadline) {
  if (pipe == nullptr) return ERROR_BAD_NET_RESP;
  tevent_req* req =
      dcerpc_binding_handle_call_send(mem, ev, pipe->binding_handle, nullptr, table, opnum, mem, r);
  if (req == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  bool expired = deadline.Passed();
  tevent_timer* timer = tevent_add_timer(ev, mem, TeventDeadline(deadline), Expire, &expired);
  while (tevent_req_is_in_progress(req) && !expired)
    if (tevent_loop_once(ev) != 0) break;
  if (!expired) talloc_free(timer);
  if (tevent_req_is_in_progress(req)) {
    talloc_free(req);
    return ERROR_BAD_NETPATH;
  }
  const NTSTATUS st = dcerpc_binding_handle_call_recv(req);
  talloc_free(req);
  return NT_STATUS_IS_OK(st) ? NERR_Success : FromFailedNtStatus(NT_STATUS_V(st));
}

void RememberSilent(const std::string& host) {
  SilentHosts().Remember(host);
}

bool RecentlySilent(const std::string& host) {
  return SilentHosts().Holds(host);
}

bool RecentlySilent(const std::string& host, const SambaCredentials& creds) {
  return RecentlySilent(host) || (creds.lookAhead && creds.lookAhead->FoundUnreachable(host));
}

void TallocFree::operator()(void* p) const {
  talloc_free(p);
}

PipeConnection::PipeConnection(const SambaCredentials& creds)
    : state_(LibraryStateLock()),
      creds_(creds),
      deadline_(creds.hostTimeout),
      mem_(talloc_new(nullptr)),
      ev_(mem_ ? tevent_context_init(mem_.get()) : nullptr) {}

NET_API_STATUS PipeConnection::Open(const std::string& host, const char* pipeName,
                                    const ndr_interface_table* table) {
  if (ev_ == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  // Found taking no connection ahead of its turn in this scan.
  if (creds_.lookAhead && creds_.lookAhead->FoundUnreachable(host)) return ERROR_BAD_NETPATH;
  table_ = table;
  const NET_API_STATUS s = ConnectPipe(mem_.get(), ev_, settings_.get(), host, pipeName, table,
                                       creds_, deadline_, &pipe_);
  if (s == ERROR_BAD_NETPATH) RememberSilent(host);
  return s;
}

NET_API_STATUS PipeConnection::Call(std::uint32_t opnum, void* r) {
  return CallPipe(pipe_, ev_, table_, opnum, mem_.get(), r, deadline_);
}

}  // namespace quorvix::samba
