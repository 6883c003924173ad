// A rebar: a strip of bands along the top of a window, each band holding one
// child control behind a gripper. The rebar stretches each child across its
// band's row when the rebar's width changes.
#pragma once

#include <QFrame>
#include <QRect>
#include <vector>

namespace quorvix {

class CoolBar : public QFrame {
  Q_OBJECT

 public:
  explicit CoolBar(QWidget* parent = nullptr);

  // Adds a band holding child at the given place within the rebar (pixels).
  // The child keeps its left edge, top and height; its right edge keeps its
  // distance from the rebar's right edge.
  void AddBand(QWidget* child, const QRect& place);
  int BandCount() const { return static_cast<int>(bands_.size()); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Band {
    QWidget* child;
    QRect place;
    int rightGap;
  };
  void PlaceChildren();

  std::vector<Band> bands_;
};

}  // namespace quorvix
