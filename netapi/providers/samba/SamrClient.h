// An account's facts from a server's account database (SAMR over
// \pipe\samr), for NetUserGetInfo: without libnetapi, so without its lock, and
// within the host timeout. The connection and the opened account domain of
// each server are kept for later questions (a scan asks the same logon
// servers again and again), a bounded number of servers at a time.
#pragma once

#include <cstdint>
#include <string>

#include "AnswerBuffer.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// USER_INFO_2's facts, as the platform gives them.
struct SamrAccount {
  Text name, homeDir, comment, scriptPath, fullName, usrComment, parms, workstations;
  DWORD passwordAge = 0, priv = 0, flags = 0, lastLogon = 0, lastLogoff = 0, acctExpires = 0;
  DWORD unitsPerWeek = 0, badPwCount = 0, numLogons = 0, countryCode = 0, codePage = 0;
};

// "No end" in the platform's time fields.
inline constexpr DWORD kTimeqForever = 0xFFFFFFFF;

// Seconds since 1970 of a Windows time (100 ns units since 1601), cut to the
// whole second as the platform does; 0 for "never" and times before 1970,
// TIMEQ_FOREVER (0xFFFFFFFF) for "no end".
DWORD SecondsOf(std::uint64_t nttime);

// The platform's UF_* account flags of SAMR's ACB_* flags.
DWORD AccountFlags(std::uint32_t acb);

// Asks host's account domain for user. NERR_Success; NERR_UserNotFound;
// ERROR_BAD_NETPATH when the server gives no answer in time; else the
// logon's or the call's status. Needs no lock.
NET_API_STATUS QueryAccount(const std::string& host, const std::string& user,
                            const SambaCredentials& creds, SamrAccount& out);

// The name of host's account domain: its own name, or on a domain
// controller its domain's. Statuses as QueryAccount's.
NET_API_STATUS AccountDomainName(const std::string& host, const SambaCredentials& creds,
                                 std::string& out);

// Drops every kept connection (a provider with other credentials).
void ForgetAccountServers();

}  // namespace quorvix::samba
