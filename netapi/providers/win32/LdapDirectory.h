// The domain's directory over LDAP through the platform's wldap32: the
// machines (computer objects) and domains (forest and trusts) that the
// browse list would have named.
#pragma once

#include <chrono>
#include <string>

#include "Win32NetApi.h"

namespace quorvix {

// Whose logon reads the directory, and where.
struct DirectoryLogon {
  // Empty user: the logged-on user's own credentials (the normal case).
  // Otherwise these, as given on the command line for a machine outside the
  // domain.
  std::u16string user;
  std::u16string userDomain;
  std::u16string password;
  // A domain controller to ask; empty: the platform locates one.
  std::u16string dc;
  // Bound on connecting and on each search or page.
  std::chrono::milliseconds timeout{30000};
  // The searches after the bind end within this time.
  std::chrono::steady_clock::duration readLimit = kMaxDirectoryReadTime;
};

// Binds with Negotiate (Kerberos or NTLM), signed and sealed; never a simple
// bind, which would send a password in clear.
class LdapDirectoryReader final : public DirectoryReader {
 public:
  explicit LdapDirectoryReader(DirectoryLogon logon);
  ~LdapDirectoryReader() override;
  LdapDirectoryReader(const LdapDirectoryReader&) = delete;
  LdapDirectoryReader& operator=(const LdapDirectoryReader&) = delete;

  NET_API_STATUS Read(const std::u16string& domain, DirectoryListing& listing) const override;

 private:
  DirectoryLogon logon_;
};

}  // namespace quorvix
