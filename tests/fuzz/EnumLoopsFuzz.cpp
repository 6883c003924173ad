// The query layer's calls and the scan against a provider whose answers are
// random: statuses, counts, totals, buffers present or not, texts absent,
// long or hostile. Whatever comes back, nothing is read beyond a buffer,
// every buffer goes back exactly once, and every call ends.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "FuzzInput.h"
#include "basNetAPI.h"
#include "classNetAPI.h"

namespace {

using namespace quorvix;

void Check(bool ok) {
  if (!ok) std::abort();
}

class RandomNetApi : public NetApi {
 public:
  explicit RandomNetApi(fuzz::FuzzInput& in) : in_(in) {}
  ~RandomNetApi() override { Check(live_.empty()); }

  // Every answer comes from the one input stream: one call at a time.
  unsigned MaxConcurrentCalls() const override { return 1; }

  NET_API_STATUS NetServerEnum(LPCWSTR, DWORD, LPBYTE* bufptr, DWORD, LPDWORD read, LPDWORD total,
                               DWORD, LPCWSTR, LPDWORD) override {
    return Enumeration<SERVER_INFO_101>(bufptr, read, total,
                                        [this](SERVER_INFO_101& r, Strings& s) {
                                          r.sv101_name = s.Add(in_);
                                          r.sv101_comment = s.Add(in_);
                                          r.sv101_type = in_.U32();
                                          r.sv101_version_major = in_.U32();
                                        });
  }
  NET_API_STATUS NetWkstaGetInfo(LPCWSTR, DWORD, LPBYTE* bufptr) override {
    return Single<WKSTA_INFO_100>(bufptr, [this](WKSTA_INFO_100& r, Strings& s) {
      r.wki100_computername = s.Add(in_);
      r.wki100_langroup = s.Add(in_);
    });
  }
  NET_API_STATUS NetServerGetInfo(LPCWSTR, DWORD, LPBYTE* bufptr) override {
    return Single<SERVER_INFO_101>(bufptr, [this](SERVER_INFO_101& r, Strings& s) {
      r.sv101_name = s.Add(in_);
      r.sv101_comment = s.Add(in_);
      r.sv101_type = in_.U32();
      r.sv101_version_major = in_.U32();
      r.sv101_version_minor = in_.U32();
    });
  }
  NET_API_STATUS NetGetDCName(LPCWSTR, LPCWSTR, LPBYTE* bufptr) override {
    const NET_API_STATUS status = Status();
    if (in_.Bool()) {
      const std::u16string name = in_.Text(80);
      auto* p = static_cast<char16_t*>(Allocate((name.size() + 1) * sizeof(char16_t)));
      std::memcpy(p, name.c_str(), (name.size() + 1) * sizeof(char16_t));
      *bufptr = reinterpret_cast<LPBYTE>(p);
    }
    return status;
  }
  NET_API_STATUS NetWkstaUserEnum(LPCWSTR, DWORD, LPBYTE* bufptr, DWORD, LPDWORD read,
                                  LPDWORD total, LPDWORD resume) override {
    if (resume != nullptr) *resume = in_.U32();
    return Enumeration<WKSTA_USER_INFO_1>(bufptr, read, total,
                                          [this](WKSTA_USER_INFO_1& r, Strings& s) {
                                            r.wkui1_username = s.Add(in_);
                                            r.wkui1_logon_domain = s.Add(in_);
                                            r.wkui1_oth_domains = s.Add(in_);
                                            r.wkui1_logon_server = s.Add(in_);
                                          });
  }
  NET_API_STATUS NetUserGetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE* bufptr) override {
    return Single<USER_INFO_2>(bufptr, [this](USER_INFO_2& r, Strings& s) {
      r.usri2_name = s.Add(in_);
      r.usri2_last_logon = in_.U32();
    });
  }
  NET_API_STATUS NetGroupEnum(LPCWSTR, DWORD, LPBYTE* bufptr, DWORD, LPDWORD read, LPDWORD total,
                              PDWORD_PTR resume) override {
    if (resume != nullptr) *resume = in_.U32();
    return Enumeration<GROUP_INFO_0>(
        bufptr, read, total, [this](GROUP_INFO_0& r, Strings& s) { r.grpi0_name = s.Add(in_); });
  }
  NET_API_STATUS NetUserGetGroups(LPCWSTR, LPCWSTR, DWORD, LPBYTE* bufptr, DWORD, LPDWORD read,
                                  LPDWORD total) override {
    return Enumeration<GROUP_USERS_INFO_0>(
        bufptr, read, total,
        [this](GROUP_USERS_INFO_0& r, Strings& s) { r.grui0_name = s.Add(in_); });
  }
  NET_API_STATUS NetGroupGetInfo(LPCWSTR, LPCWSTR, DWORD, LPBYTE* bufptr) override {
    return Single<GROUP_INFO_1>(bufptr, [this](GROUP_INFO_1& r, Strings& s) {
      r.grpi1_name = s.Add(in_);
      r.grpi1_comment = s.Add(in_);
    });
  }
  NET_API_STATUS NetLocalGroupAddMembers(LPCWSTR, LPCWSTR, DWORD, LPBYTE, DWORD) override {
    return Status();
  }
  NET_API_STATUS NetApiBufferAllocate(DWORD bytes, LPVOID* buffer) override {
    if (bytes > (1u << 20)) return 8;  // ERROR_NOT_ENOUGH_MEMORY
    *buffer = Allocate(bytes);
    return 0;
  }
  NET_API_STATUS NetApiBufferFree(LPVOID buffer) override {
    if (buffer == nullptr) return 0;
    Check(live_.erase(buffer) == 1);  // never twice, never a stranger's
    std::free(buffer);
    return 0;
  }

 private:
  // The texts of one answer: a block of NUL-terminated strings that is
  // allocated with the records and sized before they are written.
  struct Strings {
    char16_t* next;
    char16_t* end;
    LPWSTR Add(fuzz::FuzzInput& in) {
      if (in.Below(5) == 0) return nullptr;  // absent
      const std::u16string t = in.Text(70);
      if (static_cast<std::size_t>(end - next) < t.size() + 1) return nullptr;
      char16_t* p = next;
      std::memcpy(p, t.data(), t.size() * sizeof(char16_t));
      p[t.size()] = 0;
      next += t.size() + 1;
      return p;
    }
  };
  static constexpr std::size_t kTextRoom = 71 * 4;  // per record

  NET_API_STATUS Status() {
    static constexpr NET_API_STATUS kStatuses[] = {0,    0,    234,  234,         5,          53,
                                                   2221, 2453, 1722, 0x80000005u, 0xFFFFFFFFu};
    return in_.Empty() ? 0 : kStatuses[in_.Below(sizeof kStatuses / sizeof kStatuses[0])];
  }

  void* Allocate(std::size_t bytes) {
    void* p = std::calloc(1, bytes == 0 ? 1 : bytes);
    Check(p != nullptr);
    live_.insert(p);
    return p;
  }

  template <typename Record, typename Fill>
  NET_API_STATUS Single(LPBYTE* bufptr, Fill fill) {
    const NET_API_STATUS status = Status();
    if (in_.Below(8) != 0) {
      auto* base = static_cast<BYTE*>(Allocate(sizeof(Record) + kTextRoom * sizeof(char16_t)));
      Strings s{reinterpret_cast<char16_t*>(base + sizeof(Record)),
                reinterpret_cast<char16_t*>(base + sizeof(Record)) + kTextRoom};
      fill(*reinterpret_cast<Record*>(base), s);
      *bufptr = base;
    }
    return status;
  }

  // Records as many as the count says, except for counts beyond anything a
  // server holds, which come with a small buffer or none: the loops must
  // refuse those before they read.
  template <typename Record, typename Fill>
  NET_API_STATUS Enumeration(LPBYTE* bufptr, LPDWORD read, LPDWORD total, Fill fill) {
    const NET_API_STATUS status = Status();
    const uint8_t shape = in_.Byte();
    DWORD count = shape % 8;
    if (shape >= 250) count = 1000001u + in_.U32() % 1000;
    *read = count;
    *total = in_.Bool() ? in_.U32() : count;
    if (shape % 16 == 15 && count > 0) return status;  // entries without a buffer
    const std::size_t records = count > 16 ? 1 : count;
    auto* base =
        static_cast<BYTE*>(Allocate(records * (sizeof(Record) + kTextRoom * sizeof(char16_t))));
    auto* texts = reinterpret_cast<char16_t*>(base + records * sizeof(Record));
    Strings s{texts, texts + records * kTextRoom};
    for (std::size_t k = 0; k < records; ++k) fill(reinterpret_cast<Record*>(base)[k], s);
    *bufptr = base;
    return status;
  }

  fuzz::FuzzInput& in_;
  std::set<void*> live_;
};

class NullWindow : public ReportWindow {
 public:
  void SetStatusText(const std::u16string&) override {}
  void ClearRows() override { rows = 0; }
  void AppendRow(const ReportRow&) override { ++rows; }
  void SetMousePointer(MousePointer) override {}
  std::u16string DomainText() override { return u"HQ"; }
  void ShowMessage(const std::u16string&) override {}
  bool DoEvents() override { return true; }
  std::size_t rows = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  RandomNetApi api(in);
  classNetAPI net(api);
  while (!in.Empty()) {
    std::vector<std::u16string> list;
    std::vector<LoggedOnUser> users;
    std::u16string text;
    uint32_t time = 0;
    switch (in.Below(9)) {
      case 0: {
        const int32_t s = fnNetWkstaUserEnum(api, u"PC", users);
        Check(s != 0 || (!users.empty() && users.size() <= 1000001));
        break;
      }
      case 1:
        net.fnNetServerEnum(u"HQ", static_cast<int32_t>(in.U32()), list, in.Bool());
        break;
      case 2:
        net.fnGlobalGroupEnum(u"PDC", in.Bool() ? u"anna" : u"", list);
        break;
      case 3:
        net.fnGetPDCName(u"", u"HQ", text);
        break;
      case 4:
        net.GetLastLogon(u"PDC", u"anna", time);
        break;
      case 5:
        net.GetServerType(u"PC", text);
        net.GetServerComment(u"PC", text);
        net.GetServerVersion(u"PC", text);
        break;
      case 6:
        net.fnGetDomainName(text);
        net.fnGetLocalComputerName(text);
        break;
      case 7:
        net.GetGlobalGroupDescription(u"Staff", u"PDC");
        net.AddUserToLocalGroup(u"PC", u"Administrators", u"HQ\\anna");
        break;
      default: {
        NullWindow window;
        RunAuditScan(api, window);
        break;
      }
    }
  }
  return 0;
}
