// What the provider's parts share of Samba's libraries: libnetapi's lock,
// the state lock of the RPC calls made beside it, and the configuration file
// they read.
#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>

#include "SambaSession.h"

struct cli_credentials;
struct loadparm_context;

namespace quorvix::samba {

// libnetapi keeps process-wide state and is not thread-safe: every use of
// it happens under this lock. The RPC calls of the workstation service and
// the account database do not take it.
std::mutex& LibraryLock();

// libnetapi's setup and release replace process-wide state that the RPC
// calls made outside LibraryLock use too (character-set conversion, debug
// classes): those calls hold this shared, setup and release exclusively
// (taken after LibraryLock, never before it).
std::shared_mutex& LibraryStateLock();

// Readies the process-wide character-set conversion handles for use from
// several threads: conversions that keep no state, and every converter
// opened. Samba opens each converter on first use and allocates it under
// the shared handle, which two threads doing so at once corrupt (failed
// conversions, then crashes). Call with LibraryStateLock held exclusively,
// after anything that (re)creates the handles: libnetapi's setup and release.
void ReadyCharsetConversions();

// Calls to machines that the provider serves at once, each with one
// connection, besides the kept connections to account databases (up to four
// to each of the last servers asked); the pool of settings holds enough for
// all.
inline constexpr unsigned kMaxConnectionCalls = 64;
inline constexpr std::size_t kKeptConnections = 64;

// The settings one RPC connection is made with, held for the connection's
// whole life (declare it before the talloc context the connection lives on,
// so that it is given back after that is freed). The libraries allocate
// under the settings of every connection made with them (a name-resolution
// context) and link references to them in and out as the connection goes,
// which talloc does not allow on one object from several threads: with
// settings shared by concurrent connections, the program crashed now and
// then ("Bad talloc magic value"). So each connection takes settings of its
// own from a pool, made while no other thread uses the libraries (making
// settings resets the libraries' process-wide logging), enough for every
// connection the provider makes at once; should it be empty all the same,
// the shared settings are taken (SharedSettingsTaken counts those).
class ConnectionSettings {
 public:
  ConnectionSettings();
  ~ConnectionSettings();
  ConnectionSettings(const ConnectionSettings&) = delete;
  ConnectionSettings& operator=(const ConnectionSettings&) = delete;
  loadparm_context* get() const { return lp_; }

 private:
  loadparm_context* lp_;
  bool own_;
};

// Fills the pool of connection settings up to what the connections have
// needed so far, with spare, and frees settings that have grown large with
// use. Call with LibraryStateLock held exclusively, before libnetapi's
// logging is turned off (making settings turns it on again).
void ReadyConnectionSettings();

// The bytes the pooled settings hold, for tests; while no connection is made.
std::size_t PooledSettingsBytes();
// How many connections found the pool empty and took the shared settings.
std::size_t SharedSettingsTaken();

// Makes Samba's libraries keep their per-call scratch state (talloc stack
// frames) per thread instead of in one global, and runs the one-time setups
// they do on first use that two threads must not run at once: needed before
// any library call once calls run on several threads. Safe to call again.
void UseLibrariesFromThreads();

// A write to a connection that the other side has closed, or that the
// provider shut down at a deadline, fails with EPIPE instead of ending the
// program with SIGPIPE: neither Samba's libraries nor libldap nor Kerberos
// ask the system to spare them the signal. Leaves a handler the program set
// alone. Safe to call again.
void IgnoreBrokenPipes();

// The configuration file the libraries read: the system's smb.conf when there
// is one, else an empty file, so that a machine without Samba configured still
// gets a working client (whose calls then fail with a status).
const char* ConfigFile();

// Credentials for libnetapi: the user's ticket cache by name, or the user
// and password with Kerberos off (the library would otherwise get a ticket
// itself and repoint the process's KRB5CCNAME). Call under the lock.
cli_credentials* MakeLibraryCredentials(const SambaCredentials& creds);
void FreeLibraryCredentials(cli_credentials* cc);

// This machine's NetBIOS name and workgroup as the configuration (or its
// defaults) gives them. Call under the lock.
std::string LocalNetbiosName();
std::string LocalWorkgroup();

}  // namespace quorvix::samba
