#include "serial/com_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loop/realtime_loop.h"
#include "loop/virtual_loop.h"
#include "serial/base_dispatcher.h"
#include "serial/dispatcher_thread.h"
#include "serial/apd_exception.h"
#include "serial/testing/fake_serial_platform.h"
#include "serial/port_probe.h"

namespace mq::serial {
namespace {

std::string Msg(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  }
}

class ComPortTest : public ::testing::Test {
 protected:
  ComPortTest() : fake(std::make_shared<FakeSerialPlatform>(loop)), port(loop, fake) {
    loop.setErrorHandler([this](std::exception_ptr e) { errors.push_back(Msg(e)); });
    port.SetPromptForPort(false);
    port.SetAutoOpen(false);
    fake->AddPort(3);
    fake->AddPort(4);
  }
  void OpenOn(std::uint16_t n) {
    port.SetComNumber(n);
    port.SetOpen(true);
    loop.runPending();
  }

  VirtualLoop loop;
  std::shared_ptr<FakeSerialPlatform> fake;
  TApdComPort port;
  std::vector<std::string> errors;
};

TEST(ApdException, CodesAndMessagesOfEveryError) {
  EXPECT_EQ(EBadId().ErrorCode(), 2001);
  EXPECT_STREQ(EBadId().what(), "ie_BadId - Specified comport doesn't exist");
  EXPECT_EQ(EAlreadyOpen().ErrorCode(), 2008);
  EXPECT_STREQ(EAlreadyOpen().what(), "ie_Open - device already open");
  EXPECT_EQ(ECommNotOpen().ErrorCode(), 2007);
  EXPECT_STREQ(ECommNotOpen().what(), "ie_NOpen - device not open");
  EXPECT_EQ(ENoPortSelected().ErrorCode(), 2011);
  EXPECT_STREQ(ENoPortSelected().what(), "The ComNumber property of the TApdComPort has not been set");
  EXPECT_EQ(EOutputBufferTooSmall().ErrorCode(), 3006);
  EXPECT_STREQ(EOutputBufferTooSmall().what(), "Output buffer too small for block");
  EXPECT_EQ(EPortNotAssigned().ErrorCode(), 1005);
  EXPECT_STREQ(EPortNotAssigned().what(), "ComPort component not assigned");
  EXPECT_EQ(EAPDException().ErrorCode(), 0);
  EXPECT_STREQ(EAPDException().what(), "Apro exception");
  EXPECT_EQ(EInOutError(13, "Permission denied").ErrorCode(), 13);
  EXPECT_STREQ(EInOutError(13, "Permission denied").what(), "Permission denied");
  const std::pair<int, const char*> packet[] = {{5501, "Start string is empty"},
                                                {5502, "Packet size cannot be smaller than start string"},
                                                {5503, "CharCount packets must have an end-condition"},
                                                {5504, "End string is empty"},
                                                {5505, "Packet size cannot be zero"}};
  for (auto [code, text] : packet) {
    EInvalidProperty e(code);
    EXPECT_EQ(e.ErrorCode(), code);
    EXPECT_STREQ(e.what(), text);
  }
  // The groups.
  EXPECT_NO_THROW(try { throw EBadId(); } catch (const EOpenComm&){});
  EXPECT_NO_THROW(try { throw EOutputBufferTooSmall(); } catch (const ESerialIO&){});
  EXPECT_NO_THROW(try { throw EPortNotAssigned(); } catch (const EGeneral&){});
  EXPECT_NO_THROW(try { throw EInvalidProperty(5505); } catch (const EPacket&){});
}

TEST_F(ComPortTest, ClassDefaults) {
  TApdComPort fresh(loop, fake);
  EXPECT_EQ(fresh.ComNumber(), 0);
  EXPECT_EQ(fresh.Baud(), 19200u);
  EXPECT_EQ(fresh.Parity(), TParity::pNone);
  EXPECT_EQ(fresh.DataBits(), 8);
  EXPECT_EQ(fresh.StopBits(), 1);
  EXPECT_EQ(fresh.HWFlowOptions(), 0u);
  EXPECT_EQ(fresh.SWFlowOptions(), TSWFlowOptions::swfNone);
  EXPECT_EQ(fresh.XOnChar(), 17);
  EXPECT_EQ(fresh.XOffChar(), 19);
  EXPECT_TRUE(fresh.DTR());
  EXPECT_TRUE(fresh.RTS());
  EXPECT_EQ(fresh.InSize(), 4096);
  EXPECT_EQ(fresh.OutSize(), 4096);
  EXPECT_EQ(fresh.TriggerLength(), 1);
  EXPECT_TRUE(fresh.PromptForPort());
  EXPECT_TRUE(fresh.AutoOpen());
  EXPECT_FALSE(fresh.Open());
  EXPECT_EQ(fresh.State(), TPortState::psClosed);
}

TEST_F(ComPortTest, OpenFailuresRaiseTheirErrorAndLeaveNothingOpen) {
  port.SetComNumber(0);
  try {
    port.SetOpen(true);
    FAIL();
  } catch (const ENoPortSelected& e) {
    EXPECT_EQ(e.ErrorCode(), 2011);
  }
  EXPECT_FALSE(port.Open());

  port.SetComNumber(7);  // no such device
  try {
    port.SetOpen(true);
    FAIL();
  } catch (const EBadId& e) {
    EXPECT_STREQ(e.what(), "COM7: ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(e.Message(), "ie_BadId - Specified comport doesn't exist");
  }
  EXPECT_FALSE(port.Open());

  fake->SetHeldByOther(3, true);
  port.SetComNumber(3);
  EXPECT_THROW(port.SetOpen(true), EAlreadyOpen);
  EXPECT_FALSE(port.Open());

  fake->SetHeldByOther(3, false);
  fake->SetOpenFailure(3, EACCES);
  try {
    port.SetOpen(true);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), EACCES);
    EXPECT_STREQ(e.what(), "COM3: Permission denied");
  }
  fake->SetOpenFailure(3, 0);

  // A failure of the line settings closes the handle again.
  fake->SetConfigureFailure(3, EIO);
  EXPECT_THROW(port.SetOpen(true), EInOutError);
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.HasDispatcher());
  EXPECT_EQ(fake->OpenHandles(), 0);
  EXPECT_THROW(port.Dispatcher(), ECommNotOpen);
  fake->SetConfigureFailure(3, 0);

  port.SetOpen(true);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.State(), TPortState::psOpen);
}

TEST_F(ComPortTest, OpenAppliesTheLineSettingsAndCloseReleasesTheDevice) {
  OpenOn(3);
  ASSERT_TRUE(fake->IsOpen(3));
  const auto s = *fake->Settings(3);
  EXPECT_EQ(s.baud, 19200u);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.stopBits, 1);
  EXPECT_EQ(s.parity, TParity::pNone);
  EXPECT_TRUE(fake->DTR(3));
  EXPECT_TRUE(fake->RTS(3));
  port.SetOpen(true);  // open again: nothing
  EXPECT_EQ(fake->OpenCount(3), 1);
  port.SetOpen(false);
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(fake->IsOpen(3));
  port.SetOpen(false);  // closed again: nothing
  EXPECT_EQ(port.State(), TPortState::psClosed);
}

TEST_F(ComPortTest, UsersAreToldMostRecentFirstAndTheOldFormSkipsClosing) {
  std::vector<std::string> log;
  port.RegisterUserCallbackEx([&](TApdComPort& p, TApdCallbackType t) {
    log.push_back("A" + std::to_string(static_cast<int>(t)) + (p.Open() ? "o" : "c"));
  });
  port.RegisterUserCallback([&](bool opening) { log.push_back(opening ? "Bopen" : "Bclosed"); });
  const auto c = port.RegisterUserCallbackEx(
      [&](TApdComPort&, TApdCallbackType t) { log.push_back("C" + std::to_string(static_cast<int>(t))); });
  OpenOn(3);
  EXPECT_EQ(log, (std::vector<std::string>{"C0", "Bopen", "A0o"}));
  log.clear();
  port.DeregisterUserCallbackEx(c);
  port.SetOpen(false);
  EXPECT_EQ(log, (std::vector<std::string>{"A1c", "Bclosed", "A2c"}));
}

TEST_F(ComPortTest, ChangingTheNumberWhileOpenReopensOnTheNewPort) {
  std::vector<TApdCallbackType> seen;
  port.RegisterUserCallbackEx([&](TApdComPort&, TApdCallbackType t) { seen.push_back(t); });
  OpenOn(3);
  seen.clear();
  port.SetComNumber(3);  // same number: nothing
  EXPECT_TRUE(seen.empty());
  port.SetComNumber(4);
  EXPECT_TRUE(port.Open());
  EXPECT_FALSE(fake->IsOpen(3));
  EXPECT_TRUE(fake->IsOpen(4));
  EXPECT_EQ(seen, (std::vector<TApdCallbackType>{TApdCallbackType::ctClosing, TApdCallbackType::ctClosed,
                                                 TApdCallbackType::ctOpen}));
  // A number that cannot be opened: the error reaches the writer, port closed.
  EXPECT_THROW(port.SetComNumber(9), EBadId);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.ComNumber(), 9);
  EXPECT_EQ(fake->OpenHandles(), 0);
  // While closed the number is only stored.
  port.SetComNumber(3);
  EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, PutStringWritesInOrderWithTheTimeAndChecksTheRing) {
  EXPECT_THROW(port.PutString("x"), ECommNotOpen);
  port.SetComNumber(5);
  try {
    port.PutString("x");
    ADD_FAILURE();
  } catch (const ECommNotOpen& e) {
    EXPECT_STREQ(e.what(), "COM5: ie_NOpen - device not open");
  }
  EXPECT_THROW(port.FlushInBuffer(), ECommNotOpen);
  OpenOn(3);
  port.PutString("");
  EXPECT_TRUE(fake->Writes(3).empty());
  port.PutString("ER_CMD#T3");
  loop.pause(20);
  port.PutString("ACK");
  const auto w = fake->Writes(3);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].bytes, "ER_CMD#T3");
  EXPECT_EQ(w[1].bytes, "ACK");
  EXPECT_EQ(w[1].timeMs - w[0].timeMs, 20);
  // Longer than the ring: refused as a whole.
  try {
    port.PutString(std::string(4097, 'x'));
    ADD_FAILURE();
  } catch (const EOutputBufferTooSmall& e) {
    EXPECT_STREQ(e.what(), "COM3: Output buffer too small for block");
  }
  EXPECT_EQ(fake->Written(3), "ER_CMD#T3ACK");
  port.PutString(std::string(4096, 'y'));  // exactly the ring's size fits
  EXPECT_EQ(fake->Written(3).size(), 12u + 4096u);
}

TEST_F(ComPortTest, AutoOpenOpensForAWrite) {
  port.SetAutoOpen(true);
  port.SetComNumber(3);
  port.PutString("hi");
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(fake->Written(3), "hi");
}

TEST_F(ComPortTest, TimerTriggersExpireWithinTheirTickWindow) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  std::vector<std::pair<std::uint16_t, std::int64_t>> fired;
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t h, std::uint32_t) {
    if (kind == TTriggerKind::Timer) fired.emplace_back(h, loop.nowMs());
  });
  for (std::int64_t offset : {0, 1, 27, 54}) {
    loop.advanceTo((loop.nowMs() / 55 + 1) * 55 + offset);
    const auto t18 = d.AddTimerTrigger();
    const auto t1 = d.AddTimerTrigger();
    const std::int64_t armed = loop.nowMs();
    d.SetTimerTrigger(t18, 18, true);
    d.SetTimerTrigger(t1, 1, true);
    fired.clear();
    loop.advance(2000);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, t1);
    EXPECT_GE(fired[0].second - armed, 55);
    EXPECT_LE(fired[0].second - armed, 110);
    EXPECT_EQ(fired[1].first, t18);
    EXPECT_GE(fired[1].second - armed, 990);
    EXPECT_LE(fired[1].second - armed, 1045);
    d.RemoveTrigger(t18);
    d.RemoveTrigger(t1);
  }
  // Disarmed and removed timers do not fire; 0 ticks keeps the duration.
  const auto t = d.AddTimerTrigger();
  d.SetTimerTrigger(t, 2, true);
  d.SetTimerTrigger(t, 0, false);
  fired.clear();
  loop.advance(500);
  EXPECT_TRUE(fired.empty());
  const std::int64_t armed = loop.nowMs();
  d.SetTimerTrigger(t, 0, true);
  loop.advance(500);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_GE(fired[0].second - armed, 110);
  EXPECT_LE(fired[0].second - armed, 165);
}

TEST_F(ComPortTest, EveryHandlerReadsTheSameBytesAndTheTailAdvancesByTheMost) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  std::vector<std::string> a, b;
  std::vector<std::uint32_t> counts;
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t, std::uint32_t n) {
    if (kind != TTriggerKind::Avail) return;
    counts.push_back(n);
    char buf[2];
    if (d.GetBlock(buf, 2) == 2) a.emplace_back(buf, 2);
  });
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t, std::uint32_t n) {
    if (kind != TTriggerKind::Avail) return;
    std::string s(1, '\0');
    EXPECT_EQ(d.GetBlock(s.data(), 1), 1);
    b.push_back(s);
    std::string rest(n, '\0');
    EXPECT_EQ(d.GetBlock(rest.data(), n), -ecBufferIsEmpty);  // one more than unread
  });
  fake->Inject(3, "abc");
  loop.runPending();
  EXPECT_EQ(a, (std::vector<std::string>{"ab"}));
  EXPECT_EQ(b, (std::vector<std::string>{"a"}));
  // "c" nobody took stays unread and is announced again with the next bytes.
  EXPECT_EQ(d.InBuffUsed(), 1u);
  fake->Inject(3, "d");
  loop.runPending();
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{3, 2}));
  EXPECT_EQ(a.back(), "cd");
  EXPECT_EQ(d.InBuffUsed(), 0u);
}

TEST_F(ComPortTest, BytesThatArrivedBeforeAConsumerRegisteredAreAnnouncedToIt) {
  OpenOn(3);
  fake->Inject(3, std::string(8192, 'f'));  // fills the dispatch buffer
  fake->Inject(3, "tail");
  loop.runPending();
  auto& d = port.Dispatcher();
  EXPECT_EQ(d.InBuffUsed(), 8192u);
  std::string got;
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t, std::uint32_t n) {
    if (kind != TTriggerKind::Avail) return;
    std::string part(n, '\0');
    ASSERT_EQ(d.GetBlock(part.data(), n), static_cast<int>(n));
    got += part;
  });
  loop.runPending();
  EXPECT_EQ(got, std::string(8192, 'f') + "tail");
}

TEST_F(ComPortTest, FlushInBufferDropsUnreadInputAtOnceOrAtTheEndOfTheNotification) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  fake->Inject(3, "abc");
  loop.runPending();  // nobody reads: unread
  EXPECT_EQ(d.InBuffUsed(), 3u);
  char c;
  EXPECT_EQ(d.GetBlock(&c, 1), 1);
  EXPECT_EQ(c, 'a');
  EXPECT_EQ(d.InBuffUsed(), 2u);
  port.FlushInBuffer();
  EXPECT_EQ(d.InBuffUsed(), 0u);
  EXPECT_GE(fake->InputPurges(3), 1);

  std::size_t seenInside = 0;
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t, std::uint32_t) {
    if (kind != TTriggerKind::Avail) return;
    port.FlushInBuffer();
    seenInside = d.InBuffUsed();
  });
  fake->Inject(3, "xyz");
  loop.runPending();
  EXPECT_EQ(seenInside, 3u);  // still there during the notification
  EXPECT_EQ(d.InBuffUsed(), 0u);
}

TEST_F(ComPortTest, NotificationEventsRunOnlyWhenAssignedAndSurviveErrors) {
  OpenOn(3);
  std::vector<std::uint16_t> avail;
  fake->Inject(3, "ab");
  loop.runPending();
  port.Dispatcher().FlushInBuffer();
  port.SetOnTriggerAvail([&](TApdComPort&, std::uint16_t n) {
    avail.push_back(n);
    throw std::runtime_error("light failed");
  });
  fake->Inject(3, "xyz");
  loop.runPending();
  fake->Inject(3, "q");
  loop.runPending();
  EXPECT_EQ(avail, (std::vector<std::uint16_t>{3, 4}));
  EXPECT_EQ(errors, (std::vector<std::string>{"light failed", "light failed"}));
}

TEST_F(ComPortTest, StatusTriggerForOutputSentFiresOnTheNextPassAfterAWrite) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  std::vector<std::uint16_t> status;
  port.SetOnTriggerStatus([&](TApdComPort&, std::uint16_t h) { status.push_back(h); });
  const auto h = d.AddStatusTrigger(TStatusKind::stOutSent);
  port.PutString("before arming");
  d.SetStatusTrigger(h, 0, true);
  loop.runPending();
  EXPECT_TRUE(status.empty());
  port.PutString("x");
  EXPECT_TRUE(status.empty());
  loop.runPending();
  EXPECT_EQ(status, (std::vector<std::uint16_t>{h}));
  port.PutString("y");  // fired once, then disarmed
  loop.runPending();
  EXPECT_EQ(status.size(), 1u);
}

TEST_F(ComPortTest, OutputRingStatusTriggers) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  std::vector<std::uint16_t> fired;
  d.RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t h, std::uint32_t) {
    if (kind == TTriggerKind::Status) fired.push_back(h);
  });
  const auto free = d.AddStatusTrigger(TStatusKind::stOutBuffFree);
  const auto used = d.AddStatusTrigger(TStatusKind::stOutBuffUsed);
  EXPECT_EQ(d.OutBuffFree(), 4096u);
  d.SetStatusTrigger(free, 4096, true);
  d.SetStatusTrigger(used, 0, true);
  loop.runPending();
  EXPECT_EQ(fired, (std::vector<std::uint16_t>{free, used}));
  d.RemoveTrigger(free);
  d.SetStatusTrigger(free, 1, true);  // removed: no effect
  loop.runPending();
  EXPECT_EQ(fired.size(), 2u);
}

TEST_F(ComPortTest, SynchronisedHandlersRunOnTheLoopThreadAndRemovalIsImmediate) {
  OpenOn(3);
  auto& d = port.Dispatcher();
  int first = 0, second = 0;
  TApdBaseDispatcher::HandlerId secondId = 0;
  d.RegisterEventTriggerHandler(
      [&](TTriggerKind kind, std::uint16_t, std::uint32_t) {
        if (kind != TTriggerKind::Avail) return;
        EXPECT_TRUE(loop.isLoopThread());
        ++first;
        d.DeregisterEventTriggerHandler(secondId);  // not called any more
      },
      true);
  secondId = d.RegisterEventTriggerHandler([&](TTriggerKind, std::uint16_t, std::uint32_t) { ++second; });
  fake->Inject(3, "a");
  loop.runPending();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
}

TEST_F(ComPortTest, AVanishedDeviceIsReportedOnceAndTheClosedPortLeavesNothing) {
  OpenOn(3);
  fake->Inject(3, "ab");
  fake->Vanish(3);
  loop.runPending();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], std::string("COM3: ") + std::strerror(ENODEV));
  EXPECT_TRUE(port.Open());          // still reads as open
  EXPECT_EQ(port.InBuffUsed(), 2u);  // what arrived before is kept
  // Nobody would ever send it: refused with the failure, the ring untouched.
  try {
    port.PutString("lost");
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.what(), errors[0]);
    EXPECT_EQ(e.ErrorCode(), ENODEV);
  }
  EXPECT_EQ(port.OutBuffUsed(), 0u);
  port.FlushInBuffer();  // harmless
  loop.advance(1000);
  EXPECT_EQ(errors.size(), 1u);
  port.SetOpen(false);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(fake->OpenHandles(), 0);
  EXPECT_THROW(port.SetOpen(true), EBadId);
}

TEST_F(ComPortTest, CloseFromInsideANotificationFinishesAfterItAndAReopenWaits) {
  OpenOn(3);
  std::vector<TApdCallbackType> seen;
  const auto user = port.RegisterUserCallbackEx([&](TApdComPort&, TApdCallbackType t) { seen.push_back(t); });
  bool reopened = false;
  port.Dispatcher().RegisterEventTriggerHandler([&](TTriggerKind kind, std::uint16_t, std::uint32_t) {
    if (kind != TTriggerKind::Avail || reopened) return;
    reopened = true;
    port.SetOpen(false);
    EXPECT_EQ(port.State(), TPortState::psShuttingDown);
    EXPECT_FALSE(port.Open());
    port.PutString("ignored while shutting down");
    port.SetOpen(true);  // remembered
  });
  fake->Inject(3, "a");
  loop.runPending();
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(fake->OpenCount(3), 2);
  EXPECT_EQ(seen, (std::vector<TApdCallbackType>{TApdCallbackType::ctClosing, TApdCallbackType::ctClosed,
                                                 TApdCallbackType::ctOpen}));
  EXPECT_TRUE(fake->Written(3).empty());
  port.DeregisterUserCallbackEx(user);
}

TEST_F(ComPortTest, DestroyingAnOpenPortClosesIt) {
  {
    TApdComPort other(loop, fake);
    other.SetComNumber(4);
    other.SetOpen(true);
    EXPECT_TRUE(fake->IsOpen(4));
  }
  EXPECT_FALSE(fake->IsOpen(4));
}

TEST_F(ComPortTest, ProbeFollowsReportPortsInUse) {
  struct Restore {
    ~Restore() { ReportPortsInUse = true; }
  } restore;
  fake->SetHeldByOther(4, true);
  EXPECT_FALSE(ProbeComPort(*fake, 0));
  ASSERT_TRUE(ReportPortsInUse);
  EXPECT_TRUE(ProbeComPort(*fake, 3));
  EXPECT_TRUE(ProbeComPort(*fake, 4));  // in use, but it exists
  EXPECT_FALSE(ProbeComPort(*fake, 5));
  ReportPortsInUse = false;
  EXPECT_TRUE(ProbeComPort(*fake, 3));
  EXPECT_FALSE(ProbeComPort(*fake, 4));
  EXPECT_FALSE(ProbeComPort(*fake, 5));
  EXPECT_EQ(fake->OpenHandles(), 0);
  // A port this program has open is not free either, and stays untouched.
  OpenOn(3);
  EXPECT_FALSE(ProbeComPort(*fake, 3));
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.ComNumber(), 3);
}

}  // namespace
}  // namespace mq::serial

// ---- With real worker threads ----

namespace mq::serial {
namespace {

// A threaded device whose read of the bytes that arrived waits at a gate,
// so a test can act while a chunk is being read.
class GatedDevice : public SerialDevice {
 public:
  void Arrive(std::string bytes) {
    std::lock_guard lock(mu_);
    pending_ += bytes;
    cv_.notify_all();
  }
  void WaitUntilReading() {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(10), [this] { return reading_; });
  }
  void Release() {
    std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

  void SetupQueues(std::uint16_t, std::uint16_t) override {}
  void Configure(const LineSettings&) override {}
  void SetDTR(bool) override {}
  void SetRTS(bool) override {}
  IoResult Read(char* dest, std::size_t max) override {
    std::unique_lock lock(mu_);
    if (pending_.empty()) return {IoStatus::WouldBlock, 0, 0};
    reading_ = true;
    cv_.notify_all();
    cv_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
    const std::size_t n = std::min(max, pending_.size());
    std::copy_n(pending_.data(), n, dest);
    pending_.erase(0, n);
    return {IoStatus::Ok, n, 0};
  }
  IoResult Write(const char*, std::size_t count) override { return {IoStatus::Ok, count, 0}; }
  void PurgeInput() override {}
  void PurgeOutput() override {}
  bool UsesWorkerThreads() const override { return true; }
  WaitResult WaitReadable(int timeoutMs) override { return WaitStop(timeoutMs); }
  WaitResult WaitWritable(int timeoutMs) override { return WaitStop(timeoutMs); }
  void Interrupt() override {
    std::lock_guard lock(mu_);
    interrupted_ = true;
    cv_.notify_all();
  }
  WaitResult WaitDispatch(bool watchDevice, int timeoutMs) override {
    std::unique_lock lock(mu_);
    auto ready = [&] { return woken_ || (watchDevice && !pending_.empty() && !reading_); };
    if (timeoutMs < 0)
      cv_.wait(lock, ready);
    else
      cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (std::exchange(woken_, false)) return WaitResult::Woken;
    return watchDevice && !pending_.empty() ? WaitResult::Ready : WaitResult::TimedOut;
  }
  void WakeDispatcher() override {
    std::lock_guard lock(mu_);
    woken_ = true;
    cv_.notify_all();
  }

 private:
  WaitResult WaitStop(int timeoutMs) {
    std::unique_lock lock(mu_);
    const auto limit = std::chrono::milliseconds(timeoutMs < 0 ? 3'600'000 : timeoutMs);
    return cv_.wait_for(lock, limit, [this] { return interrupted_; }) ? WaitResult::Interrupted : WaitResult::TimedOut;
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::string pending_;
  bool reading_ = false, released_ = false, interrupted_ = false, woken_ = false;
};

TEST(DispatcherThreads, AFlushWhileAChunkIsBeingReadDropsThatChunkToo) {
  RealtimeLoop loop;
  auto owned = std::make_unique<GatedDevice>();
  GatedDevice& device = *owned;
  auto dispatcher = std::make_shared<TApdBaseDispatcher>(loop, std::move(owned), 4096);
  dispatcher->StartWorkers();
  device.Arrive("stale");
  device.WaitUntilReading();  // the dispatcher thread is inside the read
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.Release();
  });
  dispatcher->FlushInBuffer();
  release.join();
  loop.runFor(200);
  EXPECT_EQ(dispatcher->InBuffUsed(), 0u);
  dispatcher->StopWorkers();
  EXPECT_TRUE(dispatcher->JoinDispatcherThread());
}

TEST(DispatcherThreads, ABoundedJoinLetsAStuckThreadGoAndItReleasesWhatItKeptWhenItEnds) {
  RealtimeLoop loop;
  std::mutex mu;
  std::condition_variable cv;
  bool go = false;
  auto kept = std::make_shared<int>(7);
  std::weak_ptr<int> watch = kept;
  auto thread = std::make_unique<TApdDispatcherThread>("stuck", [&] {
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return go; });
  });
  EXPECT_FALSE(thread->Join(loop, 100));
  thread->Detach(std::move(kept));
  thread.reset();  // the object goes; the thread runs on with its own state
  EXPECT_FALSE(watch.expired());
  {
    std::lock_guard lock(mu);
    go = true;
  }
  cv.notify_all();
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!watch.expired() && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace mq::serial
