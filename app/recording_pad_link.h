// RecordingPadLink: a pad link for tests and the screenshot tool. Its state
// is plain fields the test sets; every command is recorded as one text
// ("SendDive(103B 3m    First Diver)", "DCS(false)", ...) and changes no
// state, so a test sees exactly what the window asked for.
//
// Threading: test thread only.
#pragma once

#include <string>
#include <vector>

#include "app/link_state_view.h"
#include "app/pad_link_commands.h"

namespace mq {

class RecordingPadLink : public PadLinkCommands, public LinkStateView {
 public:
  // State.
  int basePort = 0;
  std::vector<std::string> padList, firmwareList;
  std::string baseIdent, portText, channelText;
  bool dcsAvailable = false, broadcast = false;
  int curJudge = 0, echoLoops = 0;
  const padlink::TEchoRecord* echoRecord = nullptr;
  const std::array<padlink::TEchoStat, 12>* echoStats = nullptr;

  std::vector<std::string> calls;
  std::vector<std::string> sentDives;  // bytes of every SendDive

  int BasePort() const override { return basePort; }
  std::vector<std::string> PadList() const override { return padList; }
  std::vector<std::string> FirmwareList() const override { return firmwareList; }
  std::string BaseIdent() const override { return baseIdent; }
  std::string PortText() const override { return portText; }
  std::string ChannelText() const override { return channelText; }
  bool DCSAvailable() const override { return dcsAvailable; }
  bool Broadcast() const override { return broadcast; }
  int CurJudge() const override { return curJudge; }
  const padlink::TEchoRecord* EchoRecord() const override { return echoRecord; }
  const std::array<padlink::TEchoStat, 12>* EchoStats() const override { return echoStats; }

  void FullScan() override { calls.push_back("FullScan"); }
  void ScanPortForPads() override { calls.push_back("ScanPortForPads"); }
  void SilentScanAll() override { calls.push_back("SilentScanAll"); }
  void SilentScan(char p) override { calls.push_back(std::string("SilentScan(") + p + ")"); }
  void SendDive(const std::string& d) override {
    sentDives.push_back(d);
    calls.push_back("SendDive(" + d + ")");
  }
  void KbdLocked(bool lock) override { calls.push_back(std::string("KbdLocked(") + (lock ? "true" : "false") + ")"); }
  void RequestJudgeIDs() override { calls.push_back("RequestJudgeIDs"); }
  void SetChannel(int c) override { calls.push_back("SetChannel(" + std::to_string(c) + ")"); }
  void BaseStationReset() override { calls.push_back("BaseStationReset"); }
  void SendCustomCmd(const std::string& c) override { calls.push_back("SendCustomCmd(" + c + ")"); }
  void SetBandwidth(int b) override { calls.push_back("SetBandwidth(" + std::to_string(b) + ")"); }
  void DCS(bool a) override { calls.push_back(std::string("DCS(") + (a ? "true" : "false") + ")"); }
  void TestEcho(int n) override { calls.push_back("TestEcho(" + std::to_string(n) + ")"); }
  void EchoOneJudge(char p) override { calls.push_back(std::string("EchoOneJudge(") + p + ")"); }
  void SetBroadcast(bool on) override {
    broadcast = on;
    calls.push_back(std::string("SetBroadcast(") + (on ? "true" : "false") + ")");
  }
  void SetEchoLoops(int n) override {
    echoLoops = n;
    calls.push_back("SetEchoLoops(" + std::to_string(n) + ")");
  }
  void CloseComPort() override { calls.push_back("CloseComPort"); }
};

}  // namespace mq
