// The few helpers that TfrmMain's source files share (main_window.cpp,
// main_window_layout.cpp, main_window_commands.cpp, main_window_language.cpp).
// Not part of the window's interface: include it from those files only. The
// definitions are in main_window.cpp.
//
// Threading: GUI (loop) thread only, as the window.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QColor;
class QToolBar;
class QToolButton;
class QWidget;

namespace mq::main_window_internal {

// Captions hold CR LF between lines; Qt draws "\n".
QString ToQt(const std::string& utf8);

// The toolbar buttons the keyboard can reach (shown and enabled), in toolbar order.
std::vector<QToolButton*> ReachableToolbarButtons(const QToolBar* bar);

// Whole number in decimal with an optional sign, surrounding blanks allowed.
std::optional<long long> WholeNumber(const QString& text);

// The colour a widget's text is drawn in.
void SetColour(QWidget* w, const QColor& c);

}  // namespace mq::main_window_internal
