#include "Reachability.h"

#include "RpcConnect.h"
#include "SambaRpc.h"

extern "C" {
extern const struct ndr_interface_table ndr_table_srvsvc;
}

namespace quorvix::samba {

NET_API_STATUS DiagnoseConnection(const std::string& host, const SambaCredentials& creds) {
  if (host.empty()) return ERROR_BAD_NETPATH;
  if (RecentlySilent(host)) return ERROR_BAD_NETPATH;
  PipeConnection connection(creds);
  return connection.Open(host, "srvsvc", &ndr_table_srvsvc);
}

}  // namespace quorvix::samba
