// The About window: modal over the main window, closed by "&Close", Alt+C or
// a click on the banner; a fresh window every time.
#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "SimulatedNetApi.h"
#include "frmAbout.h"
#include "frmMain.h"

using namespace quorvix;

class frmAboutTest : public QObject {
  Q_OBJECT

  std::unique_ptr<sim::SimulatedNetApi> api_;
  std::unique_ptr<frmMain> main_;

  // Opens About from the toolbar and runs inside() while it is up. Returns
  // true when inside() closed it; a window still open after a while is
  // closed by force and counts as a failure.
  bool WithAbout(const std::function<void(QDialog*)>& inside) {
    bool forced = false;
    QTimer::singleShot(0, this, [&] {
      auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      QVERIFY(about != nullptr);
      about->activateWindow();
      QTRY_COMPARE(QApplication::activeWindow(), about);
      inside(about);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [&] {
      if (auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        forced = true;
        about->reject();
      }
    });
    guard.start(3000);
    auto* bar = main_->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    QAction* action = main_->findChild<QAction*>(QStringLiteral("About"));
    QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);  // returns once closed
    return !forced;
  }

  void ClickThroughWindow(QWidget* w) {
    const QPoint p = w->mapTo(main_.get(), w->rect().center());
    QTest::mouseClick(main_->windowHandle(), Qt::LeftButton, {}, p);
  }

 private slots:
  void init() {
    api_ = std::make_unique<sim::SimulatedNetApi>(sim::DemoDomain());
    main_ = std::make_unique<frmMain>(*api_, true);
    main_->ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    api_->ClearCalls();
  }
  void cleanup() {
    main_.reset();
    api_.reset();
  }

  void opensModalOverTheMainWindowWithItsContent() {
    QString firstNotice;
    const bool closed = WithAbout([&](QDialog* about) {
      QCOMPARE(about->objectName(), QStringLiteral("frmAbout"));
      QCOMPARE(about->windowTitle(), QStringLiteral("About"));
      QVERIFY(about->isModal());
      QCOMPARE(about->parentWidget(), main_.get());
      QVERIFY(!(about->windowFlags() & Qt::WindowCloseButtonHint));
      QVERIFY(!(about->windowFlags() & Qt::WindowSystemMenuHint));
      QCOMPARE(about->size(), QSize(417, 399));
      QCOMPARE(about->minimumSize(), about->maximumSize());
      auto* close = about->findChild<QPushButton*>(QStringLiteral("cmdClose"));
      QCOMPARE(close->text(), QStringLiteral("&Close"));
      QCOMPARE(about->focusWidget(), close);
      QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblProduct"))->text(),
               QStringLiteral("Quorvix 2002"));
      QCOMPARE(about->findChild<QLabel*>(QStringLiteral("lblVersion"))->text(),
               QStringLiteral("Version 1.0"));
      auto* frame = about->findChild<QFrame*>(QStringLiteral("Frame1"));
      auto* label1 = about->findChild<QLabel*>(QStringLiteral("Label1"));
      QCOMPARE(label1->parentWidget(), frame);
      QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(Qt::black));
      auto* label3 = about->findChild<QLabel*>(QStringLiteral("Label3"));
      QVERIFY(!label3->text().isEmpty());
      firstNotice = label3->text();
      auto* picture = about->findChild<QLabel*>(QStringLiteral("Image2_Picture"));
      QCOMPARE(picture->pixmap().size(), QSize(400, 200));
      QCOMPARE(about->findChild<QWidget*>(QStringLiteral("Image2"))->size(), QSize(404, 204));

      // The main window takes no input meanwhile: its About button does not
      // open a second window, its start button does not scan.
      // The clicks go through the window system, where modality applies.
      auto* bar = main_->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
      ClickThroughWindow(bar->widgetForAction(main_->findChild<QAction*>(QStringLiteral("About"))));
      ClickThroughWindow(main_->findChild<QToolButton*>(QStringLiteral("asxPowerButton1")));
      QCOMPARE(QApplication::activeModalWidget(), about);
      QCOMPARE(main_->findChildren<frmAbout*>().size(), 1);
      QCOMPARE(api_->Calls().size(), size_t{0});

      QTest::mouseClick(close, Qt::LeftButton);
    });
    QVERIFY(closed);
    QCOMPARE(main_->findChildren<frmAbout*>().size(), 0);  // unloaded

    // Opened again: a fresh window with the same content.
    QVERIFY(WithAbout([&](QDialog* about) {
      QCOMPARE(about->findChild<QLabel*>(QStringLiteral("Label3"))->text(), firstNotice);
      about->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    }));
  }

  void closesByAltC() {
    QVERIFY(WithAbout([](QDialog* about) { QTest::keyClick(about, Qt::Key_C, Qt::AltModifier); }));
  }

  void closesByAClickOnTheBanner() {
    QVERIFY(WithAbout([](QDialog* about) {
      QWidget* banner = about->findChild<QWidget*>(QStringLiteral("Image2"));
      QTest::mouseClick(banner, Qt::LeftButton, {}, QPoint(200, 100));
    }));
  }

  void otherKeysAndClicksLeaveItOpen() {
    bool stillOpen = false;
    QVERIFY(WithAbout([&](QDialog* about) {
      QTest::keyClick(about, Qt::Key_X, Qt::AltModifier);
      QTest::keyClick(about, Qt::Key_Escape);  // no close box, no cancel: Escape does nothing
      QWidget* label = about->findChild<QWidget*>(QStringLiteral("Label3"));
      QTest::mouseClick(label, Qt::LeftButton);
      stillOpen = about->isVisible();
      about->findChild<QPushButton*>(QStringLiteral("cmdClose"))->click();
    }));
    QVERIFY(stillOpen);
  }
};

QTEST_MAIN(frmAboutTest)
#include "frmAbout_test.moc"
