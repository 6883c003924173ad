// Samba's results (NTSTATUS, WERROR, libnetapi's mixed values, LDAP result
// codes) turned into the platform statuses that the query layer, the message
// tables and the scan know.
#pragma once

#include <cstdint>

#include "NetApi.h"

namespace quorvix::samba {

// An NTSTATUS value (0xC0000022, ...) as the platform reports it.
NET_API_STATUS FromNtStatus(std::uint32_t status);

// The status of a connection or call that did not end in STATUS_SUCCESS:
// never success, also for the informational and warning values (0x00000107,
// 0x40000001, ...) that a server may end one with, which leave no result.
NET_API_STATUS FromFailedNtStatus(std::uint32_t status);

// A WERROR value; these are already platform codes, except that a few
// interfaces carry an NTSTATUS in them.
NET_API_STATUS FromWerror(std::uint32_t status);

// libnetapi answers with a WERROR or an NTSTATUS in the same 32 bits.
NET_API_STATUS FromLibnetapi(std::uint32_t status);

// An OpenLDAP result code (LDAP_SUCCESS, LDAP_SERVER_DOWN, ...).
NET_API_STATUS FromLdap(int rc);

}  // namespace quorvix::samba
