// What the provider's parts share of Samba's libraries: the one lock around
// them and the configuration file they read.
#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>

#include "SambaSession.h"

struct cli_credentials;

namespace quorvix::samba {

// Samba's libraries keep process-wide state and are not thread-safe: every
// use of them happens under this lock.
std::mutex& LibraryLock();

// libnetapi's setup and release replace process-wide state that the RPC
// calls made outside LibraryLock use too (character-set conversion, debug
// classes): those calls hold this shared, setup and release exclusively
// (taken after LibraryLock, never before it).
std::shared_mutex& LibraryStateLock();

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
