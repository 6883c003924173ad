#include "ScreenshotTour.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "frmMain.h"
#include "frmSplash.h"

namespace quorvix {

ScreenshotTour::ScreenshotTour(QString folder, frmSplash* splash,
                               std::function<frmMain*()> mainWindow, QObject* parent)
    : QObject(parent),
      folder_(std::move(folder)),
      splash_(splash),
      mainWindow_(std::move(mainWindow)) {
  QDir().mkpath(folder_);
  QTimer::singleShot(400, this, &ScreenshotTour::GrabSplash);
}

void ScreenshotTour::Save(QWidget* window, const QString& name) {
  const QString path = QDir(folder_).filePath(name);
  if (window == nullptr || !window->grab().save(path))
    std::fprintf(stderr, "quorvix-audit: could not write %s\n", qPrintable(path));
}

void ScreenshotTour::GrabSplash() {
  if (splash_) Save(splash_, QStringLiteral("splash.png"));
  WaitForMain();
}

void ScreenshotTour::WaitForMain() {
  frmMain* main = mainWindow_();
  if (main == nullptr || !main->isVisible() || splash_) {
    QTimer::singleShot(100, this, &ScreenshotTour::WaitForMain);
    return;
  }
  auto* start = main->findChild<QToolButton*>(QStringLiteral("asxPowerButton1"));
  if (start != nullptr) start->click();  // the scan runs to its end inside the press
  QTimer::singleShot(300, this, [this] {
    frmMain* main = mainWindow_();
    if (main == nullptr) return;
    Save(main, QStringLiteral("main-window.png"));
    QAction* about = main->findChild<QAction*>(QStringLiteral("About"));
    QAction* exit = main->findChild<QAction*>(QStringLiteral("Exit"));
    QTimer::singleShot(300, this, [this] {
      QWidget* box = QApplication::activeModalWidget();
      Save(box, QStringLiteral("about.png"));
      if (box != nullptr)
        if (auto* close = box->findChild<QPushButton*>(QStringLiteral("cmdClose"))) close->click();
    });
    if (about != nullptr) about->trigger();  // returns when the About window has closed
    if (exit != nullptr) exit->trigger();
  });
}

}  // namespace quorvix
