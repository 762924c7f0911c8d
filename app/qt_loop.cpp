#include "app/qt_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <chrono>

namespace mq {

QtLoop::QtLoop() {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { onQtTimer(); });
}

QtLoop::~QtLoop() = default;

namespace {
// The Qt timer is armed this much short of the due time: the event
// dispatcher may round its wait up by a millisecond.
constexpr std::chrono::milliseconds kQtTimerMargin{1};
// The longest stretch the loop sleeps out itself (margin plus the Qt
// timer's own rounding); a Qt timer that fires earlier is armed again.
constexpr std::chrono::milliseconds kFinishWithin{3};
}  // namespace

Loop::TimePoint QtLoop::now() const { return steadyNow(); }

void QtLoop::onWorkQueued() {
  // Coalesce wake-ups: one queued drain serves everything queued before it.
  if (wakePending_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this, [this] { drain(); }, Qt::QueuedConnection);
}

void QtLoop::drain() {
  wakePending_ = false;
  serveHandovers();
  runPosted();
  fireDueTimers();
}

void QtLoop::onQtTimer() {
  if (auto due = nextTimerDue()) {
    const auto left = *due - now();
    if (left > std::chrono::microseconds::zero() && left <= kFinishWithin) sleepUntil(*due);
  }
  fireDueTimers();
}

void QtLoop::fireDueTimers() {
  const TimePoint t = now();
  while (runOneDueTimer(t)) serveHandovers();
  reschedule();
}

void QtLoop::reschedule() {
  auto due = nextTimerDue();
  if (!due) {
    timer_.stop();
    return;
  }
  const auto wholeMs = std::chrono::floor<std::chrono::milliseconds>(*due - now()) - kQtTimerMargin;
  const auto wait = std::clamp<std::int64_t>(wholeMs.count(), 0, 24LL * 3600 * 1000);
  timer_.start(static_cast<int>(wait));
}

Loop::TimerId QtLoop::addTimerAt(TimePoint due, Task fn) {
  const TimerId id = QueuedLoop::addTimerAt(due, std::move(fn));
  reschedule();
  return id;
}

void QtLoop::cancelTimer(TimerId id) {
  QueuedLoop::cancelTimer(id);
  reschedule();
}

void QtLoop::pause(int ms) {
  if (ms > 0) sleepUntil(now() + std::chrono::milliseconds(ms));
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
