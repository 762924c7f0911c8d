// AppFonts: the fonts of the designed layout on whatever machine runs it.
// "Tahoma" is registered from a bundled compatible file when the system has
// none; "Courier New" falls back to the system's metric-compatible fixed
// font; the application default "Segoe UI" 9 pt to the closest installed
// family. Sizes are in pixels where the layout fixes them (96 dpi design).
//
// Threading: GUI thread, after the QApplication exists.
#pragma once

#include <QFont>
#include <QString>

namespace mq {

class AppFonts {
 public:
  // Registers a Tahoma-compatible font when "Tahoma" is not installed.
  // Returns whether a family "Tahoma" is available afterwards.
  static bool EnsureTahoma();
  static QFont Window();   // Tahoma 8 pt (11 px)
  static QFont Award();    // Tahoma, 19 px
  static QFont Log();      // Courier New 8 pt (11 px) or the closest fixed font
  static QFont Default();  // Segoe UI 9 pt or the closest
};

}  // namespace mq
