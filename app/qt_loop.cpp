#include "app/qt_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <thread>

namespace mq {

QtLoop::QtLoop() {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { fireDueTimers(); });
}

QtLoop::~QtLoop() = default;

std::int64_t QtLoop::nowMs() const { return steadyMs(); }

void QtLoop::onWorkQueued() {
  // Coalesce wake-ups: one queued drain serves everything queued before it.
  if (wakePending_.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] { drain(); }, Qt::QueuedConnection);
}

void QtLoop::drain() {
  wakePending_ = false;
  serveHandovers();
  runPosted();
  fireDueTimers();
}

void QtLoop::fireDueTimers() {
  const std::int64_t now = nowMs();
  while (runOneDueTimer(now)) serveHandovers();
  reschedule();
}

void QtLoop::reschedule() {
  auto due = nextTimerDue();
  if (!due) {
    timer_.stop();
    return;
  }
  const auto wait = std::max<std::int64_t>(0, *due - nowMs());
  timer_.start(static_cast<int>(std::min<std::int64_t>(wait, 24LL * 3600 * 1000)));
}

Loop::TimerId QtLoop::addTimer(std::int64_t dueMs, Task fn) {
  const TimerId id = QueuedLoop::addTimer(dueMs, std::move(fn));
  reschedule();
  return id;
}

void QtLoop::cancelTimer(TimerId id) {
  QueuedLoop::cancelTimer(id);
  reschedule();
}

void QtLoop::pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool QtLoop::serveUntil(const std::function<bool()>& done, int timeoutMs) {
  return serveHandoversUntil(done, timeoutMs);
}

void QtLoop::processMessages() {
  QCoreApplication::processEvents();
  QueuedLoop::processMessages();
  reschedule();
}

}  // namespace mq
