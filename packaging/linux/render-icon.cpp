// Draws an SVG picture as square PNG files of the given sizes, for the icon
// theme: render-icon SVG OUTPUT_DIR SIZE... writes OUTPUT_DIR/SIZE.png.
// The program's own renderer draws them, so every size matches what the
// windows show.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: render-icon SVG OUTPUT_DIR SIZE...\n");
    return 2;
  }
  // No application object: the picture has no text, so no fonts (and no
  // window system) are needed to draw it.
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "render-icon: cannot read %s\n", argv[1]);
    return 1;
  }
  const QDir out(QString::fromLocal8Bit(argv[2]));
  for (int i = 3; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size <= 0) {
      std::fprintf(stderr, "render-icon: bad size %s\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    const QString path = out.filePath(QString::number(size) + QStringLiteral(".png"));
    if (!image.save(path, "PNG")) {
      std::fprintf(stderr, "render-icon: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
