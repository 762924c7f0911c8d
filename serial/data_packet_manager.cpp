#include "serial/data_packet_manager.h"

#include <algorithm>
#include <exception>

namespace mq::serial {

namespace {
constexpr std::size_t kGrowStep = 8192;
}

std::shared_ptr<TApdDataPacketManager> TApdDataPacketManager::ForPort(TApdComPort& port) {
  if (auto existing = port.PacketManagerSlot().lock()) return existing;
  auto manager = std::make_shared<TApdDataPacketManager>(port);
  std::weak_ptr<TApdDataPacketManager> weak = manager;
  manager->userHandle_ = port.RegisterUserCallbackEx([weak](TApdComPort&, TApdCallbackType type) {
    if (auto m = weak.lock()) m->OnPortEvent(type);
  });
  port.PacketManagerSlot() = manager;
  if (port.Open()) manager->Activate();
  return manager;
}

TApdDataPacketManager::TApdDataPacketManager(TApdComPort& port) : port_(&port), loop_(&port.Loop()) {}

TApdDataPacketManager::~TApdDataPacketManager() = default;

TApdComPort* TApdDataPacketManager::Port() const {
  mq::AnnotatedMutex::Lock lock(mu_);
  return port_;
}

std::size_t TApdDataPacketManager::CollectedBytes() const {
  mq::AnnotatedMutex::Lock lock(mu_);
  return buf_.size();
}

bool TApdDataPacketManager::Active() const {
  mq::AnnotatedMutex::Lock lock(mu_);
  return active_;
}

void TApdDataPacketManager::PortDestroyed() {
  mq::AnnotatedMutex::Lock lock(mu_);
  DeactivateLocked();
  port_ = nullptr;
}

// ---------------------------------------------------------------- framers

void TApdDataPacketManager::Attach(TApdDataPacket& framer) {
  mq::AnnotatedMutex::Lock lock(mu_);
  framers_.push_back(&framer);
  if (active_ && framer.enabled_ && !inEvent_) RestartLocked(framer);
}

void TApdDataPacketManager::Detach(TApdDataPacket& framer) {
  bool last;
  {
    mq::AnnotatedMutex::Lock lock(mu_);
    if (capture_ == &framer) ReleaseCapture();
    if (eventFramer_ == &framer) eventFramerGone_ = true;
    std::erase(framers_, &framer);
    framer.mode_ = TPacketMode::dpIdle;
    ++epoch_;
    last = framers_.empty();
  }
  if (last) Shutdown();
}

void TApdDataPacketManager::Shutdown() {
  TApdComPort* port;
  {
    mq::AnnotatedMutex::Lock lock(mu_);
    DeactivateLocked();
    port = port_;
    port_ = nullptr;
  }
  if (!port) return;
  port->DeregisterUserCallbackEx(userHandle_);
  if (port->PacketManagerSlot().lock().get() == this) port->PacketManagerSlot().reset();
}

// ---------------------------------------------------------------- port events

void TApdDataPacketManager::OnPortEvent(TApdCallbackType type) {
  if (type == TApdCallbackType::ctOpen) {
    Activate();
    return;
  }
  mq::AnnotatedMutex::Lock lock(mu_);
  DeactivateLocked();
}

void TApdDataPacketManager::Activate() {
  mq::AnnotatedMutex::Lock lock(mu_);
  if (active_ || !port_ || !port_->HasDispatcher()) return;
  dispatcher_ = &port_->Dispatcher();
  timerHandle_ = dispatcher_->AddTimerTrigger();
  std::weak_ptr<TApdDataPacketManager> weak = weak_from_this();
  handlerId_ = dispatcher_->RegisterEventTriggerHandler(
      [weak](TTriggerKind kind, std::uint16_t handle, std::uint32_t datum) {
        if (auto m = weak.lock()) m->OnTrigger(kind, handle, datum);
      });
  active_ = true;
  ++epoch_;
  inEvent_ = false;
  // Framers enabled while the port was closed start now.
  const auto framers = framers_;
  for (TApdDataPacket* f : framers)
    if (f->enabled_) RestartLocked(*f);
}

void TApdDataPacketManager::DeactivateLocked() {
  if (!active_) return;
  for (TApdDataPacket* f : framers_) {
    f->StopMatching();
    f->enablePending_ = false;
  }
  ReleaseCapture();
  dispatcher_->RemoveTrigger(timerHandle_);
  dispatcher_->DeregisterEventTriggerHandler(handlerId_);
  dispatcher_ = nullptr;
  timerHandle_ = 0;
  handlerId_ = 0;
  active_ = false;
  FreeBuffer();
  ++epoch_;
}

// ---------------------------------------------------------------- enabling and capture

void TApdDataPacketManager::EnableFramerLocked(TApdDataPacket& framer) {
  if (framer.enabled_) return;
  if (!active_) {
    // Port closed: matching starts when it opens.
    framer.enabled_ = true;
    framer.ResetMatch();
    return;
  }
  if (inEvent_) {
    framer.enabled_ = true;
    framer.enablePending_ = true;
    return;
  }
  framer.StartLocked();  // throws EInvalidProperty; the framer stays disabled
  framer.enabled_ = true;
}

void TApdDataPacketManager::RestartLocked(TApdDataPacket& framer) {
  framer.StopMatching();
  try {
    framer.StartLocked();
  } catch (...) {
    // Settings changed to contradict each other while it was enabled.
    framer.DisableLocked();
    Report(std::current_exception());
  }
}

void TApdDataPacketManager::TakeCapture(TApdDataPacket& framer) {
  capture_ = &framer;
  framer.mode_ = TPacketMode::dpCollecting;
  framer.willCollect_ = false;
  if (dispatcher_ && framer.timeOut_ > 0) dispatcher_->SetTimerTrigger(timerHandle_, framer.timeOut_, true);
  // Every other enabled framer starts over (a partial match of theirs is gone).
  const auto framers = framers_;
  for (TApdDataPacket* g : framers)
    if (g != &framer && g->enabled_ && !g->enablePending_) RestartLocked(*g);
}

void TApdDataPacketManager::ReleaseCapture() {
  if (!capture_) return;
  capture_ = nullptr;
  if (dispatcher_) dispatcher_->SetTimerTrigger(timerHandle_, 0, false);
}

// ---------------------------------------------------------------- receiving

void TApdDataPacketManager::OnTrigger(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum) {
  mq::AnnotatedMutex::Lock lock(mu_);
  if (!active_) return;
  if (kind == TTriggerKind::Timer) {
    if (handle == timerHandle_ && capture_ && !inEvent_) TimedOut();
    return;
  }
  if (kind != TTriggerKind::Avail || datum == 0) return;
  const std::size_t old = buf_.size();
  const std::size_t n = datum;
  if (old + n >= buf_.capacity()) {
    std::size_t cap = buf_.capacity();
    while (old + n >= cap) cap += kGrowStep;
    buf_.reserve(cap);
  }
  buf_.resize(old + n);
  if (dispatcher_->GetBlock(buf_.data() + old, n) < 0) {
    buf_.resize(old);
    return;
  }
  // During an event the running offering reaches the new bytes itself.
  if (inEvent_) return;
  Offer(static_cast<std::ptrdiff_t>(old));
}

void TApdDataPacketManager::Offer(std::ptrdiff_t from) {
  pos_ = from;
  while (active_ && pos_ < static_cast<std::ptrdiff_t>(buf_.size())) {
    const auto b = static_cast<unsigned char>(buf_[static_cast<std::size_t>(pos_)]);
    if (capture_) {
      TApdDataPacket& f = *capture_;
      const auto r = f.Match(b, pos_);
      if (r.complete && !Deliver(f, r.begin, r.length, r.byEndString)) return;
    } else {
      for (std::size_t i = 0; i < framers_.size(); ++i) {
        TApdDataPacket& f = *framers_[i];
        const auto r = f.Match(b, pos_);
        if (r.complete) {
          // Bytes in front of this one are gone: go on with the next byte.
          if (!Deliver(f, r.begin, r.length, r.byEndString)) return;
          break;
        }
        if (capture_) break;  // the later framers do not see this byte
      }
    }
    ++pos_;
  }
  if (!active_ || capture_) return;
  const bool begun = std::any_of(framers_.begin(), framers_.end(),
                                 [](const TApdDataPacket* f) { return f->enabled_ && f->PacketBegun(); });
  if (!begun) FreeBuffer();  // bytes that start no packet are dropped
}

bool TApdDataPacketManager::Deliver(TApdDataPacket& framer, std::ptrdiff_t begin, std::size_t length,
                                    bool byEndString) {
  EnterEvent();
  framer.enabled_ = false;
  framer.enablePending_ = false;
  std::string data = buf_.substr(static_cast<std::size_t>(begin), length);
  if (!framer.includeStrings_) {
    if (framer.startCond_ == TPacketStartCond::scString) data.erase(0, std::min(data.size(), framer.start_.size()));
    if (byEndString) data.resize(data.size() - std::min(data.size(), framer.end_.size()));
  }
  auto onPacket = framer.OnPacket;
  auto onString = framer.OnStringPacket;
  const std::uint64_t epoch = epoch_;
  TApdBaseDispatcher* dispatcher = dispatcher_;
  const bool sync = framer.syncEvents_;
  eventFramer_ = &framer;
  eventFramerGone_ = false;
  {
    mq::AnnotatedMutex::Unlocked unlocked(mu_);
    if (onPacket || onString) {
      RunEvent(dispatcher, sync, [&] {
        if (EventFramerGone()) return;
        if (onPacket) onPacket(framer, data.data(), data.size());
        if (EventFramerGone()) return;
        if (onString) onString(framer, data);
      });
    }
  }
  const bool gone = eventFramerGone_;
  eventFramer_ = nullptr;
  if (epoch != epoch_ || gone) {
    // The port closed or a framer left during the event: this offering ends.
    // AutoEnable still applies; with the port closed the framer starts at
    // the next open.
    inEvent_ = false;
    if (!gone && framer.autoEnable_ && !framer.enabled_) {
      framer.enabled_ = true;
      if (active_) RestartLocked(framer);
    }
    return false;
  }
  const std::size_t removed = std::min(buf_.size(), static_cast<std::size_t>(begin) + length);
  buf_.erase(0, removed);
  pos_ -= static_cast<std::ptrdiff_t>(removed);
  if (pos_ < -1) pos_ = -1;
  if (buf_.empty()) FreeBuffer();
  if (framer.autoEnable_) {
    framer.enabled_ = true;
    framer.enablePending_ = true;
  }
  LeaveEvent();
  return true;
}

void TApdDataPacketManager::TimedOut() {
  TApdDataPacket& framer = *capture_;
  EnterEvent();
  framer.enabled_ = false;
  framer.enablePending_ = false;
  auto onTimeout = framer.OnTimeout;
  if (onTimeout) {
    const std::uint64_t epoch = epoch_;
    TApdBaseDispatcher* dispatcher = dispatcher_;
    const bool sync = framer.syncEvents_;
    eventFramer_ = &framer;
    eventFramerGone_ = false;
    {
      mq::AnnotatedMutex::Unlocked unlocked(mu_);
      RunEvent(dispatcher, sync, [&] {
        if (!EventFramerGone()) onTimeout(framer);
      });
    }
    const bool gone = eventFramerGone_;
    eventFramer_ = nullptr;
    if (epoch != epoch_ || gone) {
      inEvent_ = false;
      return;
    }
  }
  if (framer.flushOnTimeout_) FreeBuffer();
  LeaveEvent();
}

bool TApdDataPacketManager::EventFramerGone() const {
  mq::AnnotatedMutex::Lock lock(mu_);
  return eventFramerGone_;
}

void TApdDataPacketManager::EnterEvent() {
  inEvent_ = true;
  for (TApdDataPacket* f : framers_)
    if (f->enabled_) f->StopMatching();
}

void TApdDataPacketManager::LeaveEvent() {
  inEvent_ = false;
  const auto framers = framers_;
  for (TApdDataPacket* f : framers) {
    if (!f->enabled_) continue;
    f->enablePending_ = false;
    RestartLocked(*f);
  }
}

void TApdDataPacketManager::FreeBuffer() {
  buf_ = std::string();
  pos_ = -1;
}

void TApdDataPacketManager::RunEvent(TApdBaseDispatcher* dispatcher, bool sync, const std::function<void()>& fn) {
  // The dispatcher lives until its thread has been joined, which waits for us.
  if (sync && dispatcher && dispatcher->HasDispatcherThread()) {
    dispatcher->RunOnLoop(fn);
    return;
  }
  try {
    fn();
  } catch (...) {
    Report(std::current_exception());
  }
}

void TApdDataPacketManager::Report(std::exception_ptr error) {
  // Always posted, also on the loop thread: the report may open a dialog with
  // its own event loop, which must not run inside a packet event or while
  // the manager's lock is held.
  mq::Loop* loop = loop_;
  loop_->post([loop, error] { loop->reportError(error); });
}

}  // namespace mq::serial
