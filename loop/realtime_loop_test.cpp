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
