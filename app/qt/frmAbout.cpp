#include "frmAbout.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "Art.h"
#include "ResizeRules.h"

namespace quorvix {

namespace {

constexpr int Px(int twips) {
  return twips / kTwipsPerPixel;
}

QRect Place(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// Labels of this window are black whatever the system's text colour.
void MakeBlack(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, Qt::black);
  pal.setColor(QPalette::Text, Qt::black);
  w->setPalette(pal);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& place) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(place);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setFocusPolicy(Qt::NoFocus);
  MakeBlack(label);
  return label;
}

}  // namespace

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) emit clicked();
}

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setWindowIcon(WindowIcon());
  setFont(WindowFont());
  setModal(true);
  setFixedSize(Px(6255), Px(5985));

  // The banner inside a thin sunken border of two pixels.
  Image2 = new ClickableLabel(this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(Place(120, 120, 6060, 3060));
  auto* border = new QFrame(Image2);
  border->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  border->setLineWidth(2);
  border->setGeometry(Image2->rect());
  auto* banner = new QLabel(Image2);
  banner->setObjectName(QStringLiteral("Image2_Picture"));
  banner->setPixmap(BannerPicture());
  banner->setGeometry(2, 2, 400, 200);
  banner->setAttribute(Qt::WA_TransparentForMouseEvents);
  border->setAttribute(Qt::WA_TransparentForMouseEvents);
  connect(Image2, &ClickableLabel::clicked, this, &frmAbout::Image2_Click);

  QFont bold = WindowFont();
  bold.setBold(true);
  lblProduct =
      MakeLabel(this, "lblProduct", QStringLiteral("Quorvix 2002"), Place(240, 3270, 3000, 255));
  lblProduct->setFont(bold);
  lblVersion =
      MakeLabel(this, "lblVersion", QStringLiteral("Version 1.0"), Place(3360, 3270, 2775, 255));
  lblVersion->setAlignment(Qt::AlignRight | Qt::AlignTop);
  Label3 = MakeLabel(this, "Label3",
                     QStringLiteral("Shows who is logged on where in a Windows domain. "
                                    "Audit only the networks you are entitled to audit."),
                     Place(240, 3570, 5895, 435));

  Frame1 = new QFrame(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Frame1->setGeometry(Place(240, 4080, 5895, 1335));
  MakeBlack(Frame1);
  Label1 = MakeLabel(Frame1, "Label1",
                     QStringLiteral("This program is provided as is, without warranty of any "
                                    "kind. Its authors accept no liability for any damage or loss "
                                    "arising from its use. The names of domains, machines and "
                                    "users it shows belong to their owners."),
                     QRect(8, 8, Px(5895) - 16, Px(1335) - 16));

  cmdClose = new QPushButton(QStringLiteral("&Close"), this);
  cmdClose->setObjectName(QStringLiteral("cmdClose"));
  cmdClose->setGeometry(Place(5160, 5520, 975, 375));
  cmdClose->setDefault(true);
  connect(cmdClose, &QPushButton::clicked, this, &frmAbout::cmdClose_Click);
  cmdClose->setFocus();
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmAbout::cmdClose_Click() {
  accept();
}

void frmAbout::Image2_Click() {
  accept();
}

}  // namespace quorvix
