#include "serial/dispatcher_thread.h"

#include <chrono>
#include <utility>

namespace mq::serial {

TApdDispatcherThread::TApdDispatcherThread(std::string name, std::function<void()> body)
    : name_(std::move(name)) {
  thread_ = std::thread([this, fn = std::move(body)] {
    started_.store(true);
    started_.notify_all();
    fn();
    finished_.store(true);
  });
  // The body signals that it runs; do not wait longer than 3000 ms for it.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
  while (!started_.load() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

TApdDispatcherThread::~TApdDispatcherThread() {
  if (thread_.joinable()) thread_.join();
}

void TApdDispatcherThread::Join(mq::Loop& loop) {
  if (!thread_.joinable()) return;
  // The body may be waiting for a hand-over; keep serving until it ends.
  while (!loop.serveUntil([this] { return finished_.load(); }, 1000)) {
  }
  thread_.join();
}

}  // namespace mq::serial
