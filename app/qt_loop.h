// QtLoop: the loop-thread contract on the Qt event loop of the window
// program. Posted tasks, hand-overs from the serial threads and timers run
// inside Qt's event loop; pause() blocks the GUI thread the way the pad link
// expects (no timers, no posted tasks, no hand-overs, no repaint).
//
// Qt's timers count whole milliseconds and its event dispatcher may round
// its wait up by one more, so the loop arms one Qt timer a millisecond short
// of the next due time and finishes the last stretch with a precise sleep:
// timers run within microseconds of their due time, never before it, and
// the GUI thread is held for at most a few milliseconds per tick.
//
// Threading: construct on the GUI thread after the QApplication exists; the
// QueuedLoop rules apply otherwise.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>

#include "loop/queued_loop.h"

namespace mq {

class QtLoop : public QObject, public QueuedLoop {
 public:
  QtLoop();
  ~QtLoop() override;

  TimePoint now() const override;
  void pause(int ms) override;
  bool serveUntil(const std::function<bool()>& done, int timeoutMs) override;
  void processMessages() override;
  TimerId addTimerAt(TimePoint due, Task fn) override;
  void cancelTimer(TimerId id) override;

 protected:
  void onWorkQueued() override;

 private:
  void drain();
  // The Qt timer's tick: waits out the rest of the next due time, then runs
  // what is due.
  void onQtTimer();
  void fireDueTimers();
  void reschedule();

  QTimer timer_;
  std::atomic<bool> wakePending_{false};
};

}  // namespace mq
