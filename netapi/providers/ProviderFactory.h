// Choosing the network provider from the programs' provider options. Both
// programs read these options and nothing else from their command line.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "NetApi.h"

namespace CLI {
class App;
}

namespace quorvix {

struct ProviderOptions {
  // The scan's pace, the same on both programs: machines asked at once
  // (--jobs, 1 to 256) and the deadline of one machine (--host-timeout; zero
  // means none). A provider that can bound its own waits (connections, RPC
  // calls) bounds them by this deadline, so that calls given up end as well.
  unsigned jobs = 16;
  std::chrono::milliseconds hostTimeout{30000};

  // --simulate[=FILE]: the simulated provider with the demo domain (empty
  // file) or the named domain file.
  bool simulate = false;
  std::string simulateFile;

  // The native provider's connection. Linux (Samba): without a user the
  // default Kerberos ticket cache is used. Windows: only the domain's
  // directory uses these; without a user, the user's own logon. A password is
  // never taken from the command line: it is read from passwordFile, or asked
  // for (on Windows only by a program that sets askPassword).
  std::string user;          // --user DOMAIN\NAME
  std::string passwordFile;  // --password-file FILE (first line)
  std::string dc;            // --dc HOST: a domain controller for a machine not joined
  std::string ldapCa;        // --ldap-ca FILE: the controller's certificate authority (PEM)
  // Asks the user for the password of the named account (the desktop program
  // shows a dialog); nullopt when the user declines. Unset: the terminal is
  // asked without echo, when there is one.
  std::function<std::optional<std::string>(const std::string& user)> askPassword;
};

struct Provider {
  std::unique_ptr<NetApi> api;
  bool simulated = false;  // the data are not from a real network
  std::string note;        // a one-line note for the user, e.g. why data are simulated
};

// Declares the provider options (--simulate[=FILE], and those of the native
// provider) on a program's command-line parser, writing into options. It
// installs the parser's parse-complete callback and help formatter.
void AddProviderOptions(CLI::App& app, ProviderOptions& options);

// Parses a command line with the provider options. "--simulate=" with no file
// after it is refused (the parser alone would read it as "--simulate", the
// demo domain, and a script whose file name came out empty would scan that).
void ParseCommandLine(CLI::App& app, int argc, const char* const* argv);

// True when this build has a native provider (netapi32 on Windows, Samba on Linux).
bool HasNativeProvider();

// The simulated provider when asked for, else the native one when the build
// has it, else the demo domain. Throws std::runtime_error with a message that
// names the problem (an unreadable or malformed domain file, a user without a
// password, ...). Never waits for input when there is no terminal.
Provider MakeProvider(const ProviderOptions& options);

// The password a password file's text holds: its first line, without a
// UTF-8 byte-order mark, decoded from UTF-16 where a byte-order mark says so
// (as Windows editors and shells write files). Throws std::runtime_error
// with the reason, to follow the file's name, for an empty line or one that
// holds NUL: a wrong password would count towards the account's lockout.
std::string PasswordLine(const std::string& text);

}  // namespace quorvix
