// mq_icon_render: draws an SVG icon into a PNG of one size, at build time,
// for the icon theme of the Linux install. It uses the same SVG renderer as
// the window program, so the installed icons look like the window's own.
//
//   mq_icon_render <in.svg> <size> <out.png>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: mq_icon_render <in.svg> <size> <out.png>\n");
    return 2;
  }
  // No application object: the icons are shapes and gradients only (no
  // text, so no fonts), drawn on an image without a display.
  const QString in = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[3]);
  bool ok = false;
  const int size = QString::fromLatin1(argv[2]).toInt(&ok);
  if (!ok || size < 1 || size > 4096) {
    std::fprintf(stderr, "mq_icon_render: '%s' is not a size from 1 to 4096\n", argv[2]);
    return 2;
  }
  QSvgRenderer svg(in);
  if (!svg.isValid()) {
    std::fprintf(stderr, "mq_icon_render: %s: not a readable SVG file\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&p, QRectF(0, 0, size, size));
  }
  if (!image.save(out, "PNG")) {
    std::fprintf(stderr, "mq_icon_render: %s: could not be written\n", argv[3]);
    return 1;
  }
  return 0;
}
