// The native network provider on Windows: every call goes straight to the
// platform's netapi32. The program's records are the platform's records
// there, and its char16_t text is the platform's wchar_t text, so nothing is
// converted on the way in or out.
#pragma once

#include "NetApi.h"

namespace quorvix {

class Win32NetApi final : public NetApi {
 public:
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
};

}  // namespace quorvix
