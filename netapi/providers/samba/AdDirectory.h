// The domain's machines and domains from Active Directory over LDAP: the
// counterpart of the browse list, which current Windows networks no longer run.
#pragma once

#include <string>
#include <vector>

#include "KerberosLogon.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

struct AdComputer {
  std::u16string name;  // NetBIOS name (sAMAccountName without the '$')
  DWORD type = 0;       // SV_TYPE_* word
  DWORD versionMajor = 0;
  DWORD versionMinor = 0;
  std::u16string comment;
};

struct AdListing {
  std::u16string netbiosDomain;  // the directory's own domain
  std::u16string dnsDomain;
  std::vector<AdComputer> computers;    // enabled computer accounts
  std::vector<std::u16string> domains;  // own domain first, then trusted domains
};

// The type word of a computer account: every machine is a workstation and
// server running NT; a domain controller or a server system also counts as an
// NT server; a controller holds the primary role or is a backup.
DWORD ComputerType(unsigned userAccountControl, bool holdsPdcRole,
                   const std::string& operatingSystem);

// The type word of a machine's own answer with the role the directory gives
// it: a controller that its server service does not call one (a Samba
// controller answers no controller bit) stays the controller the directory
// knows; the directory's server-system bit is added.
DWORD WithDirectoryRole(DWORD answered, DWORD fromDirectory);

// Major and minor version from operatingSystemVersion ("10.0 (19045)").
void ParseOsVersion(const std::string& text, DWORD& major, DWORD& minor);

// True when name (NetBIOS or DNS, any case) names the directory's domain.
bool IsOwnDomain(const AdListing& listing, const std::u16string& name);

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
};

// Binds to the directory on host and reads the machines and the domains.
NET_API_STATUS ReadDirectory(const std::string& host, DirectoryLogon& logon, AdListing& listing);

}  // namespace quorvix::samba
