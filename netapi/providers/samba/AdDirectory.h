// The domain's machines and domains from Active Directory over LDAP: the
// counterpart of the browse list, which current Windows networks no longer run.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "DirectoryRules.h"
#include "KerberosLogon.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// The listing and its rules (type words, versions, domain list) are shared
// with the Windows provider.
using AdComputer = DirectoryMachine;
using AdListing = DirectoryListing;

// The type word of a machine's own answer with the role the directory gives
// it: a controller that its server service does not call one (a Samba
// controller answers no controller bit) stays the controller the directory
// knows; the directory's server-system bit is added.
DWORD WithDirectoryRole(DWORD answered, DWORD fromDirectory);

// Connecting to the directory and logging on, the KDC's answer included, take
// seconds; a server that takes minutes will not answer.
inline constexpr std::chrono::minutes kMaxDirectoryLogonTime{2};

// How the directory is logged on to. With the user's ticket cache, or with a
// ticket got from the password (kept in tickets for later reads), the bind
// is SASL GSSAPI, signed and sealed. Where no Kerberos is to be had, the
// password goes only over TLS (StartTLS, else LDAPS) to a controller whose
// certificate the system's store (or creds.ldapCa) vouches for. Otherwise
// nothing is sent: refusal then says why and what works.
struct DirectoryLogon {
  const SambaCredentials& creds;
  TicketCache& tickets;
  std::string refusal;
  // Connecting, TLS and the bind end within this time.
  std::chrono::steady_clock::duration logonLimit = kMaxDirectoryLogonTime;
  // The searches after the bind end within this time.
  std::chrono::steady_clock::duration readLimit = kMaxDirectoryReadTime;
};

// Binds to the directory on host and reads the machines and the domains.
NET_API_STATUS ReadDirectory(const std::string& host, DirectoryLogon& logon, AdListing& listing);

}  // namespace quorvix::samba
