// TApdDataPacketManager: the collector shared by all framers of one port.
// It registers as a port user; while the port is open it takes every
// received byte (data-available notifications of the port's dispatcher)
// into one collection buffer and offers each byte once to the framers, in
// the order they were attached: only to the capture holder while one
// collects. It delivers complete packets through the run-and-wait hand-over,
// removes the packet and every byte before it from the buffer, re-offers the
// bytes behind it, runs the capture's time-out on one timer trigger of the
// port, and restarts the framers after every event.
//
// One manager per port, created when the first framer is attached (ForPort)
// and shut down when the last one is detached.
//
// Threading: one lock per manager guards the manager and the state of its
// framers. It is held while bytes are offered (dispatcher thread) and while
// a framer is changed (loop thread), and released around every hand-over to
// the loop thread, so a packet handler may change any framer; changes that
// arrive during an event take effect when it ends. The manager's own state
// is checked against the lock at compile time (MQ_GUARDED_BY); the framers'
// state is guarded by it too, by convention (see data_packet.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/base_dispatcher.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "util/annotated_mutex.h"
#include "util/thread_annotations.h"

namespace mq::serial {

class TApdDataPacketManager : public std::enable_shared_from_this<TApdDataPacketManager> {
 public:
  // The manager of port, created on first use.
  static std::shared_ptr<TApdDataPacketManager> ForPort(TApdComPort& port);

  explicit TApdDataPacketManager(TApdComPort& port);
  ~TApdDataPacketManager();
  TApdDataPacketManager(const TApdDataPacketManager&) = delete;
  TApdDataPacketManager& operator=(const TApdDataPacketManager&) = delete;

  TApdComPort* Port() const;
  // The port is being destroyed: forget it.
  void PortDestroyed();

  // Inspection for tests: bytes in the collection buffer; whether the
  // receive handler is registered (the port is open).
  std::size_t CollectedBytes() const;
  bool Active() const;

 private:
  friend class TApdDataPacket;

  void Attach(TApdDataPacket& framer) MQ_EXCLUDES(mu_);
  void Detach(TApdDataPacket& framer) MQ_EXCLUDES(mu_);
  void Shutdown() MQ_EXCLUDES(mu_);

  void OnPortEvent(TApdCallbackType type) MQ_EXCLUDES(mu_);
  void Activate() MQ_EXCLUDES(mu_);
  void DeactivateLocked() MQ_REQUIRES(mu_);
  void OnTrigger(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum) MQ_EXCLUDES(mu_);

  void EnableFramerLocked(TApdDataPacket& framer) MQ_REQUIRES(mu_);
  void RestartLocked(TApdDataPacket& framer) MQ_REQUIRES(mu_);
  void TakeCapture(TApdDataPacket& framer) MQ_REQUIRES(mu_);
  void ReleaseCapture() MQ_REQUIRES(mu_);
  // Offer, Deliver and TimedOut release the lock around each event they
  // run and hold it again when they return.
  void Offer(std::ptrdiff_t from) MQ_REQUIRES(mu_);
  bool Deliver(TApdDataPacket& framer, std::ptrdiff_t begin, std::size_t length, bool byEndString) MQ_REQUIRES(mu_);
  void TimedOut() MQ_REQUIRES(mu_);
  bool EventFramerGone() const MQ_EXCLUDES(mu_);
  void EnterEvent() MQ_REQUIRES(mu_);
  void LeaveEvent() MQ_REQUIRES(mu_);
  void FreeBuffer() MQ_REQUIRES(mu_);
  // Runs a framer event on the loop thread (run-and-wait) or directly.
  void RunEvent(TApdBaseDispatcher* dispatcher, bool sync, const std::function<void()>& fn) MQ_EXCLUDES(mu_);
  void Report(std::exception_ptr error);

  mutable mq::AnnotatedMutex mu_;
  TApdComPort* port_ MQ_GUARDED_BY(mu_);
  mq::Loop* const loop_;
  TApdComPort::UserHandle userHandle_ = 0;  // set once by ForPort, before any framer is attached
  std::vector<TApdDataPacket*> framers_ MQ_GUARDED_BY(mu_);

  TApdBaseDispatcher* dispatcher_ MQ_GUARDED_BY(mu_) = nullptr;  // while active
  TApdBaseDispatcher::HandlerId handlerId_ MQ_GUARDED_BY(mu_) = 0;
  std::uint16_t timerHandle_ MQ_GUARDED_BY(mu_) = 0;
  bool active_ MQ_GUARDED_BY(mu_) = false;

  std::string buf_ MQ_GUARDED_BY(mu_);  // the collection buffer, grown in steps of 8192 bytes
  std::ptrdiff_t pos_ MQ_GUARDED_BY(mu_) = 0;
  TApdDataPacket* capture_ MQ_GUARDED_BY(mu_) = nullptr;
  bool inEvent_ MQ_GUARDED_BY(mu_) = false;
  // The framer whose event is running on the loop thread, and whether it
  // was detached (destroyed) meanwhile: its handler is then not called and
  // it is not touched again.
  TApdDataPacket* eventFramer_ MQ_GUARDED_BY(mu_) = nullptr;
  bool eventFramerGone_ MQ_GUARDED_BY(mu_) = false;
  std::uint64_t epoch_ MQ_GUARDED_BY(mu_) = 0;  // changes when the port closes or a framer leaves
};

}  // namespace mq::serial
