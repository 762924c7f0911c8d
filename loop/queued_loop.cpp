#include "loop/queued_loop.h"

#include <algorithm>
#include <chrono>

namespace mq {

// A request of another thread to run fn on the loop thread. Its state is
// guarded by its own mutex, so the waiting thread never competes with the
// loop thread for the queue lock; lock order: the queue's mu_, then m.
struct QueuedLoop::Handover {
  enum class State { Pending, Running, Done, Cancelled };
  Task fn;
  State state = State::Pending;
  std::mutex m;
  std::condition_variable done;

  void finish(State s) {
    {
      std::lock_guard lock(m);
      state = s;
      fn = nullptr;
    }
    done.notify_all();
  }
  bool ended() const { return state == State::Done || state == State::Cancelled; }
};

QueuedLoop::QueuedLoop() : loopThread_(std::this_thread::get_id()) {}

QueuedLoop::~QueuedLoop() {
  // Release any thread still waiting for a hand-over that will never run.
  std::deque<std::shared_ptr<Handover>> left;
  {
    std::lock_guard lock(mu_);
    left.swap(handovers_);
  }
  for (auto& h : left) h->finish(Handover::State::Cancelled);
}

Loop::TimePoint QueuedLoop::steadyNow() {
  return std::chrono::time_point_cast<std::chrono::microseconds>(Clock::now());
}

void QueuedLoop::bindToCurrentThread() {
  std::lock_guard lock(mu_);
  loopThread_ = std::this_thread::get_id();
}

bool QueuedLoop::isLoopThread() const {
  std::lock_guard lock(mu_);
  return loopThread_ == std::this_thread::get_id();
}

void QueuedLoop::wakeIfSleeping(bool sleeping) {
  if (sleeping) waiter_.wake();
}

void QueuedLoop::wake() {
  bool sleeping;
  {
    std::lock_guard lock(mu_);
    woken_ = true;
    sleeping = sleeping_;
  }
  wakeIfSleeping(sleeping);
}

void QueuedLoop::post(Task fn) {
  bool sleeping;
  {
    std::lock_guard lock(mu_);
    posted_.push_back(std::move(fn));
    sleeping = sleeping_;
  }
  wakeIfSleeping(sleeping);
  onWorkQueued();
}

void QueuedLoop::runGuarded(const Task& fn) {
  try {
    fn();
  } catch (...) {
    reportError(std::current_exception());
  }
}

void QueuedLoop::runHandover(const Task& fn) {
  try {
    fn();
  } catch (...) {
    // The thread that handed fn over is still waiting for it. Reporting may
    // open a dialog with its own event loop; from there a close of the port
    // would wait for that very thread. So the report comes afterwards.
    post([this, error = std::current_exception()] { reportError(error); });
  }
}

std::shared_ptr<QueuedLoop::Handover> QueuedLoop::enqueueHandover(Task fn) {
  auto h = std::make_shared<Handover>();
  h->fn = std::move(fn);
  bool sleeping;
  {
    std::lock_guard lock(mu_);
    handovers_.push_back(h);
    sleeping = sleeping_;
  }
  wakeIfSleeping(sleeping);
  onWorkQueued();
  return h;
}

bool QueuedLoop::serveHandoversUntil(const std::function<bool()>& done, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    serveHandovers();
    if (done()) return true;
    const auto now = Clock::now();
    if (now >= limit) return false;
    // done() may be changed by another thread without a wake-up; look again
    // after at most 2 ms.
    waitForWork(
        std::chrono::time_point_cast<std::chrono::microseconds>(std::min(limit, now + std::chrono::milliseconds(2))));
  }
}

void QueuedLoop::runAndWait(Task fn) {
  if (isLoopThread()) {
    runHandover(fn);
    return;
  }
  auto h = enqueueHandover(std::move(fn));
  std::unique_lock lock(h->m);
  h->done.wait(lock, [&] { return h->ended(); });
}

bool QueuedLoop::sendWithTimeout(Task fn, int timeoutMs) {
  if (isLoopThread()) {
    runHandover(fn);
    return true;
  }
  auto h = enqueueHandover(std::move(fn));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  {
    std::unique_lock lock(h->m);
    if (!h->done.wait_until(lock, deadline, [&] { return h->state != Handover::State::Pending; })) {
      // Not started in time: withdraw it so it never runs after we returned.
      // The loop thread takes requests under mu_ first: lock in that order.
      lock.unlock();
      std::lock_guard queueLock(mu_);
      lock.lock();
      if (h->state == Handover::State::Pending) {
        h->state = Handover::State::Cancelled;
        h->fn = nullptr;
        handovers_.erase(std::find(handovers_.begin(), handovers_.end(), h));
        return false;
      }
    }
  }
  // Started in time: wait for it to finish so its captures stay valid.
  std::unique_lock lock(h->m);
  h->done.wait(lock, [&] { return h->ended(); });
  return h->state == Handover::State::Done;
}

bool QueuedLoop::serveHandovers() {
  bool any = false;
  for (;;) {
    std::shared_ptr<Handover> h;
    {
      std::lock_guard lock(mu_);
      if (handovers_.empty()) break;
      h = handovers_.front();
      handovers_.pop_front();
      std::lock_guard hl(h->m);
      h->state = Handover::State::Running;
    }
    runHandover(h->fn);
    h->finish(Handover::State::Done);
    any = true;
  }
  return any;
}

bool QueuedLoop::runPosted() {
  std::size_t count;
  {
    std::lock_guard lock(mu_);
    count = posted_.size();
  }
  for (std::size_t i = 0; i < count; ++i) {
    Task fn;
    {
      std::lock_guard lock(mu_);
      if (posted_.empty()) break;
      fn = std::move(posted_.front());
      posted_.pop_front();
    }
    runGuarded(fn);
    // Hand-overs wait on the dispatcher side; serve them between tasks.
    serveHandovers();
  }
  return count > 0;
}

Loop::TimerId QueuedLoop::addTimerAt(TimePoint due, Task fn) {
  const TimerId id = nextTimerId_++;
  timers_.emplace(id, TimerEntry{due, std::move(fn)});
  byDue_.emplace(due, id);
  return id;
}

void QueuedLoop::cancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  byDue_.erase({it->second.due, id});
  timers_.erase(it);
}

std::optional<Loop::TimePoint> QueuedLoop::nextTimerDue() const {
  if (byDue_.empty()) return std::nullopt;
  return byDue_.begin()->first;
}

bool QueuedLoop::runOneDueTimer(TimePoint now) {
  if (byDue_.empty() || byDue_.begin()->first > now) return false;
  const TimerId id = byDue_.begin()->second;
  byDue_.erase(byDue_.begin());
  auto it = timers_.find(id);
  Task fn = std::move(it->second.fn);
  timers_.erase(it);
  runGuarded(fn);
  return true;
}

bool QueuedLoop::hasQueuedWork() {
  std::lock_guard lock(mu_);
  return !posted_.empty() || !handovers_.empty();
}

void QueuedLoop::waitForWork(std::optional<TimePoint> deadline) {
  {
    std::lock_guard lock(mu_);
    if (woken_ || !posted_.empty() || !handovers_.empty()) {
      woken_ = false;
      return;
    }
    sleeping_ = true;
  }
  // A producer that queues from here on wakes the waiter, which keeps the
  // wake-up until this wait takes it.
  waiter_.wait(deadline);
  std::lock_guard lock(mu_);
  sleeping_ = false;
  woken_ = false;
}

void QueuedLoop::processMessages() {
  serveHandovers();
  runPosted();
  const TimePoint t = now();
  while (runOneDueTimer(t)) serveHandovers();
}

}  // namespace mq
