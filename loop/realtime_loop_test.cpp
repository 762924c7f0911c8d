#include "loop/realtime_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "loop/timer.h"

namespace mq {
namespace {

// These tests check ordering and hand-over, never durations.

TEST(RealtimeLoop, PauseServesHandoversButNotTimersOrPosts) {
  RealtimeLoop loop;
  std::atomic<int> served{0};
  int posted = 0, fired = 0;
  loop.post([&] { ++posted; });
  loop.addTimer(loop.nowMs(), [&] { ++fired; });
  std::thread other([&] {
    for (int i = 0; i < 3; ++i) loop.runAndWait([&] { ++served; });
  });
  while (served < 3) loop.pause(5);
  other.join();
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(fired, 0);
  loop.processMessages();
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(fired, 1);
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
