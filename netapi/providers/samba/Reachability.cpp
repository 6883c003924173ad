#include "Reachability.h"

#include <memory>
#include <shared_mutex>

#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaRpc.h"

extern "C" {
extern const struct ndr_interface_table ndr_table_srvsvc;
}

namespace quorvix::samba {

namespace {

struct TallocFree {
  void operator()(void* p) const { talloc_free(p); }
};

}  // namespace

NET_API_STATUS DiagnoseConnection(const std::string& host, const SambaCredentials& creds) {
  if (host.empty()) return ERROR_BAD_NETPATH;
  if (RecentlySilent(host)) return ERROR_BAD_NETPATH;
  std::shared_lock<std::shared_mutex> state(LibraryStateLock());
  const Deadline deadline(creds.hostTimeout);
  std::unique_ptr<void, TallocFree> mem(talloc_new(nullptr));
  tevent_context* ev = mem ? tevent_context_init(mem.get()) : nullptr;
  if (ev == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  dcerpc_pipe* pipe = nullptr;
  const NET_API_STATUS s =
      ConnectPipe(mem.get(), ev, host, "srvsvc", &ndr_table_srvsvc, creds, deadline, &pipe);
  if (s == ERROR_BAD_NETPATH) RememberSilent(host);
  return s;
}

}  // namespace quorvix::samba
