// quorvix-audit (Windows): shows who is logged on where in a Windows domain.
#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "AuditScan.h"
#include "DesktopOptions.h"
#include "DesktopProgram.h"
#include "ProviderFactory.h"
#include "Win32Ui.h"
#include "WindowTexts.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::wstring Wide(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Tells the user: on the console the program was started from, when there is
// one, else in a message box.
void Tell(const std::string& text, bool problem) {
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE out = GetStdHandle(problem ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      return;
  }
  MessageBoxW(nullptr, Wide(text).c_str(), quorvix::win32::W(quorvix::kAppTitle16),
              MB_OK | (problem ? MB_ICONERROR : 0));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** wideArgv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(Utf8(wideArgv[i]));
  LocalFree(wideArgv);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  quorvix::ProviderOptions options;
  const quorvix::DesktopCommandLine command =
      quorvix::ParseDesktopCommandLine(static_cast<int>(argv.size()), argv.data(), options);
  if (command.exitCode >= 0) {
    Tell(command.message, command.exitCode != 0);
    return command.exitCode;
  }

  quorvix::Provider provider;
  try {
    provider = quorvix::MakeProvider(options);
  } catch (const std::exception& e) {
    Tell(std::string("quorvix-audit: ") + e.what() + "\n", true);
    return 2;
  }
  const int rc = quorvix::win32::RunDesktopProgram(*provider.api, provider.simulated,
                                                   {options.jobs, options.hostTimeout});
  // Machines given up by a scan may still be inside a call to the provider:
  // end without waiting for them, and without tearing down what they may
  // still touch. Those that came back after their scan ended may still be
  // ending: they are waited for (a process that ends while a thread ends
  // crashes now and then under Wine).
  if (!quorvix::WaitForScanWorkers(std::chrono::milliseconds(0)))
    ExitProcess(static_cast<UINT>(rc));
  return rc;
}
