#include "app/qt_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <thread>
#include <vector>

#include "loop/timer.h"

namespace mq {
namespace {

// Checks ordering and hand-over on the Qt event loop, never durations.

TEST(QtLoop, TimersPostsAndHandoversRunInTheQtEventLoop) {
  QtLoop loop;
  std::vector<int> order;
  Timer t(loop, 5);
  int ticks = 0;
  std::atomic<int> served{0};
  t.OnTimer = [&] {
    // The other thread may start late on a busy machine: its hand-over must
    // have been served before the loop ends, or the join below would hang.
    if (++ticks >= 3 && served == 1) {
      t.SetEnabled(false);
      QCoreApplication::quit();
    }
  };
  loop.post([&] { order.push_back(1); });
  std::thread other([&] { loop.runAndWait([&] { ++served; }); });
  t.SetEnabled(true);
  QCoreApplication::exec();
  other.join();
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(order, std::vector<int>{1});
  EXPECT_EQ(served, 1);
}

TEST(QtLoop, ServeUntilServesHandoversButNotTimers) {
  QtLoop loop;
  int fired = 0;
  loop.addTimer(loop.nowMs(), [&] { ++fired; });
  std::atomic<int> served{0};
  std::thread other([&] {
    for (int i = 0; i < 2; ++i) loop.runAndWait([&] { ++served; });
  });
  EXPECT_TRUE(loop.serveUntil([&] { return served == 2; }, 10'000));
  other.join();
  EXPECT_EQ(fired, 0);
  loop.processMessages();
  EXPECT_EQ(fired, 1);
}

TEST(QtLoop, TimersRunInDueOrderNeverBeforeTheirMicrosecond) {
  // The Qt timer is armed in whole milliseconds; the loop finishes the rest.
  using std::chrono::microseconds;
  QtLoop loop;
  const Loop::TimePoint t0 = loop.now();
  std::vector<std::pair<Loop::TimePoint, Loop::TimePoint>> ran;  // due, ran at
  std::vector<int> order;
  const int offsets[] = {4300, 700, 2500, 2500, 1900};
  for (int i = 0; i < 5; ++i) {
    const Loop::TimePoint due = t0 + microseconds(offsets[i]);
    loop.addTimerAt(due, [&, due, i] {
      ran.emplace_back(due, loop.now());
      order.push_back(i);
      if (ran.size() == 5) QCoreApplication::quit();
    });
  }
  QCoreApplication::exec();
  EXPECT_EQ(order, (std::vector<int>{1, 4, 2, 3, 0}));
  for (const auto& [due, at] : ran) EXPECT_GE(at, due);
  const Loop::TimePoint before = loop.now();
  loop.pause(2);
  EXPECT_GE(loop.now(), before + std::chrono::milliseconds(2));
}

}  // namespace
}  // namespace mq

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
