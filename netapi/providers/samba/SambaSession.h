// What the Samba provider connects with: who (the Kerberos ticket cache, or a
// user and password) and which domain controller, when one is named.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace quorvix::samba {

struct SambaCredentials {
  // DOMAIN\NAME; empty: the default Kerberos ticket cache.
  std::string user;
  std::string password;  // never printed or logged
  // A domain controller to use when the machine cannot find one itself.
  std::string dc;
  // A certificate authority (PEM file) for the controller's TLS certificate,
  // beside the system's store.
  std::string ldapCa;
  // The longest wait for one machine (connection and calls); zero: the
  // libraries' own limits.
  std::chrono::milliseconds hostTimeout{0};
  // Tells the user something the statuses cannot say (why the directory was
  // not asked); unset: standard error.
  std::function<void(const std::string&)> notice;

  bool UsesTicketCache() const { return user.empty(); }
};

// A host name as the libraries want it: without leading backslashes and
// without a trailing dot.
std::string BareHost(std::string name);

}  // namespace quorvix::samba
