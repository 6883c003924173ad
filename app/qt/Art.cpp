#include "Art.h"

#include <QBitmap>
#include <QPainter>
#include <QSvgRenderer>

namespace quorvix {

QPixmap BannerPicture() {
  QPixmap pm(400, 200);
  pm.fill(QColor(224, 224, 224));
  QSvgRenderer svg(QStringLiteral(":/art/banner.svg"));
  QPainter p(&pm);
  svg.render(&p, QRectF(0, 0, 400, 200));
  return pm;
}

QIcon WindowIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QSvgRenderer svg(QStringLiteral(":/art/icon.svg"));
    QPainter p(&pm);
    svg.render(&p, QRectF(0, 0, size, size));
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QPixmap PowerButtonRestPicture() {
  return QPixmap(QStringLiteral(":/art/power-rest.png"));
}

QPixmap PowerButtonHotPicture() {
  return QPixmap(QStringLiteral(":/art/power-hot.png"));
}

QPixmap ToolbarImage(int k) {
  return LoadMasked(QStringLiteral(":/art/toolbar-%1.png").arg(k), kImageListMaskColour);
}

QPixmap LoadMasked(const QString& path, const QColor& maskColour) {
  QPixmap pm(path);
  if (pm.isNull()) return pm;
  pm.setMask(pm.createMaskFromColor(maskColour, Qt::MaskInColor));
  return pm;
}

QFont WindowFont() {
  QFont font(QStringLiteral("Verdana"));
  font.setPointSizeF(8.25);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace quorvix
