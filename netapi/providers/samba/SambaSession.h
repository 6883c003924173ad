// What the Samba provider connects with: who (the Kerberos ticket cache, or a
// user and password) and which domain controller, when one is named.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "DirectoryRules.h"

namespace quorvix::samba {

class LookAhead;

// The cache of the initial ticket that a password's logon got when the
// directory was read, for the connections to machines; empty until then.
// Any thread may ask while another sets it.
class LogonTicket {
 public:
  void Set(const std::string& cacheName);
  std::string Get() const;

 private:
  mutable std::mutex mu_;
  std::string cacheName_;
};

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
  // What reaches machines whose names have no address; none when unset.
  std::shared_ptr<DirectoryHostNames> hostNames;
  // With a password: its logon's ticket, once there is one; none when unset.
  std::shared_ptr<LogonTicket> logonTicket;
  // Machines a scan found unreachable ahead of their turn; none when unset.
  std::shared_ptr<LookAhead> lookAhead;

  bool UsesTicketCache() const { return user.empty(); }
};

// A host name as the libraries want it: without leading backslashes and
// without a trailing dot.
std::string BareHost(std::string name);

}  // namespace quorvix::samba
