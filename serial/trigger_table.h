// TriggerTable: the triggers of one port's dispatcher and the handlers that
// hear them. It holds the timer triggers (armed for a number of ticks from a
// given time, one-shot), the status triggers (line event, output sent,
// output ring free or used, one-shot), the length trigger of the
// data-available notification, the event handlers and the window handler.
// It decides what fires for the data and the time it is given and disarms
// what fired; it calls nobody, reads no clock and starts no thread, so every
// rule can be driven with explicit values.
//
// Threading: none of its own; the dispatcher's table lock guards every
// call. Handler entries are shared with the notification that calls them:
// their removed flag may be read without the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "serial/serial_types.h"

namespace mq::serial {

class TriggerTable {
 public:
  using Handler = std::function<void(TTriggerKind kind, std::uint16_t handle, std::uint32_t datum)>;
  using HandlerId = std::uint64_t;
  struct HandlerEntry {
    HandlerId id = 0;
    Handler fn;
    bool synchronised = false;
    std::atomic<bool> removed{false};
  };
  using HandlerList = std::vector<std::shared_ptr<HandlerEntry>>;

  // What the status triggers are evaluated against.
  struct StatusInput {
    std::uint32_t lineEvents = 0;  // line events seen and not yet announced
    bool outputSent = false;       // written into the output ring since last announced
    std::size_t outUsed = 0;       // bytes in the output ring
    std::size_t outCapacity = 0;   // size of the output ring
  };
  // The status triggers that fired (now disarmed), in handle order, and
  // whether a line or output-sent trigger took the event (to be cleared).
  struct StatusFired {
    std::vector<std::uint16_t> handles;
    bool lineTaken = false;
    bool sentTaken = false;
  };

  // ---- Handlers ----
  // Registration order is calling order. A removed entry is flagged, so a
  // notification holding it calls it no more.
  HandlerId AddHandler(Handler fn, bool synchronised);
  void RemoveHandler(HandlerId id);
  HandlerList Handlers() const { return handlers_; }
  void SetWindowHandler(Handler fn) { windowHandler_ = std::move(fn); }
  const Handler& WindowHandler() const { return windowHandler_; }

  // ---- Length trigger ----
  void SetTriggerLength(std::uint16_t length) { triggerLength_ = length; }
  // True when `used` unread bytes, some of them new, are announced.
  bool LengthReached(std::size_t used) const { return used > 0 && used >= triggerLength_; }

  // ---- Timer and status triggers (one numbering for both) ----
  std::uint16_t AddTimer();
  // Arms the timer at nowMs for ticks (0 keeps its previous duration; cut
  // to kMaxTimerTicks) or disarms it. An unknown handle is ignored.
  void SetTimer(std::uint16_t handle, std::int32_t ticks, bool activate, std::int64_t nowMs);
  std::uint16_t AddStatus(TStatusKind kind);
  // Sets the value and arms or disarms the trigger; returns its kind, or
  // nothing for an unknown handle.
  std::optional<TStatusKind> SetStatus(std::uint16_t handle, std::uint32_t value, bool activate);
  // Removes a timer or status trigger; an unknown handle is ignored.
  void Remove(std::uint16_t handle);

  // The earliest loop time at which an armed timer expires.
  std::optional<std::int64_t> NextTimerDeadline() const;
  // Disarms and returns the armed timer (lowest handle first) that has
  // expired at nowMs; 0 when none has.
  std::uint16_t TakeExpiredTimer(std::int64_t nowMs);
  // Disarms and returns the armed status triggers that fire for `in`.
  StatusFired TakeFiredStatus(const StatusInput& in);

 private:
  struct Timer {
    std::uint32_t ticks = 0;
    std::uint32_t startTick = 0;
    std::int64_t deadlineMs = 0;
    bool active = false;
  };
  struct Status {
    TStatusKind kind;
    std::uint32_t value = 0;
    bool active = false;
  };

  HandlerList handlers_;
  Handler windowHandler_;
  HandlerId nextHandlerId_ = 1;
  std::map<std::uint16_t, Timer> timers_;
  std::map<std::uint16_t, Status> status_;
  std::uint16_t nextHandle_ = 1;
  std::uint16_t triggerLength_ = 1;
};

}  // namespace mq::serial
