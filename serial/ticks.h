// Ticks: the serial layer's time unit, 55 ms of the 32-bit millisecond
// counter (the loop's nowMs() cut to 32 bits), and the expiry rule of timer
// triggers across the counter's wrap-around.
//
// Threading: pure functions.
#pragma once

#include <cstdint>

#include "serial/serial_types.h"

namespace mq::serial {

// The tick count for a millisecond count: ms / 55, rounded down.
std::uint32_t TickCount(std::uint32_t ms);
// The tick count for the loop clock: the clock cut to its low 32 bits.
std::uint32_t TickCountAt(std::int64_t nowMs);

// A timer armed for `ticks` at tick count `start` has expired once more than
// `ticks` ticks have passed. The elapsed count is taken modulo the tick
// counter's period, so a timer armed shortly before the millisecond counter
// wraps still expires on time after it. `ticks` is cut to kMaxTimerTicks.
bool TimerExpired(std::uint32_t start, std::uint32_t ticks, std::uint32_t now);

// The earliest loop time at or after which a timer armed at loop time
// `armedMs` for `ticks` ticks has expired (an exact bound, used to wait for
// the next deadline instead of polling).
std::int64_t TimerDeadlineMs(std::int64_t armedMs, std::uint32_t ticks);

}  // namespace mq::serial
