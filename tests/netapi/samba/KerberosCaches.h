// What a Kerberos cache holds, for the tests.
#pragma once

#include <krb5.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvix::samba {

// Calls each with every ticket of the named cache.
inline void ForEachTicket(const std::string& cache,
                          const std::function<void(krb5_context, const krb5_creds&)>& each) {
  krb5_context k = nullptr;
  if (krb5_init_context(&k) != 0) return;
  krb5_ccache cc = nullptr;
  krb5_cc_cursor cursor = nullptr;
  if (krb5_cc_resolve(k, cache.c_str(), &cc) == 0 && krb5_cc_start_seq_get(k, cc, &cursor) == 0) {
    krb5_creds creds;
    while (krb5_cc_next_cred(k, cc, &cursor, &creds) == 0) {
      each(k, creds);
      krb5_free_cred_contents(k, &creds);
    }
    krb5_cc_end_seq_get(k, cc, &cursor);
  }
  if (cc != nullptr) krb5_cc_close(k, cc);
  krb5_free_context(k);
}

// The services of the tickets in a cache.
inline std::vector<std::string> ServicesIn(const std::string& cache) {
  std::vector<std::string> out;
  ForEachTicket(cache, [&out](krb5_context k, const krb5_creds& creds) {
    char* name = nullptr;
    if (krb5_unparse_name(k, creds.server, &name) == 0) out.emplace_back(name);
    krb5_free_unparsed_name(k, name);
  });
  return out;
}

// When the initial ticket (krbtgt) of a cache ends; 0 without one.
inline krb5_timestamp InitialTicketEnd(const std::string& cache) {
  krb5_timestamp end = 0;
  ForEachTicket(cache, [&end]([[maybe_unused]] krb5_context k, const krb5_creds& creds) {
    const krb5_data* first = krb5_princ_component(k, creds.server, 0);
    if (first != nullptr && std::string(first->data, first->length) == "krbtgt")
      end = creds.times.endtime;
  });
  return end;
}

}  // namespace quorvix::samba
