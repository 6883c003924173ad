// A borderless button without caption that shows one picture at rest and a
// second one while the pointer is over it or while it is held down.
#pragma once

#include <QPixmap>
#include <QToolButton>

namespace quorvix {

class ImageButton : public QToolButton {
  Q_OBJECT

 public:
  ImageButton(const QPixmap& rest, const QPixmap& hot, QWidget* parent = nullptr);

  // True while the second picture shows.
  bool IsHot() const { return hover_ || isDown(); }
  QSize sizeHint() const override { return rest_.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap rest_;
  QPixmap hot_;
  bool hover_ = false;
};

}  // namespace quorvix
