#include "ProviderFactory.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "SimulatedNetApi.h"
#include "basStringHandler.h"
#ifdef _WIN32
#include "LdapDirectory.h"
#include "Win32NetApi.h"
#endif

#if QUORVIX_HAVE_SAMBA || defined(_WIN32)
#include <algorithm>
#include <fstream>
#include <stdexcept>
#define QUORVIX_HAVE_LOGON_OPTIONS 1
#endif

#ifdef _WIN32
#include <filesystem>
#endif

#if QUORVIX_HAVE_SAMBA
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SambaNetApi.h"
#endif

namespace quorvix {

std::string PasswordLine(const std::string& text) {
  std::string_view bytes(text);
  std::string decoded;  // from UTF-16, wiped before it goes
  struct Wipe {
    std::string& s;
    ~Wipe() { std::fill(s.begin(), s.end(), '\0'); }
  } wipe{decoded};
  const bool little = bytes.rfind("\xFF\xFE", 0) == 0, big = bytes.rfind("\xFE\xFF", 0) == 0;
  if (little || big) {
    // A text editor's or a shell's UTF-16 (PowerShell's ">" writes it).
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t k = 2; k + 1 < bytes.size(); k += 2) {
      const auto lo = static_cast<unsigned char>(bytes[little ? k : k + 1]);
      const auto hi = static_cast<unsigned char>(bytes[little ? k + 1 : k]);
      units.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    decoded = ToUtf8(units);
    std::fill(units.begin(), units.end(), u'\0');
    bytes = decoded;
  } else if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
    bytes.remove_prefix(3);  // a UTF-8 byte-order mark is no part of the password
  }
  std::string_view line = bytes.substr(0, bytes.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) throw std::runtime_error("holds no password");
  if (line.find('\0') != std::string_view::npos)
    throw std::runtime_error("holds a NUL character (UTF-16 without a byte-order mark?)");
  return std::string(line);
}

namespace {

// Shows "--simulate{}" (a flag whose value may follow an equals sign) as
// "--simulate" in the help text.
class ProviderHelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_name(const CLI::Option* opt, bool is_positional) const override {
    std::string name = CLI::Formatter::make_option_name(opt, is_positional);
    const auto open = name.find('{');
    const auto close = name.find('}', open);
    if (open != std::string::npos && close != std::string::npos) name.erase(open, close - open + 1);
    return name;
  }
};

#if QUORVIX_HAVE_LOGON_OPTIONS
// The first line of a password file. Only a regular, non-empty file is read:
// a directory or a FIFO would give an empty password (or block), and a logon
// with a wrong password counts towards the account's lockout. A file that
// others may read is used, with a warning.
std::string ReadPasswordFile(const std::string& path, std::string& warning) {
  // The file is read whole (a password file is small; more than this is no
  // password file), so that a UTF-16 file is not cut at a byte that looks
  // like a line end.
  constexpr std::size_t kMostBytes = 65536;
  std::string text;
  char chunk[4096];
#ifdef _WIN32
  (void)warning;  // Windows guards files with ACLs, not mode bits
  // The path is UTF-8: opened by its wide form, not in the ANSI code page,
  // which cannot name every file.
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw std::runtime_error("the password file " + path + " is not a readable regular file");
  {
    // The stream reads through a buffer of ours, wiped once it is closed.
    char buffer[4096];
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buffer, sizeof buffer);
    in.open(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the password file " + path);
    text.reserve(kMostBytes + sizeof chunk);
    while (text.size() <= kMostBytes && (in.read(chunk, sizeof chunk) || in.gcount() > 0))
      text.append(chunk, static_cast<std::size_t>(in.gcount()));
    in.close();
    std::fill(buffer, buffer + sizeof buffer, '\0');
  }
#else
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    throw std::runtime_error("cannot read the password file " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw std::runtime_error("the password file " + path + " is not a regular file");
  }
  text.reserve(kMostBytes + sizeof chunk);  // never moved while it grows
  while (text.size() <= kMostBytes) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      close(fd);
      std::fill(text.begin(), text.end(), '\0');
      throw std::runtime_error("cannot read the password file " + path + ": " + std::strerror(e));
    }
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    warning = "the password file " + path + " may be read by others (chmod 600 it)";
#endif
  std::fill(chunk, chunk + sizeof chunk, '\0');
  std::string line;
  try {
    line = PasswordLine(text);
  } catch (const std::runtime_error& e) {
    std::fill(text.begin(), text.end(), '\0');
    throw std::runtime_error("the password file " + path + " " + e.what());
  }
  std::fill(text.begin(), text.end(), '\0');
  return line;
}

// An empty password typed or confirmed is not tried: a wrong one counts
// towards the account's lockout, as an empty password file is not read.
void RefuseEmpty(const std::string& password, const std::string& user) {
  if (password.empty())
    throw std::runtime_error("an empty password for " + user +
                             " is not tried (each wrong one counts towards the account's lockout)");
}

// The position of the backslash of --user's DOMAIN\NAME, the one form both
// systems take. An account name holds no "@": given NAME@REALM, the Samba
// libraries would get a Kerberos ticket of their own in the middle of a
// connection, which ends the program.
std::size_t UserSlash(const std::string& user) {
  const std::size_t slash = user.find('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == user.size())
    throw std::runtime_error("--user takes DOMAIN\\NAME");
  if (user.find('@') != std::string::npos)
    throw std::runtime_error("--user takes DOMAIN\\NAME, not NAME@REALM");
  return slash;
}
#endif

#ifdef _WIN32
// netapi32 calls go out with the user's own logon; --user names another
// account for reading the directory (a machine outside the domain), with its
// password from --password-file or the program's own dialog.
DirectoryLogon DirectoryLogonFrom(const ProviderOptions& options) {
  DirectoryLogon logon;
  logon.dc = FromUtf8(options.dc);
  logon.timeout = options.hostTimeout.count() > 0 ? options.hostTimeout : logon.timeout;
  if (!options.passwordFile.empty() && options.user.empty())
    throw std::runtime_error("--password-file needs --user DOMAIN\\NAME");
  if (options.user.empty()) return logon;
  const std::size_t slash = UserSlash(options.user);
  logon.userDomain = FromUtf8(options.user.substr(0, slash));
  logon.user = FromUtf8(options.user.substr(slash + 1));
  if (!options.passwordFile.empty()) {
    std::string warning;
    std::string password = ReadPasswordFile(options.passwordFile, warning);
    logon.password = FromUtf8(password);
    std::fill(password.begin(), password.end(), '\0');
    return logon;
  }
  std::optional<std::string> pw =
      options.askPassword ? options.askPassword(options.user) : std::nullopt;
  if (!pw)
    throw std::runtime_error("no password for " + options.user + ": give --password-file FILE");
  RefuseEmpty(*pw, options.user);
  logon.password = FromUtf8(*pw);
  std::fill(pw->begin(), pw->end(), '\0');
  return logon;
}
#endif

#if QUORVIX_HAVE_SAMBA
// Reads one line from the terminal with echo off; nullopt when the program
// has no terminal (a pipe, CI), so that it never waits for input nobody gives.
std::optional<std::string> AskTerminal(const std::string& user) {
  if (isatty(STDIN_FILENO) == 0) return std::nullopt;
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  const std::string prompt = "Password for " + user + ": ";
  termios saved{};
  const bool haveTermios = tcgetattr(fd, &saved) == 0;
  if (haveTermios) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  [[maybe_unused]] ssize_t w = write(fd, prompt.data(), prompt.size());
  // Room enough that the line is never moved while it grows: each move
  // would leave a copy of the password behind in memory given back.
  std::string line;
  line.reserve(1024);
  bool ended = false;
  char c = 0;
  while (read(fd, &c, 1) == 1) {
    if (c == '\n' || c == '\r') {
      ended = true;
      break;
    }
    line.push_back(c);
  }
  if (haveTermios) tcsetattr(fd, TCSAFLUSH, &saved);
  w = write(fd, "\n", 1);
  close(fd);
  if (!ended && line.empty()) return std::nullopt;
  return line;
}

samba::SambaCredentials SambaCredentialsFrom(const ProviderOptions& options, std::string& note) {
  samba::SambaCredentials c;
  c.dc = options.dc;
  c.ldapCa = options.ldapCa;
  c.hostTimeout = options.hostTimeout;
  if (!options.passwordFile.empty() && options.user.empty())
    throw std::runtime_error("--password-file needs --user DOMAIN\\NAME");
  if (options.user.empty()) return c;  // the Kerberos ticket cache
  UserSlash(options.user);
  c.user = options.user;
  if (!options.passwordFile.empty()) {
    c.password = ReadPasswordFile(options.passwordFile, note);
    return c;
  }
  std::optional<std::string> pw =
      options.askPassword ? options.askPassword(options.user) : AskTerminal(options.user);
  if (!pw)
    throw std::runtime_error("no password for " + options.user +
                             ": run on a terminal or give --password-file FILE");
  RefuseEmpty(*pw, options.user);
  c.password = *pw;
  std::fill(pw->begin(), pw->end(), '\0');
  return c;
}
#endif

}  // namespace

void AddProviderOptions(CLI::App& app, ProviderOptions& options) {
  app.formatter(std::make_shared<ProviderHelpFormatter>());
  // A flag, so that "--simulate DOMAIN" leaves DOMAIN to the program; a file
  // is named as "--simulate=FILE".
  CLI::Option* simulate =
      app.add_flag("--simulate{}", options.simulateFile,
                   "Use the simulated network: the built-in demo domain, or the domain file FILE")
          ->option_text("[=FILE]")
          // Given twice, one of the two would be dropped without a word.
          ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  app.add_option(
         "--jobs", options.jobs,
         "Machines asked at once, 1 to 256; default 16 (a network provider may allow fewer)")
      ->check(CLI::Range(1u, 256u))
      ->option_text("N");
  app.add_option_function<double>(
         "--host-timeout",
         [&options](double seconds) {
           // The range check lets "nan" through; and a limit, however short,
           // stays one (zero milliseconds would mean none).
           if (!(seconds >= 0.0))
             throw CLI::ValidationError("--host-timeout", "not a number of seconds");
           options.hostTimeout =
               std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(seconds * 1000.0)));
         },
         "Give up a machine that has not answered within SECONDS (0: wait as long as it "
         "takes; default 30)")
      ->check(CLI::Range(0.0, 86400.0))
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            // A time too short for a double ("1e-400") reads as 0, which
            // would mean no limit at all.
            const std::string mantissa = text.substr(0, text.find_first_of("eEpP"));
            const bool zero = std::strtod(text.c_str(), nullptr) == 0.0;
            const auto digits = mantissa.rfind("0x", 0) == 0 || mantissa.rfind("0X", 0) == 0
                                    ? mantissa.substr(2)
                                    : mantissa;
            if (zero && digits.find_first_of("123456789abcdefABCDEF") != std::string::npos)
              return "too short to be a time: give 0 for no limit, or at least 0.001";
            return {};
          },
          "SECONDS"))
      ->option_text("SECONDS");
#if QUORVIX_HAVE_LOGON_OPTIONS
#ifdef _WIN32
  app.add_option("--user", options.user,
                 "Read the domain's directory as DOMAIN\\NAME (the password from "
                 "--password-file); default: your own logon")
      ->option_text("DOMAIN\\NAME");
#else
  app.add_option("--user", options.user,
                 "Connect as DOMAIN\\NAME (the password is asked for, or read from "
                 "--password-file); default: the Kerberos ticket cache")
      ->option_text("DOMAIN\\NAME");
#endif
  app.add_option("--password-file", options.passwordFile,
                 "Read the password of --user from the first line of FILE")
      ->option_text("FILE");
  app.add_option("--dc", options.dc,
                 "A domain controller to ask, for a machine that is not joined to the domain")
      ->option_text("HOST");
#endif
#if QUORVIX_HAVE_SAMBA
  app.add_option("--ldap-ca", options.ldapCa,
                 "Trust this certificate authority (PEM) for the domain controller's TLS "
                 "certificate, beside the system's store")
      ->option_text("FILE");
#endif
  app.parse_complete_callback([&options, simulate] { options.simulate = simulate->count() > 0; });
}

void ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg == "--simulate=")
      throw CLI::ValidationError("--simulate", "no domain file after \"=\"");
  }
  app.parse(argc, argv);
}

bool HasNativeProvider() {
#ifdef _WIN32
  return true;
#elif QUORVIX_HAVE_SAMBA
  return true;
#else
  return false;
#endif
}

Provider MakeProvider(const ProviderOptions& options) {
  Provider p;
  // Credentials would go unused with simulated data: that is a mistake in
  // the command, not something to pass over.
  if (options.simulate && (!options.user.empty() || !options.passwordFile.empty()))
    throw std::runtime_error("--user and --password-file cannot be used with --simulate");
  if (options.simulate && (!options.dc.empty() || !options.ldapCa.empty()))
    throw std::runtime_error("--dc and --ldap-ca cannot be used with --simulate");
#ifdef _WIN32
  if (!options.simulate) {
    p.api = std::make_unique<Win32NetApi>(
        std::make_unique<LdapDirectoryReader>(DirectoryLogonFrom(options)), options.hostTimeout);
    return p;
  }
#endif
#if QUORVIX_HAVE_SAMBA
  if (!options.simulate) {
    p.api = std::make_unique<samba::SambaNetApi>(SambaCredentialsFrom(options, p.note));
    return p;
  }
#endif
  p.simulated = true;
  if (options.simulate && !options.simulateFile.empty()) {
    p.api = std::make_unique<sim::SimulatedNetApi>(sim::LoadDomainFile(options.simulateFile));
  } else {
    p.api = std::make_unique<sim::SimulatedNetApi>(sim::DemoDomain());
    if (!options.simulate)
      p.note = "no native network provider in this build; using the built-in demo domain";
  }
  return p;
}

}  // namespace quorvix
