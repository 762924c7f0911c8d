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
// arrive during an event take effect when it ends.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/base_dispatcher.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"

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
  using Lock = std::unique_lock<std::mutex>;

  void Attach(TApdDataPacket& framer);
  void Detach(TApdDataPacket& framer);
  void Shutdown();

  void OnPortEvent(TApdCallbackType type);
  void Activate();
  void DeactivateLocked();
  void OnTrigger(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum);

  // All with the lock held.
  void EnableFramerLocked(TApdDataPacket& framer);
  void RestartLocked(TApdDataPacket& framer);
  void TakeCapture(TApdDataPacket& framer);
  void ReleaseCapture();
  void Offer(std::ptrdiff_t from, Lock& lock);
  bool Deliver(TApdDataPacket& framer, std::ptrdiff_t begin, std::size_t length, bool byEndString,
               Lock& lock);
  void TimedOut(Lock& lock);
  bool EventFramerGone() const;
  void EnterEvent();
  void LeaveEvent();
  void FreeBuffer();
  // Runs a framer event on the loop thread (run-and-wait) or directly.
  void RunEvent(TApdBaseDispatcher* dispatcher, bool sync, const std::function<void()>& fn);
  void Report(std::exception_ptr error);

  mutable std::mutex mu_;
  TApdComPort* port_;
  mq::Loop* loop_;
  TApdComPort::UserHandle userHandle_ = 0;
  std::vector<TApdDataPacket*> framers_;

  TApdBaseDispatcher* dispatcher_ = nullptr;  // while active
  TApdBaseDispatcher::HandlerId handlerId_ = 0;
  std::uint16_t timerHandle_ = 0;
  bool active_ = false;

  std::string buf_;  // the collection buffer, grown in steps of 8192 bytes
  std::ptrdiff_t pos_ = 0;
  TApdDataPacket* capture_ = nullptr;
  bool inEvent_ = false;
  // The framer whose event is running on the loop thread, and whether it
  // was detached (destroyed) meanwhile: its handler is then not called and
  // it is not touched again.
  TApdDataPacket* eventFramer_ = nullptr;
  bool eventFramerGone_ = false;
  std::uint64_t epoch_ = 0;  // changes when the port closes or a framer leaves
};

}  // namespace mq::serial
