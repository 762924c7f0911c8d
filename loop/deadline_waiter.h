// DeadlineWaiter: how a loop thread sleeps until its next timer is due or
// another thread gives it work, to the microsecond rather than the
// millisecond. Linux arms a timerfd at the absolute CLOCK_MONOTONIC deadline
// (the steady clock's own) and polls it with an eventfd for wake-ups;
// Windows waits on a waitable timer, with high resolution where the system
// offers it, and an event. Either may return a little late, never early; a
// caller that must not run early compares with the clock itself anyway.
//
// Threading: wait and sleepUntil on one thread at a time (the loop thread);
// wake from any thread.
#pragma once

#include <memory>
#include <optional>

#include "loop/loop.h"

namespace mq {

class DeadlineWaiter {
 public:
  DeadlineWaiter();
  ~DeadlineWaiter();
  DeadlineWaiter(const DeadlineWaiter&) = delete;
  DeadlineWaiter& operator=(const DeadlineWaiter&) = delete;

  // Blocks until wake() has been called since the last wait returned, or
  // until the deadline (none: no limit). A wake() that comes before the
  // wait is kept, so the wait then returns at once. True when woken.
  bool wait(std::optional<Loop::TimePoint> deadline);
  // Any thread.
  void wake();
  // Blocks until the deadline; wake() does not end it (and is kept).
  void sleepUntil(Loop::TimePoint deadline);
  // False when the system refused a high-resolution timer and the waits
  // fall back to the system's tick (Windows before 10 1803, Wine).
  bool HighResolution() const { return highResolution_; }

 private:
  struct Handles;
  std::unique_ptr<Handles> h_;
  bool highResolution_ = true;
};

}  // namespace mq
