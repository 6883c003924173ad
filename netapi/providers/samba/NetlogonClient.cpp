#include "NetlogonClient.h"

#include "DirectoryRules.h"
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

// The locator's answer, which the call's layout check does not cover: a
// public record of the protocol, laid out so since the call was defined.
struct netr_DsRGetDCNameInfo {
  const char* dc_unc;
  const char* dc_address;
  uint32_t dc_address_type;
  struct GUID domain_guid;
  const char* domain_name;
  const char* forest_name;
  uint32_t dc_flags;
  const char* dc_site_name;
  const char* client_site_name;
};

struct netr_DsRGetDCNameEx2 {
  struct {
    const char* server_unc;
    const char* client_account;
    uint32_t mask;
    const char* domain_name;
    struct GUID* domain_guid;
    const char* site_name;
    uint32_t flags;
  } in;
  struct {
    struct netr_DsRGetDCNameInfo** info;
    WERROR result;
  } out;
};
}

namespace quorvix::samba {

namespace {

constexpr uint32_t kNetrGetDcNameOpnum = 11;
constexpr uint32_t kDsrGetDcNameEx2Opnum = 34;

// Makes call opnum of host's logon service with request r (its layout
// checked), within the host timeout; a host that gives no answer is
// remembered as silent. The service's own failure, else what read makes of
// the answer, which lives only as long as the connection.
template <typename Request, typename Read>
NET_API_STATUS AskLogonService(const std::string& host, const SambaCredentials& creds,
                               uint32_t opnum, Request& r, Read read) {
  if (RecentlySilent(host)) return ERROR_BAD_NETPATH;
  PipeConnection connection(creds);
  if (NET_API_STATUS s = connection.Open(host, "netlogon", &ndr_table_netlogon); s != NERR_Success)
    return s;
  if (NET_API_STATUS s = connection.Call(opnum, &r); s != NERR_Success) {
    if (s == ERROR_BAD_NETPATH) RememberSilent(host);
    return s;
  }
  if (NET_API_STATUS s = FromWerror(W_ERROR_V(r.out.result)); s != NERR_Success) return s;
  return read();
}

}  // namespace

NET_API_STATUS CheckNetlogonLayout() {
  return CheckCallLayout(ndr_table_netlogon, kNetrGetDcNameOpnum, "netr_GetDcName",
                         sizeof(netr_GetDcName));
}

NET_API_STATUS QueryPdcName(const std::string& host, const std::string& domain,
                            const SambaCredentials& creds, std::u16string& out) {
  if (NET_API_STATUS s = CheckNetlogonLayout(); s != NERR_Success) return s;
  const std::string unc = "\\\\" + host;
  const char* name = nullptr;
  netr_GetDcName r{};
  r.in.logon_server = unc.c_str();
  r.in.domainname = domain.empty() ? nullptr : domain.c_str();
  r.out.dcname = &name;
  return AskLogonService(host, creds, kNetrGetDcNameOpnum, r, [&] {
    if (name == nullptr || *name == '\0') return NERR_DCNotFound;
    out = FromUtf8(name);
    return NERR_Success;
  });
}

NET_API_STATUS QueryPdcDnsName(const std::string& host, const std::string& domain,
                               const SambaCredentials& creds, std::string& out) {
  if (NET_API_STATUS s = CheckCallLayout(ndr_table_netlogon, kDsrGetDcNameEx2Opnum,
                                         "netr_DsRGetDCNameEx2", sizeof(netr_DsRGetDCNameEx2));
      s != NERR_Success)
    return s;
  const std::string unc = "\\\\" + host;
  netr_DsRGetDCNameInfo* info = nullptr;
  netr_DsRGetDCNameEx2 r{};
  r.in.server_unc = unc.c_str();
  r.in.domain_name = domain.c_str();
  r.in.flags = kLocatePdcByDnsName;
  r.out.info = &info;
  return AskLogonService(host, creds, kDsrGetDcNameEx2Opnum, r, [&] {
    if (info == nullptr || info->dc_unc == nullptr) return NERR_DCNotFound;
    out = PdcDnsNameFromLocator(FromUtf8(info->dc_unc), info->dc_flags);
    return out.empty() ? NERR_DCNotFound : NERR_Success;
  });
}

}  // namespace quorvix::samba
