#include "loop/timer.h"

namespace mq {

namespace {
std::chrono::microseconds Ms(int ms) { return std::chrono::milliseconds(ms); }
}  // namespace

Timer::Timer(Loop& loop, int intervalMs) : loop_(loop), interval_(intervalMs) {}

Timer::~Timer() { disarm(); }

void Timer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (enabled_) {
    disarm();
    arm(loop_.now() + Ms(interval_));
  }
}

void Timer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on)
    arm(loop_.now() + Ms(interval_));
  else
    disarm();
}

void Timer::arm(Loop::TimePoint due) {
  if (interval_ <= 0) return;
  due_ = due;
  id_ = loop_.addTimerAt(due, [this] { fire(); });
}

void Timer::disarm() {
  if (id_ != 0) {
    loop_.cancelTimer(id_);
    id_ = 0;
  }
}

void Timer::fire() {
  id_ = 0;
  if (!enabled_) return;
  // Schedule the next tick before running the handler, so the handler may
  // disable the timer or change its interval with the usual effect.
  const Loop::TimePoint now = loop_.now();
  Loop::TimePoint next = due_ + Ms(interval_);
  if (next <= now) next = now + Ms(interval_);
  arm(next);
  if (!OnTimer) return;
  try {
    OnTimer();
  } catch (...) {
    loop_.reportError(std::current_exception());
  }
}

}  // namespace mq
