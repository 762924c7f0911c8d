// RealtimeLoop: the loop thread on the standard library, in real time.
// Used by the command-line tools and by tests that talk to real devices
// (pseudo-terminals, marq-sim). It sleeps until the next timer's due
// microsecond (DeadlineWaiter) and pauses just as precisely.
//
// Threading: run, runUntil, runFor, pause and serveUntil on the loop thread;
// quit and everything QueuedLoop allows from any thread.
#pragma once

#include <atomic>
#include <functional>

#include "loop/queued_loop.h"

namespace mq {

class RealtimeLoop : public QueuedLoop {
 public:
  RealtimeLoop() = default;

  TimePoint now() const override;
  void pause(int ms) override;
  bool serveUntil(const std::function<bool()>& done, int timeoutMs) override;

  // Runs the loop until quit() is called; returns the code given to quit.
  int run();
  // Runs the loop until done() is true (checked after every event and at
  // least every 10 ms) or
  // timeoutMs has passed (negative: no limit). Returns done().
  bool runUntil(const std::function<bool()>& done, int timeoutMs);
  // Runs the loop for ms milliseconds.
  void runFor(int ms);
  // Makes run() return (any thread).
  void quit(int code = 0);

 private:
  bool runOnce(std::optional<TimePoint> limit);

  std::atomic<bool> quit_{false};
  std::atomic<int> exitCode_{0};
};

}  // namespace mq
