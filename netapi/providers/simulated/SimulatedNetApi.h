// A network provider that answers from an in-memory domain, as a real server
// would: batches sized by the preferred length, ERROR_MORE_DATA with a resume
// handle, buffers that must be released once with its NetApiBufferFree.
// It counts outstanding buffers, refuses double or foreign frees, logs every
// call with its arguments, injects faults and latency.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "NetApi.h"
#include "SimDomain.h"

namespace quorvix::sim {

// One logged call and its arguments. Name arguments that were null are
// recorded as absent (nullName set for that position). The name arguments of
// NetLocalGroupAddMembers at level 3 are the server, the group and then the
// account of each LOCALGROUP_MEMBERS_INFO_3 handed in.
struct CallRecord {
  std::string call;                   // "NetWkstaUserEnum", ...
  std::vector<std::u16string> names;  // the name arguments in argument order
  std::vector<bool> nullNames;        // per name: the argument was a null address
  DWORD level = 0;
  DWORD prefmaxlen = 0;       // where the call has one
  DWORD servertype = 0;       // NetServerEnum
  uint64_t resumeIn = 0;      // resume handle on entry, where the call has one
  NET_API_STATUS status = 0;  // what the call answered
  DWORD entriesRead = 0;      // enumerations: the entries handed back
  DWORD totalEntries = 0;     // enumerations: the total answered
};

class SimulatedNetApi : public NetApi {
 public:
  explicit SimulatedNetApi(SimDomain domain);
  ~SimulatedNetApi() override;

  NET_API_STATUS NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                               LPDWORD entriesread, LPDWORD totalentries, DWORD servertype,
                               LPCWSTR domain, LPDWORD resume_handle) override;
  NET_API_STATUS NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) override;
  NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) override;
  NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) override;
  // The simulated network has no DNS: a controller is found by its own name.
  NET_API_STATUS PrimaryControllerDnsName(const std::u16string& server,
                                          const std::u16string& domain,
                                          std::u16string& name) override;
  NET_API_STATUS NetWkstaUserEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                  LPDWORD entriesread, LPDWORD totalentries,
                                  LPDWORD resumehandle) override;
  NET_API_STATUS NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                LPBYTE* bufptr) override;
  NET_API_STATUS NetGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                              LPDWORD entriesread, LPDWORD totalentries,
                              PDWORD_PTR resume_handle) override;
  NET_API_STATUS NetUserGetGroups(LPCWSTR servername, LPCWSTR username, DWORD level, LPBYTE* bufptr,
                                  DWORD prefmaxlen, LPDWORD entriesread,
                                  LPDWORD totalentries) override;
  NET_API_STATUS NetGroupGetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                 LPBYTE* bufptr) override;
  NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                         LPBYTE buf, DWORD totalentries) override;
  NET_API_STATUS NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) override;
  NET_API_STATUS NetApiBufferFree(LPVOID Buffer) override;

  // Buffers handed out and not yet released.
  std::size_t OutstandingBuffers() const;
  // Frees refused (double free, or a pointer this provider did not hand out).
  std::size_t RefusedFrees() const;
  // Every call so far, in order (NetApiBufferAllocate/Free are not logged).
  std::vector<CallRecord> Calls() const;
  void ClearCalls();
  // Turns the call log off for benchmarks.
  void SetLogging(bool on);
  // Adds a fault after construction (same meaning as a domain file's faults).
  void AddFault(SimFault fault);
  // Adds a logged-on entry to a machine after construction, e.g. to model a
  // user who logs on between two batches of an enumeration.
  void AddSession(const std::u16string& machine, SimLogonEntry entry);
  // The domain as it stands (local groups change through NetLocalGroupAddMembers).
  // Read it only while no other thread calls the provider.
  const SimDomain& Domain() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvix::sim
