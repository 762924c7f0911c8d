// TMarqsForm: the pad link, the driver between the user interface and the
// radio installation (an ER400TRS base station and up to twelve judge pads).
// It owns the serial port, the two packet framers (base-station replies of a
// known length, pad frames STX..EOT) and five timers; it keeps the link state
// that the main window reads, finds the base station and the pads, sends the
// competition and configuration commands, runs the echo test, and writes log
// lines, lights, awards and the echo report into the window through
// TMainWindowLink.
//
// Errors: the operations the window calls never throw; an error that ends
// one of them (a write on a closed port, a framer refusing its settings) is
// passed to the loop's top-level handler, loop.reportError, as are errors of
// timer ticks and packet events. The step functions of the scans and of the
// echo test (ScanPortsForBaseStation ... TestEchoJudges) throw to their
// caller.
//
// Threading: loop thread only. Packet events reach the loop thread through
// the serial layer's run-and-wait hand-over; the 20 ms and 50 ms pauses block
// the loop thread, hand-overs included (they run after the pause).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/message_only_lang_window.h"
#include "i18n/si_lang_linked.h"
#include "loop/loop.h"
#include "loop/timer.h"
#include "padlink/echo_record.h"
#include "padlink/main_window_link.h"
#include "padlink/shell_state.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "serial/serial_platform.h"

namespace mq::i18n {
class TsiLangDispatcher;
}

namespace mq::padlink {

// Echo-test counters of one judge.
struct TEchoStat {
  std::int32_t Replies = 0;
  std::int32_t Resends = 0;
  std::int32_t MissedReads = 0;
  std::int32_t MissedSends = 0;
  bool operator==(const TEchoStat&) const = default;
};

class TMarqsForm {
 public:
  // dispatcher: the shell's language dispatcher (may be null: English).
  TMarqsForm(mq::Loop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform, TMainWindowLink& window,
             TShellState& shell, mq::i18n::TsiLangDispatcher* dispatcher);
  ~TMarqsForm();
  TMarqsForm(const TMarqsForm&) = delete;
  TMarqsForm& operator=(const TMarqsForm&) = delete;

  // ---- Operations the window calls (never throw) ----
  void FullScan();
  void ScanPortForPads();
  void SilentScanAll();
  void SilentScan(char P);
  void SendDive(std::string_view DiveStr);  // 8-bit bytes
  void KbdLocked(bool Lock);
  void RequestJudgeIDs();
  void BaseStationReset();
  void SetChannel(int Channel);
  void SetBandwidth(int B);
  void DCS(bool Active);
  void SendCustomCmd(std::string_view CmdStr);  // 8-bit bytes
  void TestEcho(int NoOfLoops);
  void EchoOneJudge(char P);

  // ---- Steps (throw to their caller; public for the tests) ----
  void ScanPortsForBaseStation();
  void ScanNextPortForBaseStation(int P);
  void CheckBaseStation();
  void CheckBaseVersion();
  void CheckBaseChannel();
  void CheckBaseBandwidth();
  void DoRefresh();
  void SendReset(int P);
  void TestEchoNextLoop();
  void TestEchoJudges();
  void UpdateReport();

  // ---- Event handlers (the components' events are wired to these) ----
  void COMTimerTimer();
  void BaseTimerTimer();
  void ReSetTimerTimer();
  void SetChanTimerTimer();
  void EchoTimerTimer();
  void FixedDataPacketStringPacket(const std::string& Data);
  void FramedDataPacketStringPacket(const std::string& Data);

  // ---- Link state the window reads ----
  int BasePort() const { return basePort_; }
  int BasePacketSize() const { return basePacketSize_; }
  const std::vector<std::string>& PortList() const { return portList_; }
  // Pad ids (one byte each), sorted, in judge order.
  const std::vector<std::string>& PadList() const { return padList_; }
  // Firmware texts (UTF-8), sorted as text; "0" for a pad that reported none.
  const std::vector<std::string>& FirmwareList() const { return firmwareList_; }
  std::size_t TxQueueCount() const { return txQueue_.size(); }
  // Frames refused because the transmit queue was full.
  std::uint64_t TxDroppedCount() const { return txDropped_; }
  const std::string& BaseIdent() const { return baseIdent_; }
  const std::string& PortText() const { return portText_; }
  const std::string& ChannelText() const { return channelText_; }
  bool ChannelKnown() const { return channelKnown_; }
  bool BandwidthAsked() const { return bandwidthAsked_; }
  bool UseResetCommand() const { return useResetCommand_; }
  bool DCSAvailable() const { return dcsAvailable_; }
  bool Broadcast() const { return broadcast_; }
  bool JudgeIdMode() const { return judgeIdMode_; }
  int CurJudge() const { return curJudge_; }
  // Last entry of each judge (8-bit bytes, decimal separator applied).
  const std::array<std::string, 12>& Awards() const { return awards_; }
  bool EchoRunning() const { return echoRunning_; }
  int EchoLoops() const { return echoLoops_; }
  int EchoLoop() const { return echoLoop_; }
  int EchoPadIndex() const { return echoPadIndex_; }
  bool EchoReplied() const { return echoReplied_; }
  bool EchoResent() const { return echoResent_; }
  const std::string& EchoFrame() const { return echoFrame_; }
  const std::array<TEchoStat, 12>& EchoStats() const { return echoStats_; }
  TReportColour ReportColour() const { return reportColour_; }
  // What happened to every pad in every loop of the last (or running) test.
  const TEchoRecord& EchoRecord() const { return echoRecord_; }

  // The two values the window writes: check box chk1 and button btnAbort.
  void SetBroadcast(bool on) { broadcast_ = on; }
  void SetEchoLoops(int loops) { echoLoops_ = loops; }
  // For mqtool-cli --no-scan: the ports a reset walk visits when no full
  // scan has listed them (decimal COM numbers, ascending).
  void SetPortList(std::vector<std::string> ports) { portList_ = std::move(ports); }

  // Called after the link to the base station was lost (the open port failed
  // outside a walk over the ports) and the link state shows it. The window
  // learns of it through Refresh; mqtool-cli ends its command.
  std::function<void()> OnLinkLost;

  // ---- Components ----
  mq::serial::TApdComPort& ComPort() { return comPort_; }
  mq::serial::TApdDataPacket& FixedDataPacket() { return fixedDataPacket_; }
  mq::serial::TApdDataPacket& FramedDataPacket() { return framedDataPacket_; }
  mq::Timer& BaseTimer() { return baseTimer_; }
  mq::Timer& COMTimer() { return comTimer_; }
  mq::Timer& ReSetTimer() { return reSetTimer_; }
  mq::Timer& SetChanTimer() { return setChanTimer_; }
  mq::Timer& EchoTimer() { return echoTimer_; }
  mq::i18n::TsiLangLinked& siLang1() { return siLang1_; }

 private:
  void FormCreate();
  void FormDestroy();

  // Runs an operation the window called; an error goes to the top-level handler.
  template <class Fn>
  void Guarded(Fn&& fn);

  void FullScanImpl();
  // Why a port that exists could not be opened, for the log and the message,
  // with what the user can do about it where the system tells.
  std::string UnopenedReason(mq::serial::TOpenFailure failure, const std::string& detail,
                             const mq::serial::TOpenAdvice& advice) const;
  // A full scan's log line on where the COM numbers come from.
  std::string PortMapNoteText(const mq::serial::TPortMapNote& note) const;
  void ScanPortForPadsImpl();
  void SilentScanImpl(char P);
  void SendBaseCommand(std::string_view command);
  void SendResetCommand();
  void SwitchToFixed(std::int32_t packetSize);
  void FramedOff();
  bool StartNextEchoPad();
  // earlyEnd: why the test ends before its last loop (empty: it ran them
  // all, or was aborted, which it finds out itself).
  void EndEchoTest(std::string earlyEnd = {});
  std::string LinkLostText(const std::string& detail) const;
  void QueueFrame(std::string frame);
  void StartQueue(int interval);
  void Log(const std::string& text);
  void LogBytes(std::string_view prefix, std::string_view bytes);
  std::string PortPrefix() const;
  std::string Text(std::string_view id) const;
  // Hands an error to the loop's top-level handler after the current event.
  void ReportLater(std::exception_ptr error);
  int MillisecondsOfMinute() const;
  void OnFramedTimeout();
  void ComPortFailed();
  void EchoReply(char id, std::string payload);
  void Registration(char id, const std::string& payload);
  void Entry(char id, std::string entry);

  mq::Loop& loop_;
  std::shared_ptr<mq::serial::SerialPlatform> platform_;
  TMainWindowLink& window_;
  TShellState& shell_;

  mq::i18n::TMessageOnlyLangWindow langWindow_{"TMarqsForm", "MarqsForm"};
  mq::i18n::TsiLangLinked siLang1_{&langWindow_};

  // The port is declared before the framers so they detach before it closes.
  mq::serial::TApdComPort comPort_;
  mq::serial::TApdDataPacket fixedDataPacket_;
  mq::serial::TApdDataPacket framedDataPacket_;
  mq::Timer baseTimer_;
  mq::Timer comTimer_;
  mq::Timer reSetTimer_;
  mq::Timer setChanTimer_;
  mq::Timer echoTimer_;

  int basePort_ = 0;
  int basePacketSize_ = 0;
  std::vector<std::string> portList_;
  std::vector<std::string> padList_;
  std::vector<std::string> firmwareList_;
  std::deque<std::string> txQueue_;
  std::uint64_t txDropped_ = 0;      // frames the full queue refused, this run
  bool txOverflowReported_ = false;  // until the queue next runs empty
  std::string baseIdent_;
  std::string portText_;
  std::string channelText_;
  bool channelKnown_ = false;
  bool bandwidthAsked_ = false;
  int unusableChannelReplies_ = 0;    // on the port being checked
  int unansweredChannelQueries_ = 0;  // on the port being checked
  bool useResetCommand_ = true;
  bool dcsAvailable_ = false;
  bool broadcast_ = false;
  bool judgeIdMode_ = false;
  int curJudge_ = 0;
  std::array<std::string, 12> awards_{};
  bool echoRunning_ = false;
  int echoLoops_ = 0;
  int echoLoop_ = 0;
  int echoPadIndex_ = 0;
  bool echoReplied_ = false;
  bool echoResent_ = false;
  std::string echoFrame_;
  std::array<TEchoStat, 12> echoStats_{};
  TReportColour reportColour_ = TReportColour::WindowText;
  TEchoRecord echoRecord_;
  // Pad frames are meant to be collected (from a pad scan or a failed full
  // scan until the next base query): a frame time-out re-arms the framer.
  bool collectPadFrames_ = false;
};

}  // namespace mq::padlink
