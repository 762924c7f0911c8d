#include "serial/trigger_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace mq::serial {
namespace {

using Fired = std::vector<std::uint16_t>;

// Armed at 1000 ms (tick 18, which began at 990 ms) for 18 ticks, a timer
// has expired once the tick count passes 36: from 2035 ms on.
constexpr std::int64_t kArmed = 1000;
constexpr std::int64_t kDue = 2035;

TEST(TriggerTable, TimerFiresOnceAtItsDeadlineAndNotBefore) {
  TriggerTable t;
  const auto h = t.AddTimer();
  EXPECT_EQ(t.NextTimerDeadline(), std::nullopt);  // added, not armed
  t.SetTimer(h, 18, true, kArmed);
  EXPECT_EQ(t.NextTimerDeadline(), kDue);
  EXPECT_EQ(t.TakeExpiredTimer(kDue - 1), 0u);
  EXPECT_EQ(t.TakeExpiredTimer(kDue), h);
  EXPECT_EQ(t.TakeExpiredTimer(kDue + 10'000), 0u);  // one-shot
  EXPECT_EQ(t.NextTimerDeadline(), std::nullopt);
}

TEST(TriggerTable, RearmingKeepsTheDurationUnlessGivenOneAndDisarmingStopsIt) {
  TriggerTable t;
  const auto h = t.AddTimer();
  t.SetTimer(h, 0, true, 0);  // never given a duration: expires with the next tick
  EXPECT_EQ(t.NextTimerDeadline(), 55);
  EXPECT_EQ(t.TakeExpiredTimer(55), h);
  t.SetTimer(h, 18, true, kArmed);
  EXPECT_EQ(t.TakeExpiredTimer(kDue), h);
  t.SetTimer(h, 0, true, kArmed);  // 0 and negative counts keep the 18 ticks
  EXPECT_EQ(t.NextTimerDeadline(), kDue);
  t.SetTimer(h, -5, true, kArmed);
  EXPECT_EQ(t.NextTimerDeadline(), kDue);
  t.SetTimer(h, 36, false, kArmed);  // disarmed: the count is not taken either
  EXPECT_EQ(t.NextTimerDeadline(), std::nullopt);
  EXPECT_EQ(t.TakeExpiredTimer(kDue + 100'000), 0u);
  t.SetTimer(h, 0, true, kArmed);
  EXPECT_EQ(t.NextTimerDeadline(), kDue);
  // Durations are cut to the longest the tick counter can measure.
  t.SetTimer(h, 0x7FFFFFFF, true, 0);
  EXPECT_EQ(t.NextTimerDeadline(), (static_cast<std::int64_t>(kMaxTimerTicks) + 1) * 55);
}

TEST(TriggerTable, EarliestDeadlineAndExpiredTimersInHandleOrder) {
  TriggerTable t;
  const auto a = t.AddTimer(), b = t.AddTimer(), c = t.AddTimer();
  t.SetTimer(a, 36, true, kArmed);
  t.SetTimer(b, 18, true, kArmed);
  t.SetTimer(c, 18, true, kArmed + 55);
  EXPECT_EQ(t.NextTimerDeadline(), kDue);
  const std::int64_t later = kDue + 36 * 55;
  EXPECT_EQ(t.TakeExpiredTimer(later), a);
  EXPECT_EQ(t.TakeExpiredTimer(later), b);
  EXPECT_EQ(t.TakeExpiredTimer(later), c);
  EXPECT_EQ(t.TakeExpiredTimer(later), 0u);
  // Removing an armed timer removes its deadline; unknown handles are ignored.
  t.SetTimer(b, 18, true, kArmed);
  t.Remove(b);
  t.Remove(999);
  t.SetTimer(999, 18, true, kArmed);
  EXPECT_EQ(t.NextTimerDeadline(), std::nullopt);
}

TEST(TriggerTable, TimerArmedJustBeforeTheMillisecondCounterWrapsExpiresAfterIt) {
  // Armed in tick 78090312, three ticks before the counter wraps (the last
  // one is short): 18 ticks have passed once the counter shows 16 again,
  // at 880 ms past the wrap. The deadline to wait for is not before that.
  TriggerTable t;
  const auto h = t.AddTimer();
  constexpr std::int64_t kWrap = 0x100000000LL;
  t.SetTimer(h, 18, true, kWrap - 101);
  EXPECT_GE(*t.NextTimerDeadline(), kWrap + 880);
  EXPECT_LE(*t.NextTimerDeadline(), kWrap - 101 + 19 * 55);
  EXPECT_EQ(t.TakeExpiredTimer(kWrap + 879), 0u);
  EXPECT_EQ(t.TakeExpiredTimer(kWrap + 880), h);
}

TEST(TriggerTable, TimersAndStatusTriggersShareOneNumbering) {
  TriggerTable t;
  const auto timer = t.AddTimer();
  const auto status = t.AddStatus(TStatusKind::stLine);
  EXPECT_EQ(timer, 1u);
  EXPECT_EQ(status, 2u);
  EXPECT_EQ(t.AddTimer(), 3u);
  // A handle of the other kind is unknown to each setter.
  t.SetTimer(status, 18, true, kArmed);
  EXPECT_EQ(t.NextTimerDeadline(), std::nullopt);
  EXPECT_EQ(t.SetStatus(timer, 0, true), std::nullopt);
  EXPECT_EQ(t.SetStatus(status, 0, true), TStatusKind::stLine);
}

TEST(TriggerTable, StatusTriggersFireOnTheirConditionOnceAndReportWhatTheyTook) {
  TriggerTable t;
  const auto line = t.AddStatus(TStatusKind::stLine);
  const auto sent = t.AddStatus(TStatusKind::stOutSent);
  const auto free = t.AddStatus(TStatusKind::stOutBuffFree);
  const auto used = t.AddStatus(TStatusKind::stOutBuffUsed);
  t.AddStatus(TStatusKind::stLine);  // never armed: never fires
  for (auto h : {line, sent}) t.SetStatus(h, 0, true);
  t.SetStatus(free, 10, true);  // at least 10 of the 16 bytes free
  t.SetStatus(used, 2, true);   // at most 2 bytes used

  TriggerTable::StatusInput quiet{0, false, 7, 16};
  auto fired = t.TakeFiredStatus(quiet);
  EXPECT_EQ(fired.handles, Fired{});
  EXPECT_FALSE(fired.lineTaken);
  EXPECT_FALSE(fired.sentTaken);

  fired = t.TakeFiredStatus({1, true, 6, 16});
  EXPECT_EQ(fired.handles, (Fired{line, sent, free}));
  EXPECT_TRUE(fired.lineTaken);
  EXPECT_TRUE(fired.sentTaken);
  fired = t.TakeFiredStatus({1, true, 2, 16});  // the fired ones are disarmed
  EXPECT_EQ(fired.handles, Fired{used});
  EXPECT_FALSE(fired.lineTaken);
  EXPECT_FALSE(fired.sentTaken);
  EXPECT_EQ(t.TakeFiredStatus({1, true, 0, 16}).handles, Fired{});

  // Disarmed or removed triggers stay silent; re-armed ones fire again.
  t.SetStatus(line, 0, true);
  t.SetStatus(sent, 0, true);
  t.SetStatus(sent, 0, false);
  t.Remove(free);
  EXPECT_EQ(t.SetStatus(free, 0, true), std::nullopt);
  fired = t.TakeFiredStatus({4, true, 16, 16});
  EXPECT_EQ(fired.handles, Fired{line});
  EXPECT_FALSE(fired.sentTaken);
}

TEST(TriggerTable, LengthTriggerNeedsAtLeastOneByteAndTheSetLength) {
  TriggerTable t;
  EXPECT_FALSE(t.LengthReached(0));
  EXPECT_TRUE(t.LengthReached(1));
  t.SetTriggerLength(5);
  EXPECT_FALSE(t.LengthReached(4));
  EXPECT_TRUE(t.LengthReached(5));
  t.SetTriggerLength(0);
  EXPECT_FALSE(t.LengthReached(0));
  EXPECT_TRUE(t.LengthReached(1));
}

TEST(TriggerTable, HandlersKeepTheirOrderAndARemovedOneIsFlaggedInEveryCopy) {
  TriggerTable t;
  std::vector<int> calls;
  const auto first = t.AddHandler([&](TTriggerKind, std::uint16_t, std::uint32_t) { calls.push_back(1); }, false);
  const auto second = t.AddHandler([&](TTriggerKind, std::uint16_t, std::uint32_t) { calls.push_back(2); }, true);
  EXPECT_NE(first, second);
  const auto snapshot = t.Handlers();
  ASSERT_EQ(snapshot.size(), 2u);
  for (const auto& e : snapshot) e->fn(TTriggerKind::Avail, 0, 1);
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));
  EXPECT_FALSE(snapshot[0]->synchronised);
  EXPECT_TRUE(snapshot[1]->synchronised);

  t.RemoveHandler(first);
  t.RemoveHandler(12345);
  EXPECT_TRUE(snapshot[0]->removed);  // a notification in progress skips it
  EXPECT_FALSE(snapshot[1]->removed);
  ASSERT_EQ(t.Handlers().size(), 1u);
  EXPECT_EQ(t.Handlers()[0]->id, second);
  EXPECT_GT(t.AddHandler(nullptr, false), second);  // ids are never reused

  EXPECT_FALSE(t.WindowHandler());
  t.SetWindowHandler([&](TTriggerKind, std::uint16_t, std::uint32_t) { calls.push_back(9); });
  t.WindowHandler()(TTriggerKind::Timer, 1, 1);
  EXPECT_EQ(calls.back(), 9);
}

}  // namespace
}  // namespace mq::serial
