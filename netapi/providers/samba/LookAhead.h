// Finds out ahead of a scan which machines take no connection on either SMB
// port: switched off, or behind a firewall that drops the attempts. Each of
// them would hold one of the scan's workers for the whole connection wait
// (7 s); here hundreds are waited for at once, on one thread, in the order
// the scan asks them and a little ahead of it, and the scan's calls to them
// answer "no answer" (53) at once while what was found is recent (it is
// found again while the scan has not come to the machine).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quorvix::samba {

class LookAhead {
 public:
  // The name that reaches a machine whose own name has no address (the DNS
  // name the directory gave for it), or "" when there is none. Called on the
  // look's lookup threads, several at once.
  using OtherName = std::function<std::string(const std::string& host)>;
  // A name's numeric addresses, IPv4 and IPv6 (AddressesOf).
  using Addresses = std::function<std::pair<std::vector<std::string>, std::vector<std::string>>(
      const std::string& host)>;

  // What a look tries; the defaults unless a test names others.
  struct Settings {
    // The ports a machine is tried on.
    std::vector<std::string> ports{"445", "139"};
    // How a name's addresses are found (on several threads at once); unset:
    // AddressesOf.
    Addresses addressesOf;
    // How long what a look found holds: as long as a connection's finding
    // that a machine gave no answer (RememberSilent).
    std::chrono::milliseconds kept{std::chrono::minutes(1)};
  };

  explicit LookAhead(OtherName otherName = {});
  LookAhead(OtherName otherName, Settings settings);
  ~LookAhead();  // ends the looking
  LookAhead(const LookAhead&) = delete;
  LookAhead& operator=(const LookAhead&) = delete;

  // Ends the look begun before and forgets what it found; then looks at
  // hosts (bare names or addresses), in order, on a thread of its own,
  // keeping a few hundred machines ahead of the scan (more as the scan goes
  // faster), whose place ScanComesTo tells. Empty: only ends. Returns
  // at once: name lookups under way finish on their threads, which then
  // end by themselves.
  void Start(std::vector<std::string> hosts);

  // The scan begins to ask host, one of its machines (not a logon server it
  // asks for another machine's users): the look goes on from there. Names
  // compare without regard to case.
  void ScanComesTo(const std::string& host);

  // Whether the current look found, less than the settings' kept time ago,
  // that no address of host takes a connection on any of the ports. Names
  // compare without regard to case.
  bool FoundUnreachable(const std::string& host) const;

  // Whether the current look is over: it has decided on every machine the
  // scan had not come to, or was ended (none begun: true).
  bool Over() const;

  // One look, shared with its thread.
  struct Look;

 private:
  std::shared_ptr<Look> Current() const;

  const OtherName otherName_;
  const Settings settings_;
  mutable std::mutex mu_;
  std::shared_ptr<Look> current_;  // guarded by mu_
};

}  // namespace quorvix::samba
