// The program's pictures, compiled in as resources.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace quorvix {

// The light grey that the toolbar images use as their transparent colour.
inline const QColor kImageListMaskColour(192, 192, 192);

// The product's banner, 400 x 200 pixels, shown by the splash and About windows.
QPixmap BannerPicture();
// The windows' icon.
QIcon WindowIcon();
// The start button's pictures, 17 x 17: at rest, and under the pointer or pressed.
QPixmap PowerButtonRestPicture();
QPixmap PowerButtonHotPicture();
// Toolbar image k (1 to 3), 16 x 16, its light grey made transparent.
QPixmap ToolbarImage(int k);
// Loads a picture and makes every pixel of the mask colour transparent.
QPixmap LoadMasked(const QString& path, const QColor& maskColour);

// The font of every window: "Verdana", 8.25 point (the system substitutes a
// similar face where Verdana is missing).
QFont WindowFont();

}  // namespace quorvix
