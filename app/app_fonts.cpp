#include "app/app_fonts.h"

#include <QFile>
#include <QFontDatabase>

namespace mq {
namespace {

bool HasFamily(const QString& family) { return QFontDatabase::families().contains(family, Qt::CaseInsensitive); }

QString FirstInstalled(std::initializer_list<const char*> families, const QString& fallback) {
  for (const char* f : families)
    if (HasFamily(QString::fromLatin1(f))) return QString::fromLatin1(f);
  return fallback;
}

}  // namespace

bool AppFonts::EnsureTahoma() {
  static bool done = false;
  if (!done && !HasFamily(QStringLiteral("Tahoma"))) {
    // Compatible files shipped by common packages (regular and bold).
    for (const char* path :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf",
          "/usr/share/fonts/truetype/wine/tahoma.ttf", "/usr/share/fonts/truetype/wine/tahomabd.ttf"}) {
      if (QFile::exists(QString::fromLatin1(path))) QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    }
  }
  done = true;
  return HasFamily(QStringLiteral("Tahoma"));
}

QFont AppFonts::Window() {
  QFont f(FirstInstalled({"Tahoma", "DejaVu Sans", "Liberation Sans"}, QStringLiteral("Sans Serif")));
  f.setPixelSize(11);
  return f;
}

QFont AppFonts::Award() {
  QFont f = Window();
  f.setPixelSize(19);
  return f;
}

QFont AppFonts::Log() {
  QFont f(
      FirstInstalled({"Courier New", "Liberation Mono", "Cousine", "DejaVu Sans Mono"}, QStringLiteral("Monospace")));
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setPixelSize(11);
  return f;
}

QFont AppFonts::Default() {
  QFont f(FirstInstalled({"Segoe UI", "Liberation Sans", "Arial", "DejaVu Sans"}, QStringLiteral("Sans Serif")));
  f.setPointSize(9);
  return f;
}

}  // namespace mq
