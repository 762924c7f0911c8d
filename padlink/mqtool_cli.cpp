#include "padlink/mqtool_cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <sstream>

#include "i18n/si_lang_dispatcher.h"
#include "padlink/console_window.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "padlink/shell_state.h"

namespace mq::padlink {

namespace {

constexpr int kScanLimitMs = 120'000;
constexpr const char* kBandwidthLabels[] = {"12.5", "25", "50", "100", "300"};

bool ParseInt(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < low || v > high) return false;
  value = v;
  return true;
}

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

}  // namespace

std::string TMqToolCli::Usage() {
  return "usage: mqtool-cli <command> [--data-folder DIR] [--json] [--no-scan]\n"
         "commands:\n"
         "  scan                                  find the base station and the pads\n"
         "  echo --loops N [--delay MS] [--csv FILE]   echo test (N 1..10000, MS 130..300)\n"
         "  dive [--text TEXT] [--broadcast] [--count N] [--timeout S]\n"
         "                                        send a dive, print the awards as they arrive\n"
         "  judge-ids [--count N] [--timeout S]   ask every judge for a judge ID\n"
         "  lock | unlock                         lock or unlock the pads' keyboards\n"
         "  reset                                 reset the base station (every port when none is known)\n"
         "  channel N                             set the radio channel 0..9\n"
         "  bandwidth I                           set the bandwidth: 0=12.5 1=25 2=50 3=100 4=300 kHz\n"
         "  dcs on|off                            digital channel separation\n"
         "  send-cmd TEXT                         send a raw base-station command\n"
         "Every command but scan starts with a full scan unless --no-scan is given.\n"
         "Exit codes: 0 success, 1 failure (no base station, a pad missing in the echo test), 2 usage.\n";
}

std::optional<TCliOptions> TMqToolCli::Parse(const std::vector<std::string>& args, std::string& error) {
  TCliOptions o;
  std::vector<std::string> positional;
  bool loopsGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    auto number = [&](int low, int high, int& into) {
      std::string v;
      if (!value(v)) return false;
      if (!ParseInt(v, low, high, into)) {
        error = a + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", not '" + v + "'";
        return false;
      }
      return true;
    };
    bool ok = true;
    if (a == "--help" || a == "-h") {
      return TCliOptions{};
    } else if (a == "--data-folder") {
      ok = value(o.dataFolder);
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--no-scan") {
      o.noScan = true;
    } else if (a == "--loops") {
      ok = number(1, 10000, o.loops);
      loopsGiven = ok;
    } else if (a == "--delay") {
      ok = number(130, 300, o.delay);
    } else if (a == "--csv") {
      ok = value(o.csv);
    } else if (a == "--text") {
      ok = value(o.text);
    } else if (a == "--broadcast") {
      o.broadcast = true;
    } else if (a == "--count") {
      ok = number(1, 1000000, o.count);
    } else if (a == "--timeout") {
      ok = number(1, 86400, o.timeoutSec);
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      error = "unknown option " + a;
      return std::nullopt;
    } else {
      positional.push_back(a);
    }
    if (!ok) return std::nullopt;
  }
  if (positional.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  o.command = positional[0];
  const std::size_t extra = positional.size() - 1;
  auto wantArgs = [&](std::size_t n) {
    if (extra == n) return true;
    error = o.command + (n ? " takes one argument" : " takes no argument");
    return false;
  };
  const std::string& c = o.command;
  if (c == "scan" || c == "echo" || c == "dive" || c == "judge-ids" || c == "lock" || c == "unlock" ||
      c == "reset") {
    if (!wantArgs(0)) return std::nullopt;
    if (c == "echo" && !loopsGiven) {
      error = "echo needs --loops N";
      return std::nullopt;
    }
  } else if (c == "channel") {
    if (!wantArgs(1)) return std::nullopt;
    if (!ParseInt(positional[1], 0, 9, o.value)) {
      error = "channel takes a number from 0 to 9, not '" + positional[1] + "'";
      return std::nullopt;
    }
  } else if (c == "bandwidth") {
    if (!wantArgs(1)) return std::nullopt;
    if (!ParseInt(positional[1], 0, 4, o.value)) {
      error = "bandwidth takes an index from 0 to 4 (12.5, 25, 50, 100, 300 kHz), not '" + positional[1] + "'";
      return std::nullopt;
    }
  } else if (c == "dcs") {
    if (!wantArgs(1)) return std::nullopt;
    if (positional[1] != "on" && positional[1] != "off") {
      error = "dcs takes on or off, not '" + positional[1] + "'";
      return std::nullopt;
    }
    o.dcsOn = positional[1] == "on";
  } else if (c == "send-cmd") {
    if (!wantArgs(1)) return std::nullopt;
    o.cmdText = positional[1];
  } else {
    error = "unknown command '" + c + "'";
    return std::nullopt;
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

bool TMqToolCli::WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return runUntil_([&] { return interrupted_.load() || linkLost_ || done(); }, timeoutMs) && done();
}

std::string TMqToolCli::JsonString(const std::string& utf8) {
  std::string s = "\"";
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      s += '\\';
      s += c;
    } else if (b < 0x20 || b == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", b);
      s += buf;
    } else {
      s += c;
    }
  }
  return s + "\"";
}

std::string TMqToolCli::CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string s = "\"";
  for (char c : text) s += c == '"' ? std::string("\"\"") : std::string(1, c);
  return s + "\"";
}

std::string TMqToolCli::SummaryJson(const TMarqsForm& form, int bandwidthIndex) {
  std::ostringstream j;
  j << "{\"port\":" << form.BasePort() << ",\"ident\":" << JsonString(form.BaseIdent())
    << ",\"channel\":" << JsonString(form.ChannelText()) << ",\"bandwidth_index\":" << bandwidthIndex
    << ",\"dcs_available\":" << (form.DCSAvailable() ? "true" : "false") << ",\"pads\":[";
  for (std::size_t i = 0; i < form.PadList().size(); ++i) j << (i ? "," : "") << JsonString(form.PadList()[i]);
  j << "],\"firmware\":[";
  for (std::size_t i = 0; i < form.FirmwareList().size(); ++i)
    j << (i ? "," : "") << JsonString(form.FirmwareList()[i]);
  j << "]}";
  return j.str();
}

int TMqToolCli::Run(const TCliOptions& o) {
  int errors = 0;
  loop_.setErrorHandler([&](std::exception_ptr e) {
    err_ << "error: " << TConsoleWindow::Visible(ErrorText(e)) << '\n' << std::flush;
    ++errors;
  });

  TShellState shell;
  shell.TestDelay = o.delay;
  shell.DecimalSeparator = o.decimalSeparator;
  TConsoleWindow win(o.json ? err_ : out_, err_);
  mq::i18n::TsiLangDispatcher dispatcher;
  TMarqsForm form(loop_, platform_, win, shell, &dispatcher);
  // A port that dies ends the command at once (the error is already shown).
  linkLost_ = false;
  form.OnLinkLost = [this] { linkLost_ = true; };
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

  // ---- the opening full scan ----
  if (o.command == "scan" || !o.noScan) {
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
    if (o.command == "scan") {
      printSummary();
      return form.BasePort() > 0 && errors == 0 ? 0 : 1;
    }
    if (form.BasePort() <= 0) {
      printSummary();
      err_ << "no base station found\n";
      return 1;
    }
  }

  const std::string& c = o.command;
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
    // Let the acknowledgements of the last entries leave.
    WaitFor([&] { return form.TxQueueCount() == 0 && !form.COMTimer().Enabled(); }, 3000);
    if (o.count > 0 && entries < o.count) result = 1;
  };
  auto waitRescan = [&] {
    if (!form.SetChanTimer().Enabled()) return false;
    return waitBatch(win.ScansEnded(), kScanLimitMs);
  };

  if (c == "echo") {
    if (form.PadList().empty()) {
      err_ << "no pads registered: nothing to echo\n";
      return 1;
    }
    form.TestEcho(o.loops);
    const std::int64_t expected = std::int64_t{o.delay} * 2 * o.loops * static_cast<std::int64_t>(form.PadList().size());
    bool aborted = false;
    runUntil_(
        [&] {
          if (interrupted_ && !aborted) {
            aborted = true;
            form.SetEchoLoops(1);  // the Abort button: end after this loop
          }
          return !form.EchoRunning();
        },
        static_cast<int>(std::min<std::int64_t>(expected + 60'000, 2'000'000'000)));
    // The report as the window shows it: judge, then four columns of 8.
    out_ << "                   ---Missed---\n"
         << "J Replies Resends   Reads   Sends\n";
    for (int j = 0; j < 12; ++j) {
      const std::string& row = win.Rows()[static_cast<std::size_t>(j)];
      const bool registered = std::find(form.PadList().begin(), form.PadList().end(),
                                        std::string(1, PadId(j))) != form.PadList().end();
      out_ << row << (registered && row.size() <= 2 ? "   (no reply)" : "") << '\n';
    }
    const int loopsRun = form.EchoLoop();
    for (const auto& pad : form.PadList()) {
      const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(JudgeIndex(pad[0]))];
      if (s.Replies < loopsRun || s.Resends > s.MissedReads + s.MissedSends) result = 1;
    }
    if (form.EchoRunning() || aborted || errors > 0) result = 1;
    if (!o.csv.empty()) {
      std::ofstream csv(o.csv, std::ios::binary | std::ios::trunc);
      csv << "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,"
             "base_ident,date_time\r\n";
      const std::string when = LocalDateTime();
      for (const auto& pad : form.PadList()) {
        const int j = JudgeIndex(pad[0]);
        const TEchoStat& s = form.EchoStats()[static_cast<std::size_t>(j)];
        csv << CsvField(pad) << ',' << j << ',' << s.Replies << ',' << s.Resends << ',' << s.MissedReads << ','
            << s.MissedSends << ',' << loopsRun << ',' << o.delay << ',' << CsvField(form.ChannelText()) << ','
            << BandwidthLabel(shell.BandwidthIndex) << ',' << CsvField(form.BaseIdent()) << ',' << when << "\r\n";
      }
      csv.flush();
      if (!csv) {
        err_ << "cannot write " << o.csv << '\n';
        return 1;
      }
    }
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
    const bool known = form.BasePort() > 0;
    form.BaseStationReset();
    if (known) {
      if (!waitRescan()) result = 1;
    } else {
      WaitFor([&] { return !form.ReSetTimer().Enabled(); }, 60'000);
    }
  } else if (c == "channel") {
    form.SetChannel(o.value);
    if (!waitRescan()) result = 1;
  } else if (c == "bandwidth") {
    form.SetBandwidth(o.value);
    if (!waitRescan()) result = 1;
  } else if (c == "dcs") {
    form.DCS(o.dcsOn);
    if (!waitRescan()) result = 1;
  } else if (c == "send-cmd") {
    form.SendCustomCmd(o.cmdText);
    // The reply, if any, is logged as it arrives; wait for it or the time-out.
    WaitFor([&] { return !form.FixedDataPacket().Enabled(); }, 1500);
  }
  syncPadsFound();
  if (c != "dive" && c != "judge-ids" && c != "send-cmd") printSummary();
  if (errors > 0) result = 1;
  return result;
}

}  // namespace mq::padlink
