// QtLoop: the loop-thread contract on the Qt event loop of the window
// program. Posted tasks, hand-overs from the serial threads and timers run
// inside Qt's event loop; pause() blocks the GUI thread the way the pad link
// expects (no timers, no posted tasks, no hand-overs, no repaint).
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

  std::int64_t nowMs() const override;
  void pause(int ms) override;
  bool serveUntil(const std::function<bool()>& done, int timeoutMs) override;
  void processMessages() override;
  TimerId addTimer(std::int64_t dueMs, Task fn) override;
  void cancelTimer(TimerId id) override;

 protected:
  void onWorkQueued() override;

 private:
  void drain();
  void fireDueTimers();
  void reschedule();

  QTimer timer_;
  std::atomic<bool> wakePending_{false};
};

}  // namespace mq
