// A server's facts (NetSrvGetInfo level 101 over \pipe\srvsvc), for
// NetServerGetInfo on a named machine: without libnetapi, so without its
// lock, and within the host timeout.
#pragma once

#include <string>

#include "AnswerBuffer.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

struct ServerFacts {
  DWORD platformId = 0;
  Text name;
  DWORD versionMajor = 0;
  DWORD versionMinor = 0;
  DWORD type = 0;
  Text comment;
};

// NERR_Success when the RPC library's call table holds the call with the
// layout this client declares; otherwise ERROR_NOT_SUPPORTED.
NET_API_STATUS CheckSrvsvcLayout();

// Asks host for its level-101 facts. NERR_Success; ERROR_BAD_NETPATH when it
// gives no answer in time (remembered, see RecentlySilent); else the
// logon's or the call's status. Needs no lock.
NET_API_STATUS QueryServer(const std::string& host, const SambaCredentials& creds,
                           ServerFacts& out);

}  // namespace quorvix::samba
