#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: windows.h would bring in the old winsock.h
#include <windows.h>

#include "MachineProbe.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

namespace quorvix {

namespace {

// The SMB ports a machine is probed on: direct hosting, then NetBIOS.
constexpr std::array<std::uint16_t, 2> kSmbPorts{445, 139};

// The addresses of a name that are tried at most, every port of each.
constexpr std::size_t kMaxAddresses = 4;

// Closes a probe's socket with a reset: a connection closed the usual way
// waits minutes on this side (TIME_WAIT) with its port taken, and a scan of
// thousands of machines makes thousands of probes.
void CloseAtOnce(SOCKET s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
  closesocket(s);
}

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// What the error of a connection attempt says of the machine.
enum class Attempt {
  Pending,
  Answered,   // it took the connection or refused it
  Unreached,  // the network says it cannot be reached
  Failed,     // an error of this machine's (no buffers, no sockets): says nothing
};

Attempt FromError(int error) {
  switch (error) {
    case 0:
    case WSAECONNREFUSED:
    case WSAECONNRESET:
      return Attempt::Answered;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return Attempt::Pending;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAEHOSTDOWN:
      return Attempt::Unreached;
    default:
      return Attempt::Failed;
  }
}

// An address of a machine, as the lookup of its name gave it.
struct Address {
  sockaddr_storage to{};
  int length = 0;
};

// What the lookup of a name found.
enum class Found {
  Addresses,
  NoAddress,  // the name has no address here
  Nothing,    // the lookup failed here (no memory): says nothing
};

// Whether a failed lookup says nothing of the name: this computer had no
// memory for it.
bool FailedHere(int error) {
  return error == WSA_NOT_ENOUGH_MEMORY || error == WSAENOBUFS || error == WSANOTINITIALISED;
}

// Looks host's name up: the usable ones among its first kMaxAddresses
// addresses, into addresses.
Found LookUp(const std::u16string& host, std::vector<Address>& addresses) {
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* list = nullptr;
  const int error =
      GetAddrInfoW(reinterpret_cast<const wchar_t*>(host.c_str()), nullptr, &hints, &list);
  if (error != 0 || list == nullptr) {
    if (list != nullptr) FreeAddrInfoW(list);
    return error != 0 && FailedHere(error) ? Found::Nothing : Found::NoAddress;
  }
  std::size_t n = 0;
  for (const ADDRINFOW* ai = list; ai != nullptr && n < kMaxAddresses; ai = ai->ai_next, ++n) {
    if (ai->ai_addr == nullptr || ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    if (ai->ai_addr->sa_family != AF_INET && ai->ai_addr->sa_family != AF_INET6) continue;
    Address a;
    std::memcpy(&a.to, ai->ai_addr, ai->ai_addrlen);
    a.length = static_cast<int>(ai->ai_addrlen);
    addresses.push_back(a);
  }
  FreeAddrInfoW(list);
  return Found::Addresses;
}

// The connection attempts to the ports of machines, one machine or many at
// a time: each machine's to every port of each of its addresses at once,
// for at most the wait from their start. The machines' verdicts follow one
// rule however many are probed together: Answers when an attempt was
// answered; Silent when attempts were made and every one was unreached or
// not answered in time; Unknown when none could be made, or one failed
// here.
class Attempts {
 public:
  // A machine's tag and what its attempts say.
  using Verdict = std::pair<std::size_t, MachineReach>;

  Attempts(std::span<const std::uint16_t> ports, std::chrono::milliseconds wait)
      : ports_(ports.begin(), ports.end()), wait_(wait) {}
  ~Attempts() {
    for (Machine& m : machines_)
      for (SOCKET s : m.pending) CloseAtOnce(s);
  }
  Attempts(const Attempts&) = delete;
  Attempts& operator=(const Attempts&) = delete;

  // The sockets that the attempts on one machine take at most.
  std::size_t MostPerMachine() const { return kMaxAddresses * ports_.size(); }
  // The sockets open.
  std::size_t Sockets() const { return sockets_; }
  bool Idle() const { return machines_.empty(); }

  // Starts the attempts on the machine tagged tag; its verdict goes to
  // settled when they say it at once.
  void Start(std::size_t tag, const std::vector<Address>& addresses,
             std::vector<Verdict>& settled) {
    Machine m;
    m.tag = tag;
    for (std::size_t i = 0; i < addresses.size() && i < kMaxAddresses && !m.answered; ++i) {
      for (std::uint16_t port : ports_) {
        sockaddr_storage to = addresses[i].to;
        if (to.ss_family == AF_INET)
          reinterpret_cast<sockaddr_in&>(to).sin_port = htons(port);
        else
          reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(port);
        const SOCKET s = socket(to.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
          // An address of a kind this computer has no network for is not
          // tried (nor can the platform try it); any other error is ours.
          if (WSAGetLastError() != WSAEAFNOSUPPORT) m.failed = true;
          continue;
        }
        u_long nonblocking = 1;
        if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
          CloseAtOnce(s);
          m.failed = true;
          continue;
        }
        const int r = connect(s, reinterpret_cast<const sockaddr*>(&to), addresses[i].length);
        const Attempt a = FromError(r == 0 ? 0 : WSAGetLastError());
        if (a == Attempt::Pending) {
          m.pending.push_back(s);
          ++sockets_;
          continue;
        }
        CloseAtOnce(s);
        m.Note(a);
        if (m.answered) break;
      }
    }
    m.end = std::chrono::steady_clock::now() + wait_;
    machines_.push_back(std::move(m));
    Settle(std::chrono::steady_clock::now(), settled);
  }

  // Waits up to slice (less when a machine's wait ends sooner) for attempts
  // to end, and settles the machines that are decided.
  void Wait(std::chrono::milliseconds slice, std::vector<Verdict>& settled) {
    if (machines_.empty()) return;
    auto until = std::chrono::steady_clock::now() + slice;
    for (const Machine& m : machines_) until = std::min(until, m.end);
    // The pending sockets, in sets of FD_SETSIZE at most: the first is
    // waited on, the others only looked at.
    std::vector<std::pair<Machine*, std::size_t>> all;
    all.reserve(sockets_);
    for (Machine& m : machines_)
      for (std::size_t k = 0; k < m.pending.size(); ++k) all.emplace_back(&m, k);
    for (std::size_t first = 0; first < all.size(); first += FD_SETSIZE) {
      const std::size_t count = std::min<std::size_t>(FD_SETSIZE, all.size() - first);
      fd_set written, failed;
      written.fd_count = failed.fd_count = static_cast<u_int>(count);
      for (std::size_t k = 0; k < count; ++k) {
        const auto& [m, index] = all[first + k];
        written.fd_array[k] = failed.fd_array[k] = m->pending[index];
      }
      const auto left = first == 0 ? std::max(std::chrono::ceil<std::chrono::microseconds>(
                                                  until - std::chrono::steady_clock::now()),
                                              std::chrono::microseconds(0))
                                   : std::chrono::microseconds(0);
      timeval tv{static_cast<long>(left.count() / 1000000),
                 static_cast<long>(left.count() % 1000000)};
      const int ready = select(0, nullptr, &written, &failed, &tv);
      for (std::size_t k = 0; k < count && ready != 0; ++k) {
        auto& [m, index] = all[first + k];
        SOCKET& s = m->pending[index];
        Attempt a = Attempt::Failed;  // the wait failed: what it came to is unknown
        if (ready > 0) {
          if (!FD_ISSET(s, &written) && !FD_ISSET(s, &failed)) continue;
          int error = 0;
          int size = sizeof error;
          if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
            error = WSAGetLastError();
          a = FromError(error);
          if (a == Attempt::Pending) continue;
        }
        CloseAtOnce(s);
        s = INVALID_SOCKET;
        --sockets_;
        m->Note(a);
      }
    }
    for (Machine& m : machines_) std::erase(m.pending, INVALID_SOCKET);
    Settle(std::chrono::steady_clock::now(), settled);
  }

 private:
  struct Machine {
    std::size_t tag = 0;
    std::chrono::steady_clock::time_point end;
    std::vector<SOCKET> pending;
    bool answered = false;
    bool unreached = false;
    bool failed = false;
    void Note(Attempt a) {
      answered = answered || a == Attempt::Answered;
      unreached = unreached || a == Attempt::Unreached;
      failed = failed || a == Attempt::Failed;
    }
  };

  // Moves the machines that are decided to settled: one that answered, one
  // with no attempt left, one whose wait is over (its pending attempts were
  // not answered in time).
  void Settle(std::chrono::steady_clock::time_point now, std::vector<Verdict>& settled) {
    std::erase_if(machines_, [&](Machine& m) {
      if (!m.answered && !m.pending.empty() && now < m.end) return false;
      if (!m.answered && !m.pending.empty()) m.unreached = true;
      for (SOCKET s : m.pending) CloseAtOnce(s);
      sockets_ -= m.pending.size();
      MachineReach reach = MachineReach::Unknown;
      if (m.answered)
        reach = MachineReach::Answers;
      else if (m.unreached && !m.failed)
        reach = MachineReach::Silent;
      settled.emplace_back(m.tag, reach);
      return true;
    });
  }

  std::vector<std::uint16_t> ports_;
  std::chrono::milliseconds wait_;
  std::vector<Machine> machines_;
  std::size_t sockets_ = 0;
};

std::u16string UpperKey(std::u16string host) {
  for (char16_t& c : host)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return host;
}

MachineReach ProbeOn(const std::u16string& host, std::span<const std::uint16_t> ports,
                     std::chrono::milliseconds wait) {
  if (host.empty() || !WinsockReady()) return MachineReach::Unknown;
  std::vector<Address> addresses;
  const Found found = LookUp(host, addresses);
  if (found == Found::NoAddress) return MachineReach::NoAddress;
  if (found == Found::Nothing) return MachineReach::Unknown;
  Attempts attempts(ports, wait);
  std::vector<Attempts::Verdict> settled;
  attempts.Start(0, addresses, settled);
  while (settled.empty()) attempts.Wait(wait, settled);
  return settled.front().second;
}

}  // namespace

bool HasAddress(const std::u16string& host) {
  if (!WinsockReady()) return true;
  ADDRINFOW hints{};
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  const bool found =
      GetAddrInfoW(reinterpret_cast<const wchar_t*>(host.c_str()), nullptr, &hints, &list) == 0;
  if (list != nullptr) FreeAddrInfoW(list);
  return found;
}

MachineReach ProbeMachine(const std::u16string& host, std::initializer_list<std::uint16_t> ports,
                          std::chrono::milliseconds wait) {
  return ProbeOn(host, std::span(ports.begin(), ports.size()), wait);
}

MachineReach SilentMachines::Probe(const std::u16string& host) {
  const std::u16string key = UpperKey(host);
  if (silent_.Holds(key)) return MachineReach::Silent;
  if (noAddress_.Holds(key)) return MachineReach::NoAddress;
  if (answers_.Holds(key)) return MachineReach::Answers;
  const MachineReach reach = ProbeOn(host, kSmbPorts, wait_);
  if (reach == MachineReach::Silent) silent_.Remember(key);
  if (reach == MachineReach::NoAddress) noAddress_.Remember(key);
  if (reach == MachineReach::Answers) answers_.Remember(key);
  return reach;
}

bool SilentMachines::HasAddress(const std::u16string& host) {
  const std::u16string key = UpperKey(host);
  if (noAddress_.Holds(key)) return false;
  if (quorvix::HasAddress(host)) return true;
  noAddress_.Remember(key);
  return false;
}

}  // namespace quorvix
