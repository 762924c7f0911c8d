#include "serial/com_port.h"

#include <algorithm>
#include <utility>

#include "serial/apd_exception.h"
#include "serial/data_packet_manager.h"

namespace mq::serial {

TApdComPort::TApdComPort(mq::Loop& loop, std::shared_ptr<SerialPlatform> platform)
    : loop_(loop),
      platform_(std::move(platform)),
      notifyWanted_(std::make_shared<std::atomic<bool>>(false)),
      alive_(std::make_shared<AliveToken>()) {}

TApdComPort::~TApdComPort() {
  openRequested_ = false;
  if (state_ == TPortState::psOpen) {
    try {
      DoClose();
    } catch (...) {
      loop_.reportError(std::current_exception());
    }
  }
  // A close still waiting for its second half completes now (its wait for
  // the dispatcher thread is bounded, even from inside a notification).
  if (dispatcher_) FinishClose(dispatcher_, true);
  alive_->alive = false;
  if (auto manager = packetManager_.lock()) manager->PortDestroyed();
}

void TApdComPort::SetComNumber(std::uint16_t number) {
  if (number == comNumber_) return;
  if (state_ == TPortState::psOpen) {
    DoClose();
    comNumber_ = number;
    SetOpen(true);
    return;
  }
  comNumber_ = number;
}

void TApdComPort::SetOpen(bool open) {
  if (open) {
    if (state_ == TPortState::psOpen) return;
    if (state_ == TPortState::psShuttingDown) {
      openRequested_ = true;  // carried out when the close has finished
      return;
    }
    DoOpen();
  } else {
    openRequested_ = false;
    if (state_ != TPortState::psOpen) return;
    DoClose();
  }
}

void TApdComPort::DoOpen() {
  if (comNumber_ == 0) throw ENoPortSelected();
  std::shared_ptr<TApdBaseDispatcher> dispatcher;
  // Every error of an open names the port it was for.
  auto cleanUp = [&] {
    if (dispatcher) {
      dispatcher->StopWorkers();
      dispatcher->JoinDispatcherThread();
    }
    state_ = TPortState::psClosed;
  };
  try {
    auto device = platform_->OpenDevice(comNumber_);
    device->SetupQueues(inSize_, outSize_);
    device->Configure(line_);
    dispatcher = std::make_shared<TApdBaseDispatcher>(loop_, std::move(device), outSize_);
    dispatcher->SetTriggerLength(triggerLength_);
    auto wanted = notifyWanted_;
    TApdBaseDispatcher* d = dispatcher.get();
    dispatcher->SetWindowHandler([this, wanted, d](TTriggerKind kind, std::uint16_t handle, std::uint32_t datum) {
      if (wanted->load()) OnWindowNotification(*d, kind, handle, datum);
    });
    std::weak_ptr<AliveToken> alive = alive_;
    std::weak_ptr<TApdBaseDispatcher> weak = dispatcher;
    dispatcher->SetOnFailure([this, alive, weak](int osError, const std::string& text) {
      auto token = alive.lock();
      auto owner = weak.lock();
      if (token && token->alive && owner && dispatcher_ == owner)
        WorkerFailed(osError, text);
      else
        loop_.reportError(std::make_exception_ptr(EInOutError(osError, text)));
    });
    dispatcher->StartWorkers();
  } catch (EAPDException& e) {
    cleanUp();
    e.SetPort(comNumber_);
    throw;
  } catch (EInOutError& e) {
    cleanUp();
    e.SetPort(comNumber_);
    throw;
  } catch (...) {
    cleanUp();
    throw;
  }
  dispatcher_ = std::move(dispatcher);
  state_ = TPortState::psOpen;
  NotifyUsers(TApdCallbackType::ctOpen);
}

void TApdComPort::DoClose() {
  auto dispatcher = dispatcher_;
  state_ = TPortState::psShuttingDown;
  NotifyUsers(TApdCallbackType::ctClosing);
  dispatcher->FlushOutBuffer();
  dispatcher->FlushInBuffer();
  dispatcher->StopWorkers();
  FinishCloseWhenOutside(dispatcher);
}

void TApdComPort::FinishCloseWhenOutside(const std::shared_ptr<TApdBaseDispatcher>& dispatcher) {
  // Closing from inside one of this port's own notifications (a packet
  // handler, or a nested event loop such as a message box opened inside
  // one): the dispatcher thread waits for that notification to return, so
  // joining it here could never end. The rest of the close runs once the
  // loop thread is out of every notification of this dispatcher.
  std::weak_ptr<AliveToken> alive = alive_;
  std::weak_ptr<TApdBaseDispatcher> weak = dispatcher;
  dispatcher->WhenLoopOutside([this, alive, weak] {
    auto token = alive.lock();
    auto d = weak.lock();
    if (token && token->alive && d && dispatcher_ == d) FinishClose(std::move(d));
  });
}

void TApdComPort::FinishClose(std::shared_ptr<TApdBaseDispatcher> dispatcher, bool now) {
  if (!now && dispatcher->LoopThreadInside()) {
    // Re-entered from inside a notification (a posted close run by a nested
    // loop): wait for the way out again.
    FinishCloseWhenOutside(dispatcher);
    return;
  }
  dispatcher->JoinDispatcherThread();
  dispatcher->SetWindowHandler(nullptr);
  dispatcher->SetOnFailure(nullptr);
  // The last owner goes here, which closes the device.
  dispatcher_.reset();
  dispatcher.reset();
  state_ = TPortState::psClosed;
  NotifyUsers(TApdCallbackType::ctClosed);
  if (openRequested_) {
    openRequested_ = false;
    DoOpen();
  }
}

void TApdComPort::NotifyUsers(TApdCallbackType type) {
  // Users may register or deregister from their callback: work on a copy,
  // most recently registered first, skipping those removed meanwhile.
  const std::vector<User> snapshot = users_;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    const bool stillThere = std::any_of(users_.begin(), users_.end(),
                                        [&](const User& u) { return u.handle == it->handle; });
    if (!stillThere) continue;
    // A failing user must not leave the port half opened or half closed.
    try {
      if (it->ex) {
        it->ex(*this, type);
      } else if (it->old && type != TApdCallbackType::ctClosing) {
        it->old(type == TApdCallbackType::ctOpen);
      }
    } catch (...) {
      loop_.reportError(std::current_exception());
    }
  }
}

void TApdComPort::SetDTR(bool v) {
  line_.dtr = v;
  if (dispatcher_) dispatcher_->Device().SetDTR(v);
}

void TApdComPort::SetRTS(bool v) {
  line_.rts = v;
  if (dispatcher_) dispatcher_->Device().SetRTS(v);
}

void TApdComPort::SetTriggerLength(std::uint16_t v) {
  triggerLength_ = v;
  if (dispatcher_) dispatcher_->SetTriggerLength(v);
}

template <class E>
void TApdComPort::Raise(E error) const {
  error.SetPort(comNumber_);
  throw error;
}

void TApdComPort::PutString(std::string_view bytes) {
  if (state_ == TPortState::psShuttingDown) return;
  if (state_ == TPortState::psClosed) {
    if (!autoOpen_) Raise(ECommNotOpen());
    SetOpen(true);
  }
  if (bytes.empty()) return;
  if (dispatcher_->WorkersFailed()) {
    // Nobody drains the ring any more: refuse with the failure itself.
    const auto [osError, text] = dispatcher_->Failure();
    Raise(EInOutError(osError, text));
  }
  try {
    dispatcher_->PutBlock(bytes);
  } catch (EAPDException& e) {
    e.SetPort(comNumber_);
    throw;
  }
}

void TApdComPort::FlushInBuffer() {
  if (state_ == TPortState::psShuttingDown) return;
  if (state_ == TPortState::psClosed) {
    if (!autoOpen_) Raise(ECommNotOpen());
    SetOpen(true);
  }
  dispatcher_->FlushInBuffer();
}

void TApdComPort::WorkerFailed(int osError, const std::string& text) {
  // The pad link hears of it first, so it can stop what it was doing before
  // the report (a dialog with its own event loop) is shown.
  if (const PortFailureEvent handler = onPortFailure_) {
    try {
      handler(*this);
    } catch (...) {
      loop_.reportError(std::current_exception());
    }
  }
  EInOutError error(osError, text);
  error.SetPort(comNumber_);
  loop_.reportError(std::make_exception_ptr(error));
}

std::size_t TApdComPort::OutBuffUsed() const { return dispatcher_ ? dispatcher_->OutBuffUsed() : 0; }

std::size_t TApdComPort::InBuffUsed() const { return dispatcher_ ? dispatcher_->InBuffUsed() : 0; }

TApdComPort::UserHandle TApdComPort::RegisterUserCallbackEx(UserCallbackEx callback) {
  const UserHandle h = nextUser_++;
  users_.push_back(User{h, std::move(callback), nullptr});
  return h;
}

void TApdComPort::DeregisterUserCallbackEx(UserHandle handle) {
  std::erase_if(users_, [&](const User& u) { return u.handle == handle; });
}

TApdComPort::UserHandle TApdComPort::RegisterUserCallback(UserCallback callback) {
  const UserHandle h = nextUser_++;
  users_.push_back(User{h, nullptr, std::move(callback)});
  return h;
}

void TApdComPort::DeregisterUserCallback(UserHandle handle) { DeregisterUserCallbackEx(handle); }

TApdBaseDispatcher& TApdComPort::Dispatcher() {
  if (!dispatcher_) throw ECommNotOpen();
  return *dispatcher_;
}

void TApdComPort::SetOnTriggerAvail(TriggerAvailEvent handler) {
  onTriggerAvail_ = std::move(handler);
  UpdateNotifyWanted();
}

void TApdComPort::SetOnTriggerTimer(TriggerHandleEvent handler) {
  onTriggerTimer_ = std::move(handler);
  UpdateNotifyWanted();
}

void TApdComPort::SetOnTriggerStatus(TriggerHandleEvent handler) {
  onTriggerStatus_ = std::move(handler);
  UpdateNotifyWanted();
}

void TApdComPort::UpdateNotifyWanted() { notifyWanted_->store(onTriggerAvail_ || onTriggerTimer_ || onTriggerStatus_); }

void TApdComPort::OnWindowNotification(TApdBaseDispatcher& dispatcher, TTriggerKind kind, std::uint16_t handle,
                                       std::uint32_t datum) {
  auto raise = [this, kind, handle, datum] {
    switch (kind) {
      case TTriggerKind::Avail:
        if (onTriggerAvail_) onTriggerAvail_(*this, static_cast<std::uint16_t>(std::min<std::uint32_t>(datum, 0xFFFF)));
        break;
      case TTriggerKind::Timer:
        if (onTriggerTimer_) onTriggerTimer_(*this, handle);
        break;
      case TTriggerKind::Status:
        if (onTriggerStatus_) onTriggerStatus_(*this, handle);
        break;
    }
  };
  // The dispatcher waits for the loop thread at most 3000 ms. A timer expiry
  // that could not be delivered comes again a tick later: a status light
  // waits for it to go out, and would otherwise stay lit for good.
  if (!dispatcher.SendToLoop(raise, 3000) && kind == TTriggerKind::Timer) dispatcher.SetTimerTrigger(handle, 1, true);
}

}  // namespace mq::serial
