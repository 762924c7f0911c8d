#include "loop/timer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "loop/virtual_loop.h"

namespace mq {
namespace {

struct TimerFixture : ::testing::Test {
  VirtualLoop loop{0};
  std::vector<std::int64_t> ticks;
  Timer timer{loop, 100};
  void SetUp() override {
    timer.OnTimer = [this] { ticks.push_back(loop.nowMs()); };
  }
};

TEST_F(TimerFixture, FirstTickOneIntervalAfterEnablingThenPeriodic) {
  loop.advance(30);
  timer.SetEnabled(true);
  loop.advance(99);
  EXPECT_TRUE(ticks.empty());
  loop.advance(1);
  loop.advance(250);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{130, 230, 330}));
}

TEST_F(TimerFixture, NewIntervalRestartsThePeriodSameIntervalDoesNot) {
  timer.SetEnabled(true);
  loop.advance(80);
  timer.SetInterval(100);  // same value: the running period continues
  loop.advance(20);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100}));
  loop.advance(50);
  timer.SetInterval(120);  // restart at 150: next tick at 270
  loop.advance(119);
  EXPECT_EQ(ticks.size(), 1u);
  loop.advance(1);
  EXPECT_EQ(ticks.back(), 270);
}

TEST_F(TimerFixture, EnablingARunningTimerChangesNothing) {
  timer.SetEnabled(true);
  loop.advance(60);
  timer.SetEnabled(true);
  loop.advance(40);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100}));
}

TEST_F(TimerFixture, DisableStopsAndReEnableStartsAFullPeriod) {
  timer.SetEnabled(true);
  loop.advance(150);
  timer.SetEnabled(false);
  loop.advance(500);
  EXPECT_EQ(ticks.size(), 1u);
  timer.SetEnabled(true);
  loop.advance(100);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100, 750}));
}

TEST_F(TimerFixture, HandlerMayDisableOrChangeInterval) {
  int n = 0;
  timer.OnTimer = [&] {
    ticks.push_back(loop.nowMs());
    if (++n == 2) timer.SetInterval(50);
    if (n == 4) timer.SetEnabled(false);
  };
  timer.SetEnabled(true);
  loop.advance(1000);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100, 200, 250, 300}));
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(TimerFixture, ZeroIntervalNeverTicks) {
  timer.SetInterval(0);
  timer.SetEnabled(true);
  loop.advance(10'000);
  EXPECT_TRUE(ticks.empty());
  EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(TimerFixture, ErrorGoesToHandlerAndTimerKeepsRunning) {
  std::vector<std::string> errors;
  loop.setErrorHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      errors.push_back(ex.what());
    }
  });
  timer.OnTimer = [&] {
    ticks.push_back(loop.nowMs());
    throw std::runtime_error("boom");
  };
  timer.SetEnabled(true);
  loop.advance(300);
  EXPECT_EQ(ticks.size(), 3u);
  EXPECT_EQ(errors, (std::vector<std::string>{"boom", "boom", "boom"}));
  EXPECT_TRUE(timer.Enabled());
}

TEST_F(TimerFixture, LateTickIsNotRepeatedToCatchUp) {
  timer.SetEnabled(true);
  loop.advance(50);
  loop.pause(400);  // blocked loop thread: no ticks meanwhile
  EXPECT_TRUE(ticks.empty());
  loop.advance(0);
  loop.advance(100);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{450, 550}));
}

TEST_F(TimerFixture, TicksKeepTheMicrosecondOfEnablingAndAStallShiftsThemWithoutBurst) {
  using std::chrono::microseconds;
  std::vector<std::int64_t> at;  // microseconds
  int handled = 0;
  timer.OnTimer = [&] {
    at.push_back(loop.now().time_since_epoch().count());
    // The second tick's handler blocks the loop for 250 ms.
    if (++handled == 2) loop.pause(250);
  };
  loop.advance(microseconds(250));
  timer.SetEnabled(true);
  loop.advanceTo(Loop::TimePoint(microseconds(100'249)));
  EXPECT_TRUE(at.empty());  // never early, not even by a microsecond
  loop.advanceTo(Loop::TimePoint(microseconds(100'250)));
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(loop.nowMs(), 100);  // rounded down
  loop.advance(500);
  // The handler of 200.25 ran until 450.25, past the 300.25 and 400.25
  // ticks: one late tick then, and the next a full interval after it, not a
  // burst of the missed ones.
  EXPECT_EQ(at, (std::vector<std::int64_t>{100'250, 200'250, 450'250, 550'250}));
}

TEST_F(TimerFixture, DestroyedTimerLeavesNothingArmed) {
  {
    Timer t(loop, 10);
    t.SetEnabled(true);
    EXPECT_EQ(loop.timerCount(), 1u);
  }
  EXPECT_EQ(loop.timerCount(), 0u);
}

}  // namespace
}  // namespace mq
