#include "loop/deadline_waiter.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

// Windows 10 1803 and later; older headers may lack the name.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace mq {

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("loop: ") + what + " failed (error " + std::to_string(::GetLastError()) + ")");
}

// Arms timer for the time left until deadline, rounded up to the 100 ns
// units of a relative due time; false when the deadline has passed.
bool ArmFor(HANDLE timer, Loop::TimePoint deadline) {
  const auto left = std::chrono::ceil<std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>>(
      deadline - Loop::Clock::now());
  if (left.count() <= 0) return false;
  LARGE_INTEGER due;
  due.QuadPart = -left.count();
  if (!::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) Fail("SetWaitableTimer");
  return true;
}

}  // namespace

struct DeadlineWaiter::Handles {
  HANDLE wake = nullptr;   // auto-reset event
  HANDLE timer = nullptr;  // waitable timer, high resolution where offered
};

DeadlineWaiter::DeadlineWaiter() : h_(std::make_unique<Handles>()) {
  h_->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!h_->wake) Fail("CreateEvent");
  h_->timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (!h_->timer) {
    // Refused by older systems and by Wine: an ordinary timer, which ends
    // on the system's tick.
    highResolution_ = false;
    h_->timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }
  if (!h_->timer) {
    ::CloseHandle(h_->wake);
    Fail("CreateWaitableTimerEx");
  }
}

DeadlineWaiter::~DeadlineWaiter() {
  ::CloseHandle(h_->timer);
  ::CloseHandle(h_->wake);
}

void DeadlineWaiter::wake() { ::SetEvent(h_->wake); }

// A relative due time counts from the system's interrupt time, which an
// ordinary timer reads at tick granularity: it may end before the steady
// clock has reached the deadline. The rest is then waited for again.
bool DeadlineWaiter::wait(std::optional<Loop::TimePoint> deadline) {
  if (!deadline) return ::WaitForSingleObject(h_->wake, INFINITE) == WAIT_OBJECT_0;
  const HANDLE both[2] = {h_->wake, h_->timer};
  while (ArmFor(h_->timer, *deadline)) {
    // The event comes first: when both are signalled, the wake-up is taken.
    if (::WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
  }
  return ::WaitForSingleObject(h_->wake, 0) == WAIT_OBJECT_0;
}

void DeadlineWaiter::sleepUntil(Loop::TimePoint deadline) {
  while (ArmFor(h_->timer, deadline)) ::WaitForSingleObject(h_->timer, INFINITE);
}

}  // namespace mq
