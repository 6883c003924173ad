#include "AnswerConversion.h"

#include "basStringHandler.h"

namespace quorvix::samba {

namespace {

Text FromC(const char* s) {
  if (s == nullptr) return std::nullopt;
  return FromUtf8(s);
}

// Reads the compressed name at pos, and moves pos past it. Each pointer must
// lead to a place before the part of the name being read, so that no chain
// of pointers goes round; a name is at most 255 bytes, as in DNS.
std::optional<std::string> CompressedName(const unsigned char* data, std::size_t size,
                                          std::size_t& pos) {
  std::string name;
  std::size_t at = pos;
  std::size_t part = pos;  // where the part being read starts
  bool jumped = false;
  for (;;) {
    if (at >= size) return std::nullopt;
    const unsigned char len = data[at];
    if ((len & 0xC0) == 0xC0) {
      if (at + 1 >= size) return std::nullopt;
      const std::size_t target = static_cast<std::size_t>(len & 0x3F) << 8 | data[at + 1];
      if (target >= part) return std::nullopt;
      if (!jumped) pos = at + 2;
      jumped = true;
      at = part = target;
      continue;
    }
    if ((len & 0xC0) != 0) return std::nullopt;  // label types no answer uses
    if (len == 0) {
      if (!jumped) pos = at + 1;
      return name;
    }
    if (size - at - 1 < len || name.size() + len + 1 > 255) return std::nullopt;
    if (!name.empty()) name += '.';
    name.append(reinterpret_cast<const char*>(data + at + 1), len);
    at += 1 + len;
  }
}

}  // namespace

std::optional<std::string> NetbiosDomainFromPing(const unsigned char* data, std::size_t size) {
  // Opcode (LOGON_SAM_LOGON_RESPONSE_EX, or LOGON_SAM_USER_UNKNOWN_EX when a
  // user was named), two bytes of zero, the flags and the domain's GUID.
  constexpr std::size_t kNames = 2 + 2 + 4 + 16;
  if (size < kNames || data[1] != 0 || (data[0] != 23 && data[0] != 25)) return std::nullopt;
  std::size_t pos = kNames;
  std::optional<std::string> names[4];  // forest, domain, host, NetBIOS domain
  for (auto& n : names)
    if (!(n = CompressedName(data, size, pos))) return std::nullopt;
  return names[3];
}

WkstaUser WkstaUserFromAnswer(const char* user, const char* logonDomain, const char* otherDomains,
                              const char* logonServer) {
  return {FromC(user), FromC(logonDomain), FromC(otherDomains), FromC(logonServer)};
}

}  // namespace quorvix::samba
