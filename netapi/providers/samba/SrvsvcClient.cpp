#include "SrvsvcClient.h"

#include "RpcConnect.h"
#include "SambaRpc.h"
#include "SambaStatus.h"
#include "basStringHandler.h"

// The call's request and response as the server service protocol lays them
// out; no public header has them. The info union holds one pointer per level.
extern "C" {
extern const struct ndr_interface_table ndr_table_srvsvc;

struct srvsvc_NetSrvInfo101 {
  uint32_t platform_id;
  const char* server_name;
  uint32_t version_major;
  uint32_t version_minor;
  uint32_t server_type;
  const char* comment;
};
union srvsvc_NetSrvInfo {
  void* info100;
  struct srvsvc_NetSrvInfo101* info101;
};
struct srvsvc_NetSrvGetInfo {
  struct {
    const char* server_unc;
    uint32_t level;
  } in;
  struct {
    union srvsvc_NetSrvInfo* info;
    WERROR result;
  } out;
};
}

namespace quorvix::samba {

namespace {

constexpr uint32_t kNetSrvGetInfoOpnum = 21;

Text FromC(const char* s) {
  if (s == nullptr) return std::nullopt;
  return FromUtf8(s);
}

}  // namespace

NET_API_STATUS CheckSrvsvcLayout() {
  return CheckCallLayout(ndr_table_srvsvc, kNetSrvGetInfoOpnum, "srvsvc_NetSrvGetInfo",
                         sizeof(srvsvc_NetSrvGetInfo));
}

NET_API_STATUS QueryServer(const std::string& host, const SambaCredentials& creds,
                           ServerFacts& out) {
  if (NET_API_STATUS s = CheckSrvsvcLayout(); s != NERR_Success) return s;
  if (RecentlySilent(host)) return ERROR_BAD_NETPATH;
  PipeConnection connection(creds);
  if (NET_API_STATUS s = connection.Open(host, "srvsvc", &ndr_table_srvsvc); s != NERR_Success)
    return s;
  srvsvc_NetSrvInfo info{};
  srvsvc_NetSrvGetInfo r{};
  const std::string unc = "\\\\" + host;
  r.in.server_unc = unc.c_str();
  r.in.level = 101;
  r.out.info = &info;
  if (NET_API_STATUS s = connection.Call(kNetSrvGetInfoOpnum, &r); s != NERR_Success) {
    if (s == ERROR_BAD_NETPATH) RememberSilent(host);
    return s;
  }
  if (NET_API_STATUS s = FromWerror(W_ERROR_V(r.out.result)); s != NERR_Success) return s;
  const srvsvc_NetSrvInfo101* i = info.info101;
  if (i == nullptr) return ERROR_BAD_NET_RESP;
  ServerFacts f;
  f.platformId = i->platform_id;
  f.name = FromC(i->server_name);
  f.versionMajor = i->version_major;
  f.versionMinor = i->version_minor;
  f.type = i->server_type;
  f.comment = FromC(i->comment);
  out = std::move(f);
  return NERR_Success;
}

}  // namespace quorvix::samba
