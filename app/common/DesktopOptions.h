// The desktop program's command line, the same for both windows: the
// provider options and --help/--version.
#pragma once

#include <string>

#include "ProviderFactory.h"

namespace quorvix {

struct DesktopCommandLine {
  // -1: go on and open the windows; otherwise end with this exit status
  // (0 after --help or --version, 2 after a mistake).
  int exitCode = -1;
  // What to tell the user when the program ends here: the help text, the
  // version, or the mistake.
  std::string message;
};

// Reads argv (UTF-8, argv[0] the program) into options.
DesktopCommandLine ParseDesktopCommandLine(int argc, const char* const* argv,
                                           ProviderOptions& options);

}  // namespace quorvix
