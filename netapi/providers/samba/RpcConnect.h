// Connections to a machine's named pipes within the scan's deadline for that
// machine, without the provider's library lock: every call has a talloc and
// tevent context of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "NetApi.h"
#include "SambaLibs.h"
#include "SambaSession.h"
#include "Sockets.h"

struct dcerpc_pipe;
struct loadparm_context;
struct ndr_interface_table;
struct tevent_context;

namespace quorvix::samba {

// The moment a machine's wait ends: the host timeout from now, or, with none
// given, the RPC library's own limit (60 s).
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds budget);
  bool Passed() const { return std::chrono::steady_clock::now() >= at_; }
  std::chrono::milliseconds Left() const;

 private:
  std::chrono::steady_clock::time_point at_;
};

// Whether host (a name or an address) takes a TCP connection on port before
// deadline; its addresses are tried at once.
bool TakesConnection(const std::string& host, const char* port, const Deadline& deadline);

// The first of addresses (numeric) to take a TCP connection on port, all
// tried at once, before deadline; "" when none does.
std::string FirstTakingConnection(const std::vector<std::string>& addresses, const char* port,
                                  const Deadline& deadline);

// Opens \pipe\PIPE on host with creds and settings lp (see
// ConnectionSettings), bound to table, on mem and ev, before deadline.
// NERR_Success with *out set; ERROR_BAD_NETPATH when the name has no address,
// nothing takes the connection or nothing answers in time; else the logon's
// or the bind's status. On failure mem may hold a half-made connection: the
// caller frees mem.
NET_API_STATUS ConnectPipe(void* mem, tevent_context* ev, loadparm_context* lp,
                           const std::string& host, const char* pipeName,
                           const ndr_interface_table* table, const SambaCredentials& creds,
                           const Deadline& deadline, dcerpc_pipe** out);

// Whether the library's table holds call `opnum` by that name and with the
// structure size this program was built with: an RPC library of another
// release would otherwise read and write the call's structure wrongly.
// ERROR_NOT_SUPPORTED when it does not.
NET_API_STATUS CheckCallLayout(const ndr_interface_table& table, uint32_t opnum, const char* name,
                               std::size_t structSize);

// One call on an open pipe, before deadline. NERR_Success or the call's
// mapped failure (ERROR_BAD_NETPATH when the deadline passed).
NET_API_STATUS CallPipe(dcerpc_pipe* pipe, tevent_context* ev, const ndr_interface_table* table,
                        std::uint32_t opnum, void* mem, void* r, const Deadline& deadline);

// Frees a talloc context.
struct TallocFree {
  void operator()(void* p) const;
};

// One call's own connection to a machine's pipe: it holds the library state
// shared (see LibraryStateLock), starts the machine's deadline, and keeps
// everything of the call on a talloc and tevent context of its own, so that
// nothing is shared with other threads' calls.
class PipeConnection {
 public:
  explicit PipeConnection(const SambaCredentials& creds);
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  // ConnectPipe on this call's contexts; a host that gave no answer is
  // remembered as silent.
  NET_API_STATUS Open(const std::string& host, const char* pipeName,
                      const ndr_interface_table* table);
  // CallPipe on the open pipe.
  NET_API_STATUS Call(std::uint32_t opnum, void* r);
  void* Memory() const { return mem_.get(); }

 private:
  std::shared_lock<std::shared_mutex> state_;
  const SambaCredentials& creds_;
  Deadline deadline_;
  ConnectionSettings settings_;  // outlives mem_
  std::unique_ptr<void, TallocFree> mem_;
  tevent_context* ev_ = nullptr;
  dcerpc_pipe* pipe_ = nullptr;
  const ndr_interface_table* table_ = nullptr;
};

// Machines that gave no answer lately: calls to them that cannot bound their
// own waits (libnetapi's) are answered at once from here. Bounded in size and
// age (a minute).
void RememberSilent(const std::string& host);
bool RecentlySilent(const std::string& host);
// RecentlySilent, or found unreachable by the scan's look-ahead.
bool RecentlySilent(const std::string& host, const SambaCredentials& creds);

}  // namespace quorvix::samba
