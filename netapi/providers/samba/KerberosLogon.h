// Kerberos for the provider's own use: the user's ticket cache, or a ticket
// got from a password into a cache private to the process (in memory, never
// the user's own). The directory is read with these tickets over SASL
// GSSAPI; the password itself never crosses the network.
#pragma once

#include <chrono>
#include <string>

#include "NetApi.h"

namespace quorvix::samba {

class TicketCache {
 public:
  TicketCache() = default;
  ~TicketCache();
  TicketCache(const TicketCache&) = delete;
  TicketCache& operator=(const TicketCache&) = delete;

  // The user's default cache (KRB5CCNAME, else the Kerberos configuration's
  // default), named now so that later changes of the process's defaults by
  // other libraries do not move it.
  NET_API_STATUS UseDefault();

  // An initial ticket for principal from password, into a new in-memory
  // cache, or in place of the one got before (the cache keeps its name).
  // NERR_Success; ERROR_LOGON_FAILURE, ERROR_ACCOUNT_DISABLED,
  // ERROR_PASSWORD_EXPIRED when the KDC refuses the account or password;
  // NERR_DCNotFound when no KDC of the realm can be reached or is known.
  NET_API_STATUS GetFromPassword(const std::string& principal, const std::string& password);

  bool Empty() const { return name_.empty(); }
  const std::string& Name() const { return name_; }
  // Whether the ticket got from a password ends within `within` (a program
  // left open for a day outlives it); never for the user's own cache.
  bool EndsWithin(std::chrono::seconds within) const;

 private:
  std::string name_;
  bool owned_ = false;  // a private cache, destroyed with this object
  std::chrono::system_clock::time_point ends_;
};

// The user's default ticket cache, named the first time this is called (the
// provider calls it when made). Libraries change the process's defaults
// later (libnetapi points KRB5CCNAME at a memory cache of its own after a
// password logon); the user's cache is this one all the same.
const std::string& UserDefaultCache();

// A new cache holding the initial tickets of the named cache and its
// settings, but none of its service tickets; "" when it holds no initial
// ticket. Each connection to a machine gets such a cache: the service
// tickets got for thousands of machines then end with their connections,
// instead of piling up in the user's cache, where every later lookup reads
// them all again. It is a file only the user can read (the RPC library's own
// Kerberos cannot see this library's caches in memory), in
// $XDG_RUNTIME_DIR, else /tmp. Destroy it with DestroyCache.
std::string CopyInitialTickets(const std::string& from);
void DestroyCache(const std::string& name);

// The Kerberos principal of DOMAIN\NAME (or NAME, or NAME@REALM) in realm.
std::string KerberosPrincipal(const std::string& user, const std::string& realm);

// Whether a user given as DOMAIN\NAME is an account of the directory's own
// domain, named by its NetBIOS name or its DNS name (the realm), case aside:
// only then is NAME@realm the same account. A user given as NAME or
// NAME@REALM names no other. Where the directory did not say its NetBIOS
// name, the realm's first label stands for it.
bool OfDirectoryDomain(const std::string& user, const std::string& netbiosDomain,
                       const std::string& realm);

// The realm of a directory naming context: "DC=qvxad,DC=test" -> "QVXAD.TEST".
std::string RealmFromDn(const std::string& dn);

// GSSAPI initiator credentials of the named cache, for one bind; nullptr
// when the cache holds none. Release with ReleaseGssCredentials.
void* ImportGssCredentials(const std::string& cacheName);
void ReleaseGssCredentials(void* cred);

}  // namespace quorvix::samba
