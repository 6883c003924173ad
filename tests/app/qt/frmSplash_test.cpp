// The splash window: one tick of its timer shows the main window and then
// the splash closes for good.
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include "SimulatedNetApi.h"
#include "frmMain.h"
#include "frmSplash.h"

using namespace quorvix;

class frmSplashTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QGuiApplication::setQuitOnLastWindowClosed(false); }

  void looksAsDesigned() {
    QPointer<frmSplash> splash = new frmSplash([] {});
    QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(splash->size(), QSize(402, 201));  // 400 x 199 inside a one-pixel border
    auto* image = splash->findChild<QLabel*>(QStringLiteral("Image1"));
    QCOMPARE(image->pixmap().size(), QSize(400, 200));
    auto* timer = splash->findChild<QTimer*>(QStringLiteral("Timer1"));
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(timer->isActive());
    delete splash.data();
  }

  void timerShowsTheMainWindowOnceThenCloses() {
    sim::SimulatedNetApi api(sim::DemoDomain());
    std::unique_ptr<frmMain> mainWindow;
    int shows = 0;
    bool splashVisibleWhileLoading = false;
    bool mainVisibleBeforeSplashCloses = false;
    bool bothVisible = false;
    QPointer<frmSplash> splash;
    splash = new frmSplash([&] {
      ++shows;
      splashVisibleWhileLoading = splash && splash->isVisible();
      if (!mainWindow) mainWindow = std::make_unique<frmMain>(api, true);
      mainWindow->ShowWindow();
      bothVisible = splash && splash->isVisible() && mainWindow->isVisible();
    });
    QElapsedTimer clock;
    clock.start();
    splash->show();
    connect(splash.data(), &QObject::destroyed, this,
            [&] { mainVisibleBeforeSplashCloses = mainWindow && mainWindow->isVisible(); });
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    QVERIFY(clock.elapsed() >= 900);
    QCOMPARE(shows, 1);
    QVERIFY(splashVisibleWhileLoading);
    QVERIFY(bothVisible);
    QVERIFY(mainVisibleBeforeSplashCloses);
    QVERIFY(mainWindow->IsLoaded());
    // No second tick.
    QTest::qWait(1300);
    QCOMPARE(shows, 1);
  }
};

QTEST_MAIN(frmSplashTest)
#include "frmSplash_test.moc"
