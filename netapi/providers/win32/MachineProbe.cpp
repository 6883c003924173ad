#include <winsock2.h>
#include <ws2tcpip.h>

#include "MachineProbe.h"

#include <cstring>
#include <vector>

namespace quorvix {

namespace {

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
  if (host.empty() || !WinsockReady()) return MachineReach::Unknown;
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* list = nullptr;
  if (GetAddrInfoW(reinterpret_cast<const wchar_t*>(host.c_str()), nullptr, &hints, &list) != 0 ||
      list == nullptr)
    return MachineReach::NoAddress;

  // At most a few addresses of the name, every port of each, all at once.
  constexpr int kMaxAddresses = 4;
  std::vector<SOCKET> pending;
  bool answered = false;
  bool unreached = false;
  int addresses = 0;
  for (const ADDRINFOW* ai = list; ai != nullptr && addresses < kMaxAddresses && !answered;
       ai = ai->ai_next, ++addresses) {
    for (std::uint16_t port : ports) {
      sockaddr_storage to{};
      if (ai->ai_addrlen > sizeof to) continue;
      std::memcpy(&to, ai->ai_addr, ai->ai_addrlen);
      if (to.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(to).sin_port = htons(port);
      else if (to.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(port);
      else
        continue;
      const SOCKET s = socket(ai->ai_family, SOCK_STREAM, IPPROTO_TCP);
      if (s == INVALID_SOCKET) continue;
      u_long nonblocking = 1;
      if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
        CloseAtOnce(s);
        continue;
      }
      const int r =
          connect(s, reinterpret_cast<const sockaddr*>(&to), static_cast<int>(ai->ai_addrlen));
      const Attempt a = FromError(r == 0 ? 0 : WSAGetLastError());
      if (a == Attempt::Pending) {
        pending.push_back(s);
        continue;
      }
      CloseAtOnce(s);
      unreached = unreached || a == Attempt::Unreached;
      if (a == Attempt::Answered) {
        answered = true;
        break;
      }
    }
  }
  FreeAddrInfoW(list);

  const auto end = std::chrono::steady_clock::now() + wait;
  while (!answered && !pending.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      unreached = true;  // none of them answered in time
      break;
    }
    fd_set written, failed;
    FD_ZERO(&written);
    FD_ZERO(&failed);
    for (SOCKET s : pending) {
      FD_SET(s, &written);
      FD_SET(s, &failed);
    }
    timeval tv{static_cast<long>(left.count() / 1000000),
               static_cast<long>(left.count() % 1000000)};
    const int ready = select(0, nullptr, &written, &failed, &tv);
    if (ready <= 0) {
      unreached = unreached || ready == 0;  // on an error, the wait says nothing
      break;
    }
    for (auto it = pending.begin(); it != pending.end();) {
      if (!FD_ISSET(*it, &written) && !FD_ISSET(*it, &failed)) {
        ++it;
        continue;
      }
      int error = 0;
      int size = sizeof error;
      if (getsockopt(*it, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = WSAGetLastError();
      if (FromError(error) == Attempt::Pending) {
        ++it;
        continue;
      }
      answered = answered || FromError(error) == Attempt::Answered;
      unreached = unreached || FromError(error) == Attempt::Unreached;
      CloseAtOnce(*it);
      it = pending.erase(it);
    }
  }
  for (SOCKET s : pending) CloseAtOnce(s);
  if (answered) return MachineReach::Answers;
  return unreached ? MachineReach::Silent : MachineReach::Unknown;
}

namespace {

std::u16string UpperKey(std::u16string host) {
  for (char16_t& c : host)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return host;
}

}  // namespace

MachineReach SilentMachines::Probe(const std::u16string& host) {
  const std::u16string key = UpperKey(host);
  if (silent_.Holds(key)) return MachineReach::Silent;
  if (noAddress_.Holds(key)) return MachineReach::NoAddress;
  if (answers_.Holds(key)) return MachineReach::Answers;
  const MachineReach reach = ProbeMachine(host, {445, 139}, wait_);
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
