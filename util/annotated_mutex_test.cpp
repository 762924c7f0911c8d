#include "util/annotated_mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace mq {
namespace {

// Whether another thread can take mu right now (it lets go at once).
bool FreeForOthers(AnnotatedMutex& mu) {
  bool took = false;
  std::thread([&] {
    if (mu.try_lock()) {
      took = true;
      mu.unlock();
    }
  }).join();
  return took;
}

TEST(AnnotatedMutex, LockUnlockedAndRelockHoldAndReleaseAsScoped) {
  AnnotatedMutex mu;
  {
    AnnotatedMutex::Lock lock(mu);
    EXPECT_FALSE(FreeForOthers(mu));
    {
      AnnotatedMutex::Unlocked unlocked(mu);
      EXPECT_TRUE(FreeForOthers(mu));
    }
    EXPECT_FALSE(FreeForOthers(mu));
    // Left by an exception, the unlocked section still takes the lock back.
    try {
      AnnotatedMutex::Unlocked unlocked(mu);
      throw std::runtime_error("handler failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(FreeForOthers(mu));
    lock.Unlock();
    EXPECT_TRUE(FreeForOthers(mu));
    lock.Relock();
    EXPECT_FALSE(FreeForOthers(mu));
  }
  EXPECT_TRUE(FreeForOthers(mu));
}

TEST(AnnotatedMutex, WaitsReleaseTheLockAndHoldItAgainWhenTheyReturn) {
  AnnotatedMutex mu;
  std::condition_variable cv;
  bool ready = false;
  AnnotatedMutex::Lock lock(mu);
  std::thread other([&] {
    AnnotatedMutex::Lock l(mu);  // only possible while the waiter has let go
    ready = true;
    cv.notify_all();
  });
  while (!ready) lock.Wait(cv);
  EXPECT_FALSE(FreeForOthers(mu));
  other.join();
  // A deadline already passed: gives up at once, lock held.
  EXPECT_FALSE(lock.WaitUntil(cv, std::chrono::steady_clock::now() - std::chrono::seconds(1)));
  EXPECT_FALSE(lock.WaitFor(cv, std::chrono::milliseconds(0)));
  EXPECT_FALSE(FreeForOthers(mu));
}

}  // namespace
}  // namespace mq
