// What the provider's parts share of Samba's libraries: the one lock around
// them and the configuration file they read.
#pragma once

#include <mutex>
#include <string>

#include "SambaSession.h"

namespace quorvix::samba {

// Samba's libraries keep process-wide state and are not thread-safe: every
// use of them happens under this lock.
std::mutex& LibraryLock();

// The configuration file the libraries read: the system's smb.conf when there
// is one, else an empty file, so that a machine without Samba configured still
// gets a working client (whose calls then fail with a status).
const char* ConfigFile();

// This machine's NetBIOS name and workgroup as the configuration (or its
// defaults) gives them. Call under the lock.
std::string LocalNetbiosName();
std::string LocalWorkgroup();

}  // namespace quorvix::samba
