#include "SambaLibs.h"
#include "SambaRpc.h"

#include "KerberosLogon.h"

#include <unistd.h>

#include <string>

namespace quorvix::samba {

std::mutex& LibraryLock() {
  static std::mutex lock;
  return lock;
}

std::shared_mutex& LibraryStateLock() {
  static std::shared_mutex lock;
  return lock;
}

const char* ConfigFile() {
  static const std::string path = [] {
    const char* system = "/etc/samba/smb.conf";
    if (access(system, R_OK) == 0) return std::string(system);
    return std::string("/dev/null");
  }();
  return path.c_str();
}

loadparm_context* RpcLoadparm() {
  static loadparm_context* lp = [] {
    // Registers the transports and authentication mechanisms.
    dcerpc_init();
    loadparm_context* p = loadparm_init_global(false);
    if (p == nullptr) return p;
    lpcfg_load(p, ConfigFile());
    // The client's diagnostics stay out of the user's terminal.
    lpcfg_set_cmdline(p, "log level", "0");
    return p;
  }();
  return lp;
}

cli_credentials* MakeRpcCredentials(TALLOC_CTX* mem, loadparm_context* lp,
                                    const SambaCredentials& creds) {
  cli_credentials* cc = cli_credentials_init(mem);
  if (cc == nullptr) return nullptr;
  cli_credentials_set_conf(cc, lp);
  if (creds.UsesTicketCache()) {
    cli_credentials_set_kerberos_state(cc, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
    const char* error = nullptr;
    // The ticket cache names the principal and holds the ticket. No password
    // is set: a password of any kind, even an empty one, makes the library
    // drop the cache and try a password logon of its own. Without a ticket
    // the connection fails with a logon status.
    const std::string& cache = UserDefaultCache();
    cli_credentials_set_ccache(cc, lp, cache.empty() ? nullptr : cache.c_str(), CRED_SPECIFIED,
                               &error);
  } else {
    cli_credentials_parse_string(cc, creds.user.c_str(), CRED_SPECIFIED);
    cli_credentials_set_password(cc, creds.password.c_str(), CRED_SPECIFIED);
  }
  return cc;
}

cli_credentials* MakeLibraryCredentials(const SambaCredentials& creds) {
  cli_credentials* cc = MakeRpcCredentials(nullptr, RpcLoadparm(), creds);
  if (cc != nullptr && !creds.UsesTicketCache())
    cli_credentials_set_kerberos_state(cc, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
  return cc;
}

void FreeLibraryCredentials(cli_credentials* cc) {
  if (cc != nullptr) talloc_free(cc);
}

std::string LocalNetbiosName() {
  loadparm_context* lp = RpcLoadparm();
  const char* n = lp != nullptr ? lpcfg_netbios_name(lp) : nullptr;
  return n != nullptr ? n : "";
}

std::string LocalWorkgroup() {
  loadparm_context* lp = RpcLoadparm();
  const char* w = lp != nullptr ? lpcfg_workgroup(lp) : nullptr;
  return w != nullptr ? w : "";
}

std::string BareHost(std::string name) {
  std::size_t lead = 0;
  while (lead < name.size() && (name[lead] == '\\' || name[lead] == '/')) ++lead;
  name.erase(0, lead);
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace quorvix::samba
