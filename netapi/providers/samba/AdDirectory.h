// The domain's machines and domains from Active Directory over LDAP: the
// counterpart of the browse list, which current Windows networks no longer run.
#pragma once

#include <string>
#include <vector>

#include "DirectoryRules.h"
#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// The listing and its rules (type words, versions, domain list) are shared
// with the Windows provider.
using AdComputer = DirectoryMachine;
using AdListing = DirectoryListing;

// Binds to the directory on host (Kerberos ticket cache, or a simple bind
// with the user and password) and reads the machines and the domains. The
// caller holds the provider's library lock.
NET_API_STATUS ReadDirectory(const std::string& host, const SambaCredentials& creds,
                             AdListing& listing);

}  // namespace quorvix::samba
