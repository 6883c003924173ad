// quorvix-scan: the headless scan, its command line and its exit statuses.
#pragma once

#include <iosfwd>

namespace quorvix {

enum ScanExit : int {
  kExitOk = 0,
  kExitNetworkFailure = 1,  // the machine (or domain) enumeration failed
  kExitBadInput = 2,        // a bad argument, or an unreadable or malformed domain file
  kExitInterrupted = 130,   // Ctrl+C stopped the scan; the rows found were printed
};

// Runs quorvix-scan with its command line, writing the report to out and
// messages to err; progress goes to err when showProgress is set (a terminal).
// When out is a terminal, CSV fields are made visible as the table's cells.
int RunScanCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool showProgress, bool outputIsTerminal = false);

}  // namespace quorvix
