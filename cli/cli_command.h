// TCliCommand: one run of one mqtool-cli command over a pad link that
// TMqToolCli has set up — the opening full scan (or the port given with
// --no-scan), then the command itself, one function each, then the closing
// of the port. What the commands share is held here: the options, the
// link, its console window and shell state, the echo files, the output
// streams and the way the loop is run. Each command prints what it has to
// say and returns the exit code (0 success, 1 failure).
//
// Threading: loop thread only; the loop runs inside the calls. The
// interrupt flag may be set from any thread or a signal handler.
#pragma once

#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>

#include "cli/cli_options.h"
#include "loop/loop.h"

namespace mq::padlink {

class TMarqsForm;
class TConsoleWindow;
struct TShellState;

// The echo command's output files, opened before the scan.
struct TEchoFiles {
  std::ofstream csv, loopsCsv, report;
};

class TCliCommand {
 public:
  // Runs the loop until done() holds or timeoutMs (negative: no limit) have
  // passed; returns done().
  using RunUntil = std::function<bool(const std::function<bool()>& done, int timeoutMs)>;

  // errors: the count of errors the loop reported, kept by the caller.
  // interrupted and linkLost end a wait early.
  TCliCommand(const TCliOptions& options, mq::Loop& loop, const RunUntil& runUntil,
              const std::atomic<bool>& interrupted, const bool& linkLost, TMarqsForm& form, TConsoleWindow& win,
              TShellState& shell, TEchoFiles& files, int& errors, std::ostream& out, std::ostream& err);

  // The opening scan and the command given in the options.
  int Run();
  // Closes the port once its output has left.
  void ClosePort();

 private:
  // The opening full scan, or the port given with --no-scan; the exit code
  // when the command ends there (scan always does).
  std::optional<int> Begin();

  int Scan();
  int Echo();
  int Dive();
  int JudgeIds();
  int Keyboard();  // lock, unlock
  int Reset();
  int Configure();  // channel, bandwidth, dcs
  int SendCmd();

  // The one place where the loop runs: until done() holds or timeoutMs
  // (negative: no limit) have passed; returns done().
  bool Drive(const std::function<bool()>& done, int timeoutMs);
  // Drive, ending early on an interrupt or a lost link; true only when
  // done() holds.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs);
  // The window's Refresh keeps PadsFound; so does this console.
  void SyncPadsFound();
  // Waits for the cursor to go back to normal after the `before`-th time:
  // the end of a scan or of a queued batch.
  bool WaitBatch(int before, int limitMs);
  // Waits for the awards or judge IDs asked for, then lets their
  // acknowledgements go out; 1 when fewer came than --count asked.
  int Listen();
  // The full scan that follows a configuration command decides the exit code.
  int WaitRescan();
  void PrintSummary();
  // The end of a command that prints the summary: result, after it.
  int Summarised(int result);

  const TCliOptions& o_;
  mq::Loop& loop_;
  const RunUntil& runUntil_;
  const std::atomic<bool>& interrupted_;
  const bool& linkLost_;
  TMarqsForm& form_;
  TConsoleWindow& win_;
  TShellState& shell_;
  TEchoFiles& files_;
  int& errors_;
  std::ostream& out_;
  std::ostream& err_;
  int refreshesSeen_ = 0;
  int entries_ = 0;  // awards or judge IDs printed
};

}  // namespace mq::padlink
