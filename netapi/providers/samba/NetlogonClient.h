// The name of a domain's primary controller as a named server knows it
// (NetrGetDCName over \pipe\netlogon), for NetGetDCName: without libnetapi,
// so without its lock, and within the host timeout.
#pragma once

#include <string>

#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// NERR_Success when the RPC library's call table holds the call with the
// layout this client declares; otherwise ERROR_NOT_SUPPORTED.
NET_API_STATUS CheckNetlogonLayout();

// Asks host for the primary controller of domain (empty: host's own domain),
// as "\\NAME". NERR_Success; ERROR_BAD_NETPATH when it gives no answer in
// time (remembered, see RecentlySilent); else the logon's or the call's
// status. Needs no lock.
NET_API_STATUS QueryPdcName(const std::string& host, const std::string& domain,
                            const SambaCredentials& creds, std::u16string& out);

}  // namespace quorvix::samba
