#include "CoolBar.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace quorvix {

namespace {

constexpr int kGripperLeft = 3;  // the gripper's two ridges sit left of the child

}  // namespace

CoolBar::CoolBar(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);
}

void CoolBar::AddBand(QWidget* child, const QRect& place) {
  child->setParent(this);
  bands_.push_back({child, place, std::max(0, width() - place.right() - 1)});
  PlaceChildren();
  child->show();
}

void CoolBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  PlaceChildren();
}

void CoolBar::PlaceChildren() {
  for (const Band& b : bands_) {
    const int w = std::max(0, width() - b.place.left() - b.rightGap);
    b.child->setGeometry(b.place.left(), b.place.top(), w, b.place.height());
  }
}

void CoolBar::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  const QColor light = palette().color(QPalette::Light);
  const QColor dark = palette().color(QPalette::Dark);
  for (size_t i = 0; i < bands_.size(); ++i) {
    const QRect& r = bands_[i].place;
    // Two raised ridges: the band's gripper.
    for (int x : {kGripperLeft, kGripperLeft + 3}) {
      p.setPen(light);
      p.drawLine(x, r.top() + 1, x, r.bottom() - 1);
      p.setPen(dark);
      p.drawLine(x + 1, r.top() + 1, x + 1, r.bottom() - 1);
    }
    // An etched line below every band: the rows' border.
    const int y = r.bottom() + 2;
    p.setPen(dark);
    p.drawLine(0, y, width() - 1, y);
    p.setPen(light);
    p.drawLine(0, y + 1, width() - 1, y + 1);
  }
}

}  // namespace quorvix
