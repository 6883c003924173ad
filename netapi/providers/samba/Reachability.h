// Why a machine could not be asked: libnetapi answers 1003 for every
// connection it could not open. This check finds the status the platform
// would have given.
#pragma once

#include <string>

#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// The status of opening an authenticated session on host's IPC$ share (as a
// pipe to its server service) within creds.hostTimeout: 53 when it cannot be
// reached or does not answer, 1326 when the credentials are refused, 5 when
// access is denied, NERR_Success when the session opens. Needs no lock.
NET_API_STATUS DiagnoseConnection(const std::string& host, const SambaCredentials& creds);

}  // namespace quorvix::samba
