#include "ProviderFactory.h"

#include <CLI/CLI.hpp>

#include "SimulatedNetApi.h"
#ifdef _WIN32
#include "Win32NetApi.h"
#endif

namespace quorvix {

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

}  // namespace

void AddProviderOptions(CLI::App& app, ProviderOptions& options) {
  app.formatter(std::make_shared<ProviderHelpFormatter>());
  // A flag, so that "--simulate DOMAIN" leaves DOMAIN to the program; a file
  // is named as "--simulate=FILE".
  CLI::Option* simulate =
      app.add_flag("--simulate{}", options.simulateFile,
                   "Use the simulated network: the built-in demo domain, or the domain file FILE")
          ->option_text("[=FILE]");
  app.parse_complete_callback([&options, simulate] { options.simulate = simulate->count() > 0; });
}

bool HasNativeProvider() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

Provider MakeProvider(const ProviderOptions& options) {
  Provider p;
#ifdef _WIN32
  if (!options.simulate) {
    p.api = std::make_unique<Win32NetApi>();
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
