// Whether a machine is there at all, asked before the platform's calls to
// it. netapi32 waits for a machine that is switched off until its own TCP
// connection is given up (some 20 s; longer on networks that drop the
// attempts), however long the scan would wait; a machine that is on takes a
// connection, or refuses one, within a second or two.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RecentHosts.h"

namespace quorvix {

enum class MachineReach {
  Answers,    // a port took the connection or refused it: the machine is on
  Silent,     // no port answered in time, or the network cannot reach it
  NoAddress,  // the name has no address here (the platform may still find one)
  Unknown,    // nothing could be told (no attempt could be made, or one failed here)
};

// Whether host's name has an address here; true when that cannot be told.
bool HasAddress(const std::u16string& host);

// Tries every port of host at once (of at most a few of its addresses), for
// at most wait. Silent only when every attempt was made and none was
// answered in time; an attempt that fails here (no sockets, no buffers)
// leaves the machine Unknown unless another one answered.
MachineReach ProbeMachine(const std::u16string& host, std::initializer_list<std::uint16_t> ports,
                          std::chrono::milliseconds wait);

class LookAheadRun;  // MachineProbe.cpp

// The machines found silent, and the names found without an address, each
// remembered for a while (a minute unless told otherwise), so that the calls
// that follow (the next batch of an answer, other users' logon server, a
// scan started again) neither wait for a machine again nor look its name up
// again: a name that neither DNS nor the broadcast finds costs each lookup
// its timeouts.
class SilentMachines {
 public:
  // The name that reaches the machine called host when host has no address
  // here (empty: none), as the calls to it would choose it; it must answer
  // without a lookup of its own, which would hold up the end of a
  // look-ahead.
  using OtherName = std::function<std::u16string(const std::u16string& host)>;

  // A machine's ports are waited for at most wait; what is found is kept
  // for keep.
  explicit SilentMachines(std::chrono::milliseconds wait = std::chrono::seconds(5),
                          OtherName otherName = {},
                          std::chrono::milliseconds keep = std::chrono::minutes(1));
  // Ends the look-ahead.
  ~SilentMachines();
  SilentMachines(const SilentMachines&) = delete;
  SilentMachines& operator=(const SilentMachines&) = delete;

  // What host's SMB ports say (a name without backslashes, not empty):
  // Silent, NoAddress or Answers at once while it is remembered so (also
  // while the look-ahead probes host again); otherwise, while the look-ahead
  // is probing host, what it finds. A scan asks a machine, and a logon
  // server, several times within seconds; each probe leaves closed
  // connections behind, and thousands of machines' of them could use up
  // this computer's ports.
  MachineReach Probe(const std::u16string& host);
  // The scan begins to ask host, one of its machines (backslashes or not;
  // not a logon server it asks for another machine's users): the
  // look-ahead goes on from there.
  void ScanComesTo(const std::u16string& host);
  // HasAddress, for a name remembered without one at once.
  bool HasAddress(const std::u16string& host);

  // Probes the machines a scan is about to ask (its names, backslashes or
  // not, in the order it asks them) ahead of it, on a thread of its own and
  // many at a time, and remembers what each says as Probe would have said
  // it, so that Probe answers at once when the scan comes to them: a
  // machine that is switched off then costs the scan no wait. A name
  // without an address is remembered so, and the other name that reaches
  // its machine, if any, is probed too, its verdict remembered under that
  // name, the one the scan then probes. It keeps a few hundred machines
  // ahead of the scan (more as the scan goes faster), since what it
  // remembers is forgotten after a while (a minute). A machine found silent
  // is probed again (by the same name) once half that time is over, as long
  // as the scan has not come to it: a scan slower than the look-ahead still
  // finds a recent verdict there, and a machine switched on meanwhile is
  // taken as on; the thread stays while such machines are ahead of the
  // scan. Ends any earlier look-ahead first; an empty list only ends it.
  // Returns at once.
  void LookAhead(const std::vector<std::u16string>& machines);
  // Waits until the look-ahead has taken every machine of its list once
  // (each is remembered, being probed, or passed over), or is over; at once
  // when none runs. A list far longer than the scan has come waits for the
  // scan. The probes again of machines found silent are not waited for.
  void WaitForLookAhead();
  // Whether the look-ahead's thread is running.
  bool LookingAhead();
  // The probes Probe made itself, without those it answered from what was
  // remembered.
  unsigned ProbesMade() const { return probes_; }

 private:
  friend class LookAheadRun;
  // Remembers a verdict of host's (by upper-case name) in place of any
  // other one; Unknown is not kept.
  void Remember(const std::u16string& key, MachineReach reach);
  // Whether a verdict of host's is remembered.
  bool Knows(const std::u16string& key);

  std::chrono::milliseconds wait_;
  OtherName otherName_;
  std::chrono::milliseconds keep_;  // how long a verdict is remembered
  // By upper-case name.
  RecentHosts<std::u16string> silent_;
  RecentHosts<std::u16string> noAddress_;
  RecentHosts<std::u16string> answers_;
  std::atomic<unsigned> probes_{0};
  std::mutex control_;                 // one start or end of a look-ahead at a time
  std::mutex runMu_;                   // guards run_, which Probe tells how far the scan has come
  std::shared_ptr<LookAheadRun> run_;  // Probe's calls may hold it after its end
};

}  // namespace quorvix
