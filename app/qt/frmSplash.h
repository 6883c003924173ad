// The start-up window: the banner, without a title bar, in the middle of the
// screen. One second after it appears it shows the main window and closes.
#pragma once

#include <QFrame>
#include <functional>

class QLabel;
class QTimer;

namespace quorvix {

class frmSplash : public QFrame {
  Q_OBJECT

 public:
  // showMain shows the main window, loading it the first time, and returns
  // when loading has finished. The window deletes itself when it closes.
  explicit frmSplash(std::function<void()> showMain, QWidget* parent = nullptr);

  // How often the timer has fired.
  int Ticks() const { return ticks_; }

 public slots:
  void Timer1_Timer();

 private:
  std::function<void()> showMain_;
  int ticks_ = 0;
  QWidget* client_;
  QLabel* Image1;
  QTimer* Timer1;
};

}  // namespace quorvix
