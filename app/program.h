// Program: the start and the end of the window program. In order: the
// single-instance guard "Splashledger" (a second copy shows the fixed
// message box and ends without a window), the application title "MqTool"
// and default font, the error reporter on the loop and on Qt's event
// dispatch, the main window, then the pad-link form MarqsForm on the
// machine's serial ports (attached to the window by PadLinkAdapter), the event
// loop until the window has closed, and a restart when the error report
// asked for one (after the guard is released).
//
// Threading: GUI thread; call once per process (tests call it more often
// with their own lock folder and data folder).
#pragma once

#include <functional>
#include <optional>
#include <string>

class QApplication;

namespace mq {

class TfrmMain;
class UiDialogs;

struct ProgramOptions {
  // Folder of the single-instance lock; empty means the system's default.
  std::string lockFolder;
  // Data folder override; unset means DataFolder::Locate().
  std::optional<std::string> dataFolder;
  UiDialogs* dialogs = nullptr;
  // Runs once the window exists, before the event loop (tests).
  std::function<void(TfrmMain&)> onWindowCreated;
};

class Program {
 public:
  static constexpr const char* kTitle = "MqTool";
  // Application-wide set-up: title, version, default font, icon.
  static void InitApplication(QApplication& app);
  // Returns the process exit code: 0 after a normal close, 1 when another
  // copy is running.
  static int Run(QApplication& app, const ProgramOptions& options);
};

}  // namespace mq
