#include "serial/ticks.h"

#include <algorithm>

namespace mq::serial {

namespace {
// Distinct tick values of the 32-bit counter: 0 .. 0xFFFFFFFF / 55.
constexpr std::uint64_t kTickPeriod = 0xFFFFFFFFull / kMsPerTick + 1;
}  // namespace

std::uint32_t TickCount(std::uint32_t ms) { return ms / kMsPerTick; }

std::uint32_t TickCountAt(std::int64_t nowMs) {
  return TickCount(static_cast<std::uint32_t>(static_cast<std::uint64_t>(nowMs)));
}

bool TimerExpired(std::uint32_t start, std::uint32_t ticks, std::uint32_t now) {
  ticks = std::min(ticks, kMaxTimerTicks);
  const std::uint64_t elapsed = now >= start ? now - start : static_cast<std::uint64_t>(now) + kTickPeriod - start;
  return elapsed > ticks;
}

std::int64_t TimerDeadlineMs(std::int64_t armedMs, std::uint32_t ticks) {
  ticks = std::min(ticks, kMaxTimerTicks);
  const auto ms32 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(armedMs));
  // Start of the tick armedMs lies in, plus ticks + 1 whole ticks. Across a
  // wrap the counter's last tick is shorter, so the timer has expired by then.
  return armedMs - (ms32 % kMsPerTick) + (static_cast<std::int64_t>(ticks) + 1) * kMsPerTick;
}

}  // namespace mq::serial
