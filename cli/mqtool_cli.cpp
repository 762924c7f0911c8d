#include "cli/mqtool_cli.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <sstream>

#include "i18n/si_lang_dispatcher.h"
#include "i18n/text_codec.h"
#include "cli/console_window.h"
#include "padlink/echo_report.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "padlink/shell_state.h"

namespace mq::padlink {

// The echo command's output files, opened before the scan.
struct TEchoFiles {
  std::ofstream csv, loopsCsv, report;
};

namespace {

constexpr int kScanLimitMs = 120'000;
}  // namespace

TMqToolCli::TMqToolCli(mq::RealtimeLoop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform,
                       std::ostream& out, std::ostream& err)
    : TMqToolCli(
          loop, [&loop](const std::function<bool()>& done, int timeoutMs) { return loop.runUntil(done, timeoutMs); },
          std::move(platform), out, err) {}

TMqToolCli::TMqToolCli(mq::Loop& loop, RunUntil runUntil, std::shared_ptr<mq::serial::SerialPlatform> platform,
                       std::ostream& out, std::ostream& err)
    : loop_(loop), runUntil_(std::move(runUntil)), platform_(std::move(platform)), out_(out), err_(err) {}

bool TMqToolCli::Drive(const std::function<bool()>& done, int timeoutMs) { return runUntil_(done, timeoutMs); }

bool TMqToolCli::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return Drive([&] { return interrupted_.load() || linkLost_ || done(); }, timeoutMs) && done();
}

int TMqToolCli::Run(const TCliOptions& o) {
  int errors = 0;
  loop_.setErrorHandler([&](std::exception_ptr e) {
    err_ << "error: " << TConsoleWindow::Visible(CliOutput::ErrorText(e)) << '\n' << std::flush;
    ++errors;
  });

  // A file that cannot be written is refused before anything is sent.
  TEchoFiles files;
  for (auto [path, stream] : {std::pair{&o.csv, &files.csv}, std::pair{&o.loopsCsv, &files.loopsCsv},
                              std::pair{&o.report, &files.report}}) {
    if (path->empty()) continue;
    errno = 0;
    stream->open(mq::i18n::TTextCodec::PathFromUtf8(*path), std::ios::binary | std::ios::trunc);
    if (!*stream) {
      const int e = errno;
      err_ << "mqtool-cli: cannot write " << *path << ": " << (e ? std::strerror(e) : "cannot be opened") << '\n';
      return 2;
    }
  }

  TShellState shell;
  shell.TestDelay = o.delay;
  shell.DecimalSeparator = o.decimalSeparator;
  TConsoleWindow win(o.json ? err_ : out_, err_);
  mq::i18n::TsiLangDispatcher dispatcher;
  TMarqsForm form(loop_, platform_, win, shell, &dispatcher);
  // A port that dies ends the command at once (the error is already shown).
  linkLost_ = false;
  form.OnLinkLost = [this] { linkLost_ = true; };
  int result = RunCommand(o, form, win, shell, files, errors);
  ClosePort(form);
  if (result == 0 && errors > 0) result = 1;
  return result;
}

void TMqToolCli::ClosePort(TMarqsForm& form) {
  auto& port = form.ComPort();
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

int TMqToolCli::RunCommand(const TCliOptions& o, TMarqsForm& form, TConsoleWindow& win, TShellState& shell,
                           TEchoFiles& files, int& errors) {
  // The window's Refresh keeps PadsFound; so does this console.
  int refreshesSeen = 0;
  auto syncPadsFound = [&] {
    if (win.Refreshes() != refreshesSeen) {
      refreshesSeen = win.Refreshes();
      shell.PadsFound = !form.PadList().empty();
    }
  };
  // Waits for the cursor to go back to normal after the `before`-th time:
  // the end of a scan or of a queued batch.
  auto waitBatch = [&](int before, int limitMs) {
    return WaitFor(
        [&] {
          syncPadsFound();
          return win.ScansEnded() > before;
        },
        limitMs);
  };

  auto printSummary = [&] {
    if (o.json) {
      out_ << CliOutput::SummaryJson(form, shell.BandwidthIndex) << '\n';
    } else {
      out_ << CliOutput::Summary(form, shell.BandwidthIndex);
    }
    out_ << std::flush;
  };

  const std::string& c = o.command;

  // ---- the opening full scan, or the port given with --no-scan ----
  if (!o.noScan) {
    const int before = win.ScansEnded();
    form.FullScan();
    if (!waitBatch(before, kScanLimitMs)) {
      err_ << (interrupted_ ? "interrupted\n"
               : linkLost_  ? "the link to the base station was lost\n"
                            : "the scan did not end within two minutes\n");
      printSummary();
      return 1;
    }
    syncPadsFound();
    if (c == "scan") {
      printSummary();
      return form.BasePort() > 0 ? 0 : 1;
    }
    // Reset goes on without a station, as the window's button does: it then
    // resets every port the scan listed.
    if (form.BasePort() <= 0 && c != "reset") {
      printSummary();
      err_ << "no base station found\n";
      return 1;
    }
  } else if (c == "reset") {
    // No scan listed the ports: the walk visits the one given.
    form.SetPortList({std::to_string(o.port)});
  } else {
    try {
      form.ComPort().SetComNumber(static_cast<std::uint16_t>(o.port));
      form.ComPort().SetOpen(true);
    } catch (...) {
      err_ << "mqtool-cli: --port " << o.port << ": "
           << TConsoleWindow::Visible(CliOutput::ErrorText(std::current_exception())) << '\n';
      return 1;
    }
  }

  int result = 0;
  // Entries print as they arrive; dive and judge-ids wait for them.
  int entries = 0;
  win.OnAward = [&](const std::string& text) {
    ++entries;
    out_ << "J" << form.CurJudge() << " " << TConsoleWindow::Visible(text) << '\n' << std::flush;
  };
  auto listen = [&] {
    const int limit = o.timeoutSec > 0 ? o.timeoutSec * 1000 : -1;
    WaitFor([&] { return o.count > 0 && entries >= o.count; }, limit);
    // The acknowledgements of the entries received still go out, also after
    // Ctrl+C (further interrupts are ignored here), so every judge who keyed
    // in an award sees it confirmed. Bounded: a frame leaves every 100 ms.
    const int drainMs = 3000 + 200 * static_cast<int>(form.TxQueueCount());
    Drive([&] { return form.TxQueueCount() == 0 && !form.COMTimer().Enabled(); }, drainMs);
    if (o.count > 0 && entries < o.count) result = 1;
  };
  // The full scan that follows a configuration command decides the exit code.
  auto waitRescan = [&] {
    if (!form.SetChanTimer().Enabled()) {
      err_ << "nothing was sent\n";
      return 1;
    }
    if (!waitBatch(win.ScansEnded(), kScanLimitMs)) {
      err_ << (interrupted_ ? "interrupted\n" : "the rescan did not end within two minutes\n");
      return 1;
    }
    syncPadsFound();
    if (form.BasePort() <= 0) {
      err_ << "the rescan found no base station\n";
      return 1;
    }
    return 0;
  };

  if (c == "echo") {
    if (form.PadList().empty()) {
      err_ << "no pads registered: nothing to echo\n";
      return 1;
    }
    form.TestEcho(o.loops);
    const std::int64_t expected = std::int64_t{o.delay} * 2 * o.loops * static_cast<std::int64_t>(form.PadList().size());
    bool aborted = false;
    Drive(
        [&] {
          if (interrupted_ && !aborted) {
            aborted = true;
            form.SetEchoLoops(1);  // the Abort button: end after this loop
          }
          return !form.EchoRunning();
        },
        static_cast<int>(std::min<std::int64_t>(expected + 60'000, 2'000'000'000)));
    const int loopsRun = form.EchoLoop();
    if (aborted) err_ << "echo test aborted: " << loopsRun << " of " << o.loops << " loops ran\n";
    // Everything from the record and the final counters: a link lost
    // during the test clears the pad list and the station's details, not
    // what was measured. The window's rows are written on a reply only, so
    // a resend after a pad's last reply would be missing there.
    const TEchoRecord& record = form.EchoRecord();
    const std::vector<int>& judges = record.Judges();
    out_ << CliOutput::EchoTable(record, form.EchoStats(), loopsRun) << std::flush;
    for (int j : judges) {
      const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(j)];
      if (s.Replies < loopsRun || s.Resends > s.MissedReads + s.MissedSends) result = 1;
    }
    if (form.EchoRunning() || aborted || !record.EarlyEnd().empty() || errors > 0) result = 1;
    const std::string when = CliOutput::LocalDateTime();
    // Writes one output file; false (and the reason said) when it failed.
    auto finish = [&](std::ofstream& file, const std::string& path, const std::string& content) {
      if (!file.is_open()) return true;
      file << content;
      file.flush();
      if (file) return true;
      err_ << "cannot write " << path << '\n';
      return false;
    };
    bool written = finish(files.loopsCsv, o.loopsCsv, record.LoopsCsv());
    if (files.report.is_open())
      written = finish(files.report, o.report, CliOutput::EchoReportHtml(record, form.EchoStats(), when)) && written;
    if (files.csv.is_open())
      written = finish(files.csv, o.csv, CliOutput::EchoCsv(record, form.EchoStats(), loopsRun, o.delay, when)) &&
                written;
    if (!written) return 1;
    if (o.json) printSummary();
    return result;
  }

  if (c == "dive") {
    if (o.broadcast) form.SetBroadcast(true);
    if (form.PadList().empty() && !form.Broadcast()) {
      err_ << "no pads registered: the dive would go nowhere\n";
      return 1;
    }
    form.SendDive(o.text);
    listen();
  } else if (c == "judge-ids") {
    if (form.PadList().empty()) {
      err_ << "no pads registered: nobody to ask for a judge ID\n";
      return 1;
    }
    form.RequestJudgeIDs();
    listen();
  } else if (c == "lock" || c == "unlock") {
    const int before = win.ScansEnded();
    form.KbdLocked(c == "lock");
    if (!waitBatch(before, 10'000)) result = 1;
  } else if (c == "reset") {
    if (form.BasePort() > 0) {
      form.BaseStationReset();
      result = waitRescan();
    } else {
      // The reset walk: each step that got the command out arms ReSetTimer
      // on its port, so the ports reset are those seen with the timer on.
      std::vector<std::string> reset;
      auto note = [&] {
        const std::string p = std::to_string(form.ComPort().ComNumber());
        if (form.ReSetTimer().Enabled() && (reset.empty() || reset.back() != p)) reset.push_back(p);
      };
      form.BaseStationReset();
      note();
      WaitFor(
          [&] {
            note();
            return !form.ReSetTimer().Enabled();
          },
          60'000);
      if (reset.empty()) {
        err_ << (form.PortList().empty() ? "no port to reset: no port could be opened\n"
                                         : "no port to reset: none of the ports could be opened\n");
        result = 1;
      } else {
        err_ << "no base station known: reset sent on port " << CliOutput::Joined(reset) << '\n';
      }
    }
  } else if (c == "channel") {
    form.SetChannel(o.value);
    result = waitRescan();
  } else if (c == "bandwidth") {
    form.SetBandwidth(o.value);
    result = waitRescan();
  } else if (c == "dcs") {
    form.DCS(o.dcsOn);
    result = waitRescan();
  } else if (c == "send-cmd") {
    // The reply is logged by the base-reply handler on the loop thread; the
    // framer switches itself off on the serial thread before that, so wait
    // for the handler's log line (or the framer's time-out event).
    const std::string replyPrefix = std::to_string(form.ComPort().ComNumber()) + " <-- ";
    bool replied = false;
    win.OnLogLine = [&](const std::string& line) {
      if (line.rfind(replyPrefix, 0) == 0) replied = true;
    };
    // Set once, before the framer is armed, and left in place: the serial
    // thread reads it. The flag outlives this scope with the framer.
    auto timedOut = std::make_shared<bool>(false);
    form.FixedDataPacket().OnTimeout = [timedOut](mq::serial::TApdDataPacket&) { *timedOut = true; };
    const int errorsBefore = errors;
    form.SendCustomCmd(o.cmdText);
    if (errors == errorsBefore) WaitFor([&] { return replied || *timedOut; }, 10'000);
    win.OnLogLine = nullptr;
    if (!replied) {
      if (errors == errorsBefore) err_ << "no reply from the base station\n";
      result = 1;
    }
  }
  syncPadsFound();
  if (c != "dive" && c != "judge-ids" && c != "send-cmd") printSummary();
  return result;
}

}  // namespace mq::padlink
