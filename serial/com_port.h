// TApdComPort: the serial port the pad link owns. It selects a port by COM
// number, opens and closes it (state psClosed -> psOpen -> psShuttingDown ->
// psClosed), writes byte strings (PutString), flushes input, tells its users
// (the packet-framer manager, the light controller) when it opens and
// closes, and raises its notification events OnTriggerAvail/OnTriggerTimer/
// OnTriggerStatus on the loop thread. While open it owns one dispatcher
// (valid only while open) that does the receiving, triggers and timers.
//
// Threading: every member belongs to the loop thread. The dispatcher's own
// threads reach the loop thread only through run-and-wait and a send that
// waits at most 3000 ms; closing serves those while it joins the threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loop/loop.h"
#include "serial/base_dispatcher.h"
#include "serial/serial_platform.h"
#include "serial/serial_types.h"

namespace mq::serial {

class TApdDataPacketManager;

class TApdComPort {
 public:
  using UserCallbackEx = std::function<void(TApdComPort& port, TApdCallbackType type)>;
  using UserCallback = std::function<void(bool opening)>;
  using UserHandle = std::uint64_t;
  using TriggerAvailEvent = std::function<void(TApdComPort& port, std::uint16_t count)>;
  using TriggerHandleEvent = std::function<void(TApdComPort& port, std::uint16_t handle)>;

  TApdComPort(mq::Loop& loop, std::shared_ptr<SerialPlatform> platform);
  // Destroying an open port closes it first.
  ~TApdComPort();
  TApdComPort(const TApdComPort&) = delete;
  TApdComPort& operator=(const TApdComPort&) = delete;

  // ---- Port selection and state ----
  std::uint16_t ComNumber() const { return comNumber_; }
  // Same value: nothing. Open: close, take the number, open again (an open
  // error is raised to the caller and the port stays closed).
  void SetComNumber(std::uint16_t number);
  bool Open() const { return state_ == TPortState::psOpen; }
  // true: open (ENoPortSelected, EBadId, EAlreadyOpen, EInOutError, ...;
  // the port is left closed). false: close. Same value: nothing.
  void SetOpen(bool open);
  TPortState State() const { return state_; }

  // ---- Line settings (applied at the next open) ----
  std::uint32_t Baud() const { return line_.baud; }
  void SetBaud(std::uint32_t v) { line_.baud = v; }
  TParity Parity() const { return line_.parity; }
  void SetParity(TParity v) { line_.parity = v; }
  std::uint16_t DataBits() const { return line_.dataBits; }
  void SetDataBits(std::uint16_t v) { line_.dataBits = v; }
  std::uint16_t StopBits() const { return line_.stopBits; }
  void SetStopBits(std::uint16_t v) { line_.stopBits = v; }
  THWFlowOptionSet HWFlowOptions() const { return line_.hwFlow; }
  void SetHWFlowOptions(THWFlowOptionSet v) { line_.hwFlow = v; }
  TSWFlowOptions SWFlowOptions() const { return line_.swFlow; }
  void SetSWFlowOptions(TSWFlowOptions v) { line_.swFlow = v; }
  std::uint8_t XOnChar() const { return line_.xonChar; }
  void SetXOnChar(std::uint8_t v) { line_.xonChar = v; }
  std::uint8_t XOffChar() const { return line_.xoffChar; }
  void SetXOffChar(std::uint8_t v) { line_.xoffChar = v; }
  bool DTR() const { return line_.dtr; }
  void SetDTR(bool v);
  bool RTS() const { return line_.rts; }
  void SetRTS(bool v);
  std::uint16_t InSize() const { return inSize_; }
  void SetInSize(std::uint16_t v) { inSize_ = v; }
  std::uint16_t OutSize() const { return outSize_; }
  void SetOutSize(std::uint16_t v) { outSize_ = v; }
  std::uint16_t TriggerLength() const { return triggerLength_; }
  void SetTriggerLength(std::uint16_t v);
  // This layer never shows a port dialog: with ComNumber 0 opening raises
  // ENoPortSelected whatever PromptForPort says.
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool v) { promptForPort_ = v; }
  // With AutoOpen, PutString and FlushInBuffer open a closed port first.
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool v) { autoOpen_ = v; }

  // ---- Writing and flushing ----
  // Appends bytes to the output ring and returns; the writer sends them.
  // ECommNotOpen when closed, EOutputBufferTooSmall when the ring has fewer
  // free bytes (nothing written), the worker failure (EInOutError) after the
  // workers stopped. Empty or shutting down: nothing. Errors name the port.
  void PutString(std::string_view bytes);
  // Discards input not yet handed to the consumers. ECommNotOpen when closed.
  void FlushInBuffer();
  std::size_t OutBuffUsed() const;
  std::size_t InBuffUsed() const;

  // ---- Port users ----
  // Told ctOpen after an open, ctClosing when a close begins, ctClosed when
  // it has ended; most recently registered first.
  UserHandle RegisterUserCallbackEx(UserCallbackEx callback);
  void DeregisterUserCallbackEx(UserHandle handle);
  // The older form: true for ctOpen, false for ctClosed (no ctClosing).
  UserHandle RegisterUserCallback(UserCallback callback);
  void DeregisterUserCallback(UserHandle handle);

  // ---- Dispatcher (valid only while open; ECommNotOpen otherwise) ----
  TApdBaseDispatcher& Dispatcher();
  bool HasDispatcher() const { return dispatcher_ != nullptr; }

  // ---- Notification events, raised on the loop thread ----
  // Notifications reach the port only while at least one is assigned.
  const TriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
  void SetOnTriggerAvail(TriggerAvailEvent handler);
  const TriggerHandleEvent& OnTriggerTimer() const { return onTriggerTimer_; }
  void SetOnTriggerTimer(TriggerHandleEvent handler);
  const TriggerHandleEvent& OnTriggerStatus() const { return onTriggerStatus_; }
  void SetOnTriggerStatus(TriggerHandleEvent handler);

  // Raised on the loop thread once when the worker threads failed (line hung
  // up, device gone, read or write error), before the failure (EInOutError,
  // "COM<n>: <system text>") goes to the loop's error handler. The port
  // still reads as open until it is closed; writes raise the failure.
  using PortFailureEvent = std::function<void(TApdComPort& port)>;
  void SetOnPortFailure(PortFailureEvent handler) { onPortFailure_ = std::move(handler); }

  mq::Loop& Loop() const { return loop_; }
  // Expires when the port is destroyed (for users that may outlive it).
  std::weak_ptr<const void> Lifetime() const { return alive_; }
  SerialPlatform& Platform() const { return *platform_; }

  // The framers' packet manager of this port (one per port; see
  // TApdDataPacketManager::ForPort).
  std::weak_ptr<TApdDataPacketManager>& PacketManagerSlot() { return packetManager_; }

 private:
  struct User {
    UserHandle handle;
    UserCallbackEx ex;
    UserCallback old;
  };
  struct AliveToken {
    bool alive = true;
  };
  // (alive_ below also backs Lifetime().)

  void DoOpen();
  void DoClose();
  void FinishCloseWhenOutside(const std::shared_ptr<TApdBaseDispatcher>& dispatcher);
  // now: do not wait for the loop thread to leave the notifications (the
  // port is being destroyed).
  void FinishClose(std::shared_ptr<TApdBaseDispatcher> dispatcher, bool now = false);
  void WorkerFailed(int osError, const std::string& text);
  // Throws error naming this port.
  template <class E>
  [[noreturn]] void Raise(E error) const;
  void NotifyUsers(TApdCallbackType type);
  void UpdateNotifyWanted();
  void OnWindowNotification(TApdBaseDispatcher& dispatcher, TTriggerKind kind, std::uint16_t handle,
                            std::uint32_t datum);

  mq::Loop& loop_;
  std::shared_ptr<SerialPlatform> platform_;
  std::uint16_t comNumber_ = 0;
  TPortState state_ = TPortState::psClosed;
  bool openRequested_ = false;
  LineSettings line_;
  std::uint16_t inSize_ = 4096;
  std::uint16_t outSize_ = 4096;
  std::uint16_t triggerLength_ = 1;
  bool promptForPort_ = true;
  bool autoOpen_ = true;

  std::shared_ptr<TApdBaseDispatcher> dispatcher_;
  std::vector<User> users_;
  UserHandle nextUser_ = 1;

  TriggerAvailEvent onTriggerAvail_;
  TriggerHandleEvent onTriggerTimer_;
  TriggerHandleEvent onTriggerStatus_;
  PortFailureEvent onPortFailure_;
  std::shared_ptr<std::atomic<bool>> notifyWanted_;
  std::shared_ptr<AliveToken> alive_;

  std::weak_ptr<TApdDataPacketManager> packetManager_;
};

}  // namespace mq::serial
