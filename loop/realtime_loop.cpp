#include "loop/realtime_loop.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace mq {

using Clock = std::chrono::steady_clock;

std::int64_t RealtimeLoop::nowMs() const { return steadyMs(); }

// One round: hand-overs, posted tasks, due timers; then wait for the next
// timer, new work, or the limit. Returns whether anything ran.
bool RealtimeLoop::runOnce(std::optional<Clock::time_point> limit) {
  bool any = serveHandovers();
  any = runPosted() || any;
  const std::int64_t now = nowMs();
  while (runOneDueTimer(now)) {
    any = true;
    serveHandovers();
  }
  if (any || hasQueuedWork()) return true;
  std::optional<Clock::time_point> deadline = limit;
  if (auto due = nextTimerDue()) {
    const auto timerAt = Clock::now() + std::chrono::milliseconds(std::max<std::int64_t>(0, *due - nowMs()));
    if (!deadline || timerAt < *deadline) deadline = timerAt;
  }
  waitForWork(deadline);
  return false;
}

int RealtimeLoop::run() {
  quit_ = false;
  while (!quit_) runOnce(std::nullopt);
  return exitCode_;
}

bool RealtimeLoop::runUntil(const std::function<bool()>& done, int timeoutMs) {
  std::optional<Clock::time_point> limit;
  if (timeoutMs >= 0) limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  quit_ = false;
  while (!done()) {
    if (quit_) return done();
    const auto now = Clock::now();
    if (limit && now >= *limit) return done();
    // done() may depend on other threads: look again after at most 10 ms.
    auto step = now + std::chrono::milliseconds(10);
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
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool RealtimeLoop::serveUntil(const std::function<bool()>& done, int timeoutMs) {
  return serveHandoversUntil(done, timeoutMs);
}

}  // namespace mq
