#include "SambaNetApi.h"

#include <cstdint>
// libnetapi's header: the platform's calls and records, with UTF-8 strings, at
// global scope (the provider's own records live in namespace quorvix).
#include <netapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AdDirectory.h"
#include "KerberosLogon.h"
#include "LookAhead.h"
#include "NetlogonClient.h"
#include "NetworkSetup.h"
#include "Reachability.h"
#include "RpcConnect.h"
#include "SambaLibs.h"
#include "SambaStatus.h"
#include "SamrClient.h"
#include "SrvsvcClient.h"
#include "WkssvcClient.h"
#include "basStringHandler.h"

extern "C" {
// libsamba-util: the configuration file that libnetapi reads.
void set_dyn_CONFIGFILE(const char* newpath);
}

// libnetapi leaves this level's record out of its header.
struct QuorvixSambaWkstaInfo100 {
  uint32_t wki100_platform_id;
  const char* wki100_computername;
  const char* wki100_langroup;
  uint32_t wki100_ver_major;
  uint32_t wki100_ver_minor;
};

namespace quorvix::samba {

namespace {

std::atomic<std::uint64_t> g_nextId{1};

// The one libnetapi context of the process, and whose credentials it holds.
struct NetapiContext {
  libnetapi_ctx* ctx = nullptr;
  unsigned calls = 0;
  std::uint64_t owner = 0;
  // libnetapi keeps one account-database (SAMR) session and reuses it for the
  // next server too, which then refuses it (status 5): a call to another
  // server than the last one starts from a fresh context.
  std::string samrServer;
  bool samrUsed = false;
  cli_credentials* creds = nullptr;  // handed to the library
};

NetapiContext& Context() {
  static NetapiContext c;
  return c;
}

// Call with LibraryStateLock held exclusively.
void ReleaseContext(NetapiContext& c) {
  if (c.ctx != nullptr) {
    libnetapi_free(c.ctx);
    // Its release freed the process-wide conversion handle; the next one is
    // made and readied here, not by the first threads that need it.
    ReadyCharsetConversions();
  }
  c.ctx = nullptr;
  FreeLibraryCredentials(c.creds);
  c.creds = nullptr;
  c.calls = 0;
  c.owner = 0;
  c.samrServer.clear();
  c.samrUsed = false;
}

// Makes the context ready for one call with creds; samrServer names the
// server of a call that uses the account database. Call under the lock.
NET_API_STATUS PrepareContext(std::uint64_t owner, const SambaCredentials& creds,
                              const std::string* samrServer = nullptr) {
  NetapiContext& c = Context();
  const bool otherSamr = samrServer != nullptr && c.samrUsed && c.samrServer != *samrServer;
  const bool renew = c.ctx != nullptr &&
                     (c.owner != owner || c.calls >= SambaNetApi::kCallsPerContext || otherSamr);
  std::unique_lock<std::shared_mutex> state(LibraryStateLock(), std::defer_lock);
  if (renew || c.ctx == nullptr) state.lock();
  if (renew) ReleaseContext(c);
  if (samrServer != nullptr) {
    c.samrServer = *samrServer;
    c.samrUsed = true;
  }
  if (c.ctx == nullptr) {
    if (NET_API_STATUS s = CheckNetworkInterfaces(); s != NERR_Success) return s;
    set_dyn_CONFIGFILE(ConfigFile());
    libnetapi_ctx* ctx = nullptr;
    const NET_API_STATUS s = libnetapi_init(&ctx);
    // Its setup (re)made the process-wide conversion handle.
    ReadyCharsetConversions();
    if (s != 0 || ctx == nullptr) return s != 0 ? FromLibnetapi(s) : ERROR_NOT_ENOUGH_MEMORY;
    ReadyConnectionSettings();
    // Its diagnostics go nowhere rather than to the user's terminal.
    libnetapi_set_logfile(ctx, "/dev/null");
    libnetapi_set_debuglevel(ctx, "0");
    // The library gets credentials made here: the user's ticket cache by
    // its name, or the user and password for NTLMSSP. Left to itself, the
    // library would get a ticket from the password and point the process's
    // KRB5CCNAME at it, under the feet of every other thread.
    if (creds.UsesTicketCache()) {
      libnetapi_set_use_kerberos(ctx);
      libnetapi_set_use_ccache(ctx);
      // With no password the library asks on the terminal; the ticket needs none.
      libnetapi_set_password(ctx, "");
    } else {
      // Credentials made here, with Kerberos off: left to itself, the
      // library would get a ticket from the password and point the
      // process's KRB5CCNAME at it, under the feet of every other thread.
      c.creds = MakeLibraryCredentials(creds);
      if (c.creds == nullptr) {
        libnetapi_free(ctx);
        return ERROR_NOT_ENOUGH_MEMORY;
      }
      libnetapi_set_creds(ctx, c.creds);
    }
    c.ctx = ctx;
    c.owner = owner;
  }
  ++c.calls;
  return NERR_Success;
}

// A name argument as the library wants it: UTF-8, or null for an absent one.
struct Arg {
  std::string text;
  bool present = false;
  const char* get() const { return present ? text.c_str() : nullptr; }
};

Arg NameArg(LPCWSTR p) {
  Arg a;
  if (p != nullptr) {
    a.text = ToUtf8(p);
    a.present = true;
  }
  return a;
}

// A server argument: backslashes dropped; the empty name means this machine.
Arg ServerArg(LPCWSTR p) {
  Arg a = NameArg(p);
  a.text = BareHost(a.text);
  a.present = !a.text.empty();
  return a;
}

// A few of libnetapi's failures are printed with stdio, past its log
// settings ("session setup failed: ..." on stdout). While the library works
// (under its lock), the C library's stdout and stderr streams name a stream
// to /dev/null. The file descriptors stay as they are, and so does every
// C++ stream (bound to the original streams when the program started): the
// program's own output, from any thread, is never lost.
class QuietStdio {
 public:
  QuietStdio() {
    static FILE* const devNull = std::fopen("/dev/null", "we");
    if (devNull == nullptr) return;
    saved_[0] = stdout;
    saved_[1] = stderr;
    stdout = devNull;
    stderr = devNull;
  }
  ~QuietStdio() {
    if (saved_[0] == nullptr) return;
    std::fflush(stdout);
    stdout = saved_[0];
    stderr = saved_[1];
  }
  QuietStdio(const QuietStdio&) = delete;
  QuietStdio& operator=(const QuietStdio&) = delete;

 private:
  FILE* saved_[2] = {nullptr, nullptr};
};

// One use of libnetapi: its lock, quiet stdio, and when it began. The
// library's diagnostics go to no file (its log settings).
struct LibraryCall {
  std::lock_guard<std::mutex> lock{LibraryLock()};
  QuietStdio quiet;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// libnetapi gives up on a machine that does not answer after some seconds
// of its own (5 s here, 20 s on older releases); a refused logon or a missing
// service answers in milliseconds. A failed call that took this long waited
// for an answer that did not come.
constexpr std::chrono::seconds kLibraryGaveUp{3};

// libnetapi answers 1003 for every connection it could not open; the reason
// is found by opening one, within what is left of the machine's deadline. A
// machine that gave no answer until then is not asked a second time (the
// second connection would only wait as long again).
NET_API_STATUS ConnectionStatus(NET_API_STATUS s, const Arg& server, const SambaCredentials& creds,
                                const LibraryCall& call) {
  constexpr NET_API_STATUS kCanNotComplete = 1003;
  if (s != kCanNotComplete || !server.present) return s;
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - call.start);
  if (took >= kLibraryGaveUp || (creds.hostTimeout.count() > 0 && took >= creds.hostTimeout)) {
    RememberSilent(server.text);
    return ERROR_BAD_NETPATH;
  }
  SambaCredentials rest = creds;
  if (creds.hostTimeout.count() > 0) rest.hostTimeout = creds.hostTimeout - took;
  const NET_API_STATUS why = DiagnoseConnection(server.text, rest);
  std::fill(rest.password.begin(), rest.password.end(), '\0');  // no copy is left behind
  return why != NERR_Success ? why : s;
}

// A machine that gave no answer a moment ago is not asked again through
// libnetapi, which cannot bound its wait.
bool Silent(const Arg& server, const SambaCredentials& creds) {
  return server.present && RecentlySilent(server.text, creds);
}

void Notice(const SambaCredentials& creds, const std::string& text) {
  if (creds.notice) {
    creds.notice(text);
    return;
  }
  // The C++ stream: libnetapi's quiet spells on stdio (other threads) leave it be.
  std::cerr << text << std::endl;
}

Text T(const char* s) {
  if (s == nullptr) return std::nullopt;
  return FromUtf8(s);
}

// A buffer libnetapi handed back, released with its own free.
struct LibBuffer {
  uint8_t* p = nullptr;
  LibBuffer() = default;
  LibBuffer(const LibBuffer&) = delete;
  LibBuffer& operator=(const LibBuffer&) = delete;
  ~LibBuffer() {
    if (p != nullptr) ::NetApiBufferFree(p);
  }
};

// libnetapi reports an unknown account as a name it could not map.
constexpr NET_API_STATUS kErrorNoneMapped = 1332;
NET_API_STATUS UserLookupStatus(NET_API_STATUS s) {
  return s == kErrorNoneMapped ? NERR_UserNotFound : s;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Machine names compare without case; a DNS name by its first label.
std::u16string Upper(std::u16string name) {
  name = name.substr(0, name.find(u'.'));
  for (char16_t& c : name)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return name;
}

bool ValidOut(const void* p) {
  return p != nullptr;
}

// Slices a whole answer of count entries into the batch that starts at
// start and fits prefmaxlen, as a server that honours both answers. Entry i
// is recordOf(i) with the texts textsOf(i); only the batch's entries are made.
template <typename Record, std::size_t N, typename RecordOf, typename TextsOf>
NET_API_STATUS AnswerBatch(BufferRegistry& buffers, std::size_t count, RecordOf recordOf,
                           TextsOf textsOf, LPWSTR Record::*const (&fields)[N], std::size_t start,
                           DWORD prefmaxlen, LPBYTE* bufptr, LPDWORD entriesread,
                           LPDWORD totalentries, std::size_t* next) {
  const Batch b = SliceBatch(count, start, prefmaxlen,
                             [&](std::size_t i) { return RecordBytes<Record>(textsOf(i)); });
  std::vector<Record> part;
  std::vector<std::array<Text, N>> partTexts;
  part.reserve(b.end - b.begin);
  partTexts.reserve(b.end - b.begin);
  for (std::size_t i = b.begin; i < b.end; ++i) {
    part.push_back(recordOf(i));
    partTexts.push_back(textsOf(i));
  }
  const NET_API_STATUS s = PackRecords(buffers, part, partTexts, fields, bufptr);
  if (s != NERR_Success) return s;
  *entriesread = static_cast<DWORD>(b.end - b.begin);
  *totalentries = static_cast<DWORD>(count - b.begin);
  if (next != nullptr) *next = b.more ? b.end : 0;
  return b.more ? ERROR_MORE_DATA : NERR_Success;
}

// The same over a whole answer held as records and their texts.
template <typename Record, std::size_t N>
NET_API_STATUS AnswerBatch(BufferRegistry& buffers, const std::vector<Record>& records,
                           const std::vector<std::array<Text, N>>& texts,
                           LPWSTR Record::*const (&fields)[N], std::size_t start, DWORD prefmaxlen,
                           LPBYTE* bufptr, LPDWORD entriesread, LPDWORD totalentries,
                           std::size_t* next) {
  return AnswerBatch(
      buffers, records.size(), [&](std::size_t i) { return records[i]; },
      [&](std::size_t i) -> const std::array<Text, N>& { return texts[i]; }, fields, start,
      prefmaxlen, bufptr, entriesread, totalentries, next);
}

constexpr LPWSTR SERVER_INFO_101::*kServerFields[] = {&SERVER_INFO_101::sv101_name,
                                                      &SERVER_INFO_101::sv101_comment};
constexpr LPWSTR WKSTA_USER_INFO_1::*kWkstaUserFields[] = {
    &WKSTA_USER_INFO_1::wkui1_username, &WKSTA_USER_INFO_1::wkui1_logon_domain,
    &WKSTA_USER_INFO_1::wkui1_oth_domains, &WKSTA_USER_INFO_1::wkui1_logon_server};
constexpr LPWSTR GROUP_INFO_0::*kGroup0Fields[] = {&GROUP_INFO_0::grpi0_name};
constexpr LPWSTR GROUP_USERS_INFO_0::*kGroupUsersFields[] = {&GROUP_USERS_INFO_0::grui0_name};
constexpr LPWSTR GROUP_INFO_1::*kGroup1Fields[] = {&GROUP_INFO_1::grpi1_name,
                                                   &GROUP_INFO_1::grpi1_comment};
constexpr LPWSTR WKSTA_INFO_100::*kWkstaFields[] = {&WKSTA_INFO_100::wki100_computername,
                                                    &WKSTA_INFO_100::wki100_langroup};
constexpr LPWSTR USER_INFO_2::*kUser2Fields[] = {
    &USER_INFO_2::usri2_name,         &USER_INFO_2::usri2_password,
    &USER_INFO_2::usri2_home_dir,     &USER_INFO_2::usri2_comment,
    &USER_INFO_2::usri2_script_path,  &USER_INFO_2::usri2_full_name,
    &USER_INFO_2::usri2_usr_comment,  &USER_INFO_2::usri2_parms,
    &USER_INFO_2::usri2_workstations, &USER_INFO_2::usri2_logon_server};

// Finds the domain controller to read the directory of: the server named in
// the call, the one named by --dc, or the one the domain's DNS records name.
NET_API_STATUS LocateDirectory(const Arg& server, const std::string& domain,
                               const SambaCredentials& creds, std::string& host) {
  if (server.present) {
    host = server.text;
    return NERR_Success;
  }
  if (!creds.dc.empty()) {
    host = BareHost(creds.dc);
    return NERR_Success;
  }
  std::string dom = domain;
  if (dom.empty()) {
    LibBuffer wk;
    if (::NetWkstaGetInfo(nullptr, 100, &wk.p) == 0 && wk.p != nullptr) {
      const auto* w = reinterpret_cast<const QuorvixSambaWkstaInfo100*>(wk.p);
      if (w->wki100_langroup != nullptr) dom = w->wki100_langroup;
    }
  }
  if (dom.empty()) return ERROR_NO_BROWSER_SERVERS_FOUND;
  LibBuffer dc;
  const uint32_t flags = DS_DIRECTORY_SERVICE_REQUIRED | DS_RETURN_DNS_NAME;
  if (::DsGetDcName(nullptr, dom.c_str(), nullptr, nullptr, flags,
                    reinterpret_cast<DOMAIN_CONTROLLER_INFO**>(&dc.p)) != 0 ||
      dc.p == nullptr)
    return ERROR_NO_BROWSER_SERVERS_FOUND;
  const auto* info = reinterpret_cast<const DOMAIN_CONTROLLER_INFO*>(dc.p);
  const char* where = info->domain_controller_name != nullptr ? info->domain_controller_name
                                                              : info->domain_controller_address;
  if (where == nullptr) return ERROR_NO_BROWSER_SERVERS_FOUND;
  host = BareHost(where);
  return host.empty() ? ERROR_NO_BROWSER_SERVERS_FOUND : NERR_Success;
}

}  // namespace

SambaNetApi::SambaNetApi(SambaCredentials creds)
    : creds_(std::move(creds)), id_(g_nextId.fetch_add(1)) {
  if (!creds_.hostNames) creds_.hostNames = std::make_shared<DirectoryHostNames>();
  if (!creds_.UsesTicketCache() && !creds_.logonTicket)
    creds_.logonTicket = std::make_shared<LogonTicket>();
  if (!creds_.lookAhead) {
    // A machine whose name has no address here is tried ahead by the DNS
    // name its connection would use.
    creds_.lookAhead =
        std::make_shared<samba::LookAhead>([names = creds_.hostNames](const std::string& host) {
          return names->DnsNameOf(host, [](const std::string& candidate) {
            const auto [v4, v6] = AddressesOf(candidate);
            return !v4.empty() || !v6.empty();
          });
        });
  }
  UseLibrariesFromThreads();  // before the first library call
  UserDefaultCache();         // named before any library can move the default
  // libnetapi set up now, with its diagnostics turned off, before any call
  // of this provider runs outside its lock.
  LibraryCall call;
  PrepareContext(id_, creds_);
}

SambaNetApi::~SambaNetApi() {
  {
    std::lock_guard lock(LibraryLock());
    // The shared context must not keep this provider's password.
    if (Context().owner == id_) {
      std::unique_lock<std::shared_mutex> state(LibraryStateLock());
      ReleaseContext(Context());
    }
  }
  // Kept account-database connections hold credentials too.
  ForgetAccountServers();
  std::fill(creds_.password.begin(), creds_.password.end(), '\0');
}

NET_API_STATUS SambaNetApi::NetServerEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                          DWORD prefmaxlen, LPDWORD entriesread,
                                          LPDWORD totalentries, DWORD servertype, LPCWSTR domain,
                                          LPDWORD resume_handle) {
  if (!ValidOut(bufptr) || !ValidOut(entriesread) || !ValidOut(totalentries))
    return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 101) return ERROR_INVALID_LEVEL;
  const Arg server = ServerArg(servername);
  const Arg dom = NameArg(domain);

  const uint64_t begun = creds_.hostNames->Begin();
  AdListing listing;
  std::string host;
  {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_); s != NERR_Success) return s;
    if (NET_API_STATUS s = LocateDirectory(server, dom.text, creds_, host); s != NERR_Success)
      return s;
  }
  {
    // libldap and Kerberos need none of libnetapi's lock.
    std::lock_guard lock(directoryLock_);
    DirectoryLogon logon{creds_, tickets_, {}};
    const NET_API_STATUS s = ReadDirectory(host, logon, listing);
    if (!logon.refusal.empty()) Notice(creds_, logon.refusal);
    if (s != NERR_Success) return s;
    if (creds_.logonTicket && !tickets_.Empty()) creds_.logonTicket->Set(tickets_.Name());
  }
  std::vector<AdComputer> entries;
  if (NET_API_STATUS s = SelectEntries(listing, servertype, FromUtf8(dom.text), entries);
      s != NERR_Success)
    return s;
  std::vector<SERVER_INFO_101> records;
  std::vector<std::array<Text, 2>> texts;
  // The machines' DNS names, to reach them by, and their roles as the
  // directory gives them, for their own answers later (NetServerGetInfo);
  // unless a listing begun later has already given its own.
  {
    std::lock_guard lock(rolesLock_);
    if (creds_.hostNames->Replace(listing, begun)) {
      roles_.clear();
      for (const AdComputer& c : listing.computers) roles_[Upper(c.name)] = c.type;
    }
  }
  for (const AdComputer& c : entries) {
    records.push_back({PLATFORM_ID_NT, nullptr, c.versionMajor, c.versionMinor, c.type, nullptr});
    texts.push_back({c.name, c.comment});
  }
  std::size_t next = 0;
  const std::size_t start = resume_handle != nullptr ? *resume_handle : 0;
  const NET_API_STATUS s = AnswerBatch(buffers_, records, texts, kServerFields, start, prefmaxlen,
                                       bufptr, entriesread, totalentries, &next);
  if (resume_handle != nullptr && (s == NERR_Success || s == ERROR_MORE_DATA))
    *resume_handle = static_cast<DWORD>(next);
  return s;
}

NET_API_STATUS SambaNetApi::NetWkstaGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  if (!ValidOut(bufptr)) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 100) return ERROR_INVALID_LEVEL;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  std::vector<WKSTA_INFO_100> records(1);
  std::vector<std::array<Text, 2>> texts(1);
  {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_); s != NERR_Success) return s;
    LibBuffer b;
    NET_API_STATUS s = ::NetWkstaGetInfo(server.get(), 100, &b.p);
    if (s != 0 && !server.present && !creds_.dc.empty()) {
      // Outside the domain, "this machine's domain" is the named controller's.
      s = ::NetWkstaGetInfo(BareHost(creds_.dc).c_str(), 100, &b.p);
      if (s == 0 && b.p != nullptr) {
        const auto* w = reinterpret_cast<const QuorvixSambaWkstaInfo100*>(b.p);
        records[0] = {PLATFORM_ID_NT, nullptr, nullptr, w->wki100_ver_major, w->wki100_ver_minor};
        texts[0] = {FromUtf8(LocalNetbiosName()), T(w->wki100_langroup)};
        return PackRecords(buffers_, records, texts, kWkstaFields, bufptr);
      }
    }
    if (s != 0 && !server.present) {
      // This machine answers from its own configuration when no local
      // service does.
      records[0] = {PLATFORM_ID_NT, nullptr, nullptr, 0, 0};
      texts[0] = {FromUtf8(LocalNetbiosName()), FromUtf8(LocalWorkgroup())};
      return PackRecords(buffers_, records, texts, kWkstaFields, bufptr);
    }
    if (s != 0) return ConnectionStatus(FromLibnetapi(s), server, creds_, call);
    if (b.p == nullptr) return ERROR_BAD_NET_RESP;
    const auto* w = reinterpret_cast<const QuorvixSambaWkstaInfo100*>(b.p);
    records[0] = {w->wki100_platform_id, nullptr, nullptr, w->wki100_ver_major,
                  w->wki100_ver_minor};
    texts[0] = {T(w->wki100_computername), T(w->wki100_langroup)};
  }
  return PackRecords(buffers_, records, texts, kWkstaFields, bufptr);
}

NET_API_STATUS SambaNetApi::NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  if (!ValidOut(bufptr)) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 101) return ERROR_INVALID_LEVEL;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  std::vector<SERVER_INFO_101> records(1);
  std::vector<std::array<Text, 2>> texts(1);
  if (server.present) {
    // A named machine's server service is asked directly, outside
    // libnetapi's lock, within the host timeout.
    ServerFacts f;
    if (NET_API_STATUS s = QueryServer(server.text, creds_, f); s != NERR_Success) return s;
    records[0] = {f.platformId, nullptr, f.versionMajor, f.versionMinor, f.type, nullptr};
    texts[0] = {f.name, f.comment};
  } else {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_); s != NERR_Success) return s;
    LibBuffer b;
    const NET_API_STATUS s = ::NetServerGetInfo(server.get(), 101, &b.p);
    if (s != 0) return ConnectionStatus(FromLibnetapi(s), server, creds_, call);
    if (b.p == nullptr) return ERROR_BAD_NET_RESP;
    const auto* i = reinterpret_cast<const ::SERVER_INFO_101*>(b.p);
    records[0] = {i->sv101_platform_id,   nullptr,       i->sv101_version_major,
                  i->sv101_version_minor, i->sv101_type, nullptr};
    texts[0] = {T(i->sv101_name), T(i->sv101_comment)};
  }
  {
    std::lock_guard lock(rolesLock_);
    auto known = roles_.find(Upper(FromUtf8(server.text)));
    if (known == roles_.end() && texts[0][0]) known = roles_.find(Upper(*texts[0][0]));
    if (known != roles_.end())
      records[0].sv101_type = WithDirectoryRole(records[0].sv101_type, known->second);
  }
  return PackRecords(buffers_, records, texts, kServerFields, bufptr);
}

unsigned SambaNetApi::MaxConcurrentCalls() const {
  return kMaxConnectionCalls;
}

void SambaNetApi::LookAhead(const std::vector<std::u16string>& machines) {
  std::vector<std::string> hosts;
  hosts.reserve(machines.size());
  for (const std::u16string& m : machines) {
    std::string host = ServerArg(m.c_str()).text;
    // Names a connection refuses are answered so by the scan's own calls.
    if (!host.empty() && host.find_first_of("[]\\/:, ") == std::string::npos)
      hosts.push_back(std::move(host));
  }
  creds_.lookAhead->Start(std::move(hosts));
}

std::u16string SambaNetApi::ControllerDnsName(const std::u16string& server) const {
  return FromUtf8(creds_.hostNames->ForestControllerDnsName(ServerArg(server.c_str()).text));
}

NET_API_STATUS SambaNetApi::PrimaryControllerDnsName(const std::u16string& server,
                                                     const std::u16string& domain,
                                                     std::u16string& name) {
  const Arg host = ServerArg(server.c_str());
  if (!host.present || domain.empty()) return ERROR_INVALID_NAME;
  if (Silent(host, creds_)) return ERROR_BAD_NETPATH;
  std::string found;
  const NET_API_STATUS s = QueryPdcDnsName(host.text, ToUtf8(domain), creds_, found);
  if (s == NERR_Success) name = FromUtf8(found);
  return s;
}

NET_API_STATUS SambaNetApi::NetGetDCName(LPCWSTR servername, LPCWSTR domainname, LPBYTE* bufptr) {
  if (!ValidOut(bufptr)) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  Arg server = ServerArg(servername);
  if (!server.present && !creds_.dc.empty()) {
    // A machine outside the domain asks the controller it was told of.
    server.text = BareHost(creds_.dc);
    server.present = !server.text.empty();
  }
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const Arg domain = NameArg(domainname);
  std::u16string name;
  if (server.present) {
    // A named server's logon service is asked directly, outside libnetapi's
    // lock, within the host timeout.
    if (NET_API_STATUS s =
            QueryPdcName(server.text, domain.present ? domain.text : std::string(), creds_, name);
        s != NERR_Success)
      return s;
  } else {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_); s != NERR_Success) return s;
    LibBuffer b;
    const NET_API_STATUS s = ::NetGetDCName(
        nullptr, domain.present && !domain.text.empty() ? domain.get() : nullptr, &b.p);
    // Asked of no particular server, a failure means no controller was found.
    if (s != 0 || b.p == nullptr) return NERR_DCNotFound;
    name = FromUtf8(reinterpret_cast<const char*>(b.p));
  }
  const std::size_t bytes = (name.size() + 1) * sizeof(char16_t);
  auto* out = static_cast<char16_t*>(buffers_.Allocate(bytes));
  if (out == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  std::char_traits<char16_t>::copy(out, name.c_str(), name.size() + 1);
  *bufptr = reinterpret_cast<LPBYTE>(out);
  return NERR_Success;
}

NET_API_STATUS SambaNetApi::NetWkstaUserEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                             DWORD prefmaxlen, LPDWORD entriesread,
                                             LPDWORD totalentries, LPDWORD resumehandle) {
  if (!ValidOut(bufptr) || !ValidOut(entriesread) || !ValidOut(totalentries))
    return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 1) return ERROR_INVALID_LEVEL;
  // The call is only made through a layout that matches the library's.
  if (NET_API_STATUS s = CheckWkssvcLayout(); s != NERR_Success) return s;
  const Arg server = ServerArg(servername);
  const std::string host = server.present ? server.text : "localhost";
  const std::size_t start = resumehandle != nullptr ? *resumehandle : 0;
  // A scan asks each of its machines this first; the logon servers it asks
  // later for the users' logons are not where it has come.
  if (server.present && start == 0 && creds_.lookAhead) creds_.lookAhead->ScanComesTo(host);
  // A caller going on with a resume handle gets the rest of the answer it
  // began: one connection per enumeration, not one per batch.
  std::vector<WkstaUser> users;
  if (start == 0 || !answers_.Take(host, start, users)) {
    const NET_API_STATUS s = EnumWkstaUsers(host, creds_, users);
    if (s != NERR_Success) return s;
  }
  std::size_t next = 0;
  // The server may ignore the preferred length and the resume handle (Samba
  // does); the batches are cut here as a Windows server cuts them.
  const NET_API_STATUS s = AnswerBatch(
      buffers_, users.size(), [](std::size_t) { return WKSTA_USER_INFO_1{}; },
      [&](std::size_t i) {
        const WkstaUser& u = users[i];
        return std::array<Text, 4>{u.user, u.logonDomain, u.otherDomains, u.logonServer};
      },
      kWkstaUserFields, start, prefmaxlen, bufptr, entriesread, totalentries, &next);
  if (s == ERROR_MORE_DATA && resumehandle != nullptr) answers_.Keep(host, next, std::move(users));
  if (resumehandle != nullptr && (s == NERR_Success || s == ERROR_MORE_DATA))
    *resumehandle = static_cast<DWORD>(next);
  return s;
}

NET_API_STATUS SambaNetApi::NetUserGetInfo(LPCWSTR servername, LPCWSTR username, DWORD level,
                                           LPBYTE* bufptr) {
  if (!ValidOut(bufptr)) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 2) return ERROR_INVALID_LEVEL;
  if (username == nullptr) return ERROR_INVALID_PARAMETER;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const Arg user = NameArg(username);
  std::vector<USER_INFO_2> records(1);
  std::vector<std::array<Text, 10>> texts(1);
  if (server.present) {
    // A named server's account database is asked directly, outside
    // libnetapi's lock, within the host timeout, on a kept connection.
    SamrAccount a;
    if (NET_API_STATUS s = QueryAccount(server.text, user.text, creds_, a); s != NERR_Success)
      return s;
    USER_INFO_2& r = records[0];
    r.usri2_password_age = a.passwordAge;
    r.usri2_priv = a.priv;
    r.usri2_flags = a.flags;
    r.usri2_last_logon = a.lastLogon;
    r.usri2_last_logoff = a.lastLogoff;
    r.usri2_acct_expires = a.acctExpires;
    r.usri2_max_storage = kTimeqForever;  // USER_MAXSTORAGE_UNLIMITED
    r.usri2_units_per_week = a.unitsPerWeek;
    r.usri2_bad_pw_count = a.badPwCount;
    r.usri2_num_logons = a.numLogons;
    r.usri2_country_code = a.countryCode;
    r.usri2_code_page = a.codePage;
    texts[0] = {a.name,     std::nullopt, a.homeDir, a.comment,      a.scriptPath,
                a.fullName, a.usrComment, a.parms,   a.workstations, std::u16string(u"\\\\*")};
    return PackRecords(buffers_, records, texts, kUser2Fields, bufptr);
  }
  {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_, &server.text); s != NERR_Success) return s;
    LibBuffer b;
    const NET_API_STATUS s = ::NetUserGetInfo(server.get(), user.get(), 2, &b.p);
    if (s != 0) return ConnectionStatus(UserLookupStatus(FromLibnetapi(s)), server, creds_, call);
    if (b.p == nullptr) return ERROR_BAD_NET_RESP;
    const auto* u = reinterpret_cast<const ::USER_INFO_2*>(b.p);
    USER_INFO_2& r = records[0];
    r.usri2_password_age = u->usri2_password_age;
    r.usri2_priv = u->usri2_priv;
    r.usri2_flags = u->usri2_flags;
    r.usri2_auth_flags = u->usri2_auth_flags;
    r.usri2_last_logon = u->usri2_last_logon;
    r.usri2_last_logoff = u->usri2_last_logoff;
    r.usri2_acct_expires = u->usri2_acct_expires;
    r.usri2_max_storage = u->usri2_max_storage;
    r.usri2_units_per_week = u->usri2_units_per_week;
    r.usri2_logon_hours = nullptr;  // not carried over
    r.usri2_bad_pw_count = u->usri2_bad_pw_count;
    r.usri2_num_logons = u->usri2_num_logons;
    r.usri2_country_code = u->usri2_country_code;
    r.usri2_code_page = u->usri2_code_page;
    // The password field is never filled, as on the platform.
    texts[0] = {T(u->usri2_name),         std::nullopt,
                T(u->usri2_home_dir),     T(u->usri2_comment),
                T(u->usri2_script_path),  T(u->usri2_full_name),
                T(u->usri2_usr_comment),  T(u->usri2_parms),
                T(u->usri2_workstations), T(u->usri2_logon_server)};
  }
  return PackRecords(buffers_, records, texts, kUser2Fields, bufptr);
}

NET_API_STATUS SambaNetApi::NetGroupEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                         DWORD prefmaxlen, LPDWORD entriesread,
                                         LPDWORD totalentries, PDWORD_PTR resume_handle) {
  if (!ValidOut(bufptr) || !ValidOut(entriesread) || !ValidOut(totalentries))
    return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 0) return ERROR_INVALID_LEVEL;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const std::size_t start = resume_handle != nullptr ? *resume_handle : 0;
  // A caller going on with a resume handle gets the rest of the list it
  // began, not the whole list asked again for each batch.
  std::vector<std::array<Text, 1>> texts;
  if (start == 0 || !groups_.Take(server.text, start, texts)) {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_, &server.text); s != NERR_Success) return s;
    // The whole list, in as many rounds as the library needs; batches are cut below.
    uint32_t resume = 0;
    for (int round = 0; round < 10000; ++round) {
      LibBuffer b;
      uint32_t read = 0;
      uint32_t total = 0;
      const NET_API_STATUS s =
          ::NetGroupEnum(server.get(), 0, &b.p, MAX_PREFERRED_LENGTH, &read, &total, &resume);
      const NET_API_STATUS mapped = FromLibnetapi(s);
      if (mapped != NERR_Success && mapped != ERROR_MORE_DATA)
        return ConnectionStatus(mapped, server, creds_, call);
      if (read > 0 && b.p == nullptr) return ERROR_BAD_NET_RESP;
      const auto* g = reinterpret_cast<const ::GROUP_INFO_0*>(b.p);
      for (uint32_t i = 0; i < read; ++i) texts.push_back({T(g[i].grpi0_name)});
      if (mapped == NERR_Success || read == 0) break;
    }
  }
  std::size_t next = 0;
  const NET_API_STATUS s = AnswerBatch(
      buffers_, texts.size(), [](std::size_t) { return GROUP_INFO_0{}; },
      [&](std::size_t i) -> const std::array<Text, 1>& { return texts[i]; }, kGroup0Fields, start,
      prefmaxlen, bufptr, entriesread, totalentries, &next);
  if (s == ERROR_MORE_DATA && resume_handle != nullptr)
    groups_.Keep(server.text, next, std::move(texts));
  if (resume_handle != nullptr && (s == NERR_Success || s == ERROR_MORE_DATA))
    *resume_handle = next;
  return s;
}

NET_API_STATUS SambaNetApi::NetUserGetGroups(LPCWSTR servername, LPCWSTR username, DWORD level,
                                             LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                             LPDWORD totalentries) {
  if (!ValidOut(bufptr) || !ValidOut(entriesread) || !ValidOut(totalentries))
    return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  *entriesread = 0;
  *totalentries = 0;
  if (level != 0) return ERROR_INVALID_LEVEL;
  if (username == nullptr) return ERROR_INVALID_PARAMETER;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const Arg user = NameArg(username);
  std::vector<std::array<Text, 1>> texts;
  {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_, &server.text); s != NERR_Success) return s;
    LibBuffer b;
    uint32_t read = 0;
    uint32_t total = 0;
    const NET_API_STATUS s =
        ::NetUserGetGroups(server.get(), user.get(), 0, &b.p, MAX_PREFERRED_LENGTH, &read, &total);
    const NET_API_STATUS mapped = FromLibnetapi(s);
    if (mapped != NERR_Success && mapped != ERROR_MORE_DATA)
      return ConnectionStatus(mapped, server, creds_, call);
    if (read > 0 && b.p == nullptr) return ERROR_BAD_NET_RESP;
    const auto* g = reinterpret_cast<const ::GROUP_USERS_INFO_0*>(b.p);
    for (uint32_t i = 0; i < read; ++i) texts.push_back({T(g[i].grui0_name)});
  }
  std::vector<GROUP_USERS_INFO_0> records(texts.size());
  // No resume handle here: a short buffer gets the first groups and 234.
  return AnswerBatch(buffers_, records, texts, kGroupUsersFields, 0, prefmaxlen, bufptr,
                     entriesread, totalentries, nullptr);
}

NET_API_STATUS SambaNetApi::NetGroupGetInfo(LPCWSTR servername, LPCWSTR groupname, DWORD level,
                                            LPBYTE* bufptr) {
  if (!ValidOut(bufptr)) return ERROR_INVALID_PARAMETER;
  *bufptr = nullptr;
  if (level != 1) return ERROR_INVALID_LEVEL;
  if (groupname == nullptr) return ERROR_INVALID_PARAMETER;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const Arg group = NameArg(groupname);
  std::vector<GROUP_INFO_1> records(1);
  std::vector<std::array<Text, 2>> texts(1);
  {
    LibraryCall call;
    if (NET_API_STATUS s = PrepareContext(id_, creds_, &server.text); s != NERR_Success) return s;
    // libnetapi's NetGroupGetInfo hands back strings it has already freed;
    // the group list at level 1 carries the same name and comment safely.
    const std::string wanted = Lower(group.text);
    bool found = false;
    uint32_t resume = 0;
    for (int round = 0; round < 10000 && !found; ++round) {
      LibBuffer b;
      uint32_t read = 0;
      uint32_t total = 0;
      const NET_API_STATUS s =
          ::NetGroupEnum(server.get(), 1, &b.p, MAX_PREFERRED_LENGTH, &read, &total, &resume);
      const NET_API_STATUS mapped = FromLibnetapi(s);
      if (mapped != NERR_Success && mapped != ERROR_MORE_DATA)
        return ConnectionStatus(mapped, server, creds_, call);
      if (read > 0 && b.p == nullptr) return ERROR_BAD_NET_RESP;
      const auto* g = reinterpret_cast<const ::GROUP_INFO_1*>(b.p);
      for (uint32_t i = 0; i < read && !found; ++i) {
        if (g[i].grpi1_name == nullptr || Lower(g[i].grpi1_name) != wanted) continue;
        texts[0] = {T(g[i].grpi1_name), T(g[i].grpi1_comment)};
        found = true;
      }
      if (mapped == NERR_Success || read == 0) break;
    }
    if (!found) return NERR_GroupNotFound;
  }
  return PackRecords(buffers_, records, texts, kGroup1Fields, bufptr);
}

NET_API_STATUS SambaNetApi::NetLocalGroupAddMembers(LPCWSTR servername, LPCWSTR groupname,
                                                    DWORD level, LPBYTE buf, DWORD totalentries) {
  if (level != 3) return ERROR_INVALID_LEVEL;
  if (groupname == nullptr || (buf == nullptr && totalentries > 0)) return ERROR_INVALID_PARAMETER;
  const Arg server = ServerArg(servername);
  if (Silent(server, creds_)) return ERROR_BAD_NETPATH;
  const Arg group = NameArg(groupname);
  const auto* members = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_3*>(buf);
  std::vector<std::string> accounts;
  std::optional<std::u16string> accountDomain;  // the server's, asked once
  for (DWORD i = 0; i < totalentries; ++i) {
    if (members[i].lgrmi3_domainandname == nullptr) return ERROR_INVALID_PARAMETER;
    std::string name = ToUtf8(members[i].lgrmi3_domainandname);
    // The account is looked up by its name in the server's own account
    // database, so a domain part must name that database: another domain's
    // account cannot be looked up here, and the server's own account of the
    // same name would be added in its place.
    if (const auto slash = name.find('\\'); slash != std::string::npos) {
      if (!accountDomain) {
        std::string own = LocalNetbiosName();
        if (server.present)
          if (NET_API_STATUS s = AccountDomainName(server.text, creds_, own); s != NERR_Success)
            return s;
        accountDomain = Upper(FromUtf8(own));
      }
      if (Upper(FromUtf8(name.substr(0, slash))) != *accountDomain) return ERROR_NOT_SUPPORTED;
      name.erase(0, slash + 1);
    }
    if (name.empty()) return ERROR_NO_SUCH_MEMBER;
    accounts.push_back(std::move(name));
  }
  LibraryCall call;
  if (NET_API_STATUS s = PrepareContext(id_, creds_, &server.text); s != NERR_Success) return s;
  // libnetapi cannot take names (level 3) without breaking; it gets the
  // accounts' SIDs (level 0) instead.
  std::vector<std::unique_ptr<LibBuffer>> lookups;
  std::vector<LOCALGROUP_MEMBERS_INFO_0> sids;
  for (const std::string& a : accounts) {
    auto b = std::make_unique<LibBuffer>();
    const NET_API_STATUS s = ::NetUserGetInfo(server.get(), a.c_str(), 23, &b->p);
    const NET_API_STATUS mapped = UserLookupStatus(FromLibnetapi(s));
    if (mapped == NERR_UserNotFound) return ERROR_NO_SUCH_MEMBER;
    if (mapped != NERR_Success) return ConnectionStatus(mapped, server, creds_, call);
    const auto* u = reinterpret_cast<const USER_INFO_23*>(b->p);
    if (u == nullptr || u->usri23_user_sid == nullptr) return ERROR_NO_SUCH_MEMBER;
    sids.push_back({u->usri23_user_sid});
    lookups.push_back(std::move(b));
  }
  const NET_API_STATUS s = ::NetLocalGroupAddMembers(server.get(), group.get(), 0,
                                                     reinterpret_cast<uint8_t*>(sids.data()),
                                                     static_cast<uint32_t>(sids.size()));
  return ConnectionStatus(FromLibnetapi(s), server, creds_, call);
}

NET_API_STATUS SambaNetApi::NetApiBufferAllocate(DWORD ByteCount, LPVOID* Buffer) {
  if (Buffer == nullptr) return ERROR_INVALID_PARAMETER;
  *Buffer = buffers_.Allocate(ByteCount);
  return *Buffer != nullptr ? NERR_Success : ERROR_NOT_ENOUGH_MEMORY;
}

NET_API_STATUS SambaNetApi::NetApiBufferFree(LPVOID Buffer) {
  return buffers_.Release(Buffer);
}

}  // namespace quorvix::samba
