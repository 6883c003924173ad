#include "frmSplash.h"

#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "Art.h"
#include "ResizeRules.h"

namespace quorvix {

frmSplash::frmSplash(std::function<void()> showMain, QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint), showMain_(std::move(showMain)) {
  setObjectName(QStringLiteral("frmSplash"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(WindowIcon());
  setWindowTitle(QStringLiteral("Quorvix 2002"));
  setFont(WindowFont());
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(224, 224, 224));
  setPalette(pal);
  setAutoFillBackground(true);

  // Client area 400 x 199 inside a one-pixel border; the 400 x 200 banner's
  // last row falls below the client area and is not seen.
  setFixedSize(400 + 2, 199 + 2);
  client_ = new QWidget(this);
  client_->setGeometry(1, 1, 400, 199);
  Image1 = new QLabel(client_);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 400, 200);
  Image1->setPixmap(BannerPicture());

  if (QScreen* s = screen()) {
    const QRect area = s->geometry();
    // Frameless: its outer size is its size.
    const WindowOrigin at =
        CentredOrigin(area.x(), area.y(), area.width(), area.height(), width(), height());
    move(at.left, at.top);
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
  Timer1->start();
}

void frmSplash::Timer1_Timer() {
  ++ticks_;
  // Stopped first: the main window's loading services the windows while it
  // waits on the network, and the timer must not show it a second time.
  Timer1->stop();
  // The main window shows before this one goes, so one window is always there.
  if (showMain_) showMain_();
  close();
}

}  // namespace quorvix
