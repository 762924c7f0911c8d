// TApdSLController: the RX/TX light logic. While Monitoring is on it takes
// over the port's OnTriggerAvail/OnTriggerStatus/OnTriggerTimer (chaining to
// the previous handlers and restoring them afterwards), adds an RX-off timer,
// an output-sent status trigger and a TX-off timer, and lights RXDLight when
// bytes arrive and TXDLight when PutString has written, each for at least
// RXDOffTimeout/TXDOffTimeout ticks and as long as traffic continues.
//
// Monitoring follows the port: switched on while the port is closed it
// starts at the next open; a close switches it off and remembers to switch
// it on again at the next open (switching it off while it is off changes
// nothing, so that wish survives).
//
// Threading: loop thread only (the port raises its events there).
#pragma once

#include <cstdint>

#include "serial/com_port.h"
#include "serial/status_light.h"

namespace mq::serial {

// The light slots; this program fills only TXDLight and RXDLight.
struct TLightSet {
  StatusLight* CTSLight = nullptr;
  StatusLight* DSRLight = nullptr;
  StatusLight* DCDLight = nullptr;
  StatusLight* RINGLight = nullptr;
  StatusLight* TXDLight = nullptr;
  StatusLight* RXDLight = nullptr;
  StatusLight* ERRORLight = nullptr;
  StatusLight* BREAKLight = nullptr;
};

class TApdSLController {
 public:
  TApdSLController() = default;
  // Switches monitoring off and leaves the port's users (a port destroyed
  // first is left alone).
  ~TApdSLController();
  TApdSLController(const TApdSLController&) = delete;
  TApdSLController& operator=(const TApdSLController&) = delete;

  TApdComPort* ComPort() const { return port_; }
  // Binds the controller to a port and registers it as a port user.
  void SetComPort(TApdComPort* port);

  bool Monitoring() const { return monitoring_; }
  // EPortNotAssigned without a port. The same value changes nothing.
  void SetMonitoring(bool on);

  TLightSet Lights;
  std::int32_t RXDOffTimeout = 1;
  std::int32_t TXDOffTimeout = 1;
  std::int32_t ErrorOffTimeout = 36;
  std::int32_t BreakOffTimeout = 36;
  std::int32_t RingOffTimeout = 8;

  // Inspection for tests: the lit state the controller has set.
  bool RXLit() const { return rxLit_; }
  bool TXLit() const { return txLit_; }

 private:
  void PortEvent(TApdCallbackType type);
  void Start();
  void Stop(bool dispatcherAlive);
  void SetRX(bool lit);
  void SetTX(bool lit);
  void AllUnlit();
  void OnAvail(TApdComPort& port, std::uint16_t count);
  void OnStatus(TApdComPort& port, std::uint16_t handle);
  void OnTimer(TApdComPort& port, std::uint16_t handle);

  bool PortAlive() const { return port_ && !portLifetime_.expired(); }

  TApdComPort* port_ = nullptr;
  std::weak_ptr<const void> portLifetime_;
  TApdComPort::UserHandle user_ = 0;
  bool monitoring_ = false;
  bool pending_ = false;
  bool active_ = false;
  bool rxLit_ = false;
  bool txLit_ = false;
  std::uint16_t rxOff_ = 0, txOff_ = 0, outSent_ = 0;
  TApdComPort::TriggerAvailEvent prevAvail_;
  TApdComPort::TriggerHandleEvent prevStatus_;
  TApdComPort::TriggerHandleEvent prevTimer_;
};

}  // namespace mq::serial
