// TMqToolCli: mqtool-cli, a command-line front end over TMarqsForm for
// scripted pre-event checks: a full scan with a summary (text or JSON), the
// echo test with its report and a CSV file, a dive or a judge-ID request
// with the entries printed as they arrive, and the keyboard and
// configuration commands. Each command starts with a full scan, as the
// window's user would; reset, channel and send-cmd can skip it (--no-scan)
// and use the port given with --port. Text arguments are sent in the pads'
// code page, Windows-1252. The port is closed, its output sent, before Run
// returns. TMqToolCli sets up the link for one command; the command line is
// TCliOptions', the commands are TCliCommand's, their texts CliOutput's.
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

#include "cli/cli_command.h"
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "loop/realtime_loop.h"
#include "serial/serial_platform.h"

namespace mq::padlink {

class TMarqsForm;

class TMqToolCli {
 public:
  // Runs the loop until done() holds or timeoutMs (negative: no limit) have
  // passed; returns done().
  using RunUntil = TCliCommand::RunUntil;

  TMqToolCli(mq::RealtimeLoop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform, std::ostream& out,
             std::ostream& err);
  // Any loop with its own way of running (the tests use virtual time).
  TMqToolCli(mq::Loop& loop, RunUntil runUntil, std::shared_ptr<mq::serial::SerialPlatform> platform, std::ostream& out,
             std::ostream& err);

  int Run(const TCliOptions& options);

  // Asks a running command to stop (the echo test ends after its loop).
  void Interrupt() { interrupted_ = true; }

 private:
  mq::Loop& loop_;
  RunUntil runUntil_;
  std::shared_ptr<mq::serial::SerialPlatform> platform_;
  std::ostream& out_;
  std::ostream& err_;
  std::atomic<bool> interrupted_{false};
  bool linkLost_ = false;  // loop thread
};

}  // namespace mq::padlink
