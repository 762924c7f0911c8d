#include "loop/queued_loop.h"

#include <algorithm>
#include <chrono>

namespace mq {

struct QueuedLoop::Handover {
  enum class State { Pending, Running, Done, Cancelled };
  Task fn;
  State state = State::Pending;
  std::condition_variable done;
};

QueuedLoop::QueuedLoop() : loopThread_(std::this_thread::get_id()) {}

QueuedLoop::~QueuedLoop() {
  // Release any thread still waiting for a hand-over that will never run.
  std::lock_guard lock(mu_);
  for (auto& h : handovers_) {
    h->state = Handover::State::Cancelled;
    h->done.notify_all();
  }
  handovers_.clear();
}

std::int64_t QueuedLoop::steadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void QueuedLoop::bindToCurrentThread() {
  std::lock_guard lock(mu_);
  loopThread_ = std::this_thread::get_id();
}

bool QueuedLoop::isLoopThread() const {
  std::lock_guard lock(mu_);
  return loopThread_ == std::this_thread::get_id();
}

void QueuedLoop::wake() {
  {
    std::lock_guard lock(mu_);
    woken_ = true;
  }
  cv_.notify_all();
}

void QueuedLoop::post(Task fn) {
  {
    std::lock_guard lock(mu_);
    posted_.push_back(std::move(fn));
  }
  cv_.notify_all();
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
  {
    std::lock_guard lock(mu_);
    handovers_.push_back(h);
  }
  cv_.notify_all();
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
    waitForWork(std::min(limit, now + std::chrono::milliseconds(2)));
  }
}

void QueuedLoop::runAndWait(Task fn) {
  if (isLoopThread()) {
    runHandover(fn);
    return;
  }
  auto h = enqueueHandover(std::move(fn));
  std::unique_lock lock(mu_);
  h->done.wait(lock, [&] {
    return h->state == Handover::State::Done || h->state == Handover::State::Cancelled;
  });
}

bool QueuedLoop::sendWithTimeout(Task fn, int timeoutMs) {
  if (isLoopThread()) {
    runHandover(fn);
    return true;
  }
  auto h = enqueueHandover(std::move(fn));
  std::unique_lock lock(mu_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (h->state == Handover::State::Pending) {
    if (h->done.wait_until(lock, deadline) == std::cv_status::timeout &&
        h->state == Handover::State::Pending) {
      // Not started in time: withdraw it so it never runs after we returned.
      h->state = Handover::State::Cancelled;
      for (auto it = handovers_.begin(); it != handovers_.end(); ++it) {
        if (*it == h) {
          handovers_.erase(it);
          break;
        }
      }
      return false;
    }
  }
  // Started in time: wait for it to finish so its captures stay valid.
  h->done.wait(lock, [&] {
    return h->state == Handover::State::Done || h->state == Handover::State::Cancelled;
  });
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
      h->state = Handover::State::Running;
    }
    runHandover(h->fn);
    {
      std::lock_guard lock(mu_);
      h->state = Handover::State::Done;
      h->fn = nullptr;
    }
    h->done.notify_all();
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

Loop::TimerId QueuedLoop::addTimer(std::int64_t dueMs, Task fn) {
  const TimerId id = nextTimerId_++;
  timers_.emplace(id, TimerEntry{dueMs, std::move(fn)});
  byDue_.emplace(dueMs, id);
  return id;
}

void QueuedLoop::cancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  byDue_.erase({it->second.due, id});
  timers_.erase(it);
}

std::optional<std::int64_t> QueuedLoop::nextTimerDue() const {
  if (byDue_.empty()) return std::nullopt;
  return byDue_.begin()->first;
}

bool QueuedLoop::runOneDueTimer(std::int64_t now) {
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

void QueuedLoop::waitForWork(std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::unique_lock lock(mu_);
  auto ready = [&] { return woken_ || !posted_.empty() || !handovers_.empty(); };
  if (deadline)
    cv_.wait_until(lock, *deadline, ready);
  else
    cv_.wait(lock, ready);
  woken_ = false;
}

void QueuedLoop::processMessages() {
  serveHandovers();
  runPosted();
  const std::int64_t now = nowMs();
  while (runOneDueTimer(now)) serveHandovers();
}

}  // namespace mq
