// Writes the program's pictures as the Windows resources take them: 24-bit
// bitmaps for the banner, the start button and the toolbar (whose light grey
// the image list masks out), and the icon in three sizes.
//   quorvix-export-win32-art FOLDER
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

#include "Art.h"

namespace {

bool SaveBitmap(const QPixmap& picture, const QString& path) {
  // Opaque 24-bit pixels: the resource compiler and the image list want no alpha.
  const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB888);
  return image.save(path, "BMP");
}

// An icon file with one 32-bit PNG-compressed image per size, as Windows
// Vista and later (and Wine) read them.
bool SaveIcon(const QString& svgPath, const QString& path) {
  QByteArray directory;
  QByteArray images;
  const int sizes[] = {16, 32, 48};
  auto put16 = [](QByteArray& b, int v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&](QByteArray& b, int v) {
    put16(b, v & 0xFFFF);
    put16(b, (v >> 16) & 0xFFFF);
  };
  QByteArray header;
  put16(header, 0);
  put16(header, 1);  // icon
  put16(header, static_cast<int>(std::size(sizes)));
  int offset = 6 + 16 * static_cast<int>(std::size(sizes));
  for (int size : sizes) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QSvgRenderer svg(svgPath);
    QPainter p(&image);
    svg.render(&p, QRectF(0, 0, size, size));
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return false;
    directory.append(static_cast<char>(size));
    directory.append(static_cast<char>(size));
    directory.append('\0');  // no palette
    directory.append('\0');
    put16(directory, 1);   // planes
    put16(directory, 32);  // bits per pixel
    put32(directory, static_cast<int>(png.size()));
    put32(directory, offset);
    offset += static_cast<int>(png.size());
    images.append(png);
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  return file.write(header + directory + images) ==
         header.size() + directory.size() + images.size();
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvix-export-win32-art FOLDER\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  bool ok = SaveBitmap(quorvix::BannerPicture(), folder.filePath(QStringLiteral("banner.bmp")));
  ok = SaveBitmap(quorvix::PowerButtonRestPicture(),
                  folder.filePath(QStringLiteral("power-rest.bmp"))) &&
       ok;
  ok = SaveBitmap(quorvix::PowerButtonHotPicture(),
                  folder.filePath(QStringLiteral("power-hot.bmp"))) &&
       ok;
  for (int k = 1; k <= 3; ++k) {
    const QPixmap raw(QStringLiteral(":/art/toolbar-%1.png").arg(k));
    ok = SaveBitmap(raw, folder.filePath(QStringLiteral("toolbar-%1.bmp").arg(k))) && ok;
  }
  ok =
      SaveIcon(QStringLiteral(":/art/icon.svg"), folder.filePath(QStringLiteral("icon.ico"))) && ok;
  if (!ok) std::fprintf(stderr, "quorvix-export-win32-art: could not write every picture\n");
  return ok ? 0 : 1;
}
