// quorvix-audit: shows who is logged on where in a Windows domain.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Art.h"
#include "DesktopOptions.h"
#include "ProviderFactory.h"
#include "ScreenshotTour.h"
#include "TerminalText.h"
#include "frmMain.h"
#include "frmSplash.h"

namespace {

// A window system that can show a dialog (not the offscreen or minimal ones).
bool CanShowDialogs() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// Whether no window system is named: no display in the environment, no
// platform chosen. Qt then ends the program outright (SIGABRT) as it starts,
// an administrator's "--help" over SSH included.
bool NoDisplay(int argc, char* argv[]) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return false;
  }
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "-platform") return false;
  return true;
}

// Reads the command line into options: the exit code when answering it is
// all the program does (help, version, a mistake), else -1.
int ReadCommandLine(int argc, char* argv[], quorvix::ProviderOptions& options,
                    std::string& tourFolder) {
  const quorvix::DesktopCommandLine command =
      quorvix::ParseDesktopCommandLine(argc, argv, options, [&tourFolder](CLI::App& cli) {
        cli.add_option("--screenshot-tour", tourFolder,
                       "Photograph the splash, main and About windows into DIR, then exit "
                       "(with --simulate only: the tour presses start)")
            ->option_text("DIR");
      });
  if (command.exitCode >= 0)
    std::fputs(command.message.c_str(), command.exitCode == 0 ? stdout : stderr);
  return command.exitCode;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (NoDisplay(argc, argv)) {
    // The command line still answers: help, version and mistakes.
    quorvix::ProviderOptions options;
    std::string tourFolder;
    if (const int exit = ReadCommandLine(argc, argv, options, tourFolder); exit >= 0) return exit;
    std::fputs(
        "quorvix-audit: no display to show the window on (neither DISPLAY nor "
        "WAYLAND_DISPLAY is set); quorvix-scan scans without one\n",
        stderr);
    return 2;
  }
  QApplication app(argc, argv);  // takes the window system's own options out of argv
  // Month names follow LC_TIME, as in quorvix-scan; numbers in options are
  // read with a decimal point whatever LC_NUMERIC says (the option parser
  // reads them through strtold). This comes after QApplication, which takes
  // the whole locale from the environment as well.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("quorvix-audit"));
  QApplication::setApplicationVersion(QStringLiteral(QUORVIX_VERSION_TEXT));
  // Ties the windows to the menu entry quorvix-audit.desktop (its icon, on Wayland too).
  QGuiApplication::setDesktopFileName(QStringLiteral("quorvix-audit"));
  QApplication::setFont(quorvix::WindowFont());

  quorvix::ProviderOptions options;
  std::string tourFolder;
  if (const int exit = ReadCommandLine(argc, argv, options, tourFolder); exit >= 0) return exit;
  if (!tourFolder.empty() && !options.simulate) {
    std::fprintf(stderr,
                 "quorvix-audit: --screenshot-tour needs --simulate: the tour presses "
                 "start, which must not scan a real network\n");
    return 2;
  }

  // A password for --user is asked in a small dialog, never on the command line.
  if (CanShowDialogs()) {
    options.askPassword = [](const std::string& user) -> std::optional<std::string> {
      bool ok = false;
      const QString password = QInputDialog::getText(
          nullptr, QStringLiteral("Quorvix 2002"),
          QStringLiteral("Password for %1:").arg(QString::fromStdString(user)), QLineEdit::Password,
          QString(), &ok);
      if (!ok) return std::nullopt;
      return password.toStdString();
    };
  }

  quorvix::Provider provider;
  try {
    provider = quorvix::MakeProvider(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvix-audit: %s\n", quorvix::TerminalLine(e.what()).c_str());
    if (CanShowDialogs())
      QMessageBox::critical(nullptr, QStringLiteral("Quorvix 2002"), QString::fromUtf8(e.what()));
    return 2;
  }
  if (!provider.note.empty())
    std::fprintf(stderr, "quorvix-audit: %s\n", quorvix::TerminalLine(provider.note).c_str());

  std::unique_ptr<quorvix::frmMain> mainWindow;
  QPointer<quorvix::frmSplash> splash = new quorvix::frmSplash([&] {
    if (!mainWindow) {
      mainWindow = std::make_unique<quorvix::frmMain>(*provider.api, provider.simulated);
      mainWindow->SetScanSettings({options.jobs, options.hostTimeout});
    }
    mainWindow->ShowWindow();
  });
  splash->show();

  std::unique_ptr<quorvix::ScreenshotTour> tour;
  if (!tourFolder.empty())
    tour = std::make_unique<quorvix::ScreenshotTour>(
        QString::fromStdString(tourFolder), splash.data(), [&] { return mainWindow.get(); });

  const int rc = QApplication::exec();
  tour.reset();
  delete splash.data();  // still there only when the program ended before the timer fired
  mainWindow.reset();
  // Machines given up by a scan may still be inside a call to the provider:
  // end without waiting for them, and without tearing down what they may
  // still touch (only the clean-ups registered for such an end run: the
  // files of their connections).
  if (quorvix::BusyScanWorkers() > 0) {
    std::fflush(nullptr);
    std::quick_exit(rc);
  }
  return rc;
}
