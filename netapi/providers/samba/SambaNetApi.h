// The native provider on Linux: real Windows (or Samba) domains through
// Samba's libraries. A named machine's workstation service (logged-on
// users), server service (NetServerGetInfo), account database
// (NetUserGetInfo) and logon service (NetGetDCName) are asked over DCE/RPC;
// Active Directory is read over LDAP for the machine and domain lists;
// libnetapi answers the rest (groups, this machine's own facts).
//
// Every buffer it hands out is one allocation of its own (records followed by
// their UTF-16 strings), tracked so that NetApiBufferFree releases exactly
// those, once. Calls may come from several threads: the RPC and LDAP calls
// to different machines run side by side, each on its own talloc and tevent
// context and bounded by the host timeout; libnetapi, which keeps
// process-wide state, is used behind one lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "AnswerBuffer.h"
#include "KerberosLogon.h"
#include "NetApi.h"
#include "SambaSession.h"
#include "WkssvcClient.h"

namespace quorvix::samba {

class SambaNetApi : public NetApi {
 public:
  explicit SambaNetApi(SambaCredentials creds);
  ~SambaNetApi() override;
  SambaNetApi(const SambaNetApi&) = delete;
  SambaNetApi& operator=(const SambaNetApi&) = delete;

  // Each call to a machine holds a connection, with settings of its own.
  unsigned MaxConcurrentCalls() const override;
  // Looks ahead for machines that take no connection (see LookAhead.h).
  void LookAhead(const std::vector<std::u16string>& machines) override;
  // The forest's controllers, as the directory last listed them.
  std::u16string ControllerDnsName(const std::u16string& server) const override;
  NET_API_STATUS PrimaryControllerDnsName(const std::u16string& server,
                                          const std::u16string& domain,
                                          std::u16string& name) override;

  NET_API_STATUS NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                               LPDWORD entriesread, LPDWORD totalentries, DWORD servertype,
                               LPCWSTR domain, LPDWORD resume_handle) override;
  NET_API_STATUS NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) override;
  NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) override;
  NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) override;
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
  std::size_t OutstandingBuffers() const { return buffers_.Outstanding(); }

  // libnetapi keeps what its calls allocate until its context is released;
  // after this many calls the context is released and made anew.
  static constexpr unsigned kCallsPerContext = 1024;

 private:
  SambaCredentials creds_;
  BufferRegistry buffers_;
  std::mutex directoryLock_;                    // guards tickets_
  TicketCache tickets_;                         // the directory's Kerberos logon
  PendingAnswers<WkstaUser> answers_;           // logged-on users still being fetched in batches
  PendingAnswers<std::array<Text, 1>> groups_;  // a server's groups, the same
  std::mutex rolesLock_;
  std::map<std::u16string, DWORD>
      roles_;         // type words of the last machine list, by upper-case name
  std::uint64_t id_;  // whose credentials the shared library context holds
};

}  // namespace quorvix::samba
