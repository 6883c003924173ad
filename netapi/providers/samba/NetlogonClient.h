// The name of a domain's primary controller as a named server knows it
// (NetrGetDCName over \pipe\netlogon), for NetGetDCName, and its DNS name:
// without libnetapi, so without its lock, and within the host timeout.
#pragma once

#include <string>

#include "NetApi.h"
#include "SambaSession.h"

namespace quorvix::samba {

// NERR_Success when the RPC library's call table holds the call with the
// layout this client declares; otherwise ERROR_NOT_SUPPORTED.
NET_API_STATUS CheckNetlogonLayout();

// Asks host for the primary controller of domain (empty: host's own domain),
// as "\\NAME". NERR_Success; ERROR_BAD_NETPATH when it gives no answer in
// time (remembered, see RecentlySilent); else the logon's or the call's
// status. Needs no lock.
NET_API_STATUS QueryPdcName(const std::string& host, const std::string& domain,
                            const SambaCredentials& creds, std::u16string& out);

// Asks host, a domain controller, to locate the primary controller of
// domain (a NetBIOS name) by DNS name (DsrGetDcNameEx2), and gives that name
// without backslashes. NERR_Success; NERR_DCNotFound when the answer holds
// none (see PdcDnsNameFromLocator); else the logon's or the call's status.
NET_API_STATUS QueryPdcDnsName(const std::string& host, const std::string& domain,
                               const SambaCredentials& creds, std::string& out);

}  // namespace quorvix::samba
