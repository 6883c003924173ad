#include "DesktopOptions.h"

#include <CLI/CLI.hpp>
#include <sstream>

namespace quorvix {

DesktopCommandLine ParseDesktopCommandLine(int argc, const char* const* argv,
                                           ProviderOptions& options,
                                           const std::function<void(CLI::App&)>& addOptions) {
  CLI::App cli{"Quorvix 2002: shows who is logged on where in a Windows domain.", "quorvix-audit"};
  AddProviderOptions(cli, options);
  if (addOptions) addOptions(cli);
  DesktopCommandLine result;
  try {
    ParseCommandLine(cli, argc, argv);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out;
    std::ostringstream err;
    const int rc = cli.exit(e, out, err);
    result.exitCode = rc == 0 ? 0 : 2;
    result.message = rc == 0 ? out.str() : err.str();
    if (result.message.empty()) result.message = out.str() + err.str();
  }
  return result;
}

}  // namespace quorvix
