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

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

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
constexpr const char* kBandwidthLabels[] = {"12.5", "25", "50", "100", "300"};

std::string ErrorText(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown error";
  }
}

std::string LocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string BandwidthLabel(int index) {
  return (index >= 0 && index <= 4) ? kBandwidthLabels[index] : std::to_string(index);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + items[i];
  return s;
}

constexpr const char* kCommands[] = {"scan",  "echo",    "dive", "judge-ids", "lock",    "unlock",
                                     "reset", "channel", "bandwidth", "dcs",  "send-cmd"};

bool IsOneOf(const std::string& c, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return c == n; });
}

// Every option and command of the command line, bound to `o`.
void BuildApp(CLI::App& app, TCliOptions& o, std::string& dcsState) {
  app.require_subcommand(1);
  app.add_option("--data-folder", o.dataFolder,
                 "the data folder whose ports/ folder binds COM numbers to devices (Linux)")
      ->type_name("DIR");
  app.add_flag("--json", o.json,
               "print the summary (scan, echo, lock, unlock, reset, channel, bandwidth, dcs) as one JSON object on "
               "standard output, and the log of the traffic on standard error");
  app.add_flag("--no-scan", o.noScan,
               "skip the opening full scan (reset, channel, send-cmd only): the command goes to the port given "
               "with --port");
  app.add_option("--port", o.port, "with --no-scan: the COM number (1-50) to use")
      ->type_name("N")
      ->check(CLI::Range(1, 50));
  app.footer(
      "Every command but scan starts with a full scan, as the window's user would; without a base station it "
      "stops there (exit code 1), except reset, which then resets every port the scan listed.\n"
      "Exit codes: 0 success, 1 failure (no base station, a pad missing in the echo test, nothing sent, no "
      "reply), 2 usage error.");

  auto sub = [&](const char* name, const char* what) {
    CLI::App* s = app.add_subcommand(name, what);
    s->fallthrough();  // the options above may also follow the command
    return s;
  };
  sub("scan", "find the base station and the pads and print the summary");
  CLI::App* echo = sub("echo", "the echo test over every registered pad");
  echo->add_option("--loops", o.loops, "number of loops, 1-10000")->required()->type_name("N")->check(
      CLI::Range(1, 10000));
  echo->add_option("--delay", o.delay, "test delay in ms, 130-300 (default 180)")
      ->type_name("MS")
      ->check(CLI::Range(130, 300));
  echo->add_option("--csv", o.csv, "also write one row per pad to FILE")->type_name("FILE");
  echo->add_option("--loops-csv", o.loopsCsv, "also write one row per pad and loop to FILE")->type_name("FILE");
  echo->add_option("--report", o.report, "also write the report with its charts as one HTML file")
      ->type_name("FILE.html");
  CLI::App* dive = sub("dive", "send a dive and print the awards as they arrive");
  dive->add_option("--text", o.text, "the dive text (default '103B 3m    First Diver')")->type_name("TEXT");
  dive->add_flag("--broadcast", o.broadcast, "one frame to all pads, whatever their firmware");
  for (CLI::App* s : {dive, sub("judge-ids", "ask every judge for a judge ID and print them")}) {
    s->add_option("--count", o.count, "stop after N entries")->type_name("N")->check(CLI::Range(1, 1000000));
    s->add_option("--timeout", o.timeoutSec, "stop after S seconds")->type_name("S")->check(CLI::Range(1, 86400));
  }
  sub("lock", "lock the pads' keyboards");
  sub("unlock", "unlock the pads' keyboards");
  sub("reset", "reset the base station, then rescan; with none known, every port of the scan in turn");
  sub("channel", "set the radio channel, then rescan")
      ->add_option("N", o.value, "channel 0-9")
      ->required()
      ->check(CLI::Range(0, 9));
  sub("bandwidth", "set the bandwidth, then rescan")
      ->add_option("I", o.value, "0=12.5 1=25 2=50 3=100 4=300 kHz")
      ->required()
      ->check(CLI::Range(0, 4));
  sub("dcs", "digital channel separation on or off, then rescan")
      ->add_option("STATE", dcsState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  sub("send-cmd", "send a raw base-station command and print its answer")
      ->add_option("TEXT", o.cmdText, "the command, e.g. ER_CMD#T3")
      ->required();
}

}  // namespace

std::string TMqToolCli::Usage() {
  TCliOptions o;
  std::string dcs;
  CLI::App app{"mqtool-cli: the pad link of MqTool on the command line", "mqtool-cli"};
  BuildApp(app, o, dcs);
  return app.help();
}

std::optional<std::string> TMqToolCli::PadBytes(const std::string& utf8, const std::string& what,
                                                bool controlsAllowed, std::string& error) {
  char32_t missing = 0;
  auto bytes = mq::i18n::TTextCodec::Utf8ToWindows1252(utf8, missing);
  char code[16];
  if (!bytes) {
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(missing));
    if (missing == 0xFFFD) {
      error = what + " is not valid UTF-8 text";
    } else {
      std::string ch;
      mq::i18n::TTextCodec::AppendUtf8(ch, missing);
      error = what + ": '" + ch + "' (" + code + ") is not in the pads' character set (Windows-1252)";
    }
    return std::nullopt;
  }
  if (!controlsAllowed) {
    // STX, ESC and EOT frame a pad message: inside the text they would cut it.
    for (char c : *bytes) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b == 0x7F) {
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(b));
        error = what + ": the control character " + std::string(code) + " cannot be sent to the pads";
        return std::nullopt;
      }
    }
  }
  return bytes;
}

std::optional<TCliOptions> TMqToolCli::Parse(const std::vector<std::string>& args, std::string& error) {
  // The command word first, so that a mistyped one is named as such.
  bool help = false, commandSeen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") help = true;
    if (a == "--data-folder" || a == "--port") {
      ++i;
      continue;
    }
    if (a.empty() || a[0] == '-') continue;
    if (std::find(std::begin(kCommands), std::end(kCommands), a) == std::end(kCommands)) {
      error = "unknown command '" + a + "'";
      return std::nullopt;
    }
    commandSeen = true;
    break;
  }
  if (!commandSeen && !help) {
    error = "no command given";
    return std::nullopt;
  }

  TCliOptions o;
  std::string dcsState;
  CLI::App app{"mqtool-cli: the pad link of MqTool on the command line", "mqtool-cli"};
  BuildApp(app, o, dcsState);
  try {
    std::vector<const char*> argv{"mqtool-cli"};
    for (const auto& a : args) argv.push_back(a.c_str());
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    TCliOptions h;
    h.help = app.help();
    return h;
  } catch (const CLI::ExtrasError&) {
    // CLI11 lists them last first; name them in the order given.
    error = "The following arguments were not expected:";
    for (const auto& extra : app.remaining(true)) error += " " + extra;
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return std::nullopt;
  }
  o.command = app.get_subcommands().at(0)->get_name();
  const std::string& c = o.command;
  o.dcsOn = dcsState == "on";

  if (o.noScan && !IsOneOf(c, {"reset", "channel", "send-cmd"})) {
    error = "--no-scan does not go with " + c +
            (c == "scan" ? "" : ": it needs the base station and the pads that the full scan finds");
    return std::nullopt;
  }
  if (o.noScan && o.port == 0) {
    error = c + " --no-scan needs --port N: the port to send to";
    return std::nullopt;
  }
  if (o.port != 0 && !o.noScan) {
    error = "--port goes with --no-scan (otherwise the full scan finds the port)";
    return std::nullopt;
  }
  if (o.json && IsOneOf(c, {"dive", "judge-ids", "send-cmd"})) {
    error = "--json does not go with " + c + ": it prints no summary";
    return std::nullopt;
  }
  // Text goes out in the pads' code page; what it lacks is refused here.
  const std::string what = c == "dive" ? "dive --text" : "send-cmd TEXT";
  std::string& text = c == "dive" ? o.text : o.cmdText;
  if (c == "dive" || c == "send-cmd") {
    auto bytes = PadBytes(text, what, c == "send-cmd", error);
    if (!bytes) return std::nullopt;
    text = *bytes;
  }
  return o;
}

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

std::string TMqToolCli::JsonString(const std::string& utf8) {
  // Malformed UTF-8 (bytes a pad sent) becomes U+FFFD rather than an error.
  return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string TMqToolCli::CsvField(const std::string& text) { return mq::padlink::CsvField(text); }

std::string TMqToolCli::SummaryJson(const TMarqsForm& form, int bandwidthIndex) {
  // Keys in this order: scripts read them.
  nlohmann::ordered_json j;
  j["port"] = form.BasePort();
  j["ident"] = form.BaseIdent();
  j["channel"] = form.ChannelText();
  j["bandwidth_index"] = bandwidthIndex;
  j["dcs_available"] = form.DCSAvailable();
  j["pads"] = form.PadList();
  j["firmware"] = form.FirmwareList();
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string TMqToolCli::ReportRow(int judge, const TEchoStat& s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%1d%8d%8d%8d%8d", judge, static_cast<int>(s.Replies), static_cast<int>(s.Resends),
                static_cast<int>(s.MissedReads), static_cast<int>(s.MissedSends));
  return buf;
}

int TMqToolCli::Run(const TCliOptions& o) {
  int errors = 0;
  loop_.setErrorHandler([&](std::exception_ptr e) {
    err_ << "error: " << TConsoleWindow::Visible(ErrorText(e)) << '\n' << std::flush;
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
      out_ << SummaryJson(form, shell.BandwidthIndex) << '\n';
    } else {
      out_ << "Base station: " << TConsoleWindow::Visible(form.BaseIdent()) << '\n'
           << "Port: " << (form.BasePort() > 0 ? std::to_string(form.BasePort()) : form.PortText()) << '\n'
           << "Channel: " << form.ChannelText() << '\n'
           << "Bandwidth: " << BandwidthLabel(shell.BandwidthIndex) << " kHz (index " << shell.BandwidthIndex
           << ")\n"
           << "Channel separation: " << (form.DCSAvailable() ? "available" : "not available") << '\n'
           << "Pads: " << (form.PadList().empty() ? "none" : Joined(form.PadList())) << '\n'
           << "Firmware: " << TConsoleWindow::Visible(Joined(form.FirmwareList())) << '\n';
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
      err_ << "mqtool-cli: --port " << o.port << ": " << TConsoleWindow::Visible(ErrorText(std::current_exception()))
           << '\n';
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
    const TEchoStation& station = record.Station();
    const std::vector<int>& judges = record.Judges();
    auto registered = [&](int j) { return std::find(judges.begin(), judges.end(), j) != judges.end(); };
    out_ << "                   ---Missed---\n"
         << "J Replies Resends   Reads   Sends\n";
    for (int j = 0; j < 12; ++j) {
      const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(j)];
      if (!registered(j))
        out_ << j << '\n';
      else
        out_ << ReportRow(j, s) << (s.Replies == 0 ? "   (no reply)" : "") << '\n';
    }
    if (!record.EarlyEnd().empty())
      out_ << "Loops: " << loopsRun << " of " << record.LoopsAsked() << " ("
           << TConsoleWindow::Visible(record.EarlyEnd()) << ")\n";
    out_ << std::flush;
    for (int j : judges) {
      const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(j)];
      if (s.Replies < loopsRun || s.Resends > s.MissedReads + s.MissedSends) result = 1;
    }
    if (form.EchoRunning() || aborted || !record.EarlyEnd().empty() || errors > 0) result = 1;
    const std::string when = LocalDateTime();
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
    if (files.report.is_open()) {
      TEchoReportFacts facts;
      facts.DateTime = when;
      facts.ProgramVersion = MQ_PROGRAM_VERSION;
      facts.Port = station.Port > 0 ? "COM" + std::to_string(station.Port) : std::string();
      facts.BaseIdent = station.BaseIdent;
      facts.Channel = station.Channel;
      facts.Bandwidth = BandwidthLabel(station.BandwidthIndex) + " kHz";
      written = finish(files.report, o.report, TEchoReport(facts, record, form.EchoStats()).Html()) && written;
    }
    if (std::ostream* csv = files.csv.is_open() ? &files.csv : nullptr) {
      *csv << "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,"
              "base_ident,date_time,loops_asked,ended_early\r\n";
      for (int j : judges) {
        const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(j)];
        *csv << CsvField(std::string(1, PadId(j))) << ',' << j << ',' << s.Replies << ',' << s.Resends << ','
             << s.MissedReads << ',' << s.MissedSends << ',' << loopsRun << ',' << o.delay << ','
             << CsvField(station.Channel) << ',' << BandwidthLabel(station.BandwidthIndex) << ','
             << CsvField(station.BaseIdent) << ',' << when << ',' << record.LoopsAsked() << ','
             << CsvField(record.EarlyEnd()) << "\r\n";
      }
      csv->flush();
      if (!*csv) {
        err_ << "cannot write " << o.csv << '\n';
        written = false;
      }
    }
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
        err_ << "no base station known: reset sent on port " << Joined(reset) << '\n';
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
