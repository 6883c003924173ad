// What the Samba provider connects with: who (the Kerberos ticket cache, or a
// user and password) and which domain controller, when one is named.
#pragma once

#include <string>

namespace quorvix::samba {

struct SambaCredentials {
  // DOMAIN\NAME; empty: the default Kerberos ticket cache.
  std::string user;
  std::string password;  // never printed or logged
  // A domain controller to use when the machine cannot find one itself.
  std::string dc;

  bool UsesTicketCache() const { return user.empty(); }
};

// A host name as the libraries want it: without leading backslashes and
// without a trailing dot.
std::string BareHost(std::string name);

}  // namespace quorvix::samba
