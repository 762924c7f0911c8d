// QueuedLoop: the queues shared by the loop implementations that the program
// owns itself (real time and virtual time): posted tasks, hand-over requests
// from other threads, and one-shot timers ordered by due time.
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
  TimerId addTimer(std::int64_t dueMs, Task fn) override;
  void cancelTimer(TimerId id) override;

  // Makes the calling thread the loop thread.
  void bindToCurrentThread();
  // Wakes a loop thread that waits for work (any thread).
  void wake();
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
  bool runOneDueTimer(std::int64_t now);
  std::optional<std::int64_t> nextTimerDue() const;
  bool hasQueuedWork();
  // Waits on the loop thread until woken or until the deadline (real time,
  // steady clock milliseconds); returns at once when work is queued.
  void waitForWork(std::optional<std::chrono::steady_clock::time_point> deadline);

  static std::int64_t steadyMs();

  // Blocks the calling (loop) thread in real time, serving hand-overs, until
  // done() holds or timeoutMs has passed; returns done(). Timers and posted
  // tasks wait meanwhile, as they would behind a blocked window thread.
  bool serveHandoversUntil(const std::function<bool()>& done, int timeoutMs);

 private:
  void runGuarded(const Task& fn);
  // Runs a hand-over; an error it raises is reported by a posted task.
  void runHandover(const Task& fn);
  std::shared_ptr<Handover> enqueueHandover(Task fn);

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Task> posted_;
  std::deque<std::shared_ptr<Handover>> handovers_;
  bool woken_ = false;
  std::thread::id loopThread_;

  struct TimerEntry {
    std::int64_t due;
    Task fn;
  };
  std::map<TimerId, TimerEntry> timers_;
  std::set<std::pair<std::int64_t, TimerId>> byDue_;
  TimerId nextTimerId_ = 1;
};

}  // namespace mq
