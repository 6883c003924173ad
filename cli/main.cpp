// quorvix-scan: audits a domain without a window and prints the report.
#ifdef _WIN32
#include <windows.h>
// windows.h must precede the other platform headers.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "basStringHandler.h"
#else
#include <unistd.h>
#endif

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <iostream>

#include "AuditScan.h"
#include "ScanCommand.h"

#ifdef _WIN32
namespace {

// The command line as UTF-8, as the program reads it everywhere: Windows
// hands main() its arguments in the ANSI code page, which loses characters.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 0; i < count; ++i)
    args.push_back(quorvix::ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
  LocalFree(wide);
  return args;
}

// A console shows the UTF-8 output as UTF-8 while the program runs.
class Utf8Console {
 public:
  Utf8Console() : saved_(GetConsoleOutputCP()) { SetConsoleOutputCP(CP_UTF8); }
  ~Utf8Console() { Restore(); }
  // Gives the console its code page back; for an end that runs no destructors.
  void Restore() {
    if (saved_ != 0) SetConsoleOutputCP(saved_);
    saved_ = 0;
  }
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  UINT saved_;
};

}  // namespace
#endif

int main(int argc, char** argv) {
  // Month names of the last-logon column follow the user's locale (LC_TIME);
  // numbers do not: options are read with a decimal point on every machine
  // (the option parser reads them through strtold, which follows LC_NUMERIC).
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
#ifdef _WIN32
  // The same bytes as elsewhere: CSV ends its records in CRLF itself, and
  // text mode would turn each LF into CRLF once more.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  Utf8Console console;
  std::vector<std::string> args = Utf8Arguments();
  std::vector<char*> utf8Argv;
  for (auto& a : args) utf8Argv.push_back(a.data());
  utf8Argv.push_back(nullptr);
  if (!args.empty()) {
    argc = static_cast<int>(args.size());
    argv = utf8Argv.data();
  }
  const bool errorIsTerminal = _isatty(_fileno(stderr)) != 0;
  const bool outputIsTerminal = _isatty(_fileno(stdout)) != 0;
#else
  const bool errorIsTerminal = isatty(STDERR_FILENO) == 1;
  const bool outputIsTerminal = isatty(STDOUT_FILENO) == 1;
#endif
  std::ios::sync_with_stdio(false);
  const int rc =
      quorvix::RunScanCommand(argc, argv, std::cout, std::cerr, errorIsTerminal, outputIsTerminal);
  // Machines given up are still inside their calls: end without waiting for
  // them, and without tearing down what they may still touch (only the
  // clean-ups registered for such an end run: the files of their connections).
  // Those that came back after the scan ended may still be ending on
  // Windows: they are waited for, as a process that ends while a thread ends
  // crashes now and then under Wine.
  if (!quorvix::WaitForScanWorkers(std::chrono::milliseconds(0))) {
    std::cout.flush();
    std::cerr.flush();
#ifdef _WIN32
    console.Restore();
    std::_Exit(rc);
#else
    std::quick_exit(rc);
#endif
  }
  return rc;
}
