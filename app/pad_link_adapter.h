// PadLinkAdapter: connects the main window to the real pad link. Created
// right after the pad-link form MarqsForm (which is created after frmMain,
// over frmMain as its TMainWindowLink, frmMain.Shell() as its TShellState
// and frmMain's language dispatcher), it
//   - attaches itself to frmMain as the window's PadLinkCommands and
//     LinkStateView, each call forwarded to MarqsForm unchanged;
//   - binds frmMain's light controller apdslcntrlr1 to MarqsForm's ComPort.
// Destroying it undoes both, so it must go before MarqsForm, and MarqsForm
// before frmMain:
//
//   TfrmMain frmMain(options);
//   padlink::TMarqsForm MarqsForm(loop, platform, frmMain, frmMain.Shell(),
//                                 &frmMain.siLangDispatcher1());
//   PadLinkAdapter link(frmMain, MarqsForm);
//
// Threading: loop (GUI) thread only.
#pragma once

#include "app/link_state_view.h"
#include "app/pad_link_commands.h"

namespace mq {

namespace padlink {
class TMarqsForm;
}
class TfrmMain;

class PadLinkAdapter : public PadLinkCommands, public LinkStateView {
 public:
  PadLinkAdapter(TfrmMain& frmMain, padlink::TMarqsForm& MarqsForm);
  ~PadLinkAdapter() override;
  PadLinkAdapter(const PadLinkAdapter&) = delete;
  PadLinkAdapter& operator=(const PadLinkAdapter&) = delete;

  // ---- PadLinkCommands ----
  void FullScan() override;
  void ScanPortForPads() override;
  void SilentScanAll() override;
  void SilentScan(char padId) override;
  void SendDive(const std::string& diveBytes) override;
  void KbdLocked(bool lock) override;
  void RequestJudgeIDs() override;
  void SetChannel(int channel) override;
  void BaseStationReset() override;
  void SendCustomCmd(const std::string& cmdBytes) override;
  void SetBandwidth(int index) override;
  void DCS(bool active) override;
  void TestEcho(int loops) override;
  void EchoOneJudge(char padId) override;
  void SetBroadcast(bool on) override;
  void SetEchoLoops(int loops) override;
  // Closes ComPort and stops the link's timers (the window's close).
  void CloseComPort() override;

  // ---- LinkStateView ----
  int BasePort() const override;
  std::vector<std::string> PadList() const override;
  std::vector<std::string> FirmwareList() const override;
  std::string BaseIdent() const override;
  std::string PortText() const override;
  std::string ChannelText() const override;
  bool DCSAvailable() const override;
  bool Broadcast() const override;
  int CurJudge() const override;
  const padlink::TEchoRecord* EchoRecord() const override;
  const std::array<padlink::TEchoStat, 12>* EchoStats() const override;

 private:
  TfrmMain& frmMain_;
  padlink::TMarqsForm& form_;
};

}  // namespace mq
