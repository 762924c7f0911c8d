// Loop: the contract of the user-interface thread.
//
// Everything in the program except the serial worker threads runs on one
// thread, the loop thread. This interface makes that thread explicit so the
// pad link and the serial layer can run on a Qt event loop, on a plain
// standard-library loop (command-line tools, pseudo-terminal tests) or on a
// virtual clock that tests advance by hand.
//
// Time is a steady-clock time point at microsecond resolution: timers fall
// due at the microsecond they were armed for, never earlier, and a loop
// waits for them with a precise primitive, so a 100 ms tick is 100 ms and
// not up to 101.
//
// Threading: now, nowMs, post, runAndWait, sendWithTimeout, wake and
// isLoopThread may be called from any thread. Everything else belongs to the loop thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <utility>

namespace mq {

class Loop {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;
  using ErrorHandler = std::function<void(std::exception_ptr)>;
  using Clock = std::chrono::steady_clock;
  using TimePoint = std::chrono::time_point<Clock, std::chrono::microseconds>;

  Loop() = default;
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;
  virtual ~Loop();

  // The loop's monotonic clock (virtual time for the virtual loop).
  virtual TimePoint now() const = 0;
  // The same in whole milliseconds, rounded down.
  std::int64_t nowMs() const;
  // The time point of a millisecond count of nowMs().
  static TimePoint AtMs(std::int64_t ms) { return TimePoint(std::chrono::milliseconds(ms)); }

  // Queues fn to run on the loop thread; returns at once.
  virtual void post(Task fn) = 0;

  // Runs fn on the loop thread and waits until it has returned. On the loop
  // thread itself fn runs directly. An exception thrown by fn goes to the
  // error handler, not to the caller, and only after fn's hand-over has
  // ended (the report is posted): a report that opens a dialog must not run
  // a nested event loop while the caller still waits.
  virtual void runAndWait(Task fn) = 0;

  // Like runAndWait, but gives up when the loop thread has not started fn
  // within timeoutMs; fn then never runs. Returns whether fn ran.
  virtual bool sendWithTimeout(Task fn, int timeoutMs) = 0;

  // Blocks the loop thread for ms milliseconds. Timers, posted tasks and
  // runAndWait/sendWithTimeout requests wait until it has passed: a pause
  // never runs a packet handler in the middle of the code that paused.
  virtual void pause(int ms) = 0;

  // Blocks the loop thread, serving hand-over requests, until done() is true
  // or timeoutMs has passed. Returns done(). Used to join threads that may
  // need the loop thread before they can finish.
  virtual bool serveUntil(const std::function<bool()>& done, int timeoutMs) = 0;

  // Runs what is pending now: hand-overs, posted tasks and due timers.
  virtual void processMessages() = 0;

  virtual bool isLoopThread() const = 0;

  // Makes a loop thread that waits (idle, or in serveUntil) look at its
  // conditions again at once. Any thread.
  virtual void wake() = 0;

  // One-shot timer primitives behind Timer: fn runs on the loop thread once
  // now() has reached due, never before. Timers due at the same time run in
  // the order they were added.
  virtual TimerId addTimerAt(TimePoint due, Task fn) = 0;
  virtual void cancelTimer(TimerId id) = 0;
  // The same with the due time in milliseconds of nowMs().
  TimerId addTimer(std::int64_t dueMs, Task fn) { return addTimerAt(AtMs(dueMs), std::move(fn)); }

  // The application's top-level handler for errors that escape a handler
  // (timer ticks, posted tasks, hand-overs). Without one, errors are written
  // to standard error. The loop keeps running either way.
  void setErrorHandler(ErrorHandler handler);
  void reportError(std::exception_ptr error);

 private:
  ErrorHandler errorHandler_;
};

}  // namespace mq
