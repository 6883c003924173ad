#include "Sockets.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace quorvix::samba {

void CloseAtOnce(int fd) {
  const linger now{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(fd);
}

std::pair<std::vector<std::string>, std::vector<std::string>> AddressesOf(const std::string& host) {
  std::vector<std::string> v4, v6;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return {};
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> hold(list, &freeaddrinfo);
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    char text[NI_MAXHOST] = {};
    if (getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) !=
        0)
      continue;
    auto& family = ai->ai_family == AF_INET ? v4 : v6;
    if ((ai->ai_family == AF_INET || ai->ai_family == AF_INET6) &&
        std::find(family.begin(), family.end(), text) == family.end() && family.size() < 8)
      family.emplace_back(text);
  }
  return {std::move(v4), std::move(v6)};
}

}  // namespace quorvix::samba
