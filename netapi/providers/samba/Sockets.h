// Connection attempts to machines, made without the Samba libraries: the
// addresses of a name, and how long a machine that is on takes to take a
// connection.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace quorvix::samba {

// A machine that is on takes a TCP connection within a second or two, even
// when its first attempts are lost (they are sent again after 1 s and 3 s).
// One whose connection is still being made after kConnectGrace is asked once
// more, for up to kConnectCheck; if it takes no connection then, it is off
// (or a firewall drops the attempts) and is given up at once instead of at
// the end of its whole time. One that takes it keeps its time: it is slow.
inline constexpr std::chrono::milliseconds kConnectGrace{5000};
inline constexpr std::chrono::milliseconds kConnectCheck{2000};

// The numeric addresses of host (up to eight of each family), IPv4 and IPv6.
std::pair<std::vector<std::string>, std::vector<std::string>> AddressesOf(const std::string& host);

// Closes a probe's socket with a reset: one closed the usual way keeps a
// port of this computer for a minute (TIME_WAIT), and a scan of thousands
// of machines probes thousands.
void CloseAtOnce(int fd);

}  // namespace quorvix::samba
