#include "serial/trigger_table.h"

#include <algorithm>
#include <utility>

#include "serial/ticks.h"

namespace mq::serial {

TriggerTable::HandlerId TriggerTable::AddHandler(Handler fn, bool synchronised) {
  auto entry = std::make_shared<HandlerEntry>();
  entry->id = nextHandlerId_++;
  entry->fn = std::move(fn);
  entry->synchronised = synchronised;
  handlers_.push_back(entry);
  return entry->id;
}

void TriggerTable::RemoveHandler(HandlerId id) {
  for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
    if ((*it)->id == id) {
      (*it)->removed = true;
      handlers_.erase(it);
      return;
    }
  }
}

std::uint16_t TriggerTable::AddTimer() {
  const std::uint16_t h = nextHandle_++;
  timers_.emplace(h, Timer{});
  return h;
}

void TriggerTable::SetTimer(std::uint16_t handle, std::int32_t ticks, bool activate, std::int64_t nowMs) {
  auto it = timers_.find(handle);
  if (it == timers_.end()) return;
  Timer& t = it->second;
  if (!activate) {
    t.active = false;
    return;
  }
  if (ticks > 0) t.ticks = std::min(static_cast<std::uint32_t>(ticks), kMaxTimerTicks);
  t.startTick = TickCountAt(nowMs);
  t.deadlineMs = TimerDeadlineMs(nowMs, t.ticks);
  t.active = true;
}

std::uint16_t TriggerTable::AddStatus(TStatusKind kind) {
  const std::uint16_t h = nextHandle_++;
  status_.emplace(h, Status{kind, 0, false});
  return h;
}

std::optional<TStatusKind> TriggerTable::SetStatus(std::uint16_t handle, std::uint32_t value, bool activate) {
  auto it = status_.find(handle);
  if (it == status_.end()) return std::nullopt;
  it->second.value = value;
  it->second.active = activate;
  return it->second.kind;
}

void TriggerTable::Remove(std::uint16_t handle) {
  timers_.erase(handle);
  status_.erase(handle);
}

std::optional<std::int64_t> TriggerTable::NextTimerDeadline() const {
  std::optional<std::int64_t> next;
  for (const auto& [h, t] : timers_)
    if (t.active && (!next || t.deadlineMs < *next)) next = t.deadlineMs;
  return next;
}

std::uint16_t TriggerTable::TakeExpiredTimer(std::int64_t nowMs) {
  const std::uint32_t now = TickCountAt(nowMs);
  for (auto& [h, t] : timers_) {
    if (t.active && TimerExpired(t.startTick, t.ticks, now)) {
      t.active = false;
      return h;
    }
  }
  return 0;
}

TriggerTable::StatusFired TriggerTable::TakeFiredStatus(const StatusInput& in) {
  StatusFired out;
  for (auto& [h, t] : status_) {
    if (!t.active) continue;
    bool fire = false;
    switch (t.kind) {
      case TStatusKind::stLine:
        fire = in.lineEvents != 0;
        out.lineTaken |= fire;
        break;
      case TStatusKind::stOutSent:
        fire = in.outputSent;
        out.sentTaken |= fire;
        break;
      case TStatusKind::stOutBuffFree: fire = in.outCapacity - in.outUsed >= t.value; break;
      case TStatusKind::stOutBuffUsed: fire = in.outUsed <= t.value; break;
    }
    if (fire) {
      t.active = false;
      out.handles.push_back(h);
    }
  }
  return out;
}

}  // namespace mq::serial
