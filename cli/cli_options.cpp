#include "cli/cli_options.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include <CLI/CLI.hpp>

#include "i18n/text_codec.h"
#include "util/utf16_convert.h"

namespace mq::padlink {

namespace {

constexpr const char* kCommands[] = {"scan",  "echo",    "dive",      "judge-ids", "lock",    "unlock",
                                     "reset", "channel", "bandwidth", "dcs",       "send-cmd"};

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
  echo->add_option("--loops", o.loops, "number of loops, 1-10000")
      ->required()
      ->type_name("N")
      ->check(CLI::Range(1, 10000));
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

std::string TCliOptions::Usage() {
  TCliOptions o;
  std::string dcs;
  CLI::App app{"mqtool-cli: the pad link of MqTool on the command line", "mqtool-cli"};
  BuildApp(app, o, dcs);
  return app.help();
}

std::optional<std::string> TCliOptions::PadBytes(const std::string& utf8, const std::string& what, bool controlsAllowed,
                                                 std::string& error) {
  char32_t missing = 0;
  auto bytes = mq::i18n::TTextCodec::Utf8ToWindows1252(utf8, missing);
  char code[16];
  if (!bytes) {
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(missing));
    if (missing == 0xFFFD) {
      error = what + " is not valid UTF-8 text";
    } else {
      std::string ch;
      mq::Utf16Convert::AppendUtf8(ch, missing);
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

std::optional<TCliOptions> TCliOptions::Parse(const std::vector<std::string>& args, std::string& error) {
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

}  // namespace mq::padlink
