// Why a machine could not be asked: the libraries sometimes lose the reason
// (libnetapi answers 1003 for every failed connection, the RPC library may
// answer "no memory" for a refused one). These checks find the status the
// platform would have given.
#pragma once

#include <string>

#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// ERROR_BAD_NETPATH when host has no address or takes no connection on the
// SMB ports (445, 139) within a few seconds; NERR_Success otherwise.
NET_API_STATUS CheckReachable(const std::string& host);

// The status of opening an authenticated session on host's IPC$ share (as a
// pipe to its server service): 53 when it cannot be reached, 1326 when the
// credentials are refused, 5 when access is denied, NERR_Success when the
// session opens. The caller holds the provider's library lock.
NET_API_STATUS DiagnoseConnection(const std::string& host, const SambaCredentials& creds);

}  // namespace quorvix::samba
