#include "app/pad_link_adapter.h"

#include "app/main_window.h"
#include "loop/timer.h"
#include "padlink/pad_link.h"

namespace mq {

PadLinkAdapter::PadLinkAdapter(TfrmMain& frmMain, padlink::TMarqsForm& MarqsForm)
    : frmMain_(frmMain), form_(MarqsForm) {
  frmMain_.apdslcntrlr1().SetComPort(&form_.ComPort());
  frmMain_.AttachPadLink(this, this);
}

PadLinkAdapter::~PadLinkAdapter() {
  frmMain_.AttachPadLink(nullptr, nullptr);
  frmMain_.apdslcntrlr1().SetComPort(nullptr);
}

void PadLinkAdapter::FullScan() { form_.FullScan(); }
void PadLinkAdapter::ScanPortForPads() { form_.ScanPortForPads(); }
void PadLinkAdapter::SilentScanAll() { form_.SilentScanAll(); }
void PadLinkAdapter::SilentScan(char padId) { form_.SilentScan(padId); }
void PadLinkAdapter::SendDive(const std::string& diveBytes) { form_.SendDive(diveBytes); }
void PadLinkAdapter::KbdLocked(bool lock) { form_.KbdLocked(lock); }
void PadLinkAdapter::RequestJudgeIDs() { form_.RequestJudgeIDs(); }
void PadLinkAdapter::SetChannel(int channel) { form_.SetChannel(channel); }
void PadLinkAdapter::BaseStationReset() { form_.BaseStationReset(); }
void PadLinkAdapter::SendCustomCmd(const std::string& cmdBytes) { form_.SendCustomCmd(cmdBytes); }
void PadLinkAdapter::SetBandwidth(int index) { form_.SetBandwidth(index); }
void PadLinkAdapter::DCS(bool active) { form_.DCS(active); }
void PadLinkAdapter::TestEcho(int loops) { form_.TestEcho(loops); }
void PadLinkAdapter::EchoOneJudge(char padId) { form_.EchoOneJudge(padId); }
void PadLinkAdapter::SetBroadcast(bool on) { form_.SetBroadcast(on); }
void PadLinkAdapter::SetEchoLoops(int loops) { form_.SetEchoLoops(loops); }

void PadLinkAdapter::CloseComPort() {
  if (form_.ComPort().Open()) form_.ComPort().SetOpen(false);
  // The window is closing and the event loop runs on until it has: the
  // link's timers stop (after the close, which may still hand over a last
  // packet that queues its acknowledgement), so no queued frame or scan step
  // writes into the closed port and raises an error report at exit.
  for (Timer* t :
       {&form_.BaseTimer(), &form_.COMTimer(), &form_.ReSetTimer(), &form_.SetChanTimer(), &form_.EchoTimer()})
    t->SetEnabled(false);
}

int PadLinkAdapter::BasePort() const { return form_.BasePort(); }
std::vector<std::string> PadLinkAdapter::PadList() const { return form_.PadList(); }
std::vector<std::string> PadLinkAdapter::FirmwareList() const { return form_.FirmwareList(); }
std::string PadLinkAdapter::BaseIdent() const { return form_.BaseIdent(); }
std::string PadLinkAdapter::PortText() const { return form_.PortText(); }
std::string PadLinkAdapter::ChannelText() const { return form_.ChannelText(); }
bool PadLinkAdapter::DCSAvailable() const { return form_.DCSAvailable(); }
bool PadLinkAdapter::Broadcast() const { return form_.Broadcast(); }
int PadLinkAdapter::CurJudge() const { return form_.CurJudge(); }
const padlink::TEchoRecord* PadLinkAdapter::EchoRecord() const { return &form_.EchoRecord(); }
const std::array<padlink::TEchoStat, 12>* PadLinkAdapter::EchoStats() const { return &form_.EchoStats(); }

}  // namespace mq
