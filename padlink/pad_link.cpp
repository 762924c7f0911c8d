#include "padlink/pad_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <stdexcept>

#include "i18n/catalogue/builtin_tables.h"
#include "i18n/text_codec.h"
#include "padlink/convert_error.h"
#include "padlink/frames.h"
#include "serial/apd_exception.h"
#include "serial/port_probe.h"
#include "util/ascii_text.h"

namespace mq::padlink {

using mq::serial::TApdDataPacket;
using mq::serial::TPacketEndCond;
using mq::serial::TPacketStartCond;

namespace {

constexpr std::int32_t kFramerTimeOut = 18;  // ticks of 55 ms, about one second
constexpr int kPortPause = 50;               // after opening or closing the port
constexpr int kAckPause = 20;                // between a base command and its "ACK"
constexpr int kProbeFirst = 1;
constexpr int kProbeLast = 50;
// Channel replies without a digit, and channel queries without any reply,
// after which the channel counts as unknown.
constexpr int kUnusableChannelReplies = 3;
constexpr int kUnansweredChannelQueries = 3;
// Frames waiting to be sent. Every entry a pad sends is acknowledged, so
// anyone transmitting junk entries on the channel would otherwise grow the
// queue without limit (it drains at ten frames a second); twelve pads'
// polls, dives and acknowledgements of several commands fit many times.
constexpr std::size_t kMaxTxQueue = 256;

// text with %1, %2, ... replaced by args (a translation may order them as
// its language needs).
std::string Substitute(std::string text, std::initializer_list<std::string> args) {
  std::size_t i = 1;
  for (const std::string& arg : args) {
    const std::string mark = "%" + std::to_string(i++);
    for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += arg.size())
      text.replace(at, mark.size(), arg);
  }
  return text;
}

std::string ToText(std::string_view bytes) {
  return mq::i18n::TTextCodec::Windows1252ToUtf8(mq::i18n::TTextCodec::Bytes(bytes));
}

// Sorted insert in case-insensitive text order, the order of the sorted
// lists; duplicates (but for case) ignored.
void AddSorted(std::vector<std::string>& list, const std::string& item) {
  auto it = std::lower_bound(list.begin(), list.end(), item, AsciiText::LessNoCase);
  if (it != list.end() && !AsciiText::LessNoCase(item, *it)) return;
  list.insert(it, item);
}

std::string Fmt(const char* format, int value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

// Firmware 910 or later takes broadcast dives. A text that is not a
// decimal number cannot claim that and counts as older firmware.
bool FirmwareTakesBroadcast(const std::string& text) {
  try {
    return StrToInt(text) >= 910;
  } catch (const EConvertError&) {
    std::size_t i = (!text.empty() && text[0] == '+') ? 1 : 0;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i)
      if (text[i] < '0' || text[i] > '9') return false;
    return true;  // all digits, beyond 32 bits
  }
}

}  // namespace

TMarqsForm::TMarqsForm(mq::Loop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform, TMainWindowLink& window,
                       TShellState& shell, mq::i18n::TsiLangDispatcher* dispatcher)
    : loop_(loop),
      platform_(std::move(platform)),
      window_(window),
      shell_(shell),
      comPort_(loop, platform_),
      baseTimer_(loop, 100),
      comTimer_(loop, QueueInterval),
      reSetTimer_(loop, 100),
      setChanTimer_(loop, 100),
      echoTimer_(loop, 50) {
  siLang1_.ApplyPadLinkSettings();
  siLang1_.LoadTranslationData(mq::i18n::BuiltinTranslationData("TMarqsForm"));
  try {
    siLang1_.Loaded(dispatcher);
  } catch (...) {
    // A damaged translation record leaves the built-in texts; say so.
    loop_.reportError(std::current_exception());
  }

  comPort_.SetAutoOpen(false);
  comPort_.SetPromptForPort(false);
  comPort_.SetOnPortFailure([this](mq::serial::TApdComPort&) { ComPortFailed(); });

  fixedDataPacket_.SetComPort(&comPort_);
  fixedDataPacket_.SetStartCond(TPacketStartCond::scAnyData);
  fixedDataPacket_.SetEndCond({TPacketEndCond::ecPacketSize});
  fixedDataPacket_.SetPacketSize(27);
  fixedDataPacket_.SetTimeOut(kFramerTimeOut);
  fixedDataPacket_.SetAutoEnable(false);
  fixedDataPacket_.OnStringPacket = [this](TApdDataPacket&, const std::string& d) { FixedDataPacketStringPacket(d); };

  framedDataPacket_.SetComPort(&comPort_);
  framedDataPacket_.SetEndCond({TPacketEndCond::ecString});
  framedDataPacket_.SetTimeOut(kFramerTimeOut);
  framedDataPacket_.SetAutoEnable(false);
  framedDataPacket_.OnStringPacket = [this](TApdDataPacket&, const std::string& d) { FramedDataPacketStringPacket(d); };
  framedDataPacket_.OnTimeout = [this](TApdDataPacket&) { OnFramedTimeout(); };

  baseTimer_.OnTimer = [this] { BaseTimerTimer(); };
  comTimer_.OnTimer = [this] { COMTimerTimer(); };
  reSetTimer_.OnTimer = [this] { ReSetTimerTimer(); };
  setChanTimer_.OnTimer = [this] { SetChanTimerTimer(); };
  echoTimer_.OnTimer = [this] { EchoTimerTimer(); };

  FormCreate();
}

TMarqsForm::~TMarqsForm() {
  // The port closes first: its dispatcher thread reads the framers' events
  // while it delivers, so they are cleared only once no packet can come.
  // A packet handed over meanwhile still finds the form whole.
  comPort_.SetOnPortFailure(nullptr);
  try {
    comPort_.SetOpen(false);
  } catch (...) {
    loop_.reportError(std::current_exception());
  }
  fixedDataPacket_.SetEnabled(false);
  framedDataPacket_.SetEnabled(false);
  FormDestroy();
  fixedDataPacket_.OnStringPacket = nullptr;
  framedDataPacket_.OnStringPacket = nullptr;
  framedDataPacket_.OnTimeout = nullptr;
}

void TMarqsForm::FormCreate() {
  echoRunning_ = false;
  judgeIdMode_ = false;
  broadcast_ = false;
  useResetCommand_ = true;
  padList_.clear();
  portList_.clear();
  txQueue_.clear();
  firmwareList_.clear();
  // STX and EOT are set while the framer is disabled.
  framedDataPacket_.SetStartString(std::string(1, STX));
  framedDataPacket_.SetEndString(std::string(1, EOT));
}

void TMarqsForm::FormDestroy() {
  txQueue_.clear();
  padList_.clear();
  portList_.clear();
  firmwareList_.clear();
}

template <class Fn>
void TMarqsForm::Guarded(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    loop_.reportError(std::current_exception());
  }
}

// ---------------------------------------------------------------------------
// Helpers

std::string TMarqsForm::PortPrefix() const { return std::to_string(comPort_.ComNumber()); }

void TMarqsForm::ReportLater(std::exception_ptr error) {
  // Posted: a packet handler runs while the serial layer's hand-over waits,
  // and a report may open a modal window with an event loop of its own.
  loop_.post([&loop = loop_, error] { loop.reportError(error); });
}

std::string TMarqsForm::Text(std::string_view id) const { return siLang1_.GetTextOrDefault(id); }

void TMarqsForm::Log(const std::string& text) { window_.AddLogLine(text); }

void TMarqsForm::LogBytes(std::string_view prefix, std::string_view bytes) {
  Log(PortPrefix() + std::string(prefix) + ToText(bytes));
}

int TMarqsForm::MillisecondsOfMinute() const {
  if (shell_.MillisecondsOfMinute) return shell_.MillisecondsOfMinute();
  // Time zones differ from UTC by whole minutes, so the position within the
  // minute is the same in local time.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  return static_cast<int>(((ms % 60000) + 60000) % 60000);
}

void TMarqsForm::QueueFrame(std::string frame) {
  if (txQueue_.size() >= kMaxTxQueue) {
    ++txDropped_;
    if (!txOverflowReported_) {
      txOverflowReported_ = true;
      Log(Substitute(Text("IDS_157"), {std::to_string(kMaxTxQueue)}));
    }
    return;
  }
  txQueue_.push_back(std::move(frame));
}

void TMarqsForm::StartQueue(int interval) {
  comTimer_.SetInterval(interval);
  comTimer_.SetEnabled(true);
}

void TMarqsForm::FramedOff() {
  collectPadFrames_ = false;
  if (framedDataPacket_.Enabled()) {
    framedDataPacket_.SetAutoEnable(false);
    framedDataPacket_.SetEnabled(false);
  }
}

void TMarqsForm::SwitchToFixed(std::int32_t packetSize) {
  FramedOff();
  fixedDataPacket_.SetPacketSize(packetSize);
  fixedDataPacket_.SetEnabled(true);
}

void TMarqsForm::SendBaseCommand(std::string_view command) {
  comPort_.PutString(command);
  loop_.pause(kAckPause);
  comPort_.PutString(CmdAck);
}

void TMarqsForm::SendResetCommand() {
  SendBaseCommand(useResetCommand_ ? std::string(CmdReset) : std::string(CmdChannel) + "7");
}

void TMarqsForm::OnFramedTimeout() {
  // A garbled radio frame (STX without EOT) stops the framer whatever its
  // automatic re-enable says. While pad frames are meant to be collected,
  // collect again, or every later award would be lost.
  if (collectPadFrames_ && framedDataPacket_.AutoEnable()) framedDataPacket_.SetEnabled(true);
}

void TMarqsForm::ComPortFailed() {
  // The port's worker threads have stopped: nothing is received or sent on
  // it any more. End what was under way instead of running on against a
  // dead line; the report of the failure itself follows.
  echoTimer_.SetEnabled(false);
  if (echoRunning_) {
    // The step under way ends as its tick would have ended it: a reply
    // that came in is written to its row. The rows, the counters and the
    // record keep everything measured so far.
    if (echoReplied_) UpdateReport();
    echoResent_ = false;
    std::string detail;
    if (comPort_.HasDispatcher()) {
      const auto [osError, text] = comPort_.Dispatcher().Failure();
      mq::serial::EInOutError failure(osError, text);
      failure.SetPort(comPort_.ComNumber());
      detail = failure.what();
    }
    EndEchoTest(LinkLostText(detail));
  }
  txQueue_.clear();
  comTimer_.SetEnabled(false);
  comTimer_.SetInterval(ScanInterval);
  window_.SetLightMonitoring(false);
  comPort_.SetOpen(false);
  // A walk over the ports (the base-station check of a full scan, the reset
  // of all ports) moves on to the next port at its next tick.
  const bool checkingCandidate = baseTimer_.Enabled() && basePort_ == 0;
  if (checkingCandidate || reSetTimer_.Enabled()) return;
  baseTimer_.SetEnabled(false);
  FramedOff();
  if (fixedDataPacket_.Enabled()) fixedDataPacket_.SetEnabled(false);
  basePort_ = 0;
  baseIdent_ = Text("IDS_100");
  channelText_ = "?";
  channelKnown_ = false;
  bandwidthAsked_ = false;
  dcsAvailable_ = false;
  padList_.clear();
  firmwareList_.clear();
  window_.ReSetLEDs();
  DoRefresh();
  window_.SetBusyCursor(false);
  if (OnLinkLost) OnLinkLost();
}

// ---------------------------------------------------------------------------
// Transmit queue

void TMarqsForm::COMTimerTimer() {
  if (!txQueue_.empty()) {
    std::string frame = std::move(txQueue_.front());
    txQueue_.pop_front();
    LogBytes(" --> ", frame);
    comPort_.PutString(frame);
    return;
  }
  txOverflowReported_ = false;  // a later overflow is reported again
  comTimer_.SetEnabled(false);
  comTimer_.SetInterval(ScanInterval);
  DoRefresh();
  window_.SetBusyCursor(false);
}

// ---------------------------------------------------------------------------
// Base-station discovery

void TMarqsForm::FullScan() {
  Guarded([&] { FullScanImpl(); });
}

void TMarqsForm::FullScanImpl() {
  window_.SetBusyCursor(true);
  basePacketSize_ = 28;
  Log(Text("IDS_104"));
  judgeIdMode_ = false;
  if (comPort_.Open()) {
    comPort_.SetOpen(false);
    loop_.pause(kPortPause);
  }
  baseIdent_.clear();
  channelText_ = "?";
  portText_.clear();
  padList_.clear();
  firmwareList_.clear();
  bandwidthAsked_ = false;
  channelKnown_ = false;
  basePort_ = 0;
  portList_.clear();
  // Where the COM numbers come from, or what was ignored and why: a
  // simulator's links hide the machine's own ports while it runs.
  for (const auto& note : platform_->PortMapNotes()) Log(PortMapNoteText(note));
  mq::serial::ReportPortsInUse = false;
  // A port that exists but cannot be opened is left out of the list as
  // before, but the user learns which one and why: otherwise missing
  // permission or another program holding the port reads as "no ports".
  std::string unopened;
  for (int n = kProbeFirst; n <= kProbeLast; ++n) {
    const auto probe = mq::serial::ProbeComPortDetail(*platform_, static_cast<std::uint32_t>(n));
    if (probe.Available) {
      portList_.push_back(std::to_string(n));
    } else if (probe.Failure != mq::serial::TOpenFailure::NoDevice) {
      const std::string line = "COM" + std::to_string(n) + ": " +
                               UnopenedReason(probe.Failure, probe.Detail, probe.Advice);
      Log(line);
      unopened += "\n" + line;
    }
  }
  if (!portList_.empty()) {
    ScanPortsForBaseStation();
  } else {
    Log(Text("IDS_105"));
    DoRefresh();
    window_.SetBusyCursor(false);
    if (!unopened.empty()) window_.ShowInformation(Text("IDS_109") + unopened);
  }
}

std::string TMarqsForm::UnopenedReason(mq::serial::TOpenFailure failure, const std::string& detail,
                                       const mq::serial::TOpenAdvice& advice) const {
  using Kind = mq::serial::TOpenAdvice::Kind;
  switch (failure) {
    case mq::serial::TOpenFailure::PermissionDenied:
      // Joining a group is the advice only where it would help; otherwise
      // the user learns whose device it is.
      switch (advice.kind) {
        case Kind::JoinGroup: return Substitute(Text("IDS_107"), {advice.group});
        case Kind::LogInAgain: return Substitute(Text("IDS_153"), {advice.group});
        case Kind::DeviceOwner:
          return Substitute(Text("IDS_154"), {advice.device, advice.owner, advice.group, advice.mode});
        default: return Text("IDS_155");
      }
    case mq::serial::TOpenFailure::InUse:
      if (advice.kind == Kind::HeldBy) return Substitute(Text("IDS_156"), {advice.program, std::to_string(advice.pid)});
      return Text("IDS_108");
    default: return detail;
  }
}

std::string TMarqsForm::PortMapNoteText(const mq::serial::TPortMapNote& note) const {
  using Kind = mq::serial::TPortMapNote::Kind;
  switch (note.kind) {
    case Kind::PortsFolderUsed: return Substitute(Text("IDS_150"), {note.path});
    case Kind::PortsFolderForeign:
    case Kind::LinkForeign: return Substitute(Text("IDS_151"), {note.path, note.owner});
    case Kind::PortsFolderNotAFolder: return Substitute(Text("IDS_152"), {note.path});
    case Kind::PortsFolderNoDevice: break;
  }
  return Substitute(Text("IDS_158"), {note.path});
}

void TMarqsForm::ScanPortsForBaseStation() {
  fixedDataPacket_.SetPacketSize(basePacketSize_);
  std::string line = Text("IDS_106");
  for (std::size_t i = 0; i < portList_.size(); ++i) line += (i ? ", " : "") + portList_[i];
  Log(line);
  collectPadFrames_ = false;
  framedDataPacket_.SetEnabled(false);
  framedDataPacket_.SetAutoEnable(false);
  ScanNextPortForBaseStation(0);
}

void TMarqsForm::ScanNextPortForBaseStation(int P) {
  // A port that cannot be checked moves the walk on at once; the loop keeps
  // that from nesting one call per port.
  for (;;) {
    if (basePort_ != 0) {
      comPort_.SetComNumber(static_cast<std::uint16_t>(basePort_));
      comPort_.SetOpen(true);
      portText_ = std::to_string(basePort_);
      window_.SetLightMonitoring(true);
      ScanPortForPadsImpl();
      return;
    }
    if (P < 0 || static_cast<std::size_t>(P) >= portList_.size()) {
      if (basePacketSize_ == 28) {
        basePacketSize_ = 27;
        ScanPortsForBaseStation();
        return;
      }
      fixedDataPacket_.SetEnabled(false);
      DoRefresh();
      window_.SetBusyCursor(false);
      framedDataPacket_.SetAutoEnable(true);
      framedDataPacket_.SetEnabled(true);
      collectPadFrames_ = true;
      return;
    }
    if (comPort_.Open()) {
      window_.SetLightMonitoring(false);
      comPort_.SetOpen(false);
      loop_.pause(kPortPause);
    }
    try {
      comPort_.SetComNumber(static_cast<std::uint16_t>(std::stoi(portList_[static_cast<std::size_t>(P)])));
      window_.SetLightMonitoring(true);
      comPort_.SetOpen(true);
      loop_.pause(kPortPause);
      CheckBaseStation();
      return;
    } catch (...) {
      window_.SetLightMonitoring(false);
      ++P;
    }
  }
}

void TMarqsForm::CheckBaseStation() {
  bandwidthAsked_ = false;
  unusableChannelReplies_ = 0;
  unansweredChannelQueries_ = 0;
  CheckBaseVersion();
}

void TMarqsForm::CheckBaseVersion() {
  LogBytes(" --> ", CmdIdent);
  FramedOff();
  fixedDataPacket_.SetPacketSize(basePacketSize_);
  fixedDataPacket_.SetEnabled(true);
  SendBaseCommand(CmdIdent);
  Log(PortPrefix() + " --> ACK");
  baseIdent_ = Text("IDS_100");
  baseTimer_.SetEnabled(true);
}

void TMarqsForm::CheckBaseChannel() {
  FramedOff();
  LogBytes(" --> ", std::string(CmdChannel) + "?");
  fixedDataPacket_.SetPacketSize(9);
  fixedDataPacket_.SetEnabled(true);
  comPort_.PutString(std::string(CmdChannel) + "?");
  ++unansweredChannelQueries_;
  bandwidthAsked_ = false;
}

void TMarqsForm::CheckBaseBandwidth() {
  FramedOff();
  shell_.BandwidthIndex = 4;
  LogBytes(" --> ", CmdBandwidthQuery);
  fixedDataPacket_.SetPacketSize(9);
  fixedDataPacket_.SetEnabled(true);
  comPort_.PutString(CmdBandwidthQuery);
  bandwidthAsked_ = true;
}

void TMarqsForm::BaseTimerTimer() {
  if (bandwidthAsked_ || basePort_ == 0) {
    baseTimer_.SetEnabled(false);
    const std::string current = std::to_string(comPort_.ComNumber());
    const auto it = std::find(portList_.begin(), portList_.end(), current);
    const int pos = it == portList_.end() ? -1 : static_cast<int>(it - portList_.begin());
    // A port missing from the list (changed under the scan) ends the pass
    // rather than starting it again.
    ScanNextPortForBaseStation(pos < 0 ? static_cast<int>(portList_.size()) : pos + 1);
  } else if (channelKnown_) {
    CheckBaseBandwidth();
  } else if (unansweredChannelQueries_ >= kUnansweredChannelQueries) {
    // The query is repeated on every tick until a channel is known, so a
    // station that never answers it would hold the scan for good. The
    // channel counts as unknown, once reported, and the scan goes on.
    channelText_ = "?";
    channelKnown_ = true;
    ReportLater(std::make_exception_ptr(std::runtime_error("COM" + PortPrefix() + ": no reply to " +
                                                           std::to_string(kUnansweredChannelQueries) +
                                                           " channel queries; the channel is shown as unknown")));
    CheckBaseBandwidth();
  } else {
    CheckBaseChannel();
  }
}

void TMarqsForm::FixedDataPacketStringPacket(const std::string& Data) {
  const std::string& s = Data;
  LogBytes(" <-- ", s);
  if (s.size() == 9) {
    const char kind = s[7];
    const char value = s[8];
    if (kind == '0') {
      channelKnown_ = true;
    } else if (kind == 'B') {
      if (value == '6' || value == '?') {
        shell_.BandwidthIndex = 4;
      } else {
        const int index = StrToInt(std::string(1, value));
        // Only 0..3 name an item of the bandwidth choice besides "6"; any
        // other digit is shown as the last item, as an unknown answer is.
        shell_.BandwidthIndex = (index >= 0 && index <= 3) ? index : 4;
      }
      window_.Refresh();
    } else if (kind == 'C') {
      if (unansweredChannelQueries_ > 0) --unansweredChannelQueries_;
      try {
        StrToInt(std::string(1, value));  // a digit, or the reply is not taken
        channelText_ = std::string(1, value);
      } catch (const EConvertError& e) {
        // The query is repeated on every tick until a channel is known, so a
        // station that keeps answering with a non-digit would hold the scan
        // for good. After a few such replies the channel counts as unknown,
        // once reported, and the scan goes on as if it had been answered.
        if (++unusableChannelReplies_ < kUnusableChannelReplies) return;  // asked again, unreported
        channelText_ = "?";
        ReportLater(std::make_exception_ptr(EConvertError(
            "COM" + PortPrefix() + ": " + std::to_string(kUnusableChannelReplies) +
            " channel replies without a channel number (" + e.what() + "); the channel is shown as unknown")));
      }
      channelKnown_ = true;
    } else if (kind == 'R') {
      channelText_ = "7";
    }
  } else if (s.size() == 10) {
    if (s[7] == 'A') window_.Refresh();
  } else {
    const std::string rest = s.size() > 9 ? s.substr(9) : std::string();
    if (rest.find("ER400TRS") != std::string::npos) {
      baseIdent_ = ToText(rest);
      basePort_ = comPort_.ComNumber();
      if (rest == ChannelResetIdent) useResetCommand_ = false;
      dcsAvailable_ = rest.find('V') != std::string::npos;
    }
  }
  comPort_.FlushInBuffer();
}

void TMarqsForm::DoRefresh() {
  broadcast_ = false;
  if (portList_.empty()) portText_ = Text("IDS_101");
  if (!firmwareList_.empty()) {
    broadcast_ = true;
    for (const auto& firmware : firmwareList_)
      if (!FirmwareTakesBroadcast(firmware)) broadcast_ = false;
  }
  window_.Refresh();
}

// ---------------------------------------------------------------------------
// Pad discovery and pad replies

void TMarqsForm::ScanPortForPads() {
  Guarded([&] { ScanPortForPadsImpl(); });
}

void TMarqsForm::ScanPortForPadsImpl() {
  window_.SetLightMonitoring(true);
  if (fixedDataPacket_.Enabled()) fixedDataPacket_.SetEnabled(false);
  framedDataPacket_.SetAutoEnable(true);
  framedDataPacket_.SetEnabled(true);
  collectPadFrames_ = true;
  padList_.clear();
  firmwareList_.clear();
  for (char id : PadIdAlphabet) QueueFrame(RegisterPoll(id));
  StartQueue(ScanInterval);
}

void TMarqsForm::SilentScanAll() {
  Guarded([&] {
    padList_.clear();
    firmwareList_.clear();
    for (char id : PadIdAlphabet) SilentScanImpl(id);
  });
}

void TMarqsForm::SilentScan(char P) {
  Guarded([&] { SilentScanImpl(P); });
}

void TMarqsForm::SilentScanImpl(char P) {
  const std::string id(1, P);
  padList_.erase(std::remove(padList_.begin(), padList_.end(), id), padList_.end());
  QueueFrame(mq::padlink::SilentPoll(P));
  StartQueue(ScanInterval);
}

void TMarqsForm::FramedDataPacketStringPacket(const std::string& Data) {
  std::string s = Data;
  if (s.size() > 3) s.erase(s.size() - 1);  // the end string, one byte
  const auto lastStx = s.rfind(STX);
  if (lastStx != std::string::npos) s.erase(0, lastStx + 1);
  if (s.empty()) return;
  const char id = s[0];
  s.erase(0, 1);
  // A frame that ends right after the id (an STX repeated inside a frame)
  // carries nothing to acknowledge or show.
  if (s.empty()) return;
  if (s[0] == ACK) {
    s.erase(0, 1);
    if (echoRunning_)
      EchoReply(id, std::move(s));
    else
      Registration(id, s);
  } else {
    Entry(id, std::move(s));
  }
}

void TMarqsForm::EchoReply(char id, std::string payload) {
  const int t = MillisecondsOfMinute();
  const int judge = JudgeIndex(id);
  // A pad outside the alphabet has no row to count on.
  if (judge < 0) return;
  curJudge_ = judge;
  const auto space = payload.find(' ');
  if (space != std::string::npos) payload.erase(0, space + 1);
  std::string digits;
  for (char c : payload)
    if (PadIdAlphabet.find(c) != std::string_view::npos) digits += c;
  const int n = StrToInt(digits);
  Log(ToText(std::string(1, id)) + " <-- " + Fmt("%8d", n) + Fmt("%8d", t));
  TEchoStat& stat = echoStats_[static_cast<std::size_t>(curJudge_)];
  if (echoResent_) {
    if (n == echoLoop_)
      ++stat.MissedSends;
    else
      ++stat.MissedReads;
  }
  ++stat.Replies;
  echoRecord_.Reply(curJudge_, n);
  echoReplied_ = true;
}

void TMarqsForm::Registration(char id, const std::string& payload) {
  LogBytes(" <-- ", payload);
  if (payload.size() < 6) {
    const int judge = JudgeIndex(id);
    // An id outside the alphabet has no light and no judge: not registered.
    if (judge < 0) return;
    const std::string pad(1, id);
    if (std::find(padList_.begin(), padList_.end(), pad) != padList_.end()) return;
    AddSorted(padList_, pad);
    AddSorted(firmwareList_, payload.empty() ? std::string("0") : ToText(payload));
    window_.JudgeLightOn(judge);
    window_.JudgeLabelHandCursor(judge);
  } else if (shell_.PadsFound) {
    std::string text = ToText(payload.substr(0, 16)) + "<CR>";
    if (payload.size() > 16) text += ToText(payload.substr(16));
    window_.SetEchoText(text);
  }
}

void TMarqsForm::Entry(char id, std::string entry) {
  QueueFrame(EntryAck(id, entry, judgeIdMode_));
  if (!comTimer_.Enabled()) comTimer_.SetEnabled(true);
  const int judge = JudgeIndex(id);
  // An entry from an unknown id is acknowledged and nothing else.
  if (judge < 0) return;
  curJudge_ = judge;
  if (!judgeIdMode_) {
    const char sep = shell_.DecimalSeparator;
    if (entry.find(sep) == std::string::npos && entry.size() >= 2) entry[entry.size() - 2] = sep;
  }
  awards_[static_cast<std::size_t>(curJudge_)] = entry;
  window_.DoAward(ToText(entry));
}

// ---------------------------------------------------------------------------
// Competition commands

void TMarqsForm::SendDive(std::string_view DiveStr) {
  Guarded([&] {
    judgeIdMode_ = false;
    if (broadcast_) {
      QueueFrame(BroadcastDiveFrame(DiveStr));
    } else {
      for (const auto& pad : padList_) QueueFrame(DiveFrame(pad[0], DiveStr));
    }
    StartQueue(QueueInterval);
  });
}

void TMarqsForm::KbdLocked(bool Lock) {
  Guarded([&] {
    for (const auto& pad : padList_) QueueFrame(LockFrame(pad[0], Lock));
    StartQueue(QueueInterval);
  });
}

void TMarqsForm::RequestJudgeIDs() {
  Guarded([&] {
    judgeIdMode_ = true;
    for (const auto& pad : padList_) QueueFrame(JudgeIdRequest(pad[0]));
    StartQueue(QueueInterval);
  });
}

// ---------------------------------------------------------------------------
// Configuration commands

void TMarqsForm::SetChannel(int Channel) {
  Guarded([&] {
    if (comPort_.ComNumber() == 0) {
      window_.ShowInformation(Text("IDS_103"));
      return;
    }
    judgeIdMode_ = false;
    SendBaseCommand(std::string(CmdChannel) + std::to_string(Channel));
    setChanTimer_.SetEnabled(true);
  });
}

void TMarqsForm::BaseStationReset() {
  Guarded([&] {
    if (basePort_ <= 0) {
      SendReset(0);
      return;
    }
    SendResetCommand();
    setChanTimer_.SetInterval(500);
    setChanTimer_.SetEnabled(true);
  });
}

void TMarqsForm::SendReset(int P) {
  // Ports that fail move the walk to the previous entry at once; the loop
  // keeps that from nesting one call per port.
  for (;;) {
    judgeIdMode_ = false;
    int i;
    if (P == 0) {
      i = static_cast<int>(portList_.size()) - 1;
    } else {
      const auto it = std::find(portList_.begin(), portList_.end(), std::to_string(P));
      i = (it == portList_.end() ? -1 : static_cast<int>(it - portList_.begin())) - 1;
    }
    if (i < 0) return;
    const int number = std::stoi(portList_[static_cast<std::size_t>(i)]);
    try {
      if (comPort_.Open()) {
        comPort_.SetOpen(false);
        loop_.pause(kPortPause);
      }
      comPort_.SetComNumber(static_cast<std::uint16_t>(number));
      comPort_.SetOpen(true);
      loop_.pause(kPortPause);
      SendResetCommand();
      reSetTimer_.SetEnabled(true);
      return;
    } catch (...) {
      P = number;
    }
  }
}

void TMarqsForm::ReSetTimerTimer() {
  judgeIdMode_ = false;
  reSetTimer_.SetEnabled(false);
  SendReset(comPort_.ComNumber());
}

void TMarqsForm::SetChanTimerTimer() {
  judgeIdMode_ = false;
  setChanTimer_.SetEnabled(false);
  setChanTimer_.SetInterval(100);
  FullScanImpl();
}

void TMarqsForm::SetBandwidth(int B) {
  Guarded([&] {
    if (basePort_ <= 0) return;
    // Only the five items of the bandwidth choice have a command.
    if (B < 0 || B >= static_cast<int>(CmdBandwidth.size())) return;
    SwitchToFixed(9);
    shell_.BandwidthIndex = 4;
    const std::string_view command = CmdBandwidth[static_cast<std::size_t>(B)];
    LogBytes(" --> ", command);
    SendBaseCommand(command);
    Log(PortPrefix() + " --> ACK");
    setChanTimer_.SetEnabled(true);
  });
}

void TMarqsForm::DCS(bool Active) {
  Guarded([&] {
    if (basePort_ <= 0) return;
    const std::string command = std::string(CmdDcs) + (Active ? "1" : "0");
    LogBytes(" --> ", command);
    SwitchToFixed(10);
    SendBaseCommand(command);
    Log(PortPrefix() + " --> ACK");
    setChanTimer_.SetEnabled(true);
  });
}

void TMarqsForm::SendCustomCmd(std::string_view CmdStr) {
  Guarded([&] {
    SwitchToFixed(CmdStr == CmdIdent ? 27 : static_cast<std::int32_t>(CmdStr.size()));
    LogBytes(" --> ", CmdStr);
    SendBaseCommand(CmdStr);
    Log(PortPrefix() + " --> ACK");
  });
}

// ---------------------------------------------------------------------------
// Echo test

void TMarqsForm::TestEcho(int NoOfLoops) {
  Guarded([&] {
    echoRunning_ = true;
    echoLoops_ = NoOfLoops;
    echoTimer_.SetInterval(shell_.TestDelay);
    window_.ProgressSetMax(static_cast<int>(padList_.size()) * echoLoops_);
    echoStats_ = {};
    std::vector<int> judges;
    for (const auto& pad : padList_) judges.push_back(JudgeIndex(pad[0]));
    echoRecord_.Start(NoOfLoops, shell_.TestDelay, std::move(judges), loop_.nowMs());
    echoRecord_.SetStation({comPort_.ComNumber(), baseIdent_, channelText_, shell_.BandwidthIndex});
    for (int r = 0; r < 12; ++r) window_.SetReportRowText(r, std::to_string(r));
    echoLoop_ = 0;
    TestEchoNextLoop();
  });
}

void TMarqsForm::TestEchoNextLoop() {
  // With no pad to echo a loop ends at once; looping here instead of
  // chaining calls keeps 10,000 empty loops off the stack.
  while (echoLoop_ < echoLoops_) {
    ++echoLoop_;
    echoPadIndex_ = 0;
    if (StartNextEchoPad()) return;
  }
  EndEchoTest();
}

std::string TMarqsForm::LinkLostText(const std::string& detail) const {
  return Text("IDS_120") + (detail.empty() ? std::string() : " \u2014 " + detail);
}

void TMarqsForm::EndEchoTest(std::string earlyEnd) {
  echoRunning_ = false;
  const int asked = echoRecord_.LoopsAsked();
  // Fewer loops than asked without another reason: the Abort button.
  if (earlyEnd.empty() && echoLoop_ < asked) earlyEnd = Text("IDS_121");
  if (!earlyEnd.empty())
    Log(Text("IDS_122") + " " + std::to_string(echoLoop_) + "/" + std::to_string(asked) + " (" + earlyEnd + ")");
  echoRecord_.Ended(loop_.nowMs(), std::move(earlyEnd));
  // Last: the window reads the finished record when the bar goes.
  window_.ProgressHide();
}

void TMarqsForm::TestEchoJudges() {
  if (!StartNextEchoPad()) TestEchoNextLoop();
}

bool TMarqsForm::StartNextEchoPad() {
  if (echoPadIndex_ >= static_cast<int>(padList_.size())) return false;
  window_.ProgressStep();
  reportColour_ = TReportColour::WindowText;
  const char id = padList_[static_cast<std::size_t>(echoPadIndex_)][0];
  ++echoPadIndex_;
  const std::string request = EchoRequest(id, echoLoop_);
  echoFrame_ = EchoResend(id);
  echoReplied_ = false;
  echoRecord_.StepStarted(echoLoop_, JudgeIndex(id));
  Log(std::string(1, id) + " -->" + Fmt("%8d", echoLoop_) + Fmt("%8d", MillisecondsOfMinute()));
  try {
    comPort_.PutString(request);
  } catch (...) {
    // The link is gone: end the test instead of leaving it half running,
    // which would take every later registration for an echo reply.
    echoTimer_.SetEnabled(false);
    echoResent_ = false;
    std::string detail;
    try {
      throw;
    } catch (const std::exception& e) {
      detail = e.what();
    } catch (...) {
    }
    EndEchoTest(LinkLostText(detail));
    throw;
  }
  echoTimer_.SetEnabled(true);
  return true;
}

void TMarqsForm::EchoTimerTimer() {
  if (echoReplied_ || echoResent_) {
    echoTimer_.SetEnabled(false);
    echoResent_ = false;
    if (echoReplied_) UpdateReport();
    TestEchoJudges();
    return;
  }
  echoResent_ = true;
  const int index = echoPadIndex_ - 1;
  if (index < 0 || index >= static_cast<int>(padList_.size())) return;
  const char id = padList_[static_cast<std::size_t>(index)][0];
  ++echoStats_[static_cast<std::size_t>(JudgeIndex(id))].Resends;
  echoRecord_.Resent();
  reportColour_ = TReportColour::Red;
  Log(std::string(1, id) + " -->>" + Fmt("%7d", echoLoop_) + Fmt("%8d", MillisecondsOfMinute()));
  comPort_.PutString(echoFrame_);
}

void TMarqsForm::UpdateReport() {
  const int r = curJudge_;
  if (r < 0 || r >= 12) return;
  const TEchoStat& stat = echoStats_[static_cast<std::size_t>(r)];
  const std::string text = Fmt("%1d", r) + Fmt("%8d", stat.Replies) + Fmt("%8d", stat.Resends) +
                           Fmt("%8d", stat.MissedReads) + Fmt("%8d", stat.MissedSends);
  window_.SetReportRow(r, text, reportColour_);
}

void TMarqsForm::EchoOneJudge(char P) {
  Guarded([&] { comPort_.PutString(EchoResend(P)); });
}

}  // namespace mq::padlink
