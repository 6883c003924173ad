// The program as a process: its provider options, a bad domain file, and a
// guided run from splash to Exit.
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class ProgramTest : public QObject {
  Q_OBJECT

  struct Run {
    int exitCode = -1;
    QString out;
    QString err;
  };

  static Run Start(const QStringList& args, const QProcessEnvironment& env, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUORVIX_AUDIT_EXE), args);
    Run r;
    if (!p.waitForStarted(5000)) return r;
    if (!p.waitForFinished(timeoutMs)) {
      p.kill();
      p.waitForFinished();
      return r;
    }
    if (p.exitStatus() == QProcess::NormalExit) r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
  }

  static QProcessEnvironment Offscreen() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
  }

 private slots:
  void badOptionsAndDomainFilesExitWithTwo() {
    Run r = Start({QStringLiteral("--simulate=/nonexistent/domain.json")}, Offscreen(), 30000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("/nonexistent/domain.json")), qPrintable(r.err));

    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("{\"local\": {\"computerName\": \"X\"");
    f.close();
    r = Start({QStringLiteral("--simulate=") + bad}, Offscreen(), 30000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("bad.json")), qPrintable(r.err));

    r = Start({QStringLiteral("--no-such-option")}, Offscreen(), 30000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(!r.err.isEmpty());

    r = Start({QStringLiteral("--help")}, Offscreen(), 30000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("--simulate")), qPrintable(r.out));

    // Without any display (over SSH, say) the command line still answers,
    // and a run says what is missing (Qt aborted the program before).
    QProcessEnvironment none = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
      none.remove(QString::fromLatin1(name));
    r = Start({QStringLiteral("--help")}, none, 30000);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains(QStringLiteral("--simulate")), qPrintable(r.out));
    r = Start({QStringLiteral("--no-such-option")}, none, 30000);
    QCOMPARE(r.exitCode, 2);
    r = Start({QStringLiteral("--simulate")}, none, 30000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("no display")), qPrintable(r.err));
  }

  void aGuidedRunFromSplashToExit() {
    // The run grabs the splash, presses start, grabs the main window, opens
    // and closes About, and ends by Exit: the process exits by itself.
    QTemporaryDir dir;
    const Run r =
        Start({QStringLiteral("--simulate"), QStringLiteral("--screenshot-tour=") + dir.path()},
              Offscreen(), 60000);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const QImage splash(dir.filePath(QStringLiteral("splash.png")));
    const QImage main(dir.filePath(QStringLiteral("main-window.png")));
    const QImage about(dir.filePath(QStringLiteral("about.png")));
    QCOMPARE(splash.size(), QSize(402, 201));
    QCOMPARE(main.size(), QSize(452, 446));
    QCOMPARE(about.size(), QSize(417, 399));
  }

  void theTourNeedsSimulateAndNoVariableStartsIt() {
    // Without --simulate the tour would press start on the real network.
    QTemporaryDir dir;
    Run r = Start({QStringLiteral("--screenshot-tour=") + dir.path()}, Offscreen(), 30000);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("--simulate")), qPrintable(r.err));
    // The environment no longer starts it: the program waits for its user
    // (and is stopped here) and writes nothing.
    QProcessEnvironment env = Offscreen();
    env.insert(QStringLiteral("QUORVIX_SCREENSHOT_DIR"), dir.path());
    r = Start({QStringLiteral("--simulate")}, env, 3000);
    QCOMPARE(r.exitCode, -1);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
  }
};

QTEST_MAIN(ProgramTest)
#include "Program_test.moc"
