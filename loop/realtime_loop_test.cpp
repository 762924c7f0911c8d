#include "loop/realtime_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "loop/timer.h"

namespace mq {
namespace {

// These tests check ordering and hand-over, never durations.

TEST(RealtimeLoop, APauseDelaysHandoversTimersAndPosts) {
  // A pause is a blocked loop thread: a packet handler handed over meanwhile
  // runs after it, never in the middle of the code that paused.
  RealtimeLoop loop;
  std::atomic<bool> pausing{false}, pauseOver{false}, ran{false}, ranInsidePause{false};
  int posted = 0, fired = 0;
  loop.post([&] { ++posted; });
  loop.addTimer(loop.nowMs(), [&] { ++fired; });
  std::thread other([&] {
    while (!pausing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    loop.runAndWait([&] {
      ranInsidePause = !pauseOver;
      ran = true;
    });
  });
  pausing = true;
  loop.pause(300);
  pauseOver = true;
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(loop.runUntil([&] { return ran.load(); }, 10000));
  other.join();
  EXPECT_FALSE(ranInsidePause);
  loop.processMessages();
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(fired, 1);
}

TEST(RealtimeLoop, AnErrorOfAHandoverIsReportedAfterTheHandoverHasEnded) {
  // The report may open a dialog with its own event loop; the thread that
  // handed the work over must be free again by then.
  RealtimeLoop loop;
  std::atomic<bool> handoverReturned{false};
  bool returnedBeforeReport = false;
  int reports = 0;
  loop.setErrorHandler([&](std::exception_ptr) {
    ++reports;
    // What a close from inside a message box does: wait for that thread.
    returnedBeforeReport = loop.serveUntil([&] { return handoverReturned.load(); }, 5000);
  });
  std::thread other([&] {
    loop.runAndWait([] { throw std::runtime_error("bad byte"); });
    handoverReturned = true;
  });
  EXPECT_TRUE(loop.runUntil([&] { return reports == 1 && handoverReturned; }, 10000));
  other.join();
  EXPECT_TRUE(returnedBeforeReport);
}

TEST(RealtimeLoop, TimersTickInOrderAndQuitFromAnotherThreadEndsRun) {
  RealtimeLoop loop;
  std::vector<int> order;
  Timer fast(loop, 5), slow(loop, 12);
  fast.OnTimer = [&] {
    order.push_back(1);
    if (order.size() > 40) fast.SetEnabled(false);
  };
  slow.OnTimer = [&] {
    order.push_back(2);
    slow.SetEnabled(false);
    std::thread([&] { loop.quit(7); }).detach();
  };
  fast.SetEnabled(true);
  slow.SetEnabled(true);
  EXPECT_EQ(loop.run(), 7);
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.front(), 1);  // the 5 ms timer ticks before the 12 ms one
}

TEST(RealtimeLoop, TimersTicksAndPausesNeverEndBeforeTheirMicrosecond) {
  using std::chrono::microseconds;
  RealtimeLoop loop;
  const Loop::TimePoint t0 = loop.now();
  std::vector<std::pair<Loop::TimePoint, Loop::TimePoint>> ran;  // due, ran at
  std::vector<int> order;
  const int offsets[] = {2300, 700, 1100, 1100, 3000};
  for (int i = 0; i < 5; ++i) {
    const Loop::TimePoint due = t0 + microseconds(offsets[i]);
    loop.addTimerAt(due, [&, due, i] {
      ran.emplace_back(due, loop.now());
      order.push_back(i);
    });
  }
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 5; }, 10'000));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 0, 4}));
  for (const auto& [due, at] : ran) EXPECT_GE(at, due);

  Timer timer(loop, 3);
  std::vector<Loop::TimePoint> ticks;
  timer.OnTimer = [&] { ticks.push_back(loop.now()); };
  const Loop::TimePoint enabled = loop.now();
  timer.SetEnabled(true);
  EXPECT_TRUE(loop.runUntil([&] { return ticks.size() >= 5; }, 10'000));
  timer.SetEnabled(false);
  for (std::size_t k = 0; k < ticks.size(); ++k) {
    EXPECT_GE(ticks[k], enabled + std::chrono::milliseconds(3 * static_cast<int>(k + 1)));
    if (k > 0) {
      EXPECT_GT(ticks[k], ticks[k - 1]);
    }
  }

  const Loop::TimePoint before = loop.now();
  loop.pause(2);
  EXPECT_GE(loop.now(), before + std::chrono::milliseconds(2));
}

TEST(RealtimeLoop, SendWithTimeoutRunsWhenTheLoopServes) {
  RealtimeLoop loop;
  std::atomic<bool> done{false};
  bool result = false;
  int ran = 0;
  std::thread other([&] {
    result = loop.sendWithTimeout([&] { ++ran; }, 3000);
    done = true;
  });
  EXPECT_TRUE(loop.runUntil([&] { return done.load(); }, 10'000));
  other.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ran, 1);
}

TEST(RealtimeLoop, RunUntilStopsOnConditionSetByPostedTask) {
  RealtimeLoop loop;
  bool flag = false;
  std::thread([&] { loop.post([&] { flag = true; }); }).join();
  EXPECT_TRUE(loop.runUntil([&] { return flag; }, 10'000));
}

}  // namespace
}  // namespace mq
