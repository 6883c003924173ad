#include "SimDomain.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <system_error>
#include <unordered_map>
#include <utility>

#ifdef _WIN32
#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
  return static_cast<char16_t>(FoldCase(c));
}

// ---------------------------------------------------------------------------
// The domain-file reader.

using nlohmann::json;

// Containers nest at most this deep in a domain file: the document, the
// machines, a machine, its users, a user, the user's groups.
constexpr std::size_t kMaxNesting = 6;

// The longest latency a call may be given, in microseconds: one hour.
constexpr uint32_t kMaxLatencyMicros = 3600u * 1000u * 1000u;

// A text of the file as a message quotes it: control characters appear as
// \uXXXX escapes, so that a message stays one line of plain text.
std::string Shown(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}
std::string Shown(const std::u16string& text) {
  return Shown(ToUtf8(text));
}

std::string PointerPart(std::string_view key) {
  std::string out;
  for (char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return Shown(out);
}

// The place of a value in the file. Spelt out as a JSON pointer only when a
// message names it: a file is read without building a text per value, and
// the time to read a machine does not grow with the number of digits of its
// index.
class Where {
 public:
  Where operator/(std::string_view key) const { return Child({key, 0}); }
  Where operator/(std::size_t index) const { return Child({{}, index}); }

  std::string Pointer() const {
    if (depth_ == 0) return "(top level)";
    std::string out;
    for (std::size_t i = 0; i < depth_; ++i) {
      const Part& p = parts_[i];
      out += '/';
      out += p.key.data() != nullptr ? PointerPart(p.key) : std::to_string(p.index);
    }
    return out;
  }

 private:
  struct Part {
    std::string_view key;  // names a member; without one, an element
    std::size_t index;
  };

  Where Child(Part part) const {
    // The reader goes no deeper than the containers nest, plus one field.
    if (depth_ == parts_.size()) throw std::logic_error("a place in the file nests too deep");
    Where w = *this;
    w.parts_[w.depth_++] = part;
    return w;
  }

  std::array<Part, kMaxNesting + 1> parts_{};
  std::size_t depth_ = 0;
};

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

// Machines by name as names compare (case folded). The names' hashes are
// taken as the machines are read and sorted once at the end, in passes that
// go through memory in order: a large domain never waits on memory at
// random, so loading stays linear in practice, not only in theory.
class MachineIndex {
 public:
  explicit MachineIndex(const std::vector<SimMachine>& machines) : machines_(machines) {}

  static uint32_t Hash(std::u16string_view name) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char16_t c : name) h = (h ^ FoldChar(c)) * 1099511628211ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }

  // Takes the next machine: machines_[count], where count is the number of
  // machines taken before.
  void Add(uint32_t h) { entries_.push_back({h, static_cast<uint32_t>(entries_.size())}); }

  struct Duplicate {
    std::size_t index = kNone;    // the first machine whose name an earlier one has
    std::size_t earlier = kNone;  // the first machine of that name
  };

  // Sorts the names once every machine is taken; then Find works.
  Duplicate Sort() {
    // By hash, eight bits at a time; each pass keeps the order of the last,
    // so machines of one hash stay in list order.
    std::vector<Entry> other(entries_.size());
    for (int shift = 0; shift < 32; shift += 8) {
      std::array<std::size_t, 257> start{};
      for (const Entry& e : entries_) ++start[((e.hash >> shift) & 0xFF) + 1];
      for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
      for (const Entry& e : entries_) other[start[(e.hash >> shift) & 0xFF]++] = e;
      entries_.swap(other);
    }
    // Machines of one hash (nearly always one) by name, then in list order.
    Duplicate first;
    for (std::size_t a = 0, b = 0; a < entries_.size(); a = b) {
      for (b = a + 1; b < entries_.size() && entries_[b].hash == entries_[a].hash;) ++b;
      if (b - a == 1) continue;
      std::sort(entries_.begin() + a, entries_.begin() + b, [&](const Entry& x, const Entry& y) {
        const int c = Compare(machines_[x.index].name, machines_[y.index].name);
        return c != 0 ? c < 0 : x.index < y.index;
      });
      for (std::size_t g = a, h = a; g < b; g = h) {
        for (h = g + 1; h < b && SameName(entries_[g], entries_[h]);) ++h;
        if (h - g > 1 && entries_[g + 1].index < first.index)
          first = {entries_[g + 1].index, entries_[g].index};
      }
    }
    return first;
  }

  // The first machine of that name, or kNone.
  std::size_t Find(std::u16string_view name) const {
    const uint32_t h = Hash(name);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), h,
                               [](const Entry& e, uint32_t v) { return e.hash < v; });
    for (; it != entries_.end() && it->hash == h; ++it)
      if (Compare(machines_[it->index].name, name) == 0) return it->index;
    return kNone;
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

 private:
  // A domain file of at most 256 MiB holds far fewer than 2^32 machines.
  struct Entry {
    uint32_t hash;
    uint32_t index;
  };

  // Names as names compare: case folded.
  static int Compare(std::u16string_view a, std::u16string_view b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
      const char16_t x = FoldChar(a[i]), y = FoldChar(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }

  bool SameName(const Entry& x, const Entry& y) const {
    return Compare(machines_[x.index].name, machines_[y.index].name) == 0;
  }

  const std::vector<SimMachine>& machines_;
  std::vector<Entry> entries_;
};

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void Fail(const Where& where, const std::string& what) const {
    throw DomainFileError(source_ + ": " + where.Pointer() + ": " + what);
  }

  void Object(const json& j, const Where& where) const {
    if (!j.is_object()) Fail(where, std::string("expected an object, found ") + TypeName(j));
  }
  void Array(const json& j, const Where& where) const {
    if (!j.is_array()) Fail(where, std::string("expected an array, found ") + TypeName(j));
  }

  // Refuses members other than those named: a misspelt key would otherwise be
  // ignored without a word.
  void OnlyKeys(const json& obj, const Where& where,
                std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : obj.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        std::string list;
        for (auto a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
        Fail(where / key, "unknown field \"" + Shown(key) + "\" (known: " + list + ")");
      }
    }
  }

  const json* Member(const json& obj, const Where& where, const char* key, bool required) const {
    auto it = obj.find(key);
    if (it == obj.end()) {
      if (required) Fail(where / key, std::string("missing required field \"") + key + "\"");
      return nullptr;
    }
    return &*it;
  }

  std::u16string Text(const json& j, const Where& where) const {
    if (!j.is_string()) Fail(where, std::string("expected a string, found ") + TypeName(j));
    // Names travel NUL-terminated: "PC-01" and "PC-01\u0000B" would be one
    // machine on the wire and two in the file.
    const std::string& s = j.get_ref<const std::string&>();
    if (s.find('\0') != std::string::npos) Fail(where, "U+0000 is not allowed in a text");
    return FromUtf8(s);
  }

  std::u16string Text(const json& obj, const Where& where, const char* key, bool required,
                      bool nonEmpty = false) const {
    const json* m = Member(obj, where, key, required);
    if (m == nullptr) return {};
    std::u16string t = Text(*m, where / key);
    if (nonEmpty && t.empty()) Fail(where / key, "must not be empty");
    return t;
  }

  // A name of a machine or domain: not empty, no backslash.
  std::u16string Name(const json& obj, const Where& where, const char* key, bool required) const {
    std::u16string t = Text(obj, where, key, required, required);
    if (t.find(u'\\') != std::u16string::npos)
      Fail(where / key, "a name must not contain a backslash");
    return t;
  }

  uint32_t U32(const json& j, const Where& where) const {
    if (j.is_number_unsigned()) {
      const auto v = j.get<std::uint64_t>();
      if (v > 0xFFFFFFFFull)
        Fail(where, "number " + std::to_string(v) + " is out of range (0 to 4294967295)");
      return static_cast<uint32_t>(v);
    }
    if (j.is_number_integer() && j.get<std::int64_t>() == 0)  // written as -0
      Fail(where, "-0 is not a number from 0 to 4294967295; write 0");
    if (j.is_number_integer())  // only negative values land here
      Fail(where, "number " + std::to_string(j.get<std::int64_t>()) +
                      " is out of range (0 to 4294967295)");
    if (j.is_number_float()) Fail(where, "expected a whole number from 0 to 4294967295");
    Fail(where, std::string("expected a number, found ") + TypeName(j));
  }

  uint32_t U32(const json& obj, const Where& where, const char* key, bool required,
               uint32_t fallback) const {
    const json* m = Member(obj, where, key, required);
    return m == nullptr ? fallback : U32(*m, where / key);
  }

  uint32_t Status(const json& j, const Where& where) const {
    const uint32_t v = U32(j, where);
    if (v == 0) Fail(where, "a failure status must not be 0");
    return v;
  }

  // A type word: a number, a hexadecimal string "0x...", or a list of flag names.
  uint32_t TypeWord(const json& j, const Where& where) const {
    if (j.is_number()) return U32(j, where);
    if (j.is_string()) {
      const std::string& s = j.get_ref<const std::string&>();
      if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X') ||
          s.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos)
        Fail(where, "\"" + Shown(s) + "\" is not a hexadecimal type word like \"0x00009003\"");
      return static_cast<uint32_t>(std::stoul(s.substr(2), nullptr, 16));
    }
    if (j.is_array()) {
      uint32_t word = 0;
      for (std::size_t i = 0; i < j.size(); ++i) {
        const Where w = where / i;
        if (!j[i].is_string())
          Fail(w, std::string("expected a flag name, found ") + TypeName(j[i]));
        std::string name = j[i].get<std::string>();
        // ASCII only: std::toupper follows the locale, and a Turkish one
        // turns 'i' into something other than 'I'.
        std::transform(name.begin(), name.end(), name.begin(), [](char c) {
          return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        });
        if (name.rfind("SV_TYPE_", 0) == 0) name.erase(0, 8);
        const auto* f = std::find_if(std::begin(kFlags), std::end(kFlags),
                                     [&](const FlagName& fl) { return fl.name == name; });
        if (f == std::end(kFlags))
          Fail(w, "unknown server-type flag \"" + Shown(j[i].get<std::string>()) + "\"");
        word |= f->bit;
      }
      return word;
    }
    Fail(where, std::string("expected a type word (number, \"0x...\" or list of flag names), "
                            "found ") +
                    TypeName(j));
  }

  std::vector<std::u16string> TextList(const json& obj, const Where& where, const char* key) const {
    std::vector<std::u16string> out;
    const json* m = Member(obj, where, key, false);
    if (m == nullptr) return out;
    const Where w = where / key;
    Array(*m, w);
    for (std::size_t i = 0; i < m->size(); ++i) {
      std::u16string t = Text((*m)[i], w / i);
      if (t.empty()) Fail(w / i, "must not be empty");
      out.push_back(std::move(t));
    }
    return out;
  }

  std::vector<SimGroup> Groups(const json& obj, const Where& where, const char* key) const {
    std::vector<SimGroup> out;
    const json* m = Member(obj, where, key, false);
    if (m == nullptr) return out;
    const Where w = where / key;
    Array(*m, w);
    std::unordered_map<std::u16string, std::size_t> seen;
    for (std::size_t i = 0; i < m->size(); ++i) {
      const Where gw = w / i;
      const json& g = (*m)[i];
      Object(g, gw);
      OnlyKeys(g, gw, {"name", "comment", "members"});
      SimGroup group;
      group.name = Text(g, gw, "name", true, true);
      group.comment = Text(g, gw, "comment", false);
      group.members = TextList(g, gw, "members");
      if (auto [it, fresh] = seen.emplace(FoldName(group.name), i); !fresh)
        Fail(gw / "name", "duplicate group \"" + Shown(group.name) + "\" (also at " +
                              (w / it->second).Pointer() + ")");
      out.push_back(std::move(group));
    }
    return out;
  }

  SimMachine Machine(const json& j, const Where& where) const {
    Object(j, where);
    OnlyKeys(j, where,
             {"name", "domain", "type", "comment", "versionMajor", "versionMinor", "sessions",
              "sessionsStatus", "users", "globalGroups", "localGroups", "latencyMicros",
              "unreachable", "silentMicros"});
    SimMachine m;
    m.name = Name(j, where, "name", true);
    m.domain = Name(j, where, "domain", true);
    m.type = TypeWord(*Member(j, where, "type", true), where / "type");
    m.comment = Text(j, where, "comment", false);
    m.versionMajor = U32(j, where, "versionMajor", false, 5);
    m.versionMinor = U32(j, where, "versionMinor", false, 0);

    if (const json* st = Member(j, where, "sessionsStatus", false)) {
      if (j.contains("sessions"))
        Fail(where / "sessionsStatus",
             "a machine has either \"sessions\" or \"sessionsStatus\", not both");
      m.sessionsStatus = Status(*st, where / "sessionsStatus");
    }
    if (const json* ss = Member(j, where, "sessions", false)) {
      const Where w = where / "sessions";
      Array(*ss, w);
      for (std::size_t i = 0; i < ss->size(); ++i) {
        const Where ew = w / i;
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
      const Where w = where / "unreachable";
      Object(*un, w);
      OnlyKeys(*un, w, {"status", "afterMicros"});
      m.unreachableStatus = Status(*Member(*un, w, "status", true), w / "status");
      if (const json* after = Member(*un, w, "afterMicros", false))
        m.unreachableMicros = Micros(*after, w / "afterMicros");
    }
    if (const json* silent = Member(j, where, "silentMicros", false))
      m.silentMicros = Micros(*silent, where / "silentMicros");
    if (m.unreachableStatus && m.silentMicros > 0)
      Fail(where / "silentMicros", "a machine is either \"unreachable\" or silent, not both");

    if (const json* us = Member(j, where, "users", false)) {
      const Where w = where / "users";
      Array(*us, w);
      std::unordered_map<std::u16string, std::size_t> seen;
      for (std::size_t i = 0; i < us->size(); ++i) {
        const Where uw = w / i;
        const json& u = (*us)[i];
        Object(u, uw);
        OnlyKeys(u, uw, {"name", "lastLogon", "groups"});
        SimUser user;
        user.name = Text(u, uw, "name", true, true);
        user.lastLogon = U32(u, uw, "lastLogon", false, 0);
        user.groups = TextList(u, uw, "groups");
        if (auto [it, fresh] = seen.emplace(FoldName(user.name), i); !fresh)
          Fail(uw / "name", "duplicate user \"" + Shown(user.name) + "\" (also at " +
                                (w / it->second).Pointer() + ")");
        for (std::size_t k = 0; k < user.groups.size(); ++k) {
          const std::u16string key = FoldName(user.groups[k]);
          const bool known =
              std::any_of(m.globalGroups.begin(), m.globalGroups.end(),
                          [&](const SimGroup& g) { return FoldName(g.name) == key; });
          if (!known)
            Fail(uw / "groups" / k,
                 "\"" + Shown(user.groups[k]) + "\" is not a global group of this machine");
        }
        m.users.push_back(std::move(user));
      }
    }
    return m;
  }

  // Reads machine `index` of /machines as soon as the parser has it, so that
  // the document never holds every machine at once.
  // Machines after an element that is no container (which Document refuses)
  // are left to Document. Names and domains are taken in while the machine
  // is still in the cache: going over every machine again afterwards would
  // read them all back from memory.
  void EarlyMachine(const json& j, std::size_t index) {
    if (index != early_.size()) return;
    early_.push_back(Machine(j, Where() / "machines" / index));
    Taken(index);
  }

  // Notes the name and domain of machine `index`, just read.
  void Taken(std::size_t index) {
    const SimMachine& m = early_[index];
    machineAt_.Add(MachineIndex::Hash(m.name));
    if (m.domain != lastDomain_) {
      lastDomain_ = m.domain;
      domainUsers_.emplace(FoldName(m.domain), index);
    }
  }

  SimDomain Document(const json& root) {
    const Where top;
    Object(root, top);
    OnlyKeys(root, top, {"local", "domains", "machines", "faults", "latencyMicros"});
    SimDomain d;

    const json& local = *Member(root, top, "local", true);
    Object(local, top / "local");
    OnlyKeys(local, top / "local", {"computerName", "domain"});
    d.computerName = Name(local, top / "local", "computerName", true);
    d.localDomain = Name(local, top / "local", "domain", true);

    const json& domains = *Member(root, top, "domains", true);
    Array(domains, top / "domains");
    std::unordered_map<std::u16string, std::size_t> domainAt;
    for (std::size_t i = 0; i < domains.size(); ++i) {
      const Where w = top / "domains" / i;
      Object(domains[i], w);
      OnlyKeys(domains[i], w, {"name", "pdc"});
      SimDomainInfo info;
      info.name = Name(domains[i], w, "name", true);
      info.pdc = Name(domains[i], w, "pdc", false);
      if (auto [it, fresh] = domainAt.emplace(FoldName(info.name), i); !fresh)
        Fail(w / "name", "duplicate domain \"" + Shown(info.name) + "\" (also at " +
                             (top / "domains" / it->second).Pointer() + ")");
      d.domains.push_back(std::move(info));
    }
    if (!domainAt.count(FoldName(d.localDomain)))
      Fail(top / "local" / "domain",
           "the local domain \"" + Shown(d.localDomain) + "\" is not listed in /domains");

    const json& machines = *Member(root, top, "machines", true);
    Array(machines, top / "machines");
    // Machines after one that is no object never reach EarlyMachine; the
    // first of them is refused here.
    for (std::size_t i = early_.size(); i < machines.size(); ++i) {
      early_.push_back(Machine(machines[i], top / "machines" / i));
      Taken(i);
    }
    // The first machine that is wrong: named like an earlier one, or of a
    // domain not listed.
    const MachineIndex::Duplicate twice = machineAt_.Sort();
    std::size_t unknown = MachineIndex::kNone;
    for (const auto& [domain, first] : domainUsers_)
      if (!domainAt.count(domain)) unknown = std::min(unknown, first);
    if (twice.index != MachineIndex::kNone && twice.index <= unknown)
      Fail(top / "machines" / twice.index / "name",
           "duplicate machine \"" + Shown(early_[twice.index].name) + "\" (also at " +
               (top / "machines" / twice.earlier).Pointer() + ")");
    if (unknown != MachineIndex::kNone)
      Fail(top / "machines" / unknown / "domain",
           "unknown domain \"" + Shown(early_[unknown].domain) + "\" (not listed in /domains)");

    for (std::size_t i = 0; i < d.domains.size(); ++i) {
      const SimDomainInfo& info = d.domains[i];
      if (info.pdc.empty()) continue;
      const Where w = top / "domains" / i / "pdc";
      const std::size_t at = machineAt_.Find(info.pdc);
      if (at == MachineIndex::kNone)
        Fail(w, "primary controller \"" + Shown(info.pdc) + "\" is not a machine in /machines");
      if (FoldName(early_[at].domain) != FoldName(info.name))
        Fail(w, "primary controller \"" + Shown(info.pdc) + "\" belongs to domain \"" +
                    Shown(early_[at].domain) + "\"");
    }

    if (const json* faults = Member(root, top, "faults", false)) {
      Array(*faults, top / "faults");
      for (std::size_t i = 0; i < faults->size(); ++i) {
        const Where w = top / "faults" / i;
        const json& f = (*faults)[i];
        Object(f, w);
        OnlyKeys(f, w, {"call", "target", "status"});
        SimFault fault;
        const json* call = Member(f, w, "call", true);
        if (!call->is_string())
          Fail(w / "call", std::string("expected a string, found ") + TypeName(*call));
        fault.call = call->get<std::string>();
        if (!IsCallName(fault.call)) Fail(w / "call", "unknown call \"" + Shown(fault.call) + "\"");
        if (fault.call == "NetApiBufferFree")
          Fail(w / "call", "NetApiBufferFree cannot be given a fault");
        fault.target = Text(f, w, "target", false);
        fault.status = Status(*Member(f, w, "status", true), w / "status");
        if (!fault.target.empty()) {
          const std::u16string key = FoldName(StripBackslashes(fault.target));
          if (TargetsDomain(fault.call)) {
            if (!domainAt.count(key))
              Fail(w / "target", "unknown domain \"" + Shown(fault.target) + "\"");
          } else if (machineAt_.Find(key) == MachineIndex::kNone &&
                     key != FoldName(d.computerName)) {
            Fail(w / "target", "unknown machine \"" + Shown(fault.target) + "\"");
          }
        }
        d.faults.push_back(std::move(fault));
      }
    }

    d.latencyMicros = Latencies(root, top);
    d.machines = std::move(early_);
    return d;
  }

  // A "latencyMicros" object: call name (or "*") to microseconds.
  std::map<std::string, uint32_t> Latencies(const json& j, const Where& where) const {
    std::map<std::string, uint32_t> out;
    const json* lat = Member(j, where, "latencyMicros", false);
    if (lat == nullptr) return out;
    const Where lw = where / "latencyMicros";
    Object(*lat, lw);
    for (const auto& [call, value] : lat->items()) {
      const Where w = lw / call;
      if (call != "*" && !IsCallName(call)) Fail(w, "unknown call \"" + Shown(call) + "\"");
      out[call] = Micros(value, w);
    }
    return out;
  }

  // A delay in microseconds, at most one hour.
  uint32_t Micros(const json& value, const Where& where) const {
    const uint32_t micros = U32(value, where);
    if (micros > kMaxLatencyMicros)
      Fail(where, "a delay of " + std::to_string(micros) +
                      " microseconds is more than one hour (3600000000)");
    return micros;
  }

 private:
  std::string source_;
  std::vector<SimMachine> early_;  // /machines/0 to /machines/n-1, read while parsing
  MachineIndex machineAt_{early_};
  std::u16string lastDomain_;
  // Each domain the machines name (folded), with the first machine naming it.
  std::unordered_map<std::u16string, std::size_t> domainUsers_;
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

// Builds the document from the parser's events. Unlike the parser's own
// callback mode it keeps no list of discarded values to rescan, so loading
// stays linear in the file's size. It refuses on the spot a field given twice
// in one object (the parser would keep the last silently), a field name
// holding U+0000, and nesting deeper than any domain file needs.
class DocumentBuilder {
 public:
  using ElementSink = std::function<void(const json&, std::size_t)>;
  // machine is given each container in the top-level "machines" array once
  // it is complete; it is then dropped from the document.
  DocumentBuilder(const std::string& text, ElementSink machine)
      : text_(text), machine_(std::move(machine)) {}

  json& Root() { return root_; }
  const std::string& Error() const { return error_; }

  bool null() { return Put(json()); }
  bool boolean(bool v) { return Put(json(v)); }
  bool number_integer(json::number_integer_t v) { return Put(json(v)); }
  bool number_unsigned(json::number_unsigned_t v) { return Put(json(v)); }
  bool number_float(json::number_float_t v, const std::string&) { return Put(json(v)); }
  bool string(std::string& v) { return Put(json(std::move(v))); }
  bool binary(json::binary_t&) { return Stop(ValuePlace(), "binary values are not JSON"); }

  bool start_object(std::size_t) { return Open(json::object()); }
  bool start_array(std::size_t) { return Open(json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(std::string& key) {
    Frame& top = frames_.back();
    if (key.find('\0') != std::string::npos)
      return Stop(ContainerPlace() / key, "field name \"" + Shown(key) + "\" holds U+0000");
    if (top.value->contains(key))
      return Stop(ContainerPlace() / key, "field \"" + Shown(key) + "\" given twice");
    top.key = std::move(key);
    return true;
  }

  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::detail::exception& e) {
    if (e.id == 406) {
      // A number too large for any type: the parser stops right after it.
      const std::size_t start = position >= token.size() ? position - token.size() : 0;
      error_ = LineColumn(text_, start) + ": " + Reason(e.what());
    } else {
      // The parser counts bytes (one past the last it read); people count
      // lines and columns.
      error_ = LineColumn(text_, position == 0 ? 0 : position - 1) + ": " + Reason(e.what());
    }
    return false;
  }

 private:
  struct Frame {
    json* value;
    std::string key;  // the member being read, in an object
  };

  bool Stop(const Where& where, const std::string& what) {
    error_ = where.Pointer() + ": " + what;
    return false;
  }

  // The place of the innermost open container.
  Where ContainerPlace() const {
    Where out;
    for (std::size_t i = 0; i + 1 < frames_.size(); ++i) out = Member(out, frames_[i], 1);
    return out;
  }
  // The place of the value about to be read.
  Where ValuePlace() const {
    const Where out = ContainerPlace();
    return frames_.empty() ? out : Member(out, frames_.back(), 0);
  }
  // The member of a frame that is being read; in an array, its last element
  // (open = 1) or the next one (open = 0).
  static Where Member(const Where& place, const Frame& frame, std::size_t open) {
    if (frame.value->is_array()) return place / (frame.value->size() - open);
    return place / frame.key;
  }

  json* Place(json&& value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Frame& top = frames_.back();
    if (top.value->is_array()) {
      top.value->push_back(std::move(value));
      return &top.value->back();
    }
    json& slot = (*top.value)[top.key];
    slot = std::move(value);
    return &slot;
  }

  bool Put(json&& value) {
    Place(std::move(value));
    return true;
  }

  bool Open(json&& container) {
    if (frames_.size() >= kMaxNesting)
      return Stop(ValuePlace(), "nesting deeper than " + std::to_string(kMaxNesting) +
                                    " levels; no domain file needs more");
    frames_.push_back({Place(std::move(container)), {}});
    return true;
  }

  bool Close() {
    if (frames_.size() == 3 && frames_[0].value->is_object() && frames_[0].key == "machines" &&
        frames_[1].value->is_array()) {
      json& element = *frames_[2].value;
      machine_(element, frames_[1].value->size() - 1);
      element = nullptr;
    }
    frames_.pop_back();
    return true;
  }

  const std::string& text_;
  ElementSink machine_;
  json root_;
  std::vector<Frame> frames_;
  std::string error_;
};

}  // namespace

SimDomain ParseDomainJson(const std::string& text, const std::string& source) {
  Reader reader(source);
  DocumentBuilder builder(text,
                          [&reader](const json& m, std::size_t i) { reader.EarlyMachine(m, i); });
  bool parsed = false;
  try {
    parsed = json::sax_parse(text, &builder, json::input_format_t::json, true, false);
  } catch (const json::exception& e) {
    throw DomainFileError(source + ": " + Reason(e.what()));
  }
  if (!parsed) throw DomainFileError(source + ": " + builder.Error());
  try {
    return reader.Document(builder.Root());
  } catch (const json::exception& e) {
    // A safety net: the reader checks types before it reads, so this is a
    // case it missed; still an error about the file, never a crash.
    throw DomainFileError(source + ": " + Reason(e.what()));
  }
}

namespace {

[[noreturn]] void ReadFailed(const std::string& path, const std::string& what) {
  throw DomainFileError(path + ": " + what);
}

#ifndef _WIN32
std::string SystemReason(int error) {
  return std::generic_category().message(error);
}
#endif

}  // namespace

SimDomain LoadDomainFile(const std::string& path) {
  std::string text;
#ifdef _WIN32
  const std::filesystem::path file(
      std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
  std::error_code ec;
  const auto status = std::filesystem::status(file, ec);
  if (status.type() == std::filesystem::file_type::not_found)
    ReadFailed(path, "cannot open the domain file");
  if (ec) ReadFailed(path, "cannot open the domain file: " + ec.message());
  if (!std::filesystem::is_regular_file(status))
    ReadFailed(path, "cannot read the domain file: not a regular file");
  std::ifstream in(file, std::ios::binary);
  if (!in) ReadFailed(path, "cannot open the domain file");
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxDomainFileBytes) break;
  }
  if (in.bad()) ReadFailed(path, "cannot read the domain file");
#else
  // Opened without waiting, so that a FIFO with no writer cannot hold the
  // program; anything but a regular file is refused before a byte is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    ReadFailed(path, error == ENOENT ? std::string("cannot open the domain file")
                                     : "cannot open the domain file: " + SystemReason(error));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    ReadFailed(path, "cannot read the domain file: " + SystemReason(errno));
  if (!S_ISREG(st.st_mode)) ReadFailed(path, "cannot read the domain file: not a regular file");
  if (static_cast<unsigned long long>(st.st_size) > kMaxDomainFileBytes)
    ReadFailed(path, "the domain file is larger than " +
                         std::to_string(kMaxDomainFileBytes / (1024 * 1024)) + " MiB");
  text.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ReadFailed(path, "cannot read the domain file: " + SystemReason(errno));
    }
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
    if (text.size() > kMaxDomainFileBytes) break;  // it grew while being read
  }
#endif
  if (text.size() > kMaxDomainFileBytes)
    ReadFailed(path, "the domain file is larger than " +
                         std::to_string(kMaxDomainFileBytes / (1024 * 1024)) + " MiB");
  return ParseDomainJson(text, path);
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
