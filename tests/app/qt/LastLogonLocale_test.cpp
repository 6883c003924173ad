// The report's "Last Logon" column in a program whose environment asks for
// German dates (LC_TIME): the month names are German. The environment is
// set before the application object exists, as a user's shell sets it.
#include <QTreeView>
#include <QtTest>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "SimulatedNetApi.h"
#include "frmMain.h"

using namespace quorvix;

namespace {

// The German locale's name for LC_TIME, after compiling it from the system's
// locale sources into a folder of the test's own (named by LOCPATH) when it
// is not installed; empty when neither works.
std::string PrepareGermanLocale() {
  const char* name = "de_DE.UTF-8";
  const std::string saved = std::setlocale(LC_TIME, nullptr);
  bool ok = std::setlocale(LC_TIME, name) != nullptr;
  if (!ok) {
    namespace fs = std::filesystem;
    if (!fs::exists("/usr/share/i18n/locales/de_DE")) return {};
    const fs::path dir = fs::temp_directory_path() / "quorvix-locale-test";
    fs::create_directories(dir);
    const std::string command =
        "localedef -i de_DE -f UTF-8 '" + (dir / name).string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
    setenv("LOCPATH", dir.c_str(), 1);
    ok = std::setlocale(LC_TIME, name) != nullptr;
  }
  std::setlocale(LC_TIME, saved.c_str());
  return ok ? name : std::string();
}

bool g_german = false;

}  // namespace

class LastLogonLocaleTest : public QObject {
  Q_OBJECT

 private slots:
  void monthNamesFollowTheEnvironmentsTimeLocale() {
    if (!g_german) QSKIP("no German locale installed or buildable");
    sim::SimulatedNetApi api(
        sim::LoadDomainFile(QUORVIX_TEST_DATA_DIR "/scan-small.json"));  // HQ is this machine's
    frmMain w(api, true);
    w.ShowWindow();
    QTest::mouseClick(w.findChild<QWidget*>(QStringLiteral("asxPowerButton1")), Qt::LeftButton);
    QCOMPARE(w.LastScanOutcome(), ScanOutcome::Done);
    auto* list = w.findChild<QTreeView*>(QStringLiteral("lvMain"));
    QVERIFY(list != nullptr);
    // Ascending by user: admin (March 2002), then alice (December 1999).
    QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("admin"));
    QCOMPARE(list->model()->index(0, 4).data().toString(),
             QString::fromUtf8("14-M\xC3\xA4r-2002 09:12:45"));
    QCOMPARE(list->model()->index(1, 4).data().toString(), QStringLiteral("15-Dez-1999 08:00:00"));
  }
};

int main(int argc, char* argv[]) {
  const std::string german = PrepareGermanLocale();
  g_german = !german.empty();
  if (g_german) {
    unsetenv("LC_ALL");
    setenv("LC_TIME", german.c_str(), 1);
  }
  // The application object takes the C locale from the environment on Unix,
  // and the program's main sets it again; either way LC_TIME now rules.
  QApplication app(argc, argv);
  QGuiApplication::setQuitOnLastWindowClosed(false);
  LastLogonLocaleTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "LastLogonLocale_test.moc"
