// The desktop program's command line, the same for both windows: the
// provider options and --help.
#pragma once

#include <functional>
#include <string>

#include "ProviderFactory.h"

namespace quorvix {

struct DesktopCommandLine {
  // -1: go on and open the windows; otherwise end with this exit status
  // (0 after --help, 2 after a mistake).
  int exitCode = -1;
  // What to tell the user when the program ends here: the help text or the
  // mistake.
  std::string message;
};

// Reads argv (UTF-8, argv[0] the program) into options. addOptions declares
// the options that only one of the windows has.
DesktopCommandLine ParseDesktopCommandLine(int argc, const char* const* argv,
                                           ProviderOptions& options,
                                           const std::function<void(CLI::App&)>& addOptions = {});

}  // namespace quorvix
