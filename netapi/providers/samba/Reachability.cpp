#include "Reachability.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "SambaRpc.h"
#include "SambaStatus.h"

extern "C" {
extern const struct ndr_interface_table ndr_table_srvsvc;
}

namespace quorvix::samba {

namespace {

constexpr int kConnectTimeoutMs = 3000;

bool TcpConnects(const addrinfo* ai, int port) {
  sockaddr_storage addr{};
  if (ai->ai_addrlen > sizeof addr) return false;
  std::memcpy(&addr, ai->ai_addr, ai->ai_addrlen);
  const auto p = htons(static_cast<uint16_t>(port));
  if (ai->ai_family == AF_INET)
    reinterpret_cast<sockaddr_in*>(&addr)->sin_port = p;
  else if (ai->ai_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port = p;
  else
    return false;
  const int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), ai->ai_addrlen) == 0) {
    ok = true;
  } else if (errno == EINPROGRESS) {
    pollfd pfd{fd, POLLOUT, 0};
    if (poll(&pfd, 1, kConnectTimeoutMs) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  close(fd);
  return ok;
}

struct TallocFree {
  void operator()(void* p) const { talloc_free(p); }
};

}  // namespace

NET_API_STATUS CheckReachable(const std::string& host) {
  if (host.empty()) return ERROR_BAD_NETPATH;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
    return ERROR_BAD_NETPATH;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> hold(list, &freeaddrinfo);
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next)
    for (int port : {445, 139})
      if (TcpConnects(ai, port)) return NERR_Success;
  return ERROR_BAD_NETPATH;
}

NET_API_STATUS DiagnoseConnection(const std::string& host, const SambaCredentials& creds) {
  if (NET_API_STATUS s = CheckReachable(host); s != NERR_Success) return s;
  std::unique_ptr<void, TallocFree> mem(talloc_new(nullptr));
  loadparm_context* lp = RpcLoadparm();
  tevent_context* ev = mem ? tevent_context_init(mem.get()) : nullptr;
  cli_credentials* cc = ev ? MakeRpcCredentials(mem.get(), lp, creds) : nullptr;
  if (lp == nullptr || cc == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  const std::string binding = "ncacn_np:" + host + "[\\pipe\\srvsvc]";
  dcerpc_pipe* pipe = nullptr;
  const NTSTATUS st =
      dcerpc_pipe_connect(mem.get(), &pipe, binding.c_str(), &ndr_table_srvsvc, cc, ev, lp);
  return FromNtStatus(NT_STATUS_V(st));
}

}  // namespace quorvix::samba
