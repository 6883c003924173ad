#include "ProviderFactory.h"

#include "SimulatedNetApi.h"

namespace quorvix {

bool HasNativeProvider() { return false; }

Provider MakeProvider(const ProviderOptions& options) {
  Provider p;
  p.simulated = true;
  if (options.simulate && !options.simulateFile.empty()) {
    p.api = std::make_unique<sim::SimulatedNetApi>(sim::LoadDomainFile(options.simulateFile));
  } else {
    p.api = std::make_unique<sim::SimulatedNetApi>(sim::DemoDomain());
    if (!options.simulate) p.note = "no native network provider in this build; using the built-in demo domain";
  }
  return p;
}

}  // namespace quorvix
