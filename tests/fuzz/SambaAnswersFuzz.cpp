// The Samba provider's conversion of answers: workstation-service entries
// (UTF-8 texts, any of them absent or malformed) packed into the records a
// caller gets, batch by batch, and directory attributes turned into machines
// and type words, and a controller's answer to an LDAP ping.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "AnswerBuffer.h"
#include "AnswerConversion.h"
#include "DirectoryRules.h"
#include "FuzzInput.h"
#include "basStringHandler.h"

namespace {

using namespace quorvix;
using namespace quorvix::samba;

void Check(bool ok) {
  if (!ok) std::abort();
}

// UTF-8 bytes as an answer carries them: anything but NUL, which ends a C string.
std::string Bytes(fuzz::FuzzInput& in, std::size_t max) {
  std::string s;
  const std::size_t n = in.Below(static_cast<uint32_t>(max + 1));
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(in.Byte() | (in.Bool() ? 0x80 : 1));
  return s;
}

constexpr LPWSTR WKSTA_USER_INFO_1::*kFields[] = {
    &WKSTA_USER_INFO_1::wkui1_username, &WKSTA_USER_INFO_1::wkui1_logon_domain,
    &WKSTA_USER_INFO_1::wkui1_oth_domains, &WKSTA_USER_INFO_1::wkui1_logon_server};

void WorkstationAnswer(fuzz::FuzzInput& in) {
  std::vector<std::array<Text, 4>> texts;
  const std::size_t n = in.Below(12);
  for (std::size_t i = 0; i < n; ++i) {
    std::string s[4];
    bool present[4];
    for (int f = 0; f < 4; ++f) {
      s[f] = Bytes(in, 40);
      present[f] = in.Below(6) != 0;
    }
    const WkstaUser u = WkstaUserFromAnswer(
        present[0] ? s[0].c_str() : nullptr, present[1] ? s[1].c_str() : nullptr,
        present[2] ? s[2].c_str() : nullptr, present[3] ? s[3].c_str() : nullptr);
    texts.push_back({u.user, u.logonDomain, u.otherDomains, u.logonServer});
    for (int f = 0; f < 4; ++f) Check(texts.back()[f].has_value() == present[f]);
  }
  std::vector<std::size_t> sizes;
  for (const auto& row : texts) sizes.push_back(RecordBytes<WKSTA_USER_INFO_1>(row));

  BufferRegistry registry;
  const DWORD prefmaxlen = in.Bool() ? MAX_PREFERRED_LENGTH : in.U32() % 2048;
  std::size_t start = in.Bool() ? in.U32() : 0;
  for (int round = 0; round < 16; ++round) {
    const Batch b = SliceBatch(sizes, start, prefmaxlen);
    Check(b.begin <= b.end && b.end <= n);
    if (b.begin < n) Check(b.end > b.begin);  // a caller always gets on
    std::size_t bytes = 0;
    for (std::size_t k = b.begin; k < b.end; ++k) bytes += sizes[k];
    if (prefmaxlen != MAX_PREFERRED_LENGTH && b.end - b.begin > 1) Check(bytes <= prefmaxlen);

    std::vector<WKSTA_USER_INFO_1> records(b.end - b.begin);
    std::vector<std::array<Text, 4>> part(texts.begin() + static_cast<std::ptrdiff_t>(b.begin),
                                          texts.begin() + static_cast<std::ptrdiff_t>(b.end));
    LPBYTE buffer = nullptr;
    Check(PackRecords(registry, records, part, kFields, &buffer) == NERR_Success);
    const auto* recs = reinterpret_cast<const WKSTA_USER_INFO_1*>(buffer);
    for (std::size_t k = 0; k < part.size(); ++k)
      for (int f = 0; f < 4; ++f) {
        const char16_t* p = recs[k].*kFields[f];
        Check((p != nullptr) == part[k][f].has_value());
        if (p != nullptr) Check(fnPointerToString(p) == *part[k][f]);
      }
    Check(registry.Release(buffer) == NERR_Success);
    Check(registry.Release(buffer) != NERR_Success);  // a second release is refused
    if (!b.more) break;
    start = b.end;
  }
  Check(registry.Outstanding() == 0);
}

void DirectoryAnswer(fuzz::FuzzInput& in) {
  ComputerObject a;
  a.sAMAccountName = Bytes(in, 20) + (in.Bool() ? "$" : "");
  a.dNSHostName = Bytes(in, 30);
  a.userAccountControl = in.Bool() ? std::to_string(in.U32()) : Bytes(in, 12);
  a.operatingSystem = in.Bool() ? "Windows Server 2019" : Bytes(in, 20);
  a.operatingSystemVersion = Bytes(in, 20);
  a.description = Bytes(in, 40);
  a.holdsPdcRole = in.Bool();
  if (auto controller = ControllerHostName(a.sAMAccountName, a.dNSHostName))
    Check(!controller->first.empty() && IsDnsHostName(controller->second));
  // The directory's domain names, as a trusted domain's logon server is
  // looked for under them: only host names are looked up or given.
  DirectoryListing domains;
  domains.dnsDomain = FromUtf8(a.description);
  domains.domainDnsNames = {a.dNSHostName, a.operatingSystemVersion};
  DirectoryHostNames names;
  names.Replace(domains);
  const std::string found = names.DnsNameOf(a.sAMAccountName, [&in](const std::string& host) {
    Check(IsDnsHostName(host));
    return in.Bool();
  });
  Check(found.empty() || IsDnsHostName(found));
  const std::optional<DirectoryMachine> c = MachineFromComputer(a);
  if (!c) return;
  Check(!c->name.empty());
  const DWORD base = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT;
  Check((c->type & base) == base);
  Check(!((c->type & SV_TYPE_DOMAIN_CTRL) && (c->type & SV_TYPE_DOMAIN_BAKCTRL)));
  Check(c->versionMajor < 1000000 && c->versionMinor < 1000000);
  DirectoryListing listing;
  listing.netbiosDomain = c->name;
  Check(IsOwnDomain(listing, c->name));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The input as it stands is also a controller's answer to an LDAP ping.
  if (const auto domain = NetbiosDomainFromPing(data, size)) Check(domain->size() <= 255);
  fuzz::FuzzInput in(data, size);
  if (in.Bool())
    WorkstationAnswer(in);
  else
    DirectoryAnswer(in);
  return 0;
}
