#include "serial/dispatcher_thread.h"

#include <chrono>
#include <utility>

namespace mq::serial {

TApdDispatcherThread::TApdDispatcherThread(std::string name, std::function<void()> body, bool waitRunning)
    : name_(std::move(name)), shared_(std::make_shared<Shared>()) {
  // The thread owns its body and the shared flags, so nothing it touches
  // goes away with this object once it has been detached.
  thread_ = std::thread([s = shared_, fn = std::move(body)] {
    {
      mq::AnnotatedMutex::Lock lock(s->mu);
      s->started.store(true);
    }
    s->startedCv.notify_all();
    fn();
    std::shared_ptr<void> keep;
    {
      mq::AnnotatedMutex::Lock lock(s->mu);
      s->finished.store(true);
      keep = std::move(s->keepAlive);
      // Under the lock: a joiner clears it under the lock before it returns.
      if (s->joiner) s->joiner->wake();
    }
    // Released here, on this thread, after the body has returned.
  });
  if (waitRunning) WaitRunning();
}

bool TApdDispatcherThread::WaitRunning(int timeoutMs) {
  mq::AnnotatedMutex::Lock lock(shared_->mu);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!shared_->started.load())
    if (!lock.WaitUntil(shared_->startedCv, deadline)) return shared_->started.load();
  return true;
}

TApdDispatcherThread::~TApdDispatcherThread() {
  if (thread_.joinable()) thread_.join();
}

bool TApdDispatcherThread::JoinServing(mq::Loop& loop, int timeoutMs) {
  {
    mq::AnnotatedMutex::Lock lock(shared_->mu);
    shared_->joiner = &loop;
  }
  const bool ended = loop.serveUntil([this] { return shared_->finished.load(); }, timeoutMs);
  mq::AnnotatedMutex::Lock lock(shared_->mu);
  shared_->joiner = nullptr;
  return ended;
}

void TApdDispatcherThread::Join(mq::Loop& loop) {
  if (!thread_.joinable()) return;
  // The body may be waiting for a hand-over; keep serving until it ends.
  while (!JoinServing(loop, 1000)) {
  }
  thread_.join();
}

bool TApdDispatcherThread::Join(mq::Loop& loop, int timeoutMs) {
  if (!thread_.joinable()) return true;
  if (!JoinServing(loop, timeoutMs)) return false;
  thread_.join();
  return true;
}

void TApdDispatcherThread::Detach(std::shared_ptr<void> keepAlive) {
  if (!thread_.joinable()) return;
  {
    mq::AnnotatedMutex::Lock lock(shared_->mu);
    if (!shared_->finished.load()) {
      shared_->keepAlive = std::move(keepAlive);
      thread_.detach();
      return;
    }
  }
  // Ended meanwhile: an ordinary join, which no longer waits.
  thread_.join();
}

}  // namespace mq::serial
