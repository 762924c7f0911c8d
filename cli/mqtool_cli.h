// TMqToolCli: mqtool-cli, a command-line front end over TMarqsForm for
// scripted pre-event checks: a full scan with a summary (text or JSON), the
// echo test with its report and a CSV file, a dive or a judge-ID request
// with the entries printed as they arrive, and the keyboard and
// configuration commands. Each command starts with a full scan, as the
// window's user would; reset, channel and send-cmd can skip it (--no-scan)
// and use the port given with --port. Text arguments are sent in the pads'
// code page, Windows-1252. The port is closed, its output sent, before Run
// returns.
//
// Exit codes: 0 success (scan and the configuration commands: the (re)scan
// found a base station; echo: every pad answered every step; reset without
// a known station: the reset went out on at least one port; send-cmd: the
// station answered), 1 failure, 2 usage or start-up error.
//
// Threading: Run drives the loop on the calling thread, which must be the
// loop's thread. Interrupt may be called from a signal handler or any
// thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "loop/realtime_loop.h"
#include "serial/serial_platform.h"

namespace mq::padlink {

class TMarqsForm;
class TConsoleWindow;
struct TEchoStat;
struct TEchoFiles;
struct TShellState;

struct TCliOptions {
  std::string command;  // scan, echo, dive, judge-ids, lock, unlock, reset, channel, bandwidth, dcs, send-cmd
  std::string dataFolder;
  bool json = false;
  bool noScan = false;
  int port = 0;          // --port with --no-scan: the port to use
  std::string help;      // --help: the text to print (command stays empty)
  int loops = 0;
  int delay = 180;
  std::string csv;
  std::string loopsCsv;  // --loops-csv: one row per pad and loop
  std::string report;    // --report: the HTML report
  std::string text = "103B 3m    First Diver";  // Windows-1252 bytes
  bool broadcast = false;
  int count = -1;        // entries to wait for; -1: until interrupted
  int timeoutSec = -1;   // listening limit; -1: none
  int value = 0;         // channel, bandwidth index
  bool dcsOn = false;
  std::string cmdText;   // send-cmd, Windows-1252 bytes
  char decimalSeparator = '.';
};

class TMqToolCli {
 public:
  // Parses the arguments after the program name (UTF-8). On a usage error
  // returns nothing and writes the reason to `error`; "--help" gives an
  // empty command, the help text and no error.
  static std::optional<TCliOptions> Parse(const std::vector<std::string>& args, std::string& error);
  static std::string Usage();
  // A text argument as the pads' bytes (Windows-1252), or nothing with the
  // reason in `error` (`what` names the argument).
  static std::optional<std::string> PadBytes(const std::string& utf8, const std::string& what, bool controlsAllowed,
                                             std::string& error);
  // One echo-report row as the window shows it: judge, then four counters.
  static std::string ReportRow(int judge, const TEchoStat& stat);

  // Runs the loop until done() holds or timeoutMs (negative: no limit) have
  // passed; returns done().
  using RunUntil = std::function<bool(const std::function<bool()>& done, int timeoutMs)>;

  TMqToolCli(mq::RealtimeLoop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform, std::ostream& out,
             std::ostream& err);
  // Any loop with its own way of running (the tests use virtual time).
  TMqToolCli(mq::Loop& loop, RunUntil runUntil, std::shared_ptr<mq::serial::SerialPlatform> platform,
             std::ostream& out, std::ostream& err);

  int Run(const TCliOptions& options);

  // Asks a running command to stop (the echo test ends after its loop).
  void Interrupt() { interrupted_ = true; }

  // The summary of a scan as one JSON object.
  static std::string SummaryJson(const TMarqsForm& form, int bandwidthIndex);
  // One CSV field, quoted when it needs to be.
  static std::string CsvField(const std::string& text);
  static std::string JsonString(const std::string& utf8);

 private:
  int RunCommand(const TCliOptions& options, TMarqsForm& form, TConsoleWindow& win, TShellState& shell,
                 TEchoFiles& files, int& errors);
  // Closes the port once its output has left.
  void ClosePort(TMarqsForm& form);
  // The one place where the loop runs: until done() holds or timeoutMs
  // (negative: no limit) have passed; returns done().
  bool Drive(const std::function<bool()>& done, int timeoutMs);
  // Drive, ending early on Interrupt; true only when done() holds.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs);

  mq::Loop& loop_;
  RunUntil runUntil_;
  std::shared_ptr<mq::serial::SerialPlatform> platform_;
  std::ostream& out_;
  std::ostream& err_;
  std::atomic<bool> interrupted_{false};
  bool linkLost_ = false;  // loop thread
};

}  // namespace mq::padlink
