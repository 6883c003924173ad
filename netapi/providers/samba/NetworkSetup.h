// Whether the machine's network setup lets Samba's libraries work at all.
#pragma once

#include "NetApi.h"

namespace quorvix::samba {

// NERR_Success when at least one network interface is up and has an address;
// otherwise ERROR_NETWORK_UNREACHABLE. Samba's libraries end the program
// (exit 1, without a word to the user) on a machine with none, so the
// provider asks this first and answers with the status instead.
NET_API_STATUS CheckNetworkInterfaces();

}  // namespace quorvix::samba
