// The domain-file loader: any bytes give a domain or a DomainFileError,
// nothing else; a loaded domain keeps the loader's promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SimDomain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace quorvix::sim;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const SimDomain d = ParseDomainJson(text, "fuzz.json");
    // Every name is non-empty and free of U+0000: a NUL-terminated copy
    // names the same thing.
    for (const SimMachine& m : d.machines) {
      if (m.name.empty() || m.name.find(u'\0') != std::u16string::npos) std::abort();
      for (const SimLogonEntry& e : m.sessions)
        if (e.user.find(u'\0') != std::u16string::npos) std::abort();
    }
    for (const auto& [call, micros] : d.latencyMicros)
      if (micros > 3600u * 1000u * 1000u) std::abort();
  } catch (const DomainFileError&) {
  }
  return 0;
}
