// Samba's libraries keep process-wide state (loadparm, debug, RPC transports
// and libnetapi's context remnants, all in talloc memory) until the process
// ends. The leak checker of the sanitizer build is told so; the provider's own
// allocations stay checked.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libtalloc\n"
         "leak:libsamba\n"
         "leak:libnetapi\n"
         "leak:libdcerpc\n"
         "leak:libsmbconf\n"
         "leak:libndr\n"
         "leak:libgssapi\n"
         "leak:libkrb5\n"
         "leak:libldap\n"
         "leak:liblber\n"
         "leak:libsasl2\n";
}
