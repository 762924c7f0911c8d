#include "loop/realtime_loop.h"

#include <algorithm>
#include <chrono>

namespace mq {

namespace {
Loop::TimePoint After(int ms) { return QueuedLoop::steadyNow() + std::chrono::milliseconds(ms); }
}  // namespace

Loop::TimePoint RealtimeLoop::now() const { return steadyNow(); }

// One round: hand-overs, posted tasks, due timers; then wait for the next
// timer, new work, or the limit. Returns whether anything ran.
bool RealtimeLoop::runOnce(std::optional<TimePoint> limit) {
  bool any = serveHandovers();
  any = runPosted() || any;
  const TimePoint t = now();
  while (runOneDueTimer(t)) {
    any = true;
    serveHandovers();
  }
  if (any || hasQueuedWork()) return true;
  std::optional<TimePoint> deadline = limit;
  if (auto due = nextTimerDue())
    if (!deadline || *due < *deadline) deadline = *due;
  waitForWork(deadline);
  return false;
}

int RealtimeLoop::run() {
  quit_ = false;
  while (!quit_) runOnce(std::nullopt);
  return exitCode_;
}

bool RealtimeLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
  std::optional<TimePoint> limit;
  if (timeoutMs >= 0) limit = After(timeoutMs);
  quit_ = false;
  while (!done()) {
    if (quit_) return done();
    const TimePoint t = now();
    if (limit && t >= *limit) return done();
    // done() may depend on other threads: look again after at most 10 ms.
    const TimePoint step = t + std::chrono::milliseconds(10);
    runOnce(limit && *limit < step ? *limit : step);
  }
  return true;
}

void RealtimeLoop::runFor(int ms) {
  runUntil([] { return false; }, ms);
}

void RealtimeLoop::quit(int code) {
  exitCode_ = code;
  quit_ = true;
  wake();
}

void RealtimeLoop::pause(int ms) {
  if (ms > 0) sleepUntil(After(ms));
}

bool RealtimeLoop::serveUntil(const std::function<bool()>& done, int timeoutMs) {
  return serveHandoversUntil(done, timeoutMs);
}

}  // namespace mq
