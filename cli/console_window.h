// TConsoleWindow: the main-window side of the pad link on a console, for
// mqtool-cli. Log lines are printed as they happen (control bytes drawn as
// Unicode control pictures, so a frame is readable and copyable), entries
// are handed to a callback, the echo report rows and the progress are kept
// and reported, and the end of a scan is signalled by the cursor going back
// to normal. Messages the window shows in a box go to the progress stream
// (standard error in mqtool-cli), where they are not lost among the log.
//
// Threading: loop thread only, like the interface.
#pragma once

#include <array>
#include <functional>
#include <ostream>
#include <string>

#include "padlink/main_window_link.h"

namespace mq::padlink {

class TConsoleWindow : public TMainWindowLink {
 public:
  // log: where log lines go; progress: where echo progress and messages go.
  TConsoleWindow(std::ostream& log, std::ostream& progress) : log_(log), progress_(progress) {}

  void AddLogLine(const std::string& text) override;
  void Refresh() override { ++refreshes_; }
  void DoAward(const std::string& text) override {
    if (OnAward) OnAward(text);
  }
  void JudgeLightOn(int) override {}
  void JudgeLabelHandCursor(int) override {}
  void SetEchoText(const std::string& text) override { echoText_ = text; }
  void SetLightMonitoring(bool) override {}
  void ProgressSetMax(int max) override;
  void ProgressStep() override;
  void ProgressHide() override {}
  void SetReportRow(int row, const std::string& text, TReportColour colour) override;
  void SetReportRowText(int row, const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void ShowInformation(const std::string& text) override { progress_ << text << '\n' << std::flush; }

  // Control bytes U+0000..U+001F and U+007F as their control pictures.
  static std::string Visible(const std::string& utf8);

  // Called with the entry text; CurJudge of the link says whose it is.
  std::function<void(const std::string&)> OnAward;
  // Called with every log line (as the pad link wrote it) after it is printed.
  std::function<void(const std::string&)> OnLogLine;

  int Refreshes() const { return refreshes_; }
  // Counts the times the cursor went back to normal: the end of a scan or batch.
  int ScansEnded() const { return scansEnded_; }
  const std::array<std::string, 12>& Rows() const { return rows_; }
  const std::array<TReportColour, 12>& RowColours() const { return colours_; }
  const std::string& EchoText() const { return echoText_; }

 private:
  std::ostream& log_;
  std::ostream& progress_;
  int refreshes_ = 0;
  int scansEnded_ = 0;
  int progressMax_ = 0;
  int progressPos_ = 0;
  int progressShown_ = -1;
  std::array<std::string, 12> rows_{};
  std::array<TReportColour, 12> colours_{};
  std::string echoText_;
};

}  // namespace mq::padlink
