// TApdBaseDispatcher: the engine of an open port. It owns the open device,
// the 8192-byte dispatch buffer and the output ring of OutSize bytes (each a
// ByteRing), the input queue of 256-byte chunks and status records, and the
// TriggerTable (timer, status and length triggers and the handler lists),
// and turns driver input into notifications: data available (datum: unread
// bytes), timer expired and status (datum: the trigger's handle).
//
// Two ways to run, chosen by the device:
// - worker threads (real devices): a reader, a writer, a status watcher and
//   a dispatcher thread. Handlers run on the dispatcher thread; packet
//   events reach the loop thread through RunOnLoop (run-and-wait), window
//   notifications through a send that waits at most 3000 ms. The threads
//   wait on events and on the next timer deadline, never on fixed polls.
//   The dispatcher thread watches the device and reads what arrives; the
//   reader drains the device whenever the dispatcher has waited more than
//   20 ms for the loop thread, so a stalled loop never lets the driver's
//   buffer overflow.
// - direct (the fake platform): no threads; passes run on the loop thread,
//   posted when bytes arrive or output is written and on a loop timer at the
//   next timer deadline, so tests on virtual time are deterministic.
//
// A worker failure (read/write error, hang-up, device gone) stops the
// reader, writer and status watcher and is handed once to the loop thread:
// to the failure handler (the port), or else to the loop's error handler as
// EInOutError. Bytes already received are still dispatched and timers still
// run.
//
// Threading: the trigger/handler tables, the dispatch buffer and the output
// ring each have a lock; their operations may be called from any thread.
// Start/Stop/Join belong to the loop thread (the port). In direct mode
// everything runs on the loop thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loop/loop.h"
#include "serial/byte_ring.h"
#include "serial/dispatcher_thread.h"
#include "serial/serial_device.h"
#include "serial/serial_types.h"
#include "serial/trigger_table.h"
#include "util/annotated_mutex.h"
#include "util/thread_annotations.h"

namespace mq::serial {

class TApdBaseDispatcher : public std::enable_shared_from_this<TApdBaseDispatcher> {
 public:
  using TriggerHandler = TriggerTable::Handler;
  using HandlerId = TriggerTable::HandlerId;

  static constexpr std::size_t kDispatchBufferSize = 8192;
  static constexpr std::size_t kChunkSize = 256;
  // Line-event bits of a status record.
  static constexpr std::uint32_t kLineHangUp = 1u << 0;
  static constexpr std::uint32_t kLineError = 1u << 1;

  TApdBaseDispatcher(mq::Loop& loop, std::unique_ptr<SerialDevice> device, std::uint16_t outSize);
  ~TApdBaseDispatcher();
  TApdBaseDispatcher(const TApdBaseDispatcher&) = delete;
  TApdBaseDispatcher& operator=(const TApdBaseDispatcher&) = delete;

  // ---- Used by the port (loop thread) ----
  // Starts the reader, dispatcher, writer and status watcher (or direct mode).
  void StartWorkers();
  // Signals the status watcher, writer and reader and joins each (serving
  // hand-overs), then signals the dispatcher thread to end.
  void StopWorkers();
  // Joins the dispatcher thread, serving hand-overs meanwhile, for up to 36
  // ticks; then wakes it and waits up to 36 ticks more. A thread that has
  // still not ended is let go (it keeps this dispatcher alive until it
  // returns and calls no handler any more); returns false then.
  bool JoinDispatcherThread();
  bool HasDispatcherThread() const { return threaded_; }
  // True while the loop thread is running code called from this dispatcher's
  // notification (a hand-over, or a direct-mode pass), also from a nested
  // event loop inside it.
  bool LoopThreadInside() const { return loopInside_.load() > 0; }
  // Runs task now when the loop thread is not inside one of this
  // dispatcher's notifications; otherwise posts it when the last one ends.
  // Loop thread only.
  void WhenLoopOutside(std::function<void()> task);
  bool WorkersFailed() const { return failed_.load(); }
  // The failure's operating-system number and text (0 and empty before one).
  std::pair<int, std::string> Failure() const;
  // Called on the loop thread once after a worker failure. Loop thread only.
  using FailureHandler = std::function<void(int osError, const std::string& text)>;
  void SetOnFailure(FailureHandler handler);
  SerialDevice& Device() { return *device_; }

  // Appends bytes to the output ring; throws EOutputBufferTooSmall (nothing
  // written) when the ring has fewer free bytes.
  void PutBlock(std::string_view bytes);
  // Discards driver input, queued chunks and unread bytes (the unread bytes
  // at the end of the current notification when one is in progress).
  void FlushInBuffer();
  // Discards the output ring and the driver's transmit queue and waits up to
  // 5000 ms for the writer to drop what it holds.
  void FlushOutBuffer();
  void SetTriggerLength(std::uint16_t length);
  // The port's window handler, called after the event handlers.
  void SetWindowHandler(TriggerHandler handler);

  // ---- Handlers and triggers (any thread) ----
  // A synchronised handler runs on the loop thread (run-and-wait). A
  // registration made during a notification takes effect when it ends; a
  // deregistered handler is not called again.
  HandlerId RegisterEventTriggerHandler(TriggerHandler handler, bool synchronised = false);
  void DeregisterEventTriggerHandler(HandlerId id);
  // Inside a notification: copies count bytes from the oldest byte this
  // handler has not taken yet; outside: takes them from the tail at once.
  // Returns count, or -ecBufferIsEmpty (nothing copied) when fewer are unread.
  int GetBlock(char* dest, std::size_t count);
  std::uint16_t AddTimerTrigger();
  // Arms the timer for ticks (0 keeps its previous duration) or disarms it.
  void SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate);
  std::uint16_t AddStatusTrigger(TStatusKind kind);
  void SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool activate);
  void RemoveTrigger(std::uint16_t handle);
  std::size_t InBuffUsed() const;
  std::size_t OutBuffUsed() const;
  std::size_t OutBuffFree() const;

  // Runs fn on the loop thread and waits for it (errors go to the loop's
  // error handler). Directly when already on the loop thread.
  void RunOnLoop(const std::function<void()>& fn);
  // Like RunOnLoop but gives up when the loop has not started fn in timeoutMs.
  bool SendToLoop(const std::function<void()>& fn, int timeoutMs);

 private:
  struct InputItem {
    std::vector<char> data;  // empty for a status record
    std::size_t offset = 0;
    std::uint32_t lineEvents = 0;
  };

  class InsideGuard;

  // Bound of each of the two waits for the dispatcher thread at a close.
  static constexpr int kJoinTicks = 36;
  static constexpr int kTickMs = 55;

  // The reader drains the device after the dispatcher has waited this long
  // for the loop thread, and looks this often while hand-overs happen.
  static constexpr int kReaderTakeoverMs = 20;
  static constexpr int kReaderCheckMs = 50;

  // Worker bodies.
  void ReadLoop();
  bool DrainWhileAway();
  void EnterAway();
  void LeaveAway();
  static std::int64_t SteadyMs();
  void WriteLoop();
  void StatusLoop();
  void DispatchLoop();

  // One dispatcher pass: move queued chunks, evaluate the triggers, repeat
  // while notifications were made.
  void Pass();
  void DirectPass();
  void DrainDevice();
  void ReadAvailableDirect();
  void ReadAvailableThreaded();
  void WriteAvailableDirect();
  void RequestPass();
  void ScheduleDirectTimer();
  std::optional<std::int64_t> NextTimerDeadline() const;

  bool MoveQueued();
  bool EvaluateStatus();
  bool EvaluateLength();
  bool EvaluateTimers();
  void Notify(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum);

  void PushChunk(std::vector<char> chunk);
  void PushLineEvents(std::uint32_t mask);
  void Fail(int osError);
  void ReportError(std::exception_ptr error);

  mq::Loop& loop_;
  std::unique_ptr<SerialDevice> device_;
  bool threaded_;

  // Trigger and handler tables.
  mutable mq::AnnotatedMutex tablesMu_;
  TriggerTable triggers_ MQ_GUARDED_BY(tablesMu_);

  // Dispatch buffer.
  mutable mq::AnnotatedMutex dbufMu_;
  ByteRing dbuf_ MQ_GUARDED_BY(dbufMu_);
  bool newBytes_ MQ_GUARDED_BY(dbufMu_) = false;
  bool inNotify_ MQ_GUARDED_BY(dbufMu_) = false;
  bool flushPending_ MQ_GUARDED_BY(dbufMu_) = false;
  std::size_t handlerTaken_ MQ_GUARDED_BY(dbufMu_) = 0;
  std::size_t maxTaken_ MQ_GUARDED_BY(dbufMu_) = 0;

  // Output ring.
  mutable mq::AnnotatedMutex ringMu_;
  std::condition_variable ringCv_;
  ByteRing ring_ MQ_GUARDED_BY(ringMu_);
  bool outputSent_ MQ_GUARDED_BY(ringMu_) = false;
  std::uint64_t flushGen_ MQ_GUARDED_BY(ringMu_) = 0;
  bool writerBusy_ MQ_GUARDED_BY(ringMu_) = false;

  // Input queue and dispatcher wake-up.
  mutable mq::AnnotatedMutex inMu_;
  std::deque<InputItem> input_ MQ_GUARDED_BY(inMu_);
  bool wake_ MQ_GUARDED_BY(inMu_) = false;
  bool dispatcherWaiting_ MQ_GUARDED_BY(inMu_) = false;  // blocked in WaitDispatch: wake it through the device
  // Held while reading from the device and queueing, so the reader and the
  // dispatcher (which reads what it sees arrive itself) keep the byte order.
  mq::AnnotatedMutex readMu_;
  // The reader's watch over the dispatcher's hand-overs.
  mq::AnnotatedMutex readerMu_;
  std::condition_variable readerCv_;
  bool readerPeriodic_ MQ_GUARDED_BY(readerMu_) = false;  // hand-overs happen: look every kReaderCheckMs
  std::atomic<std::int64_t> awaySinceMs_{0};              // dispatcher waiting for the loop since (0: not)
  std::atomic<std::int64_t> lastHandoverMs_{0};
  std::uint32_t lineEvents_ MQ_GUARDED_BY(inMu_) = 0;  // seen, not yet announced

  // Status watcher.
  mq::AnnotatedMutex statusMu_;
  std::condition_variable statusCv_;
  std::uint32_t pendingLineEvents_ MQ_GUARDED_BY(statusMu_) = 0;

  std::atomic<bool> stopReader_{false}, stopWriter_{false}, stopStatus_{false}, stopDispatch_{false};
  std::atomic<bool> failed_{false};
  mutable mq::AnnotatedMutex failMu_;
  int failError_ MQ_GUARDED_BY(failMu_) = 0;
  std::string failText_ MQ_GUARDED_BY(failMu_);
  FailureHandler onFailure_;  // loop thread
  std::atomic<int> loopInside_{0};
  std::vector<std::function<void()>> whenOutside_;  // loop thread
  std::atomic<bool> abandoned_{false};

  std::unique_ptr<TApdDispatcherThread> reader_, writer_, status_, dispatcher_;

  // Direct mode (loop thread only).
  bool passPosted_ = false;
  bool passActive_ = false;
  bool repass_ = false;
  mq::Loop::TimerId directTimer_ = 0;
  std::int64_t directTimerDue_ = 0;
  bool workersStarted_ = false;
};

}  // namespace mq::serial
