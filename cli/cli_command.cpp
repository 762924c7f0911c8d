#include "cli/cli_command.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/console_window.h"
#include "padlink/pad_link.h"
#include "padlink/shell_state.h"

namespace mq::padlink {

namespace {

constexpr int kScanLimitMs = 120'000;

// Writes one output file; false (and the reason said) when it failed.
bool Finish(std::ofstream& file, const std::string& path, const std::string& content, std::ostream& err) {
  if (!file.is_open()) return true;
  file << content;
  file.flush();
  if (file) return true;
  err << "cannot write " << path << '\n';
  return false;
}

}  // namespace

TCliCommand::TCliCommand(const TCliOptions& options, mq::Loop& loop, const RunUntil& runUntil,
                         const std::atomic<bool>& interrupted, const bool& linkLost, TMarqsForm& form,
                         TConsoleWindow& win, TShellState& shell, TEchoFiles& files, int& errors, std::ostream& out,
                         std::ostream& err)
    : o_(options),
      loop_(loop),
      runUntil_(runUntil),
      interrupted_(interrupted),
      linkLost_(linkLost),
      form_(form),
      win_(win),
      shell_(shell),
      files_(files),
      errors_(errors),
      out_(out),
      err_(err) {}

int TCliCommand::Run() {
  const std::string& c = o_.command;
  if (auto ended = Begin()) return *ended;

  // Entries print as they arrive; dive and judge-ids wait for them.
  win_.OnAward = [this](const std::string& text) {
    ++entries_;
    out_ << "J" << form_.CurJudge() << " " << TConsoleWindow::Visible(text) << '\n' << std::flush;
  };
  if (c == "echo") return Echo();
  if (c == "dive") return Dive();
  if (c == "judge-ids") return JudgeIds();
  if (c == "lock" || c == "unlock") return Keyboard();
  if (c == "reset") return Reset();
  if (c == "send-cmd") return SendCmd();
  return Configure();
}

std::optional<int> TCliCommand::Begin() {
  const std::string& c = o_.command;
  if (!o_.noScan) {
    const int before = win_.ScansEnded();
    form_.FullScan();
    if (!WaitBatch(before, kScanLimitMs)) {
      err_ << (interrupted_ ? "interrupted\n"
               : linkLost_  ? "the link to the base station was lost\n"
                            : "the scan did not end within two minutes\n");
      PrintSummary();
      return 1;
    }
    SyncPadsFound();
    if (c == "scan") return Scan();
    // Reset goes on without a station, as the window's button does: it then
    // resets every port the scan listed.
    if (form_.BasePort() <= 0 && c != "reset") {
      PrintSummary();
      err_ << "no base station found\n";
      return 1;
    }
  } else if (c == "reset") {
    // No scan listed the ports: the walk visits the one given.
    form_.SetPortList({std::to_string(o_.port)});
  } else {
    try {
      form_.ComPort().SetComNumber(static_cast<std::uint16_t>(o_.port));
      form_.ComPort().SetOpen(true);
    } catch (...) {
      err_ << "mqtool-cli: --port " << o_.port << ": "
           << TConsoleWindow::Visible(CliOutput::ErrorText(std::current_exception())) << '\n';
      return 1;
    }
  }
  return std::nullopt;
}

int TCliCommand::Scan() {
  PrintSummary();
  return form_.BasePort() > 0 ? 0 : 1;
}

int TCliCommand::Echo() {
  if (form_.PadList().empty()) {
    err_ << "no pads registered: nothing to echo\n";
    return 1;
  }
  form_.TestEcho(o_.loops);
  const std::int64_t expected = std::int64_t{o_.delay} * 2 * o_.loops *
                                static_cast<std::int64_t>(form_.PadList().size());
  bool aborted = false;
  Drive(
      [&] {
        if (interrupted_ && !aborted) {
          aborted = true;
          form_.SetEchoLoops(1);  // the Abort button: end after this loop
        }
        return !form_.EchoRunning();
      },
      static_cast<int>(std::min<std::int64_t>(expected + 60'000, 2'000'000'000)));
  const int loopsRun = form_.EchoLoop();
  if (aborted) err_ << "echo test aborted: " << loopsRun << " of " << o_.loops << " loops ran\n";
  // Everything from the record and the final counters: a link lost
  // during the test clears the pad list and the station's details, not
  // what was measured. The window's rows are written on a reply only, so
  // a resend after a pad's last reply would be missing there.
  const TEchoRecord& record = form_.EchoRecord();
  const auto& stats = form_.EchoStats();
  out_ << CliOutput::EchoTable(record, stats, loopsRun) << std::flush;
  int result = 0;
  for (int j : record.Judges()) {
    const TEchoStat& s = stats[static_cast<std::size_t>(j)];
    if (s.Replies < loopsRun || s.Resends > s.MissedReads + s.MissedSends) result = 1;
  }
  if (form_.EchoRunning() || aborted || !record.EarlyEnd().empty() || errors_ > 0) result = 1;
  const std::string when = CliOutput::LocalDateTime();
  bool written = Finish(files_.loopsCsv, o_.loopsCsv, record.LoopsCsv(), err_);
  if (files_.report.is_open())
    written = Finish(files_.report, o_.report, CliOutput::EchoReportHtml(record, stats, when), err_) && written;
  if (files_.csv.is_open())
    written = Finish(files_.csv, o_.csv, CliOutput::EchoCsv(record, stats, loopsRun, o_.delay, when), err_) && written;
  if (!written) return 1;
  if (o_.json) PrintSummary();
  return result;
}

int TCliCommand::Dive() {
  if (o_.broadcast) form_.SetBroadcast(true);
  if (form_.PadList().empty() && !form_.Broadcast()) {
    err_ << "no pads registered: the dive would go nowhere\n";
    return 1;
  }
  form_.SendDive(o_.text);
  const int result = Listen();
  SyncPadsFound();
  return result;
}

int TCliCommand::JudgeIds() {
  if (form_.PadList().empty()) {
    err_ << "no pads registered: nobody to ask for a judge ID\n";
    return 1;
  }
  form_.RequestJudgeIDs();
  const int result = Listen();
  SyncPadsFound();
  return result;
}

int TCliCommand::Keyboard() {
  const int before = win_.ScansEnded();
  form_.KbdLocked(o_.command == "lock");
  return Summarised(WaitBatch(before, 10'000) ? 0 : 1);
}

int TCliCommand::Reset() {
  if (form_.BasePort() > 0) {
    form_.BaseStationReset();
    return Summarised(WaitRescan());
  }
  // The reset walk: each step that got the command out arms ReSetTimer on
  // its port, so the ports reset are those seen with the timer on.
  std::vector<std::string> reset;
  auto note = [&] {
    const std::string p = std::to_string(form_.ComPort().ComNumber());
    if (form_.ReSetTimer().Enabled() && (reset.empty() || reset.back() != p)) reset.push_back(p);
  };
  form_.BaseStationReset();
  note();
  WaitFor(
      [&] {
        note();
        return !form_.ReSetTimer().Enabled();
      },
      60'000);
  if (reset.empty()) {
    err_ << (form_.PortList().empty() ? "no port to reset: no port could be opened\n"
                                      : "no port to reset: none of the ports could be opened\n");
    return Summarised(1);
  }
  err_ << "no base station known: reset sent on port " << CliOutput::Joined(reset) << '\n';
  return Summarised(0);
}

int TCliCommand::Configure() {
  const std::string& c = o_.command;
  if (c == "channel")
    form_.SetChannel(o_.value);
  else if (c == "bandwidth")
    form_.SetBandwidth(o_.value);
  else if (c == "dcs")
    form_.DCS(o_.dcsOn);
  else
    return Summarised(0);
  return Summarised(WaitRescan());
}

int TCliCommand::SendCmd() {
  // The reply is logged by the base-reply handler on the loop thread; the
  // framer switches itself off on the serial thread before that, so wait
  // for the handler's log line (or the framer's time-out event).
  const std::string replyPrefix = std::to_string(form_.ComPort().ComNumber()) + " <-- ";
  bool replied = false;
  win_.OnLogLine = [&](const std::string& line) {
    if (line.rfind(replyPrefix, 0) == 0) replied = true;
  };
  // Set once, before the framer is armed, and left in place: the serial
  // thread reads it. The flag outlives this scope with the framer.
  auto timedOut = std::make_shared<bool>(false);
  form_.FixedDataPacket().OnTimeout = [timedOut](mq::serial::TApdDataPacket&) { *timedOut = true; };
  const int errorsBefore = errors_;
  form_.SendCustomCmd(o_.cmdText);
  if (errors_ == errorsBefore) WaitFor([&] { return replied || *timedOut; }, 10'000);
  win_.OnLogLine = nullptr;
  int result = 0;
  if (!replied) {
    if (errors_ == errorsBefore) err_ << "no reply from the base station\n";
    result = 1;
  }
  SyncPadsFound();
  return result;
}

void TCliCommand::ClosePort() {
  auto& port = form_.ComPort();
  if (!port.Open()) return;
  // A close discards what is still waiting in the output ring (the last
  // acknowledgements, a reset): let it leave first.
  Drive([&] { return !port.Open() || port.OutBuffUsed() == 0; }, 3000);
  try {
    port.SetOpen(false);
  } catch (...) {
    loop_.reportError(std::current_exception());
  }
}

bool TCliCommand::Drive(const std::function<bool()>& done, int timeoutMs) { return runUntil_(done, timeoutMs); }

bool TCliCommand::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return Drive([&] { return interrupted_.load() || linkLost_ || done(); }, timeoutMs) && done();
}

void TCliCommand::SyncPadsFound() {
  if (win_.Refreshes() != refreshesSeen_) {
    refreshesSeen_ = win_.Refreshes();
    shell_.PadsFound = !form_.PadList().empty();
  }
}

bool TCliCommand::WaitBatch(int before, int limitMs) {
  return WaitFor(
      [&] {
        SyncPadsFound();
        return win_.ScansEnded() > before;
      },
      limitMs);
}

int TCliCommand::Listen() {
  const int limit = o_.timeoutSec > 0 ? o_.timeoutSec * 1000 : -1;
  WaitFor([&] { return o_.count > 0 && entries_ >= o_.count; }, limit);
  // The acknowledgements of the entries received still go out, also after
  // Ctrl+C (further interrupts are ignored here), so every judge who keyed
  // in an award sees it confirmed. Bounded: a frame leaves every 100 ms.
  const int drainMs = 3000 + 200 * static_cast<int>(form_.TxQueueCount());
  Drive([&] { return form_.TxQueueCount() == 0 && !form_.COMTimer().Enabled(); }, drainMs);
  return o_.count > 0 && entries_ < o_.count ? 1 : 0;
}

int TCliCommand::WaitRescan() {
  if (!form_.SetChanTimer().Enabled()) {
    err_ << "nothing was sent\n";
    return 1;
  }
  if (!WaitBatch(win_.ScansEnded(), kScanLimitMs)) {
    err_ << (interrupted_ ? "interrupted\n" : "the rescan did not end within two minutes\n");
    return 1;
  }
  SyncPadsFound();
  if (form_.BasePort() <= 0) {
    err_ << "the rescan found no base station\n";
    return 1;
  }
  return 0;
}

void TCliCommand::PrintSummary() {
  if (o_.json)
    out_ << CliOutput::SummaryJson(form_, shell_.BandwidthIndex) << '\n';
  else
    out_ << CliOutput::Summary(form_, shell_.BandwidthIndex);
  out_ << std::flush;
}

int TCliCommand::Summarised(int result) {
  SyncPadsFound();
  PrintSummary();
  return result;
}

}  // namespace mq::padlink
