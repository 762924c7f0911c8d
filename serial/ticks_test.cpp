#include "serial/ticks.h"

#include <gtest/gtest.h>

#include "loop/virtual_loop.h"
#include "serial/com_port.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::serial {
namespace {

TEST(Ticks, TickCountIsTheMillisecondCounterOver55) {
  EXPECT_EQ(TickCount(0), 0u);
  EXPECT_EQ(TickCount(54), 0u);
  EXPECT_EQ(TickCount(55), 1u);
  EXPECT_EQ(TickCount(990), 18u);
  EXPECT_EQ(TickCount(0xFFFFFFFFu), 78090314u);
  // The loop clock is cut to the 32-bit counter.
  EXPECT_EQ(TickCountAt(0x100000000LL + 110), 2u);
}

TEST(Ticks, ExpiryIsTheFirstCheckPastStartPlusDuration) {
  EXPECT_FALSE(TimerExpired(100, 18, 100));
  EXPECT_FALSE(TimerExpired(100, 18, 118));
  EXPECT_TRUE(TimerExpired(100, 18, 119));
  EXPECT_TRUE(TimerExpired(100, 0, 101));
  // Durations are cut to 39045157 ticks.
  EXPECT_FALSE(TimerExpired(0, 0xFFFFFFFFu, 39045157));
  EXPECT_TRUE(TimerExpired(0, 0xFFFFFFFFu, 39045158));
}

TEST(Ticks, ATimerArmedJustBeforeTheCounterWrapsExpiresOnTimeAfterIt) {
  const std::uint32_t last = TickCount(0xFFFFFFFFu);  // 78090314
  // Armed two ticks before the wrap for 18 ticks: 18 ticks have passed
  // once the counter shows 16 after wrapping (the last tick is short).
  EXPECT_FALSE(TimerExpired(last - 1, 18, last));
  EXPECT_FALSE(TimerExpired(last - 1, 18, 0));
  EXPECT_FALSE(TimerExpired(last - 1, 18, 16));
  EXPECT_TRUE(TimerExpired(last - 1, 18, 17));
  EXPECT_TRUE(TimerExpired(last - 1, 18, 1000));
}

TEST(Ticks, DeadlineIsNeverBeforeExpiry) {
  for (std::int64_t armed : {0LL, 1LL, 54LL, 55LL, 1'000'003LL, 0xFFFFFFFFLL - 30, 0xFFFFFFFFLL - 1000}) {
    for (std::uint32_t n : {0u, 1u, 18u, 36u}) {
      const std::int64_t d = TimerDeadlineMs(armed, n);
      EXPECT_TRUE(TimerExpired(TickCountAt(armed), n, TickCountAt(d))) << armed << " " << n;
      EXPECT_GE(d - armed, static_cast<std::int64_t>(n) * 55);
      EXPECT_LE(d - armed, static_cast<std::int64_t>(n + 1) * 55);
    }
  }
}

TEST(Ticks, PortTimerAcrossTheWrapOnAFakeCounter) {
  // The virtual clock starts 500 ms before the 32-bit counter wraps.
  VirtualLoop loop(0xFFFFFFFFLL - 500);
  auto fake = std::make_shared<FakeSerialPlatform>(loop);
  fake->AddPort(1);
  TApdComPort port(loop, fake);
  port.SetComNumber(1);
  port.SetOpen(true);
  auto& d = port.Dispatcher();
  std::int64_t firedAt = -1;
  d.RegisterEventTriggerHandler([&](TTriggerKind k, std::uint16_t, std::uint32_t) {
    if (k == TTriggerKind::Timer) firedAt = loop.nowMs();
  });
  const auto t = d.AddTimerTrigger();
  const std::int64_t armed = loop.nowMs();
  d.SetTimerTrigger(t, 18, true);
  loop.advance(3000);
  ASSERT_GE(firedAt, 0);
  // The counter's last tick before the wrap is 26 ms long, so the timer may
  // come up to 29 ms early, never late.
  EXPECT_GE(firedAt - armed, 990 - 29);
  EXPECT_LE(firedAt - armed, 1045);
}

}  // namespace
}  // namespace mq::serial
