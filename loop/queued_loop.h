// QueuedLoop: the queues shared by the loop implementations that the program
// owns itself (real time and virtual time): posted tasks, hand-over requests
// from other threads, and one-shot timers ordered by due time (microseconds;
// equal due times in the order they were added).
//
// A thread that hands work over waits on a signal of its own request, not on
// the loop's queue lock, and the loop thread sleeps in a DeadlineWaiter that
// a producer wakes only while it sleeps: one hand-over costs one wake-up of
// each side and no lock hand-off between them.
//
// Threading: post, runAndWait, sendWithTimeout, wake and isLoopThread are
// safe from any thread; the timer table and the running of tasks belong to
// the loop thread (the thread that constructed the loop, or the one that
// called bindToCurrentThread last).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "loop/deadline_waiter.h"
#include "loop/loop.h"

namespace mq {

class QueuedLoop : public Loop {
 public:
  QueuedLoop();
  ~QueuedLoop() override;

  void post(Task fn) override;
  void runAndWait(Task fn) override;
  bool sendWithTimeout(Task fn, int timeoutMs) override;
  void processMessages() override;
  bool isLoopThread() const override;
  TimerId addTimerAt(TimePoint due, Task fn) override;
  void cancelTimer(TimerId id) override;

  // Makes the calling thread the loop thread.
  void bindToCurrentThread();
  void wake() override;
  // The steady clock at microsecond resolution (any thread).
  static TimePoint steadyNow();
  // Number of armed timers (for tests and diagnostics).
  std::size_t timerCount() const { return timers_.size(); }

 protected:
  struct Handover;

  // Called on the queuing thread after a task or hand-over was queued, so a
  // loop that sleeps somewhere else (a toolkit's event loop) can wake up.
  virtual void onWorkQueued() {}

  // Runs every queued hand-over request; true when at least one ran.
  bool serveHandovers();
  // Runs the posted tasks that were queued when the call began.
  bool runPosted();
  // Runs the earliest timer whose due time is <= now; true when one ran.
  bool runOneDueTimer(TimePoint now);
  std::optional<TimePoint> nextTimerDue() const;
  bool hasQueuedWork();
  // Waits on the loop thread until woken or until the deadline (real time);
  // returns at once when work is queued.
  void waitForWork(std::optional<TimePoint> deadline);
  // Blocks the loop thread until the deadline, precisely, taking no work.
  void sleepUntil(TimePoint deadline) { waiter_.sleepUntil(deadline); }

  // Blocks the calling (loop) thread in real time, serving hand-overs, until
  // done() holds or timeoutMs has passed; returns done(). Timers and posted
  // tasks wait meanwhile, as they would behind a blocked window thread.
  bool serveHandoversUntil(const std::function<bool()>& done, int timeoutMs);

 private:
  void runGuarded(const Task& fn);
  // Runs a hand-over; an error it raises is reported by a posted task.
  void runHandover(const Task& fn);
  std::shared_ptr<Handover> enqueueHandover(Task fn);

  // Tells a sleeping loop thread that work was queued (mu_ not held).
  void wakeIfSleeping(bool sleeping);

  mutable std::mutex mu_;
  DeadlineWaiter waiter_;
  std::deque<Task> posted_;
  std::deque<std::shared_ptr<Handover>> handovers_;
  bool woken_ = false;
  bool sleeping_ = false;  // the loop thread is in waiter_.wait
  std::thread::id loopThread_;

  struct TimerEntry {
    TimePoint due;
    Task fn;
  };
  std::map<TimerId, TimerEntry> timers_;
  std::set<std::pair<TimePoint, TimerId>> byDue_;
  TimerId nextTimerId_ = 1;
};

}  // namespace mq
