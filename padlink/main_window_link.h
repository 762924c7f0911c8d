// TMainWindowLink: what the pad link writes into the main window. The Qt
// window implements it, mqtool-cli implements it on the console and the
// tests replace it with a recorder. Texts are UTF-8; bytes from the serial
// line have already been shown through Windows-1252 with control bytes kept
// as their code points (U+0000..U+001F), which the window draws visibly.
//
// Threading: every call comes on the loop thread, from inside a pad-link
// operation, a timer tick or a packet event. An implementation must not call
// back into TMarqsForm from these calls (it may read its state).
#pragma once

#include <string>

namespace mq::padlink {

// Font colour of an echo-report row.
enum class TReportColour { WindowText, Red };

class TMainWindowLink {
 public:
  virtual ~TMainWindowLink() = default;

  // Appends one line to the log list lbxLog.
  virtual void AddLogLine(const std::string& text) = 0;
  // The status refresh: re-read the link state and the shell state.
  virtual void Refresh() = 0;
  // Shows an entry (award or judge ID) under judge CurJudge().
  virtual void DoAward(const std::string& text) = 0;
  // Judge light LED<judge> on; judge 0..11.
  virtual void JudgeLightOn(int judge) = 0;
  // Judge label JLab<judge> gets the hand-point cursor; judge 0..11.
  virtual void JudgeLabelHandCursor(int judge) = 0;
  // Caption of lblEcho.
  virtual void SetEchoText(const std::string& text) = 0;
  // Monitoring of the RX/TX light controller bound to the pad link's port.
  virtual void SetLightMonitoring(bool on) = 0;
  // Echo-test progress bar: maximum, one step forward, hide.
  virtual void ProgressSetMax(int max) = 0;
  virtual void ProgressStep() = 0;
  virtual void ProgressHide() = 0;
  // Echo-report row Pad<row> (0..11): new caption and font colour.
  virtual void SetReportRow(int row, const std::string& text, TReportColour colour) = 0;
  // The same, leaving the row's colour as it is.
  virtual void SetReportRowText(int row, const std::string& text) = 0;
  // Application-wide mouse cursor: hourglass (true) or normal (false).
  virtual void SetBusyCursor(bool busy) = 0;
  // Information message box with an OK button.
  virtual void ShowInformation(const std::string& text) = 0;
  // All twelve judge lights off, judge labels back to the arrow cursor (the
  // pads are gone with the link). Nothing to do where there are no lights.
  virtual void ReSetLEDs() {}
};

}  // namespace mq::padlink
