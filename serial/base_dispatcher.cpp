#include "serial/base_dispatcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include "serial/apd_exception.h"

namespace mq::serial {

// Counts the loop thread in and out of code called from a notification; the
// last one out posts what waited for the loop thread to be outside.
class TApdBaseDispatcher::InsideGuard {
 public:
  explicit InsideGuard(TApdBaseDispatcher& d) : d_(d) { ++d_.loopInside_; }
  ~InsideGuard() {
    if (--d_.loopInside_ > 0 || d_.whenOutside_.empty()) return;
    for (auto& task : std::exchange(d_.whenOutside_, {})) d_.loop_.post(std::move(task));
  }
  InsideGuard(const InsideGuard&) = delete;
  InsideGuard& operator=(const InsideGuard&) = delete;

 private:
  TApdBaseDispatcher& d_;
};

TApdBaseDispatcher::TApdBaseDispatcher(mq::Loop& loop, std::unique_ptr<SerialDevice> device, std::uint16_t outSize)
    : loop_(loop),
      device_(std::move(device)),
      threaded_(device_->UsesWorkerThreads()),
      dbuf_(kDispatchBufferSize),
      ring_(std::max<std::size_t>(outSize, 1)) {}

TApdBaseDispatcher::~TApdBaseDispatcher() {
  StopWorkers();
  // A detached dispatcher thread released us after its body returned; one
  // still joinable (the port never closed) has been told to stop.
  if (dispatcher_) dispatcher_->Join(loop_);
  if (directTimer_ != 0) loop_.cancelTimer(directTimer_);
  device_->SetActivityCallback(nullptr);
}

// ---------------------------------------------------------------- lifecycle

void TApdBaseDispatcher::StartWorkers() {
  workersStarted_ = true;
  if (!threaded_) {
    std::weak_ptr<TApdBaseDispatcher> weak = weak_from_this();
    mq::Loop* loop = &loop_;
    device_->SetActivityCallback([weak, loop] {
      loop->post([weak] {
        if (auto self = weak.lock()) self->RequestPass();
      });
    });
    RequestPass();
    return;
  }
  // Started in this order, then waited for in the same order (up to 3000 ms
  // each): four starts one after the other would cost four waits for a
  // processor on a busy machine, several milliseconds per port opened.
  reader_ = std::make_unique<TApdDispatcherThread>(
      "reader", [this] { ReadLoop(); }, false);
  dispatcher_ = std::make_unique<TApdDispatcherThread>(
      "dispatcher", [this] { DispatchLoop(); }, false);
  writer_ = std::make_unique<TApdDispatcherThread>(
      "writer", [this] { WriteLoop(); }, false);
  status_ = std::make_unique<TApdDispatcherThread>(
      "status", [this] { StatusLoop(); }, false);
  for (auto* t : {&reader_, &dispatcher_, &writer_, &status_}) (*t)->WaitRunning();
}

void TApdBaseDispatcher::StopWorkers() {
  {
    mq::AnnotatedMutex::Lock lock(statusMu_);
    stopStatus_ = true;
  }
  statusCv_.notify_all();
  if (status_) status_->Join(loop_);
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    stopWriter_ = true;
  }
  ringCv_.notify_all();
  {
    mq::AnnotatedMutex::Lock lock(readerMu_);
    stopReader_ = true;
  }
  readerCv_.notify_all();
  device_->Interrupt();  // wakes a writer waiting for room and the reader
  if (writer_) writer_->Join(loop_);
  if (reader_) reader_->Join(loop_);
  {
    mq::AnnotatedMutex::Lock lock(inMu_);
    stopDispatch_ = true;
    wake_ = true;
  }
  if (threaded_) device_->WakeDispatcher();
  if (!threaded_) {
    device_->SetActivityCallback(nullptr);
    if (directTimer_ != 0) {
      loop_.cancelTimer(directTimer_);
      directTimer_ = 0;
    }
  }
}

bool TApdBaseDispatcher::JoinDispatcherThread() {
  if (!dispatcher_ || dispatcher_->Finished()) {
    if (dispatcher_) dispatcher_->Join(loop_);
    return true;
  }
  if (dispatcher_->Join(loop_, kJoinTicks * kTickMs)) return true;
  {
    mq::AnnotatedMutex::Lock lock(inMu_);
    stopDispatch_ = true;
    wake_ = true;
  }
  device_->WakeDispatcher();
  if (dispatcher_->Join(loop_, kJoinTicks * kTickMs)) return true;
  // Still waiting, most likely for a hand-over that the loop thread cannot
  // finish from here. Let it go: it keeps this dispatcher alive until its
  // body returns, and it calls no handler of the port any more.
  abandoned_ = true;
  dispatcher_->Detach(shared_from_this());
  return false;
}

void TApdBaseDispatcher::WhenLoopOutside(std::function<void()> task) {
  if (loopInside_.load() == 0) {
    task();
    return;
  }
  whenOutside_.push_back(std::move(task));
}

// ---------------------------------------------------------------- output

void TApdBaseDispatcher::PutBlock(std::string_view bytes) {
  if (bytes.empty()) return;
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    if (!ring_.Write(bytes)) throw EOutputBufferTooSmall();
    outputSent_ = true;
  }
  if (threaded_) {
    ringCv_.notify_all();
  } else {
    WriteAvailableDirect();
  }
  RequestPass();  // the output-sent status trigger is evaluated on the next pass
}

void TApdBaseDispatcher::WriteAvailableDirect() {
  std::string out;
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    out = ring_.TakeAll();
  }
  if (failed_) return;
  std::size_t off = 0;
  while (off < out.size()) {
    const auto r = device_->Write(out.data() + off, out.size() - off);
    if (r.status == SerialDevice::IoStatus::Ok) {
      off += r.count;
    } else if (r.status == SerialDevice::IoStatus::WouldBlock) {
      return;  // a direct device has no queue to wait on; the rest is dropped
    } else {
      Fail(r.status == SerialDevice::IoStatus::End ? ENODEV : r.osError);
      return;
    }
  }
}

void TApdBaseDispatcher::FlushOutBuffer() {
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    ring_.Clear();
    ++flushGen_;
  }
  device_->PurgeOutput();
  ringCv_.notify_all();
  if (!threaded_ || !writer_) return;
  mq::AnnotatedMutex::Lock lock(ringMu_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
  while (writerBusy_)
    if (!lock.WaitUntil(ringCv_, deadline)) break;
}

std::size_t TApdBaseDispatcher::OutBuffUsed() const {
  mq::AnnotatedMutex::Lock lock(ringMu_);
  return ring_.Used();
}

std::size_t TApdBaseDispatcher::OutBuffFree() const {
  mq::AnnotatedMutex::Lock lock(ringMu_);
  return ring_.Free();
}

void TApdBaseDispatcher::WriteLoop() {
  for (;;) {
    std::string pending;
    std::uint64_t gen = 0;
    {
      mq::AnnotatedMutex::Lock lock(ringMu_);
      writerBusy_ = false;
      ringCv_.notify_all();
      while (!stopWriter_ && ring_.Empty()) lock.Wait(ringCv_);
      if (stopWriter_) break;
      pending = ring_.TakeAll();
      gen = flushGen_;
      writerBusy_ = true;
    }
    std::size_t off = 0;
    while (off < pending.size()) {
      {
        mq::AnnotatedMutex::Lock lock(ringMu_);
        if (flushGen_ != gen || stopWriter_) break;  // flushed: drop the rest
      }
      const auto r = device_->Write(pending.data() + off, pending.size() - off);
      if (r.status == SerialDevice::IoStatus::Ok) {
        off += r.count;
        continue;
      }
      if (r.status == SerialDevice::IoStatus::WouldBlock) {
        // The driver's queue is full: wait for room, looking at the flush
        // generation again at least every 50 ms.
        const auto w = device_->WaitWritable(50);
        if (w == SerialDevice::WaitResult::Ready || w == SerialDevice::WaitResult::TimedOut) continue;
        if (w == SerialDevice::WaitResult::Interrupted) break;
        Fail(w == SerialDevice::WaitResult::HungUp ? ENODEV : EIO);
      } else {
        Fail(r.status == SerialDevice::IoStatus::End ? ENODEV : r.osError);
      }
      mq::AnnotatedMutex::Lock lock(ringMu_);
      writerBusy_ = false;
      ringCv_.notify_all();
      return;
    }
  }
  mq::AnnotatedMutex::Lock lock(ringMu_);
  writerBusy_ = false;
  ringCv_.notify_all();
}

// ---------------------------------------------------------------- input

void TApdBaseDispatcher::PushChunk(std::vector<char> chunk) {
  {
    mq::AnnotatedMutex::Lock lock(inMu_);
    input_.push_back(InputItem{std::move(chunk), 0, 0});
  }
  RequestPass();
}

void TApdBaseDispatcher::PushLineEvents(std::uint32_t mask) {
  {
    mq::AnnotatedMutex::Lock lock(inMu_);
    input_.push_back(InputItem{{}, 0, mask});
  }
  RequestPass();
}

// The dispatcher thread watches the device itself; the reader takes over
// only while the dispatcher waits for the loop thread, so a stalled loop
// never leaves the driver undrained, and a frame on an otherwise quiet line
// wakes one thread, not two. While hand-overs happen the reader looks every
// kReaderCheckMs; after a quiet second it sleeps until the next one.
void TApdBaseDispatcher::ReadLoop() {
  mq::AnnotatedMutex::Lock lock(readerMu_);
  while (!stopReader_) {
    if (readerPeriodic_)
      lock.WaitFor(readerCv_, std::chrono::milliseconds(kReaderCheckMs));
    else
      while (!stopReader_ && !readerPeriodic_) lock.Wait(readerCv_);
    if (stopReader_) break;
    const std::int64_t now = SteadyMs();
    const std::int64_t since = awaySinceMs_.load();
    if (since == 0) {
      if (now - lastHandoverMs_.load() > 1000) readerPeriodic_ = false;
      continue;
    }
    if (now - since < kReaderTakeoverMs) continue;
    lock.Unlock();
    const bool ended = DrainWhileAway();
    lock.Relock();
    if (ended) break;
  }
}

bool TApdBaseDispatcher::DrainWhileAway() {
  while (!stopReader_ && awaySinceMs_.load() != 0) {
    const auto w = device_->WaitReadable(kReaderCheckMs);
    if (w == SerialDevice::WaitResult::Interrupted) return true;
    if (w == SerialDevice::WaitResult::TimedOut) continue;
    if (w == SerialDevice::WaitResult::HungUp || w == SerialDevice::WaitResult::Failed) {
      Fail(w == SerialDevice::WaitResult::HungUp ? ENODEV : EIO);
      return true;
    }
    mq::AnnotatedMutex::Lock readLock(readMu_);  // the dispatcher reads too: keep the order
    while (!stopReader_) {
      std::vector<char> chunk;
      try {
        chunk.resize(kChunkSize);
      } catch (const std::bad_alloc&) {
        Fail(ENOMEM);
        return true;
      }
      const auto r = device_->Read(chunk.data(), chunk.size());
      if (r.status == SerialDevice::IoStatus::Ok) {
        chunk.resize(r.count);
        PushChunk(std::move(chunk));
        continue;
      }
      if (r.status == SerialDevice::IoStatus::WouldBlock) break;
      // A 0-byte read or an error is the end of the line, not "no data yet".
      Fail(r.status == SerialDevice::IoStatus::End ? ENODEV : r.osError);
      return true;
    }
  }
  return false;
}

std::int64_t TApdBaseDispatcher::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TApdBaseDispatcher::EnterAway() {
  if (!threaded_ || loop_.isLoopThread()) return;
  const std::int64_t now = SteadyMs();
  awaySinceMs_.store(now);
  lastHandoverMs_.store(now);
  bool wake = false;
  {
    mq::AnnotatedMutex::Lock lock(readerMu_);
    if (!readerPeriodic_) wake = readerPeriodic_ = true;
  }
  if (wake) readerCv_.notify_one();
}

void TApdBaseDispatcher::LeaveAway() {
  if (threaded_) awaySinceMs_.store(0);
}

void TApdBaseDispatcher::ReadAvailableDirect() { DrainDevice(); }

// Queues everything the device holds now, in 256-byte chunks; a failure
// other than "no data" stops the workers once.
void TApdBaseDispatcher::DrainDevice() {
  while (!failed_) {
    std::vector<char> chunk(kChunkSize);
    const auto r = device_->Read(chunk.data(), chunk.size());
    if (r.status == SerialDevice::IoStatus::Ok) {
      chunk.resize(r.count);
      mq::AnnotatedMutex::Lock lock(inMu_);
      input_.push_back(InputItem{std::move(chunk), 0, 0});
      continue;
    }
    if (r.status != SerialDevice::IoStatus::WouldBlock)
      Fail(r.status == SerialDevice::IoStatus::End ? ENODEV : r.osError);
    return;
  }
}

void TApdBaseDispatcher::StatusLoop() {
  mq::AnnotatedMutex::Lock lock(statusMu_);
  for (;;) {
    while (!stopStatus_ && pendingLineEvents_ == 0) lock.Wait(statusCv_);
    if (stopStatus_) break;
    const std::uint32_t mask = std::exchange(pendingLineEvents_, 0);
    lock.Unlock();
    PushLineEvents(mask);
    lock.Relock();
  }
}

void TApdBaseDispatcher::Fail(int osError) {
  if (failed_.exchange(true)) return;
  // Stop the reader, writer and status watcher; the dispatcher goes on
  // delivering what was received and running the timers.
  {
    mq::AnnotatedMutex::Lock lock(readerMu_);
    stopReader_ = true;
  }
  readerCv_.notify_all();
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    stopWriter_ = true;
  }
  ringCv_.notify_all();
  {
    mq::AnnotatedMutex::Lock lock(statusMu_);
    stopStatus_ = true;
  }
  statusCv_.notify_all();
  device_->Interrupt();
  PushLineEvents(osError == ENODEV ? kLineHangUp : kLineError);
  std::string text = device_->ErrorText(osError);
  {
    mq::AnnotatedMutex::Lock lock(failMu_);
    failError_ = osError;
    failText_ = text;
  }
  // The error object is made on the loop thread that shows it; the port, if
  // it still owns this dispatcher, names itself in it.
  mq::Loop* loop = &loop_;
  std::weak_ptr<TApdBaseDispatcher> weak = weak_from_this();
  loop_.post([loop, weak, osError, text = std::move(text)] {
    auto self = weak.lock();
    // A copy: the handler may close the port, which clears it.
    const FailureHandler handler = self ? self->onFailure_ : nullptr;
    if (handler) {
      handler(osError, text);
      return;
    }
    loop->reportError(std::make_exception_ptr(EInOutError(osError, text)));
  });
}

void TApdBaseDispatcher::SetOnFailure(FailureHandler handler) { onFailure_ = std::move(handler); }

std::pair<int, std::string> TApdBaseDispatcher::Failure() const {
  mq::AnnotatedMutex::Lock lock(failMu_);
  return {failError_, failText_};
}

void TApdBaseDispatcher::ReportError(std::exception_ptr error) {
  mq::Loop* loop = &loop_;
  loop_.post([loop, error] { loop->reportError(error); });
}

void TApdBaseDispatcher::FlushInBuffer() {
  {
    // Device reads hold this lock until their chunk is queued: a chunk read
    // while we flush is either dropped here or read after the purge.
    mq::AnnotatedMutex::Lock readLock(readMu_);
    device_->PurgeInput();
    if (!threaded_) {
      // Bytes the fake device delivered but no pass has read yet.
      std::vector<char> sink(kChunkSize);
      while (device_->Read(sink.data(), sink.size()).status == SerialDevice::IoStatus::Ok) {
      }
    }
    mq::AnnotatedMutex::Lock lock(inMu_);
    std::erase_if(input_, [](const InputItem& item) { return !item.data.empty(); });
  }
  mq::AnnotatedMutex::Lock lock(dbufMu_);
  if (inNotify_) {
    flushPending_ = true;
  } else {
    dbuf_.Clear();
    newBytes_ = false;
  }
}

// ---------------------------------------------------------------- dispatch buffer

std::size_t TApdBaseDispatcher::InBuffUsed() const {
  mq::AnnotatedMutex::Lock lock(dbufMu_);
  return dbuf_.Used();
}

int TApdBaseDispatcher::GetBlock(char* dest, std::size_t count) {
  bool consumed = false;
  {
    mq::AnnotatedMutex::Lock lock(dbufMu_);
    if (inNotify_) {
      // Nothing leaves the buffer during a notification: each handler reads
      // from the oldest byte, and the most any of them took goes at its end.
      if (!dbuf_.Peek(handlerTaken_, dest, count)) return -ecBufferIsEmpty;
      handlerTaken_ += count;
      return static_cast<int>(count);
    }
    if (!dbuf_.Read(dest, count)) return -ecBufferIsEmpty;
    consumed = count > 0;
  }
  if (consumed) RequestPass();  // room for queued chunks
  return static_cast<int>(count);
}

bool TApdBaseDispatcher::MoveQueued() {
  mq::AnnotatedMutex::Lock inLock(inMu_);
  mq::AnnotatedMutex::Lock bufLock(dbufMu_);
  bool moved = false;
  while (!input_.empty()) {
    InputItem& item = input_.front();
    if (item.data.empty()) {
      lineEvents_ |= item.lineEvents;
      input_.pop_front();
      continue;
    }
    const std::size_t n = std::min(dbuf_.Free(), item.data.size() - item.offset);
    if (n == 0) break;
    dbuf_.Write(std::string_view(item.data.data() + item.offset, n));
    item.offset += n;
    moved = true;
    if (item.offset < item.data.size()) break;  // the rest keeps its place
    input_.pop_front();
  }
  if (moved) newBytes_ = true;
  return moved;
}

// ---------------------------------------------------------------- triggers

TApdBaseDispatcher::HandlerId TApdBaseDispatcher::RegisterEventTriggerHandler(TriggerHandler handler,
                                                                              bool synchronised) {
  HandlerId id;
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    id = triggers_.AddHandler(std::move(handler), synchronised);
  }
  // Bytes that arrived before any consumer registered (while the port was
  // opening) are announced again, so a full dispatch buffer cannot stall.
  bool unread;
  {
    mq::AnnotatedMutex::Lock lock(dbufMu_);
    unread = !dbuf_.Empty();
    if (unread) newBytes_ = true;
  }
  if (unread) RequestPass();
  return id;
}

void TApdBaseDispatcher::DeregisterEventTriggerHandler(HandlerId id) {
  mq::AnnotatedMutex::Lock lock(tablesMu_);
  triggers_.RemoveHandler(id);
}

void TApdBaseDispatcher::SetWindowHandler(TriggerHandler handler) {
  mq::AnnotatedMutex::Lock lock(tablesMu_);
  triggers_.SetWindowHandler(std::move(handler));
}

void TApdBaseDispatcher::SetTriggerLength(std::uint16_t length) {
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    triggers_.SetTriggerLength(length);
  }
  RequestPass();
}

std::uint16_t TApdBaseDispatcher::AddTimerTrigger() {
  mq::AnnotatedMutex::Lock lock(tablesMu_);
  return triggers_.AddTimer();
}

void TApdBaseDispatcher::SetTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    triggers_.SetTimer(handle, ticks, activate, loop_.nowMs());
  }
  RequestPass();
}

std::uint16_t TApdBaseDispatcher::AddStatusTrigger(TStatusKind kind) {
  mq::AnnotatedMutex::Lock lock(tablesMu_);
  return triggers_.AddStatus(kind);
}

void TApdBaseDispatcher::SetStatusTrigger(std::uint16_t handle, std::uint32_t value, bool activate) {
  std::optional<TStatusKind> kind;
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    kind = triggers_.SetStatus(handle, value, activate);
  }
  if (!kind) return;
  if (activate && kind == TStatusKind::stOutSent) {
    // Only writes after arming count.
    mq::AnnotatedMutex::Lock lock(ringMu_);
    outputSent_ = false;
  }
  RequestPass();
}

void TApdBaseDispatcher::RemoveTrigger(std::uint16_t handle) {
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    triggers_.Remove(handle);
  }
  RequestPass();
}

std::optional<std::int64_t> TApdBaseDispatcher::NextTimerDeadline() const {
  mq::AnnotatedMutex::Lock lock(tablesMu_);
  return triggers_.NextTimerDeadline();
}

bool TApdBaseDispatcher::EvaluateStatus() {
  TriggerTable::StatusInput in;
  {
    mq::AnnotatedMutex::Lock lock(inMu_);
    in.lineEvents = lineEvents_;
  }
  {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    in.outputSent = outputSent_;
    in.outUsed = ring_.Used();
    in.outCapacity = ring_.Capacity();
  }
  TriggerTable::StatusFired fired;
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    fired = triggers_.TakeFiredStatus(in);
  }
  if (fired.sentTaken) {
    mq::AnnotatedMutex::Lock lock(ringMu_);
    outputSent_ = false;
  }
  if (fired.lineTaken) {
    mq::AnnotatedMutex::Lock lock(inMu_);
    lineEvents_ = 0;
  }
  for (std::uint16_t h : fired.handles) Notify(TTriggerKind::Status, h, h);
  return !fired.handles.empty();
}

bool TApdBaseDispatcher::EvaluateLength() {
  std::size_t used;
  {
    mq::AnnotatedMutex::Lock tl(tablesMu_);
    mq::AnnotatedMutex::Lock lock(dbufMu_);
    used = dbuf_.Used();
    if (!newBytes_ || !triggers_.LengthReached(used)) return false;
    newBytes_ = false;
  }
  Notify(TTriggerKind::Avail, 0, static_cast<std::uint32_t>(used));
  return true;
}

bool TApdBaseDispatcher::EvaluateTimers() {
  bool any = false;
  while (!stopDispatch_) {
    std::uint16_t fired;
    {
      mq::AnnotatedMutex::Lock lock(tablesMu_);
      fired = triggers_.TakeExpiredTimer(loop_.nowMs());
    }
    if (fired == 0) break;
    Notify(TTriggerKind::Timer, fired, fired);
    any = true;
  }
  return any;
}

void TApdBaseDispatcher::Notify(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum) {
  TriggerTable::HandlerList snapshot;
  TriggerHandler window;
  {
    mq::AnnotatedMutex::Lock lock(tablesMu_);
    snapshot = triggers_.Handlers();
    window = triggers_.WindowHandler();
  }
  {
    mq::AnnotatedMutex::Lock lock(dbufMu_);
    inNotify_ = true;
    maxTaken_ = 0;
  }
  std::optional<InsideGuard> inside;
  if (!threaded_) inside.emplace(*this);
  auto callHandler = [&](const TriggerHandler& fn, bool synchronised) {
    {
      mq::AnnotatedMutex::Lock lock(dbufMu_);
      handlerTaken_ = 0;
    }
    if (synchronised) {
      RunOnLoop([&] { fn(kind, handle, datum); });
    } else {
      try {
        fn(kind, handle, datum);
      } catch (...) {
        ReportError(std::current_exception());
      }
    }
    mq::AnnotatedMutex::Lock lock(dbufMu_);
    maxTaken_ = std::max(maxTaken_, handlerTaken_);
  };
  // A closing port wants no further calls; an abandoned dispatcher thread
  // must not reach its handlers at all.
  for (const auto& entry : snapshot) {
    if (entry->removed || abandoned_) continue;
    callHandler(entry->fn, entry->synchronised);
  }
  if (window && !abandoned_ && !stopDispatch_) callHandler(window, false);
  mq::AnnotatedMutex::Lock lock(dbufMu_);
  dbuf_.Consume(maxTaken_);
  inNotify_ = false;
  if (flushPending_) {
    flushPending_ = false;
    dbuf_.Clear();
    newBytes_ = false;
  }
}

// ---------------------------------------------------------------- passes

void TApdBaseDispatcher::Pass() {
  for (;;) {
    if (stopDispatch_) return;
    MoveQueued();
    bool any = EvaluateStatus();
    any = EvaluateLength() || any;
    any = EvaluateTimers() || any;
    if (!any) return;
  }
}

void TApdBaseDispatcher::DispatchLoop() {
  bool watchDevice = true;
  for (;;) {
    const auto deadline = NextTimerDeadline();
    bool work;
    {
      mq::AnnotatedMutex::Lock lock(inMu_);
      if (stopDispatch_) return;
      work = std::exchange(wake_, false);
      dispatcherWaiting_ = !work;
    }
    if (!work) {
      int timeout = -1;
      // +1: never wake before the tick has turned.
      if (deadline) timeout = static_cast<int>(std::clamp<std::int64_t>(*deadline - loop_.nowMs() + 1, 1, 1 << 30));
      const auto r = device_->WaitDispatch(watchDevice && !failed_, timeout);
      {
        mq::AnnotatedMutex::Lock lock(inMu_);
        dispatcherWaiting_ = false;
        if (stopDispatch_) return;
        wake_ = false;
      }
      if (r == SerialDevice::WaitResult::Ready) ReadAvailableThreaded();
      if (r == SerialDevice::WaitResult::HungUp || r == SerialDevice::WaitResult::Failed) {
        // Take what is left, then report the end once; never watch a dead
        // line again (it would wake this thread for ever).
        ReadAvailableThreaded();
        if (!failed_) Fail(r == SerialDevice::WaitResult::HungUp ? ENODEV : EIO);
        watchDevice = false;
      }
    }
    Pass();
  }
}

void TApdBaseDispatcher::ReadAvailableThreaded() {
  mq::AnnotatedMutex::Lock readLock(readMu_);  // the reader may be draining: keep the order
  DrainDevice();
}

void TApdBaseDispatcher::RequestPass() {
  if (threaded_) {
    bool waiting;
    {
      mq::AnnotatedMutex::Lock lock(inMu_);
      wake_ = true;
      waiting = dispatcherWaiting_;
    }
    if (waiting) device_->WakeDispatcher();
    return;
  }
  if (!workersStarted_ || stopDispatch_) return;
  if (passActive_) {
    repass_ = true;
    return;
  }
  if (passPosted_) return;
  passPosted_ = true;
  std::weak_ptr<TApdBaseDispatcher> weak = weak_from_this();
  loop_.post([weak] {
    if (auto self = weak.lock()) self->DirectPass();
  });
}

void TApdBaseDispatcher::DirectPass() {
  passPosted_ = false;
  if (stopDispatch_) return;
  if (passActive_) {
    repass_ = true;
    return;
  }
  auto keepAlive = shared_from_this();
  passActive_ = true;
  do {
    repass_ = false;
    ReadAvailableDirect();
    Pass();
  } while (repass_ && !stopDispatch_);
  passActive_ = false;
  ScheduleDirectTimer();
}

void TApdBaseDispatcher::ScheduleDirectTimer() {
  if (stopDispatch_) return;
  const auto deadline = NextTimerDeadline();
  if (directTimer_ != 0 && deadline && *deadline == directTimerDue_) return;
  if (directTimer_ != 0) {
    loop_.cancelTimer(directTimer_);
    directTimer_ = 0;
  }
  if (!deadline) return;
  directTimerDue_ = *deadline;
  std::weak_ptr<TApdBaseDispatcher> weak = weak_from_this();
  directTimer_ = loop_.addTimer(*deadline, [weak] {
    if (auto self = weak.lock()) {
      self->directTimer_ = 0;
      self->DirectPass();
    }
  });
}

// ---------------------------------------------------------------- hand-over

void TApdBaseDispatcher::RunOnLoop(const std::function<void()>& fn) {
  if (abandoned_) return;
  EnterAway();
  loop_.runAndWait([this, &fn] {
    // Checked on the loop thread, which is the thread that frees the port.
    if (abandoned_) return;
    InsideGuard inside(*this);
    fn();
  });
  LeaveAway();
}

bool TApdBaseDispatcher::SendToLoop(const std::function<void()>& fn, int timeoutMs) {
  if (abandoned_) return false;
  EnterAway();
  const bool ran = loop_.sendWithTimeout(
      [this, &fn] {
        if (abandoned_) return;
        InsideGuard inside(*this);
        fn();
      },
      timeoutMs);
  LeaveAway();
  return ran;
}

}  // namespace mq::serial
