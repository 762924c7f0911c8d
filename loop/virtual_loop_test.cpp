#include "loop/virtual_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace mq {
namespace {

TEST(VirtualLoop, TimersFireInDueOrderAtTheirDueTime) {
  VirtualLoop loop(0);
  std::vector<std::string> log;
  loop.addTimer(30, [&] { log.push_back("b@" + std::to_string(loop.nowMs())); });
  loop.addTimer(10, [&] { log.push_back("a@" + std::to_string(loop.nowMs())); });
  loop.addTimer(30, [&] { log.push_back("c@" + std::to_string(loop.nowMs())); });
  const auto cancelled = loop.addTimer(20, [&] { log.push_back("x"); });
  loop.cancelTimer(cancelled);
  loop.advance(100);
  EXPECT_EQ(log, (std::vector<std::string>{"a@10", "b@30", "c@30"}));
  EXPECT_EQ(loop.nowMs(), 100);
}

TEST(VirtualLoop, SubMillisecondDeadlinesRunInOrderAtTheirMicrosecondNeverBefore) {
  using std::chrono::microseconds;
  VirtualLoop loop(0);
  std::vector<std::string> log;
  auto stamp = [&](const char* name) {
    return [&log, &loop, name] { log.push_back(name + ("@" + std::to_string(loop.now().time_since_epoch().count()))); };
  };
  loop.addTimerAt(Loop::TimePoint(microseconds(1500)), stamp("b"));
  loop.addTimerAt(Loop::TimePoint(microseconds(700)), stamp("a"));
  loop.addTimerAt(Loop::TimePoint(microseconds(1500)), stamp("c"));  // same due time: after b
  loop.addTimer(1, stamp("ms"));                                     // whole milliseconds still work
  loop.advance(microseconds(1499));
  EXPECT_EQ(log, (std::vector<std::string>{"a@700", "ms@1000"}));
  EXPECT_EQ(loop.nowMs(), 1);
  loop.advance(microseconds(1));
  EXPECT_EQ(log, (std::vector<std::string>{"a@700", "ms@1000", "b@1500", "c@1500"}));
  // A millisecond due time that has begun is due: 1 ms <= 1.5 ms.
  loop.addTimer(loop.nowMs(), stamp("now"));
  loop.runPending();
  EXPECT_EQ(log.back(), "now@1500");
}

TEST(VirtualLoop, PostedTasksRunBeforeLaterTimersAndMayPostMore) {
  VirtualLoop loop(0);
  std::vector<std::string> log;
  loop.addTimer(5, [&] { log.push_back("timer"); });
  loop.post([&] {
    log.push_back("one");
    loop.post([&] { log.push_back("two"); });
  });
  loop.advance(10);
  EXPECT_EQ(log, (std::vector<std::string>{"one", "two", "timer"}));
}

TEST(VirtualLoop, PauseMovesClockWithoutRunningTimersOrPosts) {
  VirtualLoop loop(0);
  int fired = 0, posted = 0;
  loop.addTimer(20, [&] { ++fired; });
  loop.post([&] { ++posted; });
  loop.pause(50);
  EXPECT_EQ(loop.nowMs(), 50);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(posted, 0);
  loop.runPending();
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(posted, 1);
}

TEST(VirtualLoop, AdvanceUntilStopsAtTheEventThatSatisfiesTheCondition) {
  VirtualLoop loop(0);
  bool flag = false;
  loop.addTimer(70, [&] { flag = true; });
  loop.addTimer(500, [] {});
  EXPECT_TRUE(loop.advanceUntil([&] { return flag; }, 1000));
  EXPECT_EQ(loop.nowMs(), 70);
  EXPECT_FALSE(loop.advanceUntil([] { return false; }, 100));
  EXPECT_EQ(loop.nowMs(), 170);
}

TEST(VirtualLoop, HandoverFromAnotherThreadIsServedWhileServing) {
  VirtualLoop loop(0);
  std::atomic<bool> ran{false}, returned{false};
  std::thread other([&] {
    loop.runAndWait([&] { ran = true; });
    returned = true;
  });
  EXPECT_TRUE(loop.serveUntil([&] { return returned.load(); }, 5000));
  other.join();
  EXPECT_TRUE(ran);
}

TEST(VirtualLoop, RunAndWaitOnTheLoopThreadRunsDirectlyAndReportsErrorsAfterwards) {
  VirtualLoop loop(0);
  std::string error;
  loop.setErrorHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      error = ex.what();
    }
  });
  bool ran = false;
  loop.runAndWait([&] { ran = true; });
  EXPECT_TRUE(ran);
  loop.runAndWait([] { throw std::runtime_error("handler failed"); });
  EXPECT_EQ(error, "");  // reported once the hand-over has ended
  loop.runPending();
  EXPECT_EQ(error, "handler failed");
}

TEST(VirtualLoop, SendWithTimeoutGivesUpAndTheTaskNeverRuns) {
  VirtualLoop loop(0);
  std::atomic<bool> ran{false};
  bool result = true;
  std::thread other([&] { result = loop.sendWithTimeout([&] { ran = true; }, 50); });
  other.join();  // the loop thread serves nothing meanwhile
  EXPECT_FALSE(result);
  loop.runPending();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace mq
