#include "loop/deadline_waiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace mq {
namespace {

// Outcomes only: a wait never ends before its deadline, a wake-up is never
// lost, and a sleep is not cut short by one. No durations are asserted.

using namespace std::chrono_literals;

Loop::TimePoint Now() { return std::chrono::time_point_cast<std::chrono::microseconds>(Loop::Clock::now()); }

TEST(DeadlineWaiter, EndsNeverBeforeItsDeadlineAndKeepsAWakeUpThatCameFirst) {
  DeadlineWaiter w;
  for (auto step : {300us, 1'700us, 4'000us}) {
    const auto deadline = Now() + step;
    EXPECT_FALSE(w.wait(deadline));
    EXPECT_GE(Loop::Clock::now(), deadline);
  }
  // A deadline in the past returns at once; a wake-up given before the
  // wait is taken by it, and only by it.
  EXPECT_FALSE(w.wait(Now() - 1ms));
  w.wake();
  w.wake();
  EXPECT_TRUE(w.wait(Now() + 60s));
  EXPECT_FALSE(w.wait(Now() + 200us));
}

TEST(DeadlineWaiter, AWakeFromAnotherThreadEndsAWaitWithoutDeadline) {
  DeadlineWaiter w;
  std::atomic<bool> waiting{false};
  std::thread other([&] {
    while (!waiting) std::this_thread::yield();
    w.wake();
  });
  waiting = true;
  EXPECT_TRUE(w.wait(std::nullopt));
  other.join();
}

TEST(DeadlineWaiter, SleepUntilRunsToItsDeadlineAndLeavesTheWakeUpForTheNextWait) {
  DeadlineWaiter w;
  w.wake();
  const auto deadline = Now() + 2'500us;
  w.sleepUntil(deadline);
  EXPECT_GE(Loop::Clock::now(), deadline);
  EXPECT_TRUE(w.wait(Now() - 1ms));
}

}  // namespace
}  // namespace mq
