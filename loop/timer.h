// Timer: a periodic timer on a Loop, with the semantics the pad link relies on.
//
// - The first tick comes one Interval after the timer is enabled.
// - Setting a different Interval on an enabled timer restarts its period.
// - Enabling an enabled timer, or setting the Interval it already has,
//   changes nothing (the running period continues).
// - An Interval of 0 or less never ticks.
// - An exception from OnTimer goes to the loop's error handler; the timer
//   keeps running.
// Ticks fall due on a microsecond schedule: the first one Interval after
// the enabling moment, each next one Interval after the previous due time,
// so a loop's wake-up latency does not add up over a run of ticks. A late
// tick is not repeated to catch up: after a stall the next one comes a full
// Interval after the late one.
//
// Threading: loop thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "loop/loop.h"

namespace mq {

class Timer {
 public:
  explicit Timer(Loop& loop, int intervalMs = 1000);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  int Interval() const { return interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);

  std::function<void()> OnTimer;

 private:
  void arm(Loop::TimePoint due);
  void disarm();
  void fire();

  Loop& loop_;
  int interval_;
  bool enabled_ = false;
  Loop::TimerId id_ = 0;
  Loop::TimePoint due_{};
};

}  // namespace mq
