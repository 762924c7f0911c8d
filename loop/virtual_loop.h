// VirtualLoop: a loop thread on a virtual clock that tests advance by hand.
// Timers fire in due order with the clock set to their due time, so a
// sequence of 100 ms ticks, 50 ms pauses and one-second time-outs runs in
// microseconds and always the same way.
//
// pause(ms) moves the clock on without running timers, posted tasks or
// hand-overs, as a blocked user-interface thread would.
//
// The clock counts microseconds, so tests can place timers and events
// between two milliseconds; the millisecond calls move it in whole ones.
//
// Threading: nowMs and the QueuedLoop entry points from any thread; advance,
// runPending, pause and serveUntil on the loop thread.
#pragma once

#include <atomic>
#include <functional>

#include "loop/queued_loop.h"

namespace mq {

class VirtualLoop : public QueuedLoop {
 public:
  explicit VirtualLoop(std::int64_t startMs = 1'000'000);

  TimePoint now() const override { return TimePoint(std::chrono::microseconds(now_.load())); }
  void pause(int ms) override;
  bool serveUntil(const std::function<bool()>& done, int timeoutMs) override;

  // Moves the clock ms forward, running posted tasks, hand-overs and every
  // timer that falls due on the way, each at its due time.
  void advance(std::int64_t ms);
  void advance(std::chrono::microseconds d);
  void advanceTo(std::int64_t tMs);
  void advanceTo(TimePoint t);
  // Runs what is pending at the current time without moving the clock.
  void runPending();
  // Advances step by step (to each next timer) until done() holds or maxMs
  // have passed. Returns done().
  bool advanceUntil(const std::function<bool()>& done, std::int64_t maxMs);

 private:
  void drain();

  void setNow(TimePoint t) { now_ = t.time_since_epoch().count(); }

  std::atomic<std::int64_t> now_;  // microseconds
};

}  // namespace mq
