// TMqToolCli: mqtool-cli, a command-line front end over TMarqsForm for
// scripted pre-event checks: a full scan with a summary (text or JSON), the
// echo test with its report and a CSV file, a dive or a judge-ID request
// with the entries printed as they arrive, and the keyboard and
// configuration commands. Each command starts with a full scan, as the
// window's user would, unless told --no-scan.
//
// Exit codes: 0 success (scan: a base station was found; echo: every pad
// answered every step), 1 failure, 2 usage or start-up error.
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

struct TCliOptions {
  std::string command;  // scan, echo, dive, judge-ids, lock, unlock, reset, channel, bandwidth, dcs, send-cmd
  std::string dataFolder;
  bool json = false;
  bool noScan = false;
  int loops = 0;
  int delay = 180;
  std::string csv;
  std::string text = "103B 3m    First Diver";
  bool broadcast = false;
  int count = -1;        // entries to wait for; -1: until interrupted
  int timeoutSec = -1;   // listening limit; -1: none
  int value = 0;         // channel, bandwidth index
  bool dcsOn = false;
  std::string cmdText;   // send-cmd
  char decimalSeparator = '.';
};

class TMqToolCli {
 public:
  // Parses the arguments after the program name. On a usage error returns
  // nothing and writes the reason to `error`; "--help" gives an empty
  // command and no error.
  static std::optional<TCliOptions> Parse(const std::vector<std::string>& args, std::string& error);
  static std::string Usage();

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
