// quorvix-scan: audits a domain without a window and prints the report.
#include <unistd.h>

#include <clocale>
#include <iostream>

#include "ScanCommand.h"

int main(int argc, char** argv) {
  // Month names of the last-logon column follow the user's locale (LC_TIME).
  std::setlocale(LC_ALL, "");
  std::ios::sync_with_stdio(false);
  return quorvix::RunScanCommand(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
