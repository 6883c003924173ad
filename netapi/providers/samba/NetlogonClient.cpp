#include "NetlogonClient.h"

#include "RpcConnect.h"
#include "SambaRpc.h"
#include "SambaStatus.h"
#include "basStringHandler.h"

// The call's request and response as the logon service protocol lays them
// out; no public header has them.
extern "C" {
extern const struct ndr_interface_table ndr_table_netlogon;

struct netr_GetDcName {
  struct {
    const char* logon_server;
    const char* domainname;
  } in;
  struct {
    const char** dcname;
    WERROR result;
  } out;
};
}

namespace quorvix::samba {

namespace {

constexpr uint32_t kNetrGetDcNameOpnum = 11;

}  // namespace

NET_API_STATUS CheckNetlogonLayout() {
  return CheckCallLayout(ndr_table_netlogon, kNetrGetDcNameOpnum, "netr_GetDcName",
                         sizeof(netr_GetDcName));
}

NET_API_STATUS QueryPdcName(const std::string& host, const std::string& domain,
                            const SambaCredentials& creds, std::u16string& out) {
  if (NET_API_STATUS s = CheckNetlogonLayout(); s != NERR_Success) return s;
  if (RecentlySilent(host)) return ERROR_BAD_NETPATH;
  PipeConnection connection(creds);
  if (NET_API_STATUS s = connection.Open(host, "netlogon", &ndr_table_netlogon); s != NERR_Success)
    return s;
  const std::string unc = "\\\\" + host;
  const char* name = nullptr;
  netr_GetDcName r{};
  r.in.logon_server = unc.c_str();
  r.in.domainname = domain.empty() ? nullptr : domain.c_str();
  r.out.dcname = &name;
  if (NET_API_STATUS s = connection.Call(kNetrGetDcNameOpnum, &r); s != NERR_Success) {
    if (s == ERROR_BAD_NETPATH) RememberSilent(host);
    return s;
  }
  if (NET_API_STATUS s = FromWerror(W_ERROR_V(r.out.result)); s != NERR_Success) return s;
  if (name == nullptr || *name == '\0') return NERR_DCNotFound;
  out = FromUtf8(name);
  return NERR_Success;
}

}  // namespace quorvix::samba
