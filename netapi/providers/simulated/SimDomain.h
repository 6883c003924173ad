// The model of a simulated domain: what a domain file describes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "NetApi.h"

namespace quorvix::sim {

struct SimLogonEntry {
  std::u16string user;
  std::u16string logonDomain;
  std::u16string otherDomains;
  std::u16string logonServer;  // may be empty
};

struct SimUser {
  std::u16string name;
  uint32_t lastLogon = 0;              // seconds since 1970-01-01 UTC
  std::vector<std::u16string> groups;  // global groups the user belongs to
};

struct SimGroup {
  std::u16string name;
  std::u16string comment;
  std::vector<std::u16string> members;
};

struct SimMachine {
  std::u16string name;
  std::u16string domain;
  uint32_t type = SV_TYPE_WORKSTATION;  // SV_TYPE_* word
  std::u16string comment;
  uint32_t versionMajor = 5;
  uint32_t versionMinor = 0;
  // Logged-on entries in the machine's order, or the status that
  // NetWkstaUserEnum fails with.
  std::vector<SimLogonEntry> sessions;
  std::optional<NET_API_STATUS> sessionsStatus;
  // Accounts and groups this machine keeps when it acts as a server.
  std::vector<SimUser> users;
  std::vector<SimGroup> globalGroups;
  std::vector<SimGroup> localGroups;
  // How the machine answers in time. Calls that name it as their server wait
  // latencyMicros[call] (or ["*"]) instead of the domain's latency; a machine
  // that is off answers every call with unreachableStatus after
  // unreachableMicros; a silent one answers nothing for silentMicros, then
  // as usual.
  std::map<std::string, uint32_t> latencyMicros;
  std::optional<NET_API_STATUS> unreachableStatus;
  uint32_t unreachableMicros = 0;
  uint32_t silentMicros = 0;
};

struct SimDomainInfo {
  std::u16string name;
  std::u16string pdc;  // machine name of the primary controller (no backslashes)
};

// A status for one call, optionally for one target (a server, or for
// NetServerEnum and NetGetDCName a domain); an empty target matches all.
struct SimFault {
  std::string call;  // "NetWkstaUserEnum", ...
  std::u16string target;
  NET_API_STATUS status = 0;
};

struct SimDomain {
  std::u16string computerName;  // the local machine
  std::u16string localDomain;
  std::vector<SimDomainInfo> domains;
  std::vector<SimMachine> machines;
  std::vector<SimFault> faults;
  std::map<std::string, uint32_t> latencyMicros;  // per call name
};

// A malformed or inconsistent domain file. what() names the file, the place
// (a JSON pointer or line/column) and what is wrong.
class DomainFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The form under which names compare: case folded (ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic letters), so "pc-017" names PC-017.
std::u16string FoldName(std::u16string_view name);
// A server name as the calls take it: \\NAME and NAME name the same machine
// (up to two leading backslashes are dropped).
std::u16string_view StripBackslashes(std::u16string_view name);
// True for the call names that faults and latency may name ("NetWkstaUserEnum", ...).
bool IsCallName(std::string_view call);

// Parses a domain file's text; source names it in error messages.
SimDomain ParseDomainJson(const std::string& text, const std::string& source);
// The largest domain file that is read.
constexpr std::size_t kMaxDomainFileBytes = std::size_t{256} * 1024 * 1024;

// Reads and parses a domain file: a regular file of at most
// kMaxDomainFileBytes; anything else (a FIFO, a device, a folder) is refused
// before it is read.
SimDomain LoadDomainFile(const std::string& path);
// The demo domain compiled into the programs.
SimDomain DemoDomain();
// The demo domain's JSON text, as compiled in.
const std::string& DemoDomainJson();

// A large seeded domain for benchmarks: one domain with `machines` machines,
// each with `entriesPerMachine` logged-on entries, users known to the PDC.
struct GeneratorOptions {
  uint32_t machines = 1000;
  uint32_t entriesPerMachine = 3;
  uint32_t seed = 1;
  uint32_t latencyMicros = 0;  // for every call
  // Shares (0 to 1) of the machines other than the controller and the local
  // machine that are off (every call answers unreachableStatus after
  // unreachableMicros) or silent (no answer for silentMicros); the machines
  // are picked by the seed.
  double unreachableShare = 0;
  NET_API_STATUS unreachableStatus = ERROR_BAD_NETPATH;
  uint32_t unreachableMicros = 0;
  double silentShare = 0;
  uint32_t silentMicros = 0;
};
SimDomain GenerateDomain(const GeneratorOptions& options);

}  // namespace quorvix::sim
