#include "SimDomain.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "basStringHandler.h"

namespace quorvix::sim {

namespace {

constexpr std::array<std::string_view, 12> kCallNames = {
    "NetServerEnum",    "NetWkstaGetInfo",         "NetServerGetInfo",     "NetGetDCName",
    "NetWkstaUserEnum", "NetUserGetInfo",          "NetGroupEnum",         "NetUserGetGroups",
    "NetGroupGetInfo",  "NetLocalGroupAddMembers", "NetApiBufferAllocate", "NetApiBufferFree"};

// Calls whose fault target is a domain rather than a server.
bool TargetsDomain(std::string_view call) {
  return call == "NetServerEnum" || call == "NetGetDCName";
}

char16_t FoldChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    // Pairs start at even code points below U+0138 and from U+014A to U+0177,
    // at odd ones in between and from U+0179.
    const bool evenPairs = (c < 0x138) || (c >= 0x14A && c <= 0x177);
    const bool upper = evenPairs ? (c % 2 == 0) : (c % 2 == 1);
    return upper ? static_cast<char16_t>(c + 1) : c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

// ---------------------------------------------------------------------------
// The domain-file reader.

using nlohmann::json;

std::string PointerPart(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

const char* TypeName(const json& j) {
  switch (j.type()) {
    case json::value_t::null:
      return "null";
    case json::value_t::object:
      return "an object";
    case json::value_t::array:
      return "an array";
    case json::value_t::string:
      return "a string";
    case json::value_t::boolean:
      return "a boolean";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
      return "an integer";
    case json::value_t::number_float:
      return "a fractional number";
    default:
      return "an unsupported value";
  }
}

struct FlagName {
  std::string_view name;
  DWORD bit;
};
constexpr FlagName kFlags[] = {
    {"WORKSTATION", SV_TYPE_WORKSTATION},
    {"SERVER", SV_TYPE_SERVER},
    {"SQLSERVER", SV_TYPE_SQLSERVER},
    {"DOMAIN_CTRL", SV_TYPE_DOMAIN_CTRL},
    {"DOMAIN_BAKCTRL", SV_TYPE_DOMAIN_BAKCTRL},
    {"TIME_SOURCE", SV_TYPE_TIME_SOURCE},
    {"AFP", SV_TYPE_AFP},
    {"NOVELL", SV_TYPE_NOVELL},
    {"DOMAIN_MEMBER", SV_TYPE_DOMAIN_MEMBER},
    {"PRINTQ_SERVER", SV_TYPE_PRINTQ_SERVER},
    {"DIALIN_SERVER", SV_TYPE_DIALIN_SERVER},
    {"XENIX_SERVER", SV_TYPE_XENIX_SERVER},
    {"NT", SV_TYPE_NT},
    {"WFW", SV_TYPE_WFW},
    {"SERVER_MFPN", SV_TYPE_SERVER_MFPN},
    {"SERVER_NT", SV_TYPE_SERVER_NT},
    {"POTENTIAL_BROWSER", SV_TYPE_POTENTIAL_BROWSER},
    {"BACKUP_BROWSER", SV_TYPE_BACKUP_BROWSER},
    {"MASTER_BROWSER", SV_TYPE_MASTER_BROWSER},
    {"DOMAIN_MASTER", SV_TYPE_DOMAIN_MASTER},
    {"WINDOWS", 0x00400000},
    {"DFS", 0x00800000},
    {"TERMINALSERVER", 0x02000000},
};

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void Fail(const std::string& where, const std::string& what) const {
    throw DomainFileError(source_ + ": " + (where.empty() ? std::string("(top level)") : where) +
                          ": " + what);
  }

  void Object(const json& j, const std::string& where) const {
    if (!j.is_object()) Fail(where, std::string("expected an object, found ") + TypeName(j));
  }
  void Array(const json& j, const std::string& where) const {
    if (!j.is_array()) Fail(where, std::string("expected an array, found ") + TypeName(j));
  }

  // Refuses members other than those named: a misspelt key would otherwise be
  // ignored without a word.
  void OnlyKeys(const json& obj, const std::string& where,
                std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : obj.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        std::string list;
        for (auto a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
        Fail(where + "/" + PointerPart(key), "unknown field \"" + key + "\" (known: " + list + ")");
      }
    }
  }

  const json* Member(const json& obj, const std::string& where, const char* key,
                     bool required) const {
    auto it = obj.find(key);
    if (it == obj.end()) {
      if (required) Fail(where + "/" + key, std::string("missing required field \"") + key + "\"");
      return nullptr;
    }
    return &*it;
  }

  std::u16string Text(const json& j, const std::string& where) const {
    if (!j.is_string()) Fail(where, std::string("expected a string, found ") + TypeName(j));
    return FromUtf8(j.get_ref<const std::string&>());
  }

  std::u16string Text(const json& obj, const std::string& where, const char* key, bool required,
                      bool nonEmpty = false) const {
    const json* m = Member(obj, where, key, required);
    if (m == nullptr) return {};
    std::u16string t = Text(*m, where + "/" + key);
    if (nonEmpty && t.empty()) Fail(where + "/" + key, "must not be empty");
    return t;
  }

  // A name of a machine or domain: not empty, no backslash.
  std::u16string Name(const json& obj, const std::string& where, const char* key,
                      bool required) const {
    std::u16string t = Text(obj, where, key, required, required);
    if (t.find(u'\\') != std::u16string::npos)
      Fail(where + "/" + key, "a name must not contain a backslash");
    return t;
  }

  uint32_t U32(const json& j, const std::string& where) const {
    if (j.is_number_unsigned()) {
      const auto v = j.get<std::uint64_t>();
      if (v > 0xFFFFFFFFull)
        Fail(where, "number " + std::to_string(v) + " is out of range (0 to 4294967295)");
      return static_cast<uint32_t>(v);
    }
    if (j.is_number_integer())  // only negative values land here
      Fail(where, "number " + std::to_string(j.get<std::int64_t>()) +
                      " is out of range (0 to 4294967295)");
    if (j.is_number_float()) Fail(where, "expected a whole number from 0 to 4294967295");
    Fail(where, std::string("expected a number, found ") + TypeName(j));
  }

  uint32_t U32(const json& obj, const std::string& where, const char* key, bool required,
               uint32_t fallback) const {
    const json* m = Member(obj, where, key, required);
    return m == nullptr ? fallback : U32(*m, where + "/" + key);
  }

  uint32_t Status(const json& j, const std::string& where) const {
    const uint32_t v = U32(j, where);
    if (v == 0) Fail(where, "a failure status must not be 0");
    return v;
  }

  // A type word: a number, a hexadecimal string "0x...", or a list of flag names.
  uint32_t TypeWord(const json& j, const std::string& where) const {
    if (j.is_number()) return U32(j, where);
    if (j.is_string()) {
      const std::string& s = j.get_ref<const std::string&>();
      if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X') ||
          s.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
        Fail(where, "\"" + s + "\" is not a hexadecimal type word like \"0x00009003\"");
      return static_cast<uint32_t>(std::stoul(s.substr(2), nullptr, 16));
    }
    if (j.is_array()) {
      uint32_t word = 0;
      for (std::size_t i = 0; i < j.size(); ++i) {
        const std::string w = where + "/" + std::to_string(i);
        if (!j[i].is_string())
          Fail(w, std::string("expected a flag name, found ") + TypeName(j[i]));
        std::string name = j[i].get<std::string>();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (name.rfind("SV_TYPE_", 0) == 0) name.erase(0, 8);
        const auto* f = std::find_if(std::begin(kFlags), std::end(kFlags),
                                     [&](const FlagName& fl) { return fl.name == name; });
        if (f == std::end(kFlags))
          Fail(w, "unknown server-type flag \"" + j[i].get<std::string>() + "\"");
        word |= f->bit;
      }
      return word;
    }
    Fail(where, std::string("expected a type word (number, \"0x...\" or list of flag names), "
                            "found ") +
                    TypeName(j));
  }

  std::vector<std::u16string> TextList(const json& obj, const std::string& where,
                                       const char* key) const {
    std::vector<std::u16string> out;
    const json* m = Member(obj, where, key, false);
    if (m == nullptr) return out;
    const std::string w = where + "/" + key;
    Array(*m, w);
    for (std::size_t i = 0; i < m->size(); ++i) {
      std::u16string t = Text((*m)[i], w + "/" + std::to_string(i));
      if (t.empty()) Fail(w + "/" + std::to_string(i), "must not be empty");
      out.push_back(std::move(t));
    }
    return out;
  }

  std::vector<SimGroup> Groups(const json& obj, const std::string& where, const char* key) const {
    std::vector<SimGroup> out;
    const json* m = Member(obj, where, key, false);
    if (m == nullptr) return out;
    const std::string w = where + "/" + key;
    Array(*m, w);
    std::unordered_map<std::u16string, std::size_t> seen;
    for (std::size_t i = 0; i < m->size(); ++i) {
      const std::string gw = w + "/" + std::to_string(i);
      const json& g = (*m)[i];
      Object(g, gw);
      OnlyKeys(g, gw, {"name", "comment", "members"});
      SimGroup group;
      group.name = Text(g, gw, "name", true, true);
      group.comment = Text(g, gw, "comment", false);
      group.members = TextList(g, gw, "members");
      if (auto [it, fresh] = seen.emplace(FoldName(group.name), i); !fresh)
        Fail(gw + "/name", "duplicate group \"" + ToUtf8(group.name) + "\" (also at " + w + "/" +
                               std::to_string(it->second) + ")");
      out.push_back(std::move(group));
    }
    return out;
  }

  SimMachine Machine(const json& j, const std::string& where) const {
    Object(j, where);
    OnlyKeys(j, where,
             {"name", "domain", "type", "comment", "versionMajor", "versionMinor", "sessions",
              "sessionsStatus", "users", "globalGroups", "localGroups", "latencyMicros",
              "unreachable", "silentMicros"});
    SimMachine m;
    m.name = Name(j, where, "name", true);
    m.domain = Name(j, where, "domain", true);
    m.type = TypeWord(*Member(j, where, "type", true), where + "/type");
    m.comment = Text(j, where, "comment", false);
    m.versionMajor = U32(j, where, "versionMajor", false, 5);
    m.versionMinor = U32(j, where, "versionMinor", false, 0);

    if (const json* st = Member(j, where, "sessionsStatus", false)) {
      if (j.contains("sessions"))
        Fail(where + "/sessionsStatus",
             "a machine has either \"sessions\" or \"sessionsStatus\", not both");
      m.sessionsStatus = Status(*st, where + "/sessionsStatus");
    }
    if (const json* ss = Member(j, where, "sessions", false)) {
      const std::string w = where + "/sessions";
      Array(*ss, w);
      for (std::size_t i = 0; i < ss->size(); ++i) {
        const std::string ew = w + "/" + std::to_string(i);
        const json& e = (*ss)[i];
        Object(e, ew);
        OnlyKeys(e, ew, {"user", "logonDomain", "otherDomains", "logonServer"});
        SimLogonEntry entry;
        entry.user = Text(e, ew, "user", true, true);
        entry.logonDomain = Text(e, ew, "logonDomain", true);
        entry.otherDomains = Text(e, ew, "otherDomains", false);
        entry.logonServer = Text(e, ew, "logonServer", false);
        m.sessions.push_back(std::move(entry));
      }
    }

    m.globalGroups = Groups(j, where, "globalGroups");
    m.localGroups = Groups(j, where, "localGroups");
    m.latencyMicros = Latencies(j, where);
    if (const json* un = Member(j, where, "unreachable", false)) {
      const std::string w = where + "/unreachable";
      Object(*un, w);
      OnlyKeys(*un, w, {"status", "afterMicros"});
      m.unreachableStatus = Status(*Member(*un, w, "status", true), w + "/status");
      m.unreachableMicros = U32(*un, w, "afterMicros", false, 0);
    }
    m.silentMicros = U32(j, where, "silentMicros", false, 0);
    if (m.unreachableStatus && m.silentMicros > 0)
      Fail(where + "/silentMicros", "a machine is either \"unreachable\" or silent, not both");

    if (const json* us = Member(j, where, "users", false)) {
      const std::string w = where + "/users";
      Array(*us, w);
      std::unordered_map<std::u16string, std::size_t> seen;
      for (std::size_t i = 0; i < us->size(); ++i) {
        const std::string uw = w + "/" + std::to_string(i);
        const json& u = (*us)[i];
        Object(u, uw);
        OnlyKeys(u, uw, {"name", "lastLogon", "groups"});
        SimUser user;
        user.name = Text(u, uw, "name", true, true);
        user.lastLogon = U32(u, uw, "lastLogon", false, 0);
        user.groups = TextList(u, uw, "groups");
        if (auto [it, fresh] = seen.emplace(FoldName(user.name), i); !fresh)
          Fail(uw + "/name", "duplicate user \"" + ToUtf8(user.name) + "\" (also at " + w + "/" +
                                 std::to_string(it->second) + ")");
        for (std::size_t k = 0; k < user.groups.size(); ++k) {
          const std::u16string key = FoldName(user.groups[k]);
          const bool known =
              std::any_of(m.globalGroups.begin(), m.globalGroups.end(),
                          [&](const SimGroup& g) { return FoldName(g.name) == key; });
          if (!known)
            Fail(uw + "/groups/" + std::to_string(k),
                 "\"" + ToUtf8(user.groups[k]) + "\" is not a global group of this machine");
        }
        m.users.push_back(std::move(user));
      }
    }
    return m;
  }

  SimDomain Document(const json& root) const {
    Object(root, "");
    OnlyKeys(root, "", {"local", "domains", "machines", "faults", "latencyMicros"});
    SimDomain d;

    const json& local = *Member(root, "", "local", true);
    Object(local, "/local");
    OnlyKeys(local, "/local", {"computerName", "domain"});
    d.computerName = Name(local, "/local", "computerName", true);
    d.localDomain = Name(local, "/local", "domain", true);

    const json& domains = *Member(root, "", "domains", true);
    Array(domains, "/domains");
    std::unordered_map<std::u16string, std::size_t> domainAt;
    for (std::size_t i = 0; i < domains.size(); ++i) {
      const std::string w = "/domains/" + std::to_string(i);
      Object(domains[i], w);
      OnlyKeys(domains[i], w, {"name", "pdc"});
      SimDomainInfo info;
      info.name = Name(domains[i], w, "name", true);
      info.pdc = Name(domains[i], w, "pdc", false);
      if (auto [it, fresh] = domainAt.emplace(FoldName(info.name), i); !fresh)
        Fail(w + "/name", "duplicate domain \"" + ToUtf8(info.name) + "\" (also at /domains/" +
                              std::to_string(it->second) + ")");
      d.domains.push_back(std::move(info));
    }
    if (!domainAt.count(FoldName(d.localDomain)))
      Fail("/local/domain",
           "the local domain \"" + ToUtf8(d.localDomain) + "\" is not listed in /domains");

    const json& machines = *Member(root, "", "machines", true);
    Array(machines, "/machines");
    std::unordered_map<std::u16string, std::size_t> machineAt;
    for (std::size_t i = 0; i < machines.size(); ++i) {
      const std::string w = "/machines/" + std::to_string(i);
      SimMachine m = Machine(machines[i], w);
      if (auto [it, fresh] = machineAt.emplace(FoldName(m.name), i); !fresh)
        Fail(w + "/name", "duplicate machine \"" + ToUtf8(m.name) + "\" (also at /machines/" +
                              std::to_string(it->second) + ")");
      if (!domainAt.count(FoldName(m.domain)))
        Fail(w + "/domain", "unknown domain \"" + ToUtf8(m.domain) + "\" (not listed in /domains)");
      d.machines.push_back(std::move(m));
    }

    for (std::size_t i = 0; i < d.domains.size(); ++i) {
      const SimDomainInfo& info = d.domains[i];
      if (info.pdc.empty()) continue;
      const std::string w = "/domains/" + std::to_string(i) + "/pdc";
      auto it = machineAt.find(FoldName(info.pdc));
      if (it == machineAt.end())
        Fail(w, "primary controller \"" + ToUtf8(info.pdc) + "\" is not a machine in /machines");
      if (FoldName(d.machines[it->second].domain) != FoldName(info.name))
        Fail(w, "primary controller \"" + ToUtf8(info.pdc) + "\" belongs to domain \"" +
                    ToUtf8(d.machines[it->second].domain) + "\"");
    }

    if (const json* faults = Member(root, "", "faults", false)) {
      Array(*faults, "/faults");
      for (std::size_t i = 0; i < faults->size(); ++i) {
        const std::string w = "/faults/" + std::to_string(i);
        const json& f = (*faults)[i];
        Object(f, w);
        OnlyKeys(f, w, {"call", "target", "status"});
        SimFault fault;
        const json* call = Member(f, w, "call", true);
        if (!call->is_string())
          Fail(w + "/call", std::string("expected a string, found ") + TypeName(*call));
        fault.call = call->get<std::string>();
        if (!IsCallName(fault.call)) Fail(w + "/call", "unknown call \"" + fault.call + "\"");
        if (fault.call == "NetApiBufferFree")
          Fail(w + "/call", "NetApiBufferFree cannot be given a fault");
        fault.target = Text(f, w, "target", false);
        fault.status = Status(*Member(f, w, "status", true), w + "/status");
        if (!fault.target.empty()) {
          const std::u16string key = FoldName(StripBackslashes(fault.target));
          if (TargetsDomain(fault.call)) {
            if (!domainAt.count(key))
              Fail(w + "/target", "unknown domain \"" + ToUtf8(fault.target) + "\"");
          } else if (!machineAt.count(key) && key != FoldName(d.computerName)) {
            Fail(w + "/target", "unknown machine \"" + ToUtf8(fault.target) + "\"");
          }
        }
        d.faults.push_back(std::move(fault));
      }
    }

    d.latencyMicros = Latencies(root, "");
    return d;
  }

  // A "latencyMicros" object: call name (or "*") to microseconds.
  std::map<std::string, uint32_t> Latencies(const json& j, const std::string& where) const {
    std::map<std::string, uint32_t> out;
    const json* lat = Member(j, where, "latencyMicros", false);
    if (lat == nullptr) return out;
    const std::string lw = where + "/latencyMicros";
    Object(*lat, lw);
    for (const auto& [call, value] : lat->items()) {
      const std::string w = lw + "/" + PointerPart(call);
      if (call != "*" && !IsCallName(call)) Fail(w, "unknown call \"" + call + "\"");
      out[call] = U32(value, w);
    }
    return out;
  }

 private:
  std::string source_;
};

}  // namespace

std::u16string FoldName(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) c = FoldChar(c);
  return out;
}

std::u16string_view StripBackslashes(std::u16string_view name) {
  for (int i = 0; i < 2 && !name.empty() && name.front() == u'\\'; ++i) name.remove_prefix(1);
  return name;
}

bool IsCallName(std::string_view call) {
  return std::find(kCallNames.begin(), kCallNames.end(), call) != kCallNames.end();
}

namespace {

std::string LineColumn(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n')
      ++line, column = 1;
    else
      ++column;
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The parser's reason without its "[json.exception...] parse error at ...: " prefix.
std::string Reason(const std::string& what) {
  std::string reason = what;
  if (const auto close = reason.find("] ");
      reason.rfind("[json.exception", 0) == 0 && close != std::string::npos)
    reason = reason.substr(close + 2);
  if (const auto p = reason.find("column "); p != std::string::npos)
    if (const auto colon = reason.find(": ", p); colon != std::string::npos)
      reason = reason.substr(colon + 2);
  return reason;
}

// Watches the parser's events for a field given twice in one object, which
// the parser would otherwise settle by keeping the last silently.
class DuplicateFieldWatch {
 public:
  struct Found {
    std::string where;
    std::string key;
  };

  bool operator()(int, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        frames_.push_back({event == json::parse_event_t::array_start, 0, {}, {}, Component()});
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        if (!frames_.empty()) frames_.pop_back();
        Counted();
        break;
      case json::parse_event_t::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        Frame& top = frames_.back();
        if (!top.keys.insert(key).second) throw Found{Pointer() + "/" + PointerPart(key), key};
        top.key = key;
        break;
      }
      case json::parse_event_t::value:
        Counted();
        break;
    }
    return true;
  }

 private:
  struct Frame {
    bool array;
    std::size_t count;
    std::string key;
    std::set<std::string> keys;
    std::string component;  // this container's place in its parent
  };

  std::string Component() const {
    if (frames_.empty()) return {};
    const Frame& p = frames_.back();
    return "/" + (p.array ? std::to_string(p.count) : PointerPart(p.key));
  }
  void Counted() {
    if (!frames_.empty() && frames_.back().array) ++frames_.back().count;
  }
  std::string Pointer() const {
    std::string out;
    for (const auto& f : frames_) out += f.component;
    return out;
  }

  std::vector<Frame> frames_;
};

}  // namespace

SimDomain ParseDomainJson(const std::string& text, const std::string& source) {
  json root;
  try {
    DuplicateFieldWatch watch;
    root = json::parse(text, std::ref(watch), true, false);
  } catch (const DuplicateFieldWatch::Found& dup) {
    throw DomainFileError(source + ": " + dup.where + ": field \"" + dup.key + "\" given twice");
  } catch (const json::parse_error& e) {
    // The parser counts bytes (one past the last it read); people count lines and columns.
    throw DomainFileError(source + ": " + LineColumn(text, e.byte == 0 ? 0 : e.byte - 1) + ": " +
                          Reason(e.what()));
  } catch (const json::exception& e) {
    // A number too large for any type: the parser names the token, not its place.
    std::string place = "(unknown place)";
    const std::string what = e.what();
    if (const auto open = what.find("parsing '"); open != std::string::npos) {
      const auto close = what.rfind('\'');
      const std::string token = what.substr(open + 9, close > open + 9 ? close - open - 9 : 0);
      if (const auto at = text.find(token); !token.empty() && at != std::string::npos)
        place = LineColumn(text, at);
    }
    throw DomainFileError(source + ": " + place + ": " + Reason(what));
  }
  try {
    return Reader(source).Document(root);
  } catch (const json::exception& e) {
    // A safety net: the reader checks types before it reads, so this is a
    // case it missed; still an error about the file, never a crash.
    throw DomainFileError(source + ": " + Reason(e.what()));
  }
}

SimDomain LoadDomainFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DomainFileError(path + ": cannot open the domain file");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw DomainFileError(path + ": cannot read the domain file");
  return ParseDomainJson(text.str(), path);
}

// The demo domain's text is generated from demo-domain.json at build time.
extern const unsigned char kDemoDomainJson[];
extern const std::size_t kDemoDomainJsonSize;

const std::string& DemoDomainJson() {
  static const std::string text(reinterpret_cast<const char*>(kDemoDomainJson),
                                kDemoDomainJsonSize);
  return text;
}

SimDomain DemoDomain() {
  return ParseDomainJson(DemoDomainJson(), "built-in demo domain");
}

SimDomain GenerateDomain(const GeneratorOptions& options) {
  // mt19937's sequence is fixed by the standard (its distributions are not),
  // so the same seed gives the same domain everywhere.
  std::mt19937 rng(options.seed);
  auto pick = [&rng](uint32_t n) { return n == 0 ? 0u : static_cast<uint32_t>(rng() % n); };
  auto u16 = [](const std::string& s) { return std::u16string(s.begin(), s.end()); };
  auto numbered = [](const char* prefix, uint32_t n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%06u", prefix, n);
    return std::string(buf);
  };

  SimDomain d;
  d.localDomain = u"BENCH";
  d.domains.push_back({u"BENCH", u"PDC01"});

  const uint32_t count = std::max<uint32_t>(1, options.machines);
  const uint64_t entries = uint64_t{count} * options.entriesPerMachine;
  // About two entries per user: users log on at more than one machine.
  const uint32_t userCount = static_cast<uint32_t>(std::max<uint64_t>(1, (entries + 1) / 2));

  SimMachine pdc;
  pdc.name = u"PDC01";
  pdc.domain = u"BENCH";
  pdc.type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_DOMAIN_CTRL | SV_TYPE_TIME_SOURCE |
             SV_TYPE_NT | SV_TYPE_SERVER_NT | SV_TYPE_MASTER_BROWSER | SV_TYPE_DOMAIN_MASTER;
  pdc.comment = u"Primary domain controller";
  pdc.versionMajor = 4;
  pdc.globalGroups.push_back({u"Domain Admins", u"Designated administrators of the domain", {}});
  pdc.globalGroups.push_back({u"Domain Users", u"All domain users", {}});
  pdc.localGroups.push_back(
      {u"Administrators", u"Members can fully administer the computer", {u"BENCH\\Domain Admins"}});
  pdc.users.reserve(userCount);
  for (uint32_t i = 0; i < userCount; ++i) {
    SimUser u;
    u.name = u16(numbered("user", i));
    // Logons spread over 2002.
    u.lastLogon = 1009843200u + pick(365u * 86400u);
    u.groups = {u"Domain Users"};
    pdc.users.push_back(std::move(u));
  }
  d.machines.push_back(std::move(pdc));

  for (uint32_t i = 1; i < count; ++i) {
    SimMachine m;
    m.name = u16(numbered("WKS-", i));
    m.domain = u"BENCH";
    m.type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT | SV_TYPE_POTENTIAL_BROWSER;
    d.machines.push_back(std::move(m));
  }
  for (auto& m : d.machines) {
    m.sessions.reserve(options.entriesPerMachine);
    for (uint32_t k = 0; k < options.entriesPerMachine; ++k) {
      SimLogonEntry e;
      e.user = u16(numbered("user", pick(userCount)));
      e.logonDomain = u"BENCH";
      e.logonServer = u"PDC01";
      m.sessions.push_back(std::move(e));
    }
  }
  d.computerName = d.machines.size() > 1 ? d.machines[1].name : d.machines[0].name;
  if (options.latencyMicros > 0) d.latencyMicros["*"] = options.latencyMicros;

  // Dead machines: a seeded shuffle of the machines other than the
  // controller and the local machine, the first ones off, the next silent.
  std::vector<std::size_t> others;
  for (std::size_t i = 1; i < d.machines.size(); ++i)
    if (d.machines[i].name != d.computerName) others.push_back(i);
  for (std::size_t i = others.size(); i > 1; --i)
    std::swap(others[i - 1], others[pick(static_cast<uint32_t>(i))]);
  auto share = [&](double s) {
    return static_cast<std::size_t>(std::clamp(s, 0.0, 1.0) * double(others.size()) + 0.5);
  };
  const std::size_t off = share(options.unreachableShare);
  const std::size_t silent = std::min(others.size() - off, share(options.silentShare));
  for (std::size_t k = 0; k < off; ++k) {
    SimMachine& m = d.machines[others[k]];
    m.unreachableStatus = options.unreachableStatus;
    m.unreachableMicros = options.unreachableMicros;
  }
  for (std::size_t k = off; k < off + silent; ++k)
    d.machines[others[k]].silentMicros = options.silentMicros;
  return d;
}

}  // namespace quorvix::sim
