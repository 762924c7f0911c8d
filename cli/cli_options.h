// TCliOptions: mqtool-cli's command line — the command, the options that go
// with it and the checks that refuse a command line before anything is
// sent: a value out of range, an option of another command, --no-scan,
// --port and --json where they do not go, a text argument the pads cannot
// show. Text arguments come as UTF-8 and are kept as the pads' bytes
// (Windows-1252).
//
// Threading: plain functions of their inputs; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mq::padlink {

struct TCliOptions {
  std::string command;  // scan, echo, dive, judge-ids, lock, unlock, reset, channel, bandwidth, dcs, send-cmd
  std::string dataFolder;
  bool json = false;
  bool noScan = false;
  int port = 0;      // --port with --no-scan: the port to use
  std::string help;  // --help: the text to print (command stays empty)
  int loops = 0;
  int delay = 180;
  std::string csv;
  std::string loopsCsv;                         // --loops-csv: one row per pad and loop
  std::string report;                           // --report: the HTML report
  std::string text = "103B 3m    First Diver";  // Windows-1252 bytes
  bool broadcast = false;
  int count = -1;       // entries to wait for; -1: until interrupted
  int timeoutSec = -1;  // listening limit; -1: none
  int value = 0;        // channel, bandwidth index
  bool dcsOn = false;
  std::string cmdText;  // send-cmd, Windows-1252 bytes
  char decimalSeparator = '.';

  // Parses the arguments after the program name (UTF-8). On a usage error
  // returns nothing and writes the reason to `error`; "--help" gives an
  // empty command, the help text and no error.
  static std::optional<TCliOptions> Parse(const std::vector<std::string>& args, std::string& error);
  // The help text: every command, its options, the exit codes.
  static std::string Usage();
  // A text argument as the pads' bytes (Windows-1252), or nothing with the
  // reason in `error` (`what` names the argument). Control characters are
  // refused unless controlsAllowed.
  static std::optional<std::string> PadBytes(const std::string& utf8, const std::string& what, bool controlsAllowed,
                                             std::string& error);
};

}  // namespace mq::padlink
