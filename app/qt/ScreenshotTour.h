// A guided run for pictures of the windows, asked for by --screenshot-tour=DIR
// together with --simulate: the program grabs the splash window, presses
// start, grabs the main window with its rows, opens and grabs the About
// window, and exits.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

namespace quorvix {

class frmMain;
class frmSplash;

class ScreenshotTour : public QObject {
  Q_OBJECT

 public:
  // mainWindow gives the main window once it exists (null before).
  ScreenshotTour(QString folder, frmSplash* splash, std::function<frmMain*()> mainWindow,
                 QObject* parent = nullptr);

 private:
  void GrabSplash();
  void WaitForMain();
  void Save(QWidget* window, const QString& name);

  QString folder_;
  QPointer<frmSplash> splash_;
  std::function<frmMain*()> mainWindow_;
};

}  // namespace quorvix
