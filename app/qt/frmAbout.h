// The About window: the banner, the product's name and version and two
// notices, shown modal over the main window.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace quorvix {

class ClickableLabel;

class frmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit frmAbout(QWidget* owner);

 public slots:
  void cmdClose_Click();
  void Image2_Click();

 protected:
  // The window closes from its own controls only: Escape does not close it.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  ClickableLabel* Image2;
  QLabel* lblProduct;
  QLabel* lblVersion;
  QLabel* Label3;
  QFrame* Frame1;
  QLabel* Label1;
  QPushButton* cmdClose;
};

// A picture that reports a click (press and release over it).
class ClickableLabel : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace quorvix
