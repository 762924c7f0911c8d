// TWindowRecorder: a TMainWindowLink for tests. It records every call in
// order as one readable event string and keeps the resulting window state
// (log lines, lights, report rows, progress bar, cursor), so a test checks
// both what the pad link did and in which order.
//
// Threading: loop thread only, like the interface.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "padlink/main_window_link.h"

namespace mq::padlink {

class TWindowRecorder : public TMainWindowLink {
 public:
  void AddLogLine(const std::string& text) override {
    log.push_back(text);
    events.push_back("log:" + text);
  }
  void Refresh() override {
    ++refreshes;
    events.push_back("refresh");
    if (onRefresh) onRefresh();
  }
  void DoAward(const std::string& text) override {
    awards.push_back(text);
    events.push_back("award:" + text);
  }
  void JudgeLightOn(int judge) override {
    lights.at(static_cast<std::size_t>(judge)) = true;
    events.push_back("light:" + std::to_string(judge));
  }
  void JudgeLabelHandCursor(int judge) override {
    handCursor.at(static_cast<std::size_t>(judge)) = true;
    events.push_back("hand:" + std::to_string(judge));
  }
  void SetEchoText(const std::string& text) override {
    echoText = text;
    events.push_back("echo:" + text);
  }
  void SetLightMonitoring(bool on) override {
    monitoring = on;
    events.push_back(on ? "monitor:on" : "monitor:off");
  }
  void ProgressSetMax(int max) override {
    progressMax = max;
    progressPos = 0;
    progressVisible = true;
    events.push_back("progress-max:" + std::to_string(max));
  }
  void ProgressStep() override { ++progressPos; }
  void ProgressHide() override {
    progressVisible = false;
    events.push_back("progress-hide");
  }
  void SetReportRow(int row, const std::string& text, TReportColour colour) override {
    rows.at(static_cast<std::size_t>(row)) = text;
    rowColours.at(static_cast<std::size_t>(row)) = colour;
    events.push_back("row:" + std::to_string(row) + ":" + text + (colour == TReportColour::Red ? ":red" : ""));
  }
  void SetReportRowText(int row, const std::string& text) override { rows.at(static_cast<std::size_t>(row)) = text; }
  void SetBusyCursor(bool on) override {
    busy = on;
    events.push_back(on ? "cursor:busy" : "cursor:normal");
  }
  void ShowInformation(const std::string& text) override {
    messages.push_back(text);
    events.push_back("message:" + text);
  }
  void ReSetLEDs() override {
    lights = {};
    handCursor = {};
    events.push_back("leds-off");
  }

  std::vector<std::string> log, awards, messages, events;
  std::array<bool, 12> lights{}, handCursor{};
  std::array<std::string, 12> rows{};
  std::array<TReportColour, 12> rowColours{};
  std::string echoText;
  int refreshes = 0;
  bool monitoring = false;
  int progressMax = 0, progressPos = 0;
  bool progressVisible = false;
  bool busy = false;
  std::function<void()> onRefresh;
};

}  // namespace mq::padlink
