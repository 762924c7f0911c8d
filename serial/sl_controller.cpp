#include "serial/sl_controller.h"

#include "serial/apd_exception.h"

namespace mq::serial {

StatusLight::~StatusLight() = default;

TApdSLController::~TApdSLController() {
  if (!PortAlive()) return;
  if (active_) Stop(port_->HasDispatcher());
  port_->DeregisterUserCallbackEx(user_);
}

void TApdSLController::SetComPort(TApdComPort* port) {
  if (port == port_ && PortAlive()) return;
  if (PortAlive()) {
    if (active_) Stop(port_->HasDispatcher());
    monitoring_ = pending_ = false;
    port_->DeregisterUserCallbackEx(user_);
  }
  monitoring_ = pending_ = active_ = false;
  port_ = port;
  portLifetime_ = port ? port->Lifetime() : std::weak_ptr<const void>();
  if (port_) user_ = port_->RegisterUserCallbackEx([this](TApdComPort&, TApdCallbackType t) { PortEvent(t); });
}

void TApdSLController::SetMonitoring(bool on) {
  if (!PortAlive()) throw EPortNotAssigned();
  if (on == monitoring_) return;
  if (on) {
    if (!port_->Open()) {
      pending_ = true;  // starts when the port opens
      return;
    }
    Start();
  } else {
    pending_ = false;
    if (active_) Stop(port_->HasDispatcher());
    monitoring_ = false;
  }
}

void TApdSLController::PortEvent(TApdCallbackType type) {
  switch (type) {
    case TApdCallbackType::ctOpen:
      if (pending_ && !active_) {
        pending_ = false;
        Start();
      }
      break;
    case TApdCallbackType::ctClosing:
    case TApdCallbackType::ctClosed:
      if (monitoring_) {
        if (active_) Stop(port_->HasDispatcher());
        monitoring_ = false;
        pending_ = true;
      }
      break;
  }
}

void TApdSLController::Start() {
  TApdBaseDispatcher& d = port_->Dispatcher();
  prevAvail_ = port_->OnTriggerAvail();
  prevStatus_ = port_->OnTriggerStatus();
  prevTimer_ = port_->OnTriggerTimer();
  port_->SetOnTriggerAvail([this](TApdComPort& p, std::uint16_t n) { OnAvail(p, n); });
  port_->SetOnTriggerStatus([this](TApdComPort& p, std::uint16_t h) { OnStatus(p, h); });
  port_->SetOnTriggerTimer([this](TApdComPort& p, std::uint16_t h) { OnTimer(p, h); });
  rxOff_ = d.AddTimerTrigger();
  if (Lights.TXDLight) {
    outSent_ = d.AddStatusTrigger(TStatusKind::stOutSent);
    d.SetStatusTrigger(outSent_, 0, true);
    txOff_ = d.AddTimerTrigger();
  }
  active_ = true;
  monitoring_ = true;
  AllUnlit();
}

void TApdSLController::Stop(bool dispatcherAlive) {
  port_->SetOnTriggerAvail(std::move(prevAvail_));
  port_->SetOnTriggerStatus(std::move(prevStatus_));
  port_->SetOnTriggerTimer(std::move(prevTimer_));
  prevAvail_ = nullptr;
  prevStatus_ = nullptr;
  prevTimer_ = nullptr;
  if (dispatcherAlive) {
    TApdBaseDispatcher& d = port_->Dispatcher();
    for (std::uint16_t h : {rxOff_, txOff_, outSent_})
      if (h != 0) d.RemoveTrigger(h);
  }
  rxOff_ = txOff_ = outSent_ = 0;
  active_ = false;
  AllUnlit();
}

void TApdSLController::AllUnlit() {
  for (StatusLight* l :
       {Lights.CTSLight, Lights.DSRLight, Lights.DCDLight, Lights.RINGLight, Lights.ERRORLight, Lights.BREAKLight})
    if (l) l->SetLit(false);
  rxLit_ = txLit_ = false;
  if (Lights.RXDLight) Lights.RXDLight->SetLit(false);
  if (Lights.TXDLight) Lights.TXDLight->SetLit(false);
}

void TApdSLController::SetRX(bool lit) {
  rxLit_ = lit;
  if (Lights.RXDLight) Lights.RXDLight->SetLit(lit);
}

void TApdSLController::SetTX(bool lit) {
  txLit_ = lit;
  if (Lights.TXDLight) Lights.TXDLight->SetLit(lit);
}

void TApdSLController::OnAvail(TApdComPort& port, std::uint16_t count) {
  if (active_ && Lights.RXDLight && !rxLit_ && port.HasDispatcher()) {
    SetRX(true);
    port.Dispatcher().SetTimerTrigger(rxOff_, RXDOffTimeout, true);
  }
  if (prevAvail_) prevAvail_(port, count);
}

void TApdSLController::OnStatus(TApdComPort& port, std::uint16_t handle) {
  if (active_ && handle == outSent_ && outSent_ != 0 && port.HasDispatcher()) {
    SetTX(true);
    port.Dispatcher().SetTimerTrigger(txOff_, TXDOffTimeout, true);
  }
  if (prevStatus_) prevStatus_(port, handle);
}

void TApdSLController::OnTimer(TApdComPort& port, std::uint16_t handle) {
  if (!port.HasDispatcher()) {
    // A notification that was on its way when the port closed.
  } else if (active_ && handle == rxOff_) {
    if (port.Dispatcher().InBuffUsed() > 0)
      port.Dispatcher().SetTimerTrigger(rxOff_, 1, true);
    else
      SetRX(false);
  } else if (active_ && handle == txOff_ && txOff_ != 0) {
    if (port.Dispatcher().OutBuffUsed() > 0) {
      port.Dispatcher().SetTimerTrigger(txOff_, 1, true);
    } else {
      SetTX(false);
      port.Dispatcher().SetStatusTrigger(outSent_, 0, true);
    }
  }
  if (prevTimer_) prevTimer_(port, handle);
}

}  // namespace mq::serial
