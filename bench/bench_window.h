// BenchWindow: a window for the pad-link benchmarks that shows nothing and
// records only what the measurements need — when the busy cursor goes back
// to normal (a scan or a queued batch has ended), when echo requests are
// logged (just before they are written) and how many resends there were.
//
// Threading: loop thread only, like the window it stands in for.
#pragma once

#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "loop/loop.h"
#include "padlink/main_window_link.h"

namespace mqbench {

class BenchWindow : public mq::padlink::TMainWindowLink {
 public:
  using Clock = std::chrono::steady_clock;

  // Errors that escape the pad link's handlers go to standard error; the
  // benchmark keeps running, as the program would.
  static void PrintErrorsOf(mq::Loop& loop) {
    loop.setErrorHandler([](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        std::cerr << "error: " << ex.what() << '\n';
      }
    });
  }

  // Echo requests are logged as "<id> -->" and the loop number, resends as
  // "<id> -->>".
  void AddLogLine(const std::string& text) override {
    if (keepLog) log.emplace_back(Clock::now(), text);
    if (text.size() > 5 && text.compare(1, 4, " -->") == 0 && text[5] != '>') requests.push_back(Clock::now());
    if (text.size() > 5 && text.compare(1, 5, " -->>") == 0) ++resends;
  }
  void Refresh() override {}
  void DoAward(const std::string&) override {}
  void JudgeLightOn(int) override {}
  void JudgeLabelHandCursor(int) override {}
  void SetEchoText(const std::string&) override {}
  void SetLightMonitoring(bool) override {}
  void ProgressSetMax(int) override {}
  void ProgressStep() override {}
  void ProgressHide() override {}
  void SetReportRow(int, const std::string&, mq::padlink::TReportColour) override {}
  void SetReportRowText(int, const std::string&) override {}
  void SetBusyCursor(bool busy) override {
    if (!busy) {
      ++ended;
      endedAt = Clock::now();
    }
  }
  void ShowInformation(const std::string&) override {}

  std::vector<Clock::time_point> requests;
  bool keepLog = false;  // every log line with its time, for a trace
  std::vector<std::pair<Clock::time_point, std::string>> log;
  int resends = 0;
  int ended = 0;
  Clock::time_point endedAt;
};

}  // namespace mqbench
