#include "basNetAPI.h"

#include "BatchedEnum.h"
#include "basStringHandler.h"

namespace quorvix {

int32_t fnNetWkstaUserEnum(NetApi& api, const std::u16string& strServer,
                           std::vector<LoggedOnUser>& users,
                           const std::function<bool(const std::vector<LoggedOnUser>&)>& stopped) {
  // Small batches: one exchange carries a few entries.
  constexpr DWORD kPreferredLength = 256;
  const LPCWSTR server = NameArgument(strServer);
  DWORD resume = 0;
  return EnumerateInBatches(
      api, users, resume,
      [&](LPBYTE* buf, DWORD* read, DWORD* total) {
        return api.NetWkstaUserEnum(server, 1, buf, kPreferredLength, read, total, &resume);
      },
      [](const NetBuffer& buffer, DWORD k) {
        const auto& rec = buffer.record<WKSTA_USER_INFO_1>(k);
        return LoggedOnUser{
            fnPointerToString(rec.wkui1_username), fnPointerToString(rec.wkui1_logon_domain),
            fnPointerToString(rec.wkui1_oth_domains), fnPointerToString(rec.wkui1_logon_server)};
      },
      stopped);
}

}  // namespace quorvix
