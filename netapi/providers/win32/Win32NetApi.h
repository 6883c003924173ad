// The native network provider on Windows: every call goes straight to the
// platform's netapi32. The program's records are the platform's records
// there, and its char16_t text is the platform's wchar_t text, so nothing is
// converted on the way in or out. One exception: when NetServerEnum finds no
// browser to ask (current networks run none), the machines and domains come
// from the domain's directory instead (DirectoryRules.h). And the calls that
// ask a machine about itself or its users first look whether it is on
// (MachineProbe.h): one that is switched off is answered "network path not
// found" within seconds, not when netapi32 gives up its connection; the
// machines a scan is about to ask are probed so ahead of it, many at a time
// (LookAhead). A machine whose name has no address here is reached by the
// DNS name the directory gave for it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DirectoryRules.h"
#include "MachineProbe.h"
#include "NetApi.h"

namespace quorvix {

class Win32NetApi final : public NetApi {
 public:
  // The directory is read over LDAP with the user's own logon.
  Win32NetApi();
  // The directory is read by reader; null: never asked. A machine that
  // takes no connection within 5 s, or within hostTimeout when that is
  // shorter, is taken as switched off; the search for the DNS name of a name
  // without an address ends with hostTimeout too (zero: no limit).
  explicit Win32NetApi(std::unique_ptr<DirectoryReader> reader,
                       std::chrono::milliseconds hostTimeout = std::chrono::milliseconds(0));
  // Ends the look-ahead.
  ~Win32NetApi() override;

  // Probes the machines ahead of the scan (SilentMachines::LookAhead).
  void LookAhead(const std::vector<std::u16string>& machines) override;
  // The forest's controllers, when the directory listed the machines.
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

 private:
  std::unique_ptr<DirectoryReader> directory_;
  std::chrono::milliseconds hostTimeout_;
  // The DNS names of the last listing from the directory.
  DirectoryHostNames hostNames_;
  // And names without an address, lately; after hostNames_, which its
  // look-ahead asks for the names that reach machines.
  SilentMachines silent_;
};

}  // namespace quorvix
