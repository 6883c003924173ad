#include "ImageButton.h"

#include <QPainter>

namespace quorvix {

ImageButton::ImageButton(const QPixmap& rest, const QPixmap& hot, QWidget* parent)
    : QToolButton(parent), rest_(rest), hot_(hot) {
  setAutoRaise(true);
  setFixedSize(rest_.size());
  setCursor(Qt::ArrowCursor);
}

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, IsHot() ? hot_ : rest_);
  if (hasFocus()) {
    // A dotted outline so the keyboard user sees where the focus is.
    QPen pen(palette().color(QPalette::WindowText), 1, Qt::DotLine);
    p.setPen(pen);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void ImageButton::enterEvent(QEnterEvent* event) {
  hover_ = true;
  update();
  QToolButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
  hover_ = false;
  update();
  QToolButton::leaveEvent(event);
}

}  // namespace quorvix
