#include "SambaStatus.h"

#include <ldap.h>

namespace quorvix::samba {

namespace {

struct NtEntry {
  std::uint32_t nt;
  NET_API_STATUS status;
};

// NTSTATUS values as the protocol defines them.
constexpr NtEntry kNtTable[] = {
    {0x00000000, NERR_Success},
    {0x00000105, ERROR_MORE_DATA},            // STATUS_MORE_ENTRIES
    {0x80000005, ERROR_MORE_DATA},            // STATUS_BUFFER_OVERFLOW
    {0xC0000001, ERROR_UNEXP_NET_ERR},        // UNSUCCESSFUL
    {0xC0000002, ERROR_NOT_SUPPORTED},        // NOT_IMPLEMENTED
    {0xC0000003, ERROR_INVALID_LEVEL},        // INVALID_INFO_CLASS
    {0xC0000008, ERROR_INVALID_HANDLE},       // INVALID_HANDLE
    {0xC000000D, ERROR_INVALID_PARAMETER},    // INVALID_PARAMETER
    {0xC0000017, ERROR_NOT_ENOUGH_MEMORY},    // NO_MEMORY
    {0xC0000022, ERROR_ACCESS_DENIED},        // ACCESS_DENIED
    {0xC0000023, ERROR_INSUFFICIENT_BUFFER},  // BUFFER_TOO_SMALL
    {0xC0000033, ERROR_INVALID_NAME},         // OBJECT_NAME_INVALID
    {0xC0000034, RPC_S_SERVER_UNAVAILABLE},   // OBJECT_NAME_NOT_FOUND (no such pipe)
    {0xC000005E, NERR_DCNotFound},            // NO_LOGON_SERVERS
    {0xC0000062, ERROR_INVALID_NAME},         // INVALID_ACCOUNT_NAME
    {0xC0000064, NERR_UserNotFound},          // NO_SUCH_USER
    {0xC0000066, NERR_GroupNotFound},         // NO_SUCH_GROUP
    {0xC000006A, ERROR_LOGON_FAILURE},        // WRONG_PASSWORD
    {0xC000006D, ERROR_LOGON_FAILURE},        // LOGON_FAILURE
    {0xC000006E, ERROR_ACCOUNT_RESTRICTION},  // ACCOUNT_RESTRICTION
    {0xC000006F, ERROR_ACCOUNT_RESTRICTION},  // INVALID_LOGON_HOURS
    {0xC0000070, ERROR_ACCOUNT_RESTRICTION},  // INVALID_WORKSTATION
    {0xC0000071, ERROR_PASSWORD_EXPIRED},     // PASSWORD_EXPIRED
    {0xC0000072, ERROR_ACCOUNT_DISABLED},     // ACCOUNT_DISABLED
    {0xC0000073, ERROR_NO_SUCH_MEMBER},       // NONE_MAPPED
    {0xC00000AC, RPC_S_SERVER_UNAVAILABLE},   // PIPE_NOT_AVAILABLE
    {0xC00000B5, ERROR_BAD_NETPATH},          // IO_TIMEOUT
    {0xC00000BB, ERROR_NOT_SUPPORTED},        // NOT_SUPPORTED
    {0xC00000BE, ERROR_BAD_NETPATH},          // BAD_NETWORK_PATH
    {0xC00000C3, ERROR_BAD_NET_RESP},         // INVALID_NETWORK_RESPONSE
    {0xC00000C4, ERROR_UNEXP_NET_ERR},        // UNEXPECTED_NETWORK_ERROR
    {0xC00000CA, ERROR_ACCESS_DENIED},        // NETWORK_ACCESS_DENIED
    {0xC00000CC, ERROR_BAD_NET_NAME},         // BAD_NETWORK_NAME
    {0xC00000D0, ERROR_REQ_NOT_ACCEP},        // REQUEST_NOT_ACCEPTED
    {0xC00000DF, ERROR_NO_SUCH_DOMAIN},       // NO_SUCH_DOMAIN
    {0xC0000122, NERR_InvalidComputer},       // INVALID_COMPUTER_NAME
    {0xC0000151, ERROR_NO_SUCH_ALIAS},        // NO_SUCH_ALIAS
    {0xC0000153, ERROR_MEMBER_IN_ALIAS},      // MEMBER_IN_ALIAS
    {0xC000015B, ERROR_LOGON_FAILURE},        // LOGON_TYPE_NOT_GRANTED
    {0xC0000193, ERROR_ACCOUNT_DISABLED},     // ACCOUNT_EXPIRED
    {0xC0000224, ERROR_PASSWORD_EXPIRED},     // PASSWORD_MUST_CHANGE
    {0xC0000233, NERR_DCNotFound},            // DOMAIN_CONTROLLER_NOT_FOUND
    {0xC0000234, ERROR_ACCOUNT_RESTRICTION},  // ACCOUNT_LOCKED_OUT
    {0xC0000236, ERROR_BAD_NETPATH},          // CONNECTION_REFUSED
    {0xC000020C, ERROR_NETNAME_DELETED},      // CONNECTION_DISCONNECTED
    {0xC000020D, ERROR_NETNAME_DELETED},      // CONNECTION_RESET
    {0xC000023C, ERROR_BAD_NETPATH},          // NETWORK_UNREACHABLE
    {0xC000023D, ERROR_BAD_NETPATH},          // HOST_UNREACHABLE
    {0xC0000241, ERROR_NETNAME_DELETED},      // CONNECTION_ABORTED
    {0xC000035C, ERROR_LOGON_FAILURE},        // NETWORK_SESSION_EXPIRED
    {0xC0020017, RPC_S_SERVER_UNAVAILABLE},   // RPC_SERVER_UNAVAILABLE
    {0xC002002E, ERROR_NOT_SUPPORTED},        // RPC_PROCNUM_OUT_OF_RANGE
    {0xC0020030, ERROR_BAD_NET_RESP},         // RPC_BAD_STUB_DATA
    {0xC002001B, RPC_S_CALL_FAILED},          // RPC_CALL_FAILED
};

}  // namespace

NET_API_STATUS FromNtStatus(std::uint32_t status) {
  for (const NtEntry& e : kNtTable)
    if (e.nt == status) return e.status;
  // Other RPC-layer failures: the call did not complete.
  if ((status & 0xFFFF0000u) == 0xC0020000u) return RPC_S_CALL_FAILED;
  if ((status & 0xC0000000u) == 0xC0000000u) return ERROR_UNEXP_NET_ERR;
  if ((status & 0xC0000000u) == 0x80000000u) return ERROR_UNEXP_NET_ERR;
  return NERR_Success;  // success and informational values
}

NET_API_STATUS FromFailedNtStatus(std::uint32_t status) {
  const NET_API_STATUS s = FromNtStatus(status);
  return s == NERR_Success ? ERROR_BAD_NET_RESP : s;
}

NET_API_STATUS FromWerror(std::uint32_t status) {
  if ((status & 0xC0000000u) != 0) return FromNtStatus(status);
  return status;
}

NET_API_STATUS FromLibnetapi(std::uint32_t status) {
  return FromWerror(status);
}

NET_API_STATUS FromLdap(int rc) {
  switch (rc) {
    case LDAP_SUCCESS:
      return NERR_Success;
    case LDAP_INVALID_CREDENTIALS:
      return ERROR_LOGON_FAILURE;
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_CONFIDENTIALITY_REQUIRED:
    case LDAP_INAPPROPRIATE_AUTH:
      return ERROR_ACCESS_DENIED;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
      return ERROR_BAD_NETPATH;
    case LDAP_NO_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case LDAP_NO_SUCH_OBJECT:
      return ERROR_NO_SUCH_DOMAIN;
    case LDAP_LOCAL_ERROR:
    case LDAP_AUTH_UNKNOWN:
      return ERROR_LOGON_FAILURE;  // e.g. no usable Kerberos ticket
    case LDAP_BUSY:
    case LDAP_UNAVAILABLE:
      return ERROR_NETWORK_BUSY;
    default:
      // A listing cut short (by the server, or by the reader's bounds) among
      // them: "more data" would promise a next batch that does not exist.
      return ERROR_BAD_NET_RESP;
  }
}

}  // namespace quorvix::samba
