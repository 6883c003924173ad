#include "WkssvcClient.h"

#include <cstdbool>
#include <memory>
#include <shared_mutex>

#include "AnswerConversion.h"
#include "BatchedEnum.h"
#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaRpc.h"
#include "SambaStatus.h"
#include "basStringHandler.h"

// The call's request and response as the workstation service protocol lays
// them out (inputs: in-only, then in/out; outputs: out-only, then in/out,
// then the result). The RPC library marshals them; no public header has them.
extern "C" {
extern const struct ndr_interface_table ndr_table_wkssvc;

struct wkssvc_NetrWkstaUserInfo1 {
  const char* user_name;
  const char* logon_domain;
  const char* other_domains;
  const char* logon_server;
};
struct wkssvc_NetWkstaEnumUsersCtr1 {
  uint32_t entries_read;
  struct wkssvc_NetrWkstaUserInfo1* user1;
};
struct wkssvc_NetrWkstaUserInfo0 {
  const char* user_name;
};
struct wkssvc_NetWkstaEnumUsersCtr0 {
  uint32_t entries_read;
  struct wkssvc_NetrWkstaUserInfo0* user0;
};
union wkssvc_NetWkstaEnumUsersCtr {
  struct wkssvc_NetWkstaEnumUsersCtr0* user0;
  struct wkssvc_NetWkstaEnumUsersCtr1* user1;
};
struct wkssvc_NetWkstaEnumUsersInfo {
  uint32_t level;
  union wkssvc_NetWkstaEnumUsersCtr ctr;
};
struct wkssvc_NetWkstaEnumUsers {
  struct {
    const char* server_name;
    uint32_t prefmaxlen;
    struct wkssvc_NetWkstaEnumUsersInfo* info;
    uint32_t* resume_handle;
  } in;
  struct {
    uint32_t* entries_read;
    struct wkssvc_NetWkstaEnumUsersInfo* info;
    uint32_t* resume_handle;
    WERROR result;
  } out;
};
}

namespace quorvix::samba {

namespace {

constexpr uint32_t kEnumUsersOpnum = 2;

}  // namespace

NET_API_STATUS CheckWkssvcLayout() {
  return CheckCallLayout(ndr_table_wkssvc, kEnumUsersOpnum, "wkssvc_NetWkstaEnumUsers",
                         sizeof(wkssvc_NetWkstaEnumUsers));
}

NET_API_STATUS EnumWkstaUsers(const std::string& host, const SambaCredentials& creds,
                              std::vector<WkstaUser>& users) {
  if (NET_API_STATUS s = CheckWkssvcLayout(); s != NERR_Success) return s;
  if (host.empty() || host.find_first_of("[]\\/:") != std::string::npos) return ERROR_INVALID_NAME;
  PipeConnection connection(creds);
  if (NET_API_STATUS s = connection.Open(host, "wkssvc", &ndr_table_wkssvc); s != NERR_Success)
    return s;

  wkssvc_NetWkstaEnumUsersCtr1 ctr1{};
  wkssvc_NetWkstaEnumUsersInfo info{};
  info.level = 1;
  info.ctr.user1 = &ctr1;
  uint32_t resume = 0;
  uint32_t read = 0;
  wkssvc_NetWkstaEnumUsers r{};
  r.in.server_name = host.c_str();
  r.in.prefmaxlen = MAX_PREFERRED_LENGTH;
  r.in.info = &info;
  r.in.resume_handle = &resume;
  r.out.entries_read = &read;
  r.out.info = &info;
  r.out.resume_handle = &resume;
  if (NET_API_STATUS s = connection.Call(kEnumUsersOpnum, &r); s != NERR_Success) return s;
  const NET_API_STATUS result = FromWerror(W_ERROR_V(r.out.result));
  if (result != NERR_Success && result != ERROR_MORE_DATA) return result;
  // A hostile answer may claim another level or more entries than it carries.
  if (info.level != 1 || info.ctr.user1 == nullptr) return ERROR_BAD_NET_RESP;
  const wkssvc_NetWkstaEnumUsersCtr1& got = *info.ctr.user1;
  if (got.entries_read > 0 && got.user1 == nullptr) return ERROR_BAD_NET_RESP;
  if (got.entries_read > kMaxEnumEntries) return ERROR_BAD_NET_RESP;

  std::vector<WkstaUser> out;
  out.reserve(got.entries_read);
  for (uint32_t i = 0; i < got.entries_read; ++i) {
    const wkssvc_NetrWkstaUserInfo1& u = got.user1[i];
    out.push_back(
        WkstaUserFromAnswer(u.user_name, u.logon_domain, u.other_domains, u.logon_server));
  }
  users = std::move(out);
  return NERR_Success;
}

}  // namespace quorvix::samba
