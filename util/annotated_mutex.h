// AnnotatedMutex: a std::mutex that clang's -Wthread-safety knows as a
// capability, so data marked MQ_GUARDED_BY(mu_) and functions marked
// MQ_REQUIRES(mu_) are checked at compile time to be used with the lock
// held. Behaviour is that of std::mutex and std::condition_variable; other
// compilers see a plain wrapper.
//
// - AnnotatedMutex::Lock holds the mutex for its scope. It may be released
//   and taken again in between (Unlock, Relock), and waits on a
//   std::condition_variable release it while they wait. A wait's condition
//   is tested by the caller in a loop around Wait, in the function that
//   holds the lock, so the analysis sees it read with the lock held.
// - AnnotatedMutex::Unlocked releases a held mutex for its scope and takes
//   it back at its end, also when an exception leaves the scope.
//
// Threading: the mutex is for use from any thread; a Lock or Unlocked
// object belongs to the thread that made it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "util/thread_annotations.h"

namespace mq {

class MQ_CAPABILITY("mutex") AnnotatedMutex {
 public:
  AnnotatedMutex() = default;
  AnnotatedMutex(const AnnotatedMutex&) = delete;
  AnnotatedMutex& operator=(const AnnotatedMutex&) = delete;

  void lock() MQ_ACQUIRE() { mu_.lock(); }
  void unlock() MQ_RELEASE() { mu_.unlock(); }
  bool try_lock() MQ_TRY_ACQUIRE(true) { return mu_.try_lock(); }

  class MQ_SCOPED_CAPABILITY Lock {
   public:
    explicit Lock(AnnotatedMutex& mu) MQ_ACQUIRE(mu) : lock_(mu.mu_) {}
    ~Lock() MQ_RELEASE() {}
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Unlock() MQ_RELEASE() { lock_.unlock(); }
    void Relock() MQ_ACQUIRE() { lock_.lock(); }

    // Releases the mutex until cv is notified (or wakes spuriously), then
    // takes it back.
    void Wait(std::condition_variable& cv) { cv.wait(lock_); }
    // The same, giving up at deadline; false when it gave up.
    template <class Clock, class Duration>
    bool WaitUntil(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& deadline) {
      return cv.wait_until(lock_, deadline) == std::cv_status::no_timeout;
    }
    template <class Rep, class Period>
    bool WaitFor(std::condition_variable& cv, const std::chrono::duration<Rep, Period>& timeout) {
      return cv.wait_for(lock_, timeout) == std::cv_status::no_timeout;
    }

   private:
    std::unique_lock<std::mutex> lock_;
  };

  class MQ_SCOPED_CAPABILITY Unlocked {
   public:
    explicit Unlocked(AnnotatedMutex& mu) MQ_RELEASE(mu) : mu_(mu) { mu_.unlock(); }
    // Takes the mutex back (the analysis's convention for a scoped release).
    ~Unlocked() MQ_RELEASE() { mu_.lock(); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

   private:
    AnnotatedMutex& mu_;
  };

 private:
  std::mutex mu_;
};

}  // namespace mq
