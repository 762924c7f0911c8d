// mq-render-images: draws SVG pictures into PNG files with the build
// machine's SVG renderer, for a build of the window that has no SVG module
// (the Windows cross build): the toolbar then shows the same pictures.
//
//   mq-render-images <output folder> <size> <file.svg>...
//
// Writes <name>.png at size × size pixels and <name>@2x.png at twice that
// (Qt picks the @2x file on high-density screens). Exit code 0 when every
// picture was written, 1 when one could not be read or written (the file is
// named on standard error), 2 on a bad command line. Single-threaded.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

namespace {

bool Render(QSvgRenderer& svg, int size, const QString& path) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  svg.render(&painter, QRectF(0, 0, size, size));
  painter.end();
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "mq-render-images: cannot write %s\n", qPrintable(QDir::toNativeSeparators(path)));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // The offscreen platform: no display is needed on a build machine.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  bool sizeOk = false;
  const int size = args.size() >= 4 ? args[2].toInt(&sizeOk) : 0;
  if (!sizeOk || size < 1 || size > 1024) {
    std::fprintf(stderr, "usage: mq-render-images <output folder> <size 1..1024> <file.svg>...\n");
    return 2;
  }
  const QDir out(args[1]);
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "mq-render-images: cannot create %s\n", qPrintable(QDir::toNativeSeparators(out.path())));
    return 1;
  }
  int status = 0;
  for (qsizetype i = 3; i < args.size(); ++i) {
    QSvgRenderer svg(args[i]);
    if (!svg.isValid()) {
      std::fprintf(stderr, "mq-render-images: %s is no readable SVG picture\n",
                   qPrintable(QDir::toNativeSeparators(args[i])));
      status = 1;
      continue;
    }
    const QString base = QFileInfo(args[i]).completeBaseName();
    if (!Render(svg, size, out.filePath(base + QStringLiteral(".png"))) ||
        !Render(svg, size * 2, out.filePath(base + QStringLiteral("@2x.png"))))
      status = 1;
  }
  return status;
}
