#include "NetworkSetup.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace quorvix::samba {

NET_API_STATUS CheckNetworkInterfaces() {
  ifaddrs* list = nullptr;
  // Without the list, the libraries decide for themselves.
  if (getifaddrs(&list) != 0) return NERR_Success;
  bool usable = false;
  // As the libraries probe: up, with an IPv4 or IPv6 address and a netmask.
  for (const ifaddrs* i = list; i != nullptr && !usable; i = i->ifa_next)
    usable = i->ifa_addr != nullptr && i->ifa_netmask != nullptr && (i->ifa_flags & IFF_UP) != 0 &&
             (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6);
  freeifaddrs(list);
  return usable ? NERR_Success : ERROR_NETWORK_UNREACHABLE;
}

}  // namespace quorvix::samba
