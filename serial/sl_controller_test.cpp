#include "serial/sl_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop/virtual_loop.h"
#include "serial/apd_exception.h"
#include "serial/testing/collect_errors.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::serial {
namespace {

// Records every change of a lamp with the time it happened.
class RecordingLight : public StatusLight {
 public:
  explicit RecordingLight(Loop& loop) : loop_(loop) {}
  void SetLit(bool lit) override {
    if (lit != lit_) changes.emplace_back(lit, loop_.nowMs());
    lit_ = lit;
  }
  bool Lit() const { return lit_; }
  std::vector<std::pair<bool, std::int64_t>> changes;

 private:
  Loop& loop_;
  bool lit_ = false;
};

class SLControllerTest : public ::testing::Test {
 protected:
  SLControllerTest() : fake(std::make_shared<FakeSerialPlatform>(loop)), port(loop, fake), rx(loop), tx(loop) {
    fake->AddPort(2);
    port.SetComNumber(2);
    port.SetAutoOpen(false);
    ctl.Lights.RXDLight = &rx;
    ctl.Lights.TXDLight = &tx;
    ctl.SetComPort(&port);
  }
  void Open() {
    port.SetOpen(true);
    loop.runPending();
  }
  // A receiver that takes every byte, as the framers do.
  void Consume() {
    auto& d = port.Dispatcher();
    d.RegisterEventTriggerHandler([&d](TTriggerKind kind, std::uint16_t, std::uint32_t n) {
      if (kind != TTriggerKind::Avail) return;
      std::string sink(n, '\0');
      d.GetBlock(sink.data(), n);
    });
  }

  VirtualLoop loop;
  std::shared_ptr<FakeSerialPlatform> fake;
  TApdComPort port;
  RecordingLight rx, tx;
  TApdSLController ctl;
};

TEST(SLController, NoPortRaisesPortNotAssigned) {
  TApdSLController ctl;
  try {
    ctl.SetMonitoring(true);
    FAIL();
  } catch (const EPortNotAssigned& e) {
    EXPECT_EQ(e.ErrorCode(), 1005);
  }
  EXPECT_THROW(ctl.SetMonitoring(false), EPortNotAssigned);
  EXPECT_EQ(ctl.RXDOffTimeout, 1);
  EXPECT_EQ(ctl.TXDOffTimeout, 1);
  EXPECT_EQ(ctl.ErrorOffTimeout, 36);
  EXPECT_EQ(ctl.BreakOffTimeout, 36);
  EXPECT_EQ(ctl.RingOffTimeout, 8);
}

TEST(SLController, APortDestroyedFirstIsLeftAlone) {
  VirtualLoop loop;
  auto fake = std::make_shared<FakeSerialPlatform>(loop);
  fake->AddPort(1);
  TApdSLController ctl;
  {
    TApdComPort port(loop, fake);
    port.SetComNumber(1);
    ctl.SetComPort(&port);
    port.SetOpen(true);
    ctl.SetMonitoring(true);
  }
  EXPECT_FALSE(ctl.Monitoring());
  EXPECT_THROW(ctl.SetMonitoring(true), EPortNotAssigned);
}  // the controller's destructor must not touch the dead port

TEST_F(SLControllerTest, ASingleByteLightsRxForAtLeastOneTick) {
  Open();
  Consume();
  ctl.SetMonitoring(true);
  EXPECT_TRUE(ctl.Monitoring());
  fake->Inject(2, "x");
  loop.runPending();
  ASSERT_EQ(rx.changes.size(), 1u);
  const std::int64_t on = rx.changes[0].second;
  loop.advance(500);
  ASSERT_EQ(rx.changes.size(), 2u);
  EXPECT_FALSE(rx.changes[1].first);
  EXPECT_GE(rx.changes[1].second - on, 55);
  EXPECT_LE(rx.changes[1].second - on, 110);
  EXPECT_TRUE(tx.changes.empty());
}

TEST_F(SLControllerTest, RxStaysLitWhileUnreadBytesRemain) {
  Open();
  ctl.SetMonitoring(true);
  fake->Inject(2, "abc");  // nobody consumes them
  loop.runPending();
  loop.advance(1000);
  EXPECT_TRUE(rx.Lit());
  port.FlushInBuffer();
  loop.advance(200);
  EXPECT_FALSE(rx.Lit());
}

TEST_F(SLControllerTest, APutStringLightsTxAfterTheNextPassForAtLeastOneTick) {
  Open();
  ctl.SetMonitoring(true);
  port.PutString("ER_CMD#T3");
  EXPECT_FALSE(tx.Lit());  // not before the dispatcher's next pass
  loop.runPending();
  ASSERT_TRUE(tx.Lit());
  const std::int64_t on = loop.nowMs();
  loop.advance(500);
  ASSERT_EQ(tx.changes.size(), 2u);
  EXPECT_GE(tx.changes[1].second - on, 55);
  EXPECT_LE(tx.changes[1].second - on, 110);
  // Re-armed: the next write lights it again.
  port.PutString("ACK");
  loop.runPending();
  EXPECT_TRUE(tx.Lit());
}

TEST_F(SLControllerTest, MonitoringFollowsThePortThroughCloseAndReopen) {
  ctl.SetMonitoring(true);  // port closed: starts at the next open
  EXPECT_FALSE(ctl.Monitoring());
  Open();
  EXPECT_TRUE(ctl.Monitoring());
  fake->Inject(2, "a");
  loop.runPending();
  EXPECT_TRUE(rx.Lit());
  port.SetOpen(false);
  EXPECT_FALSE(ctl.Monitoring());
  EXPECT_FALSE(rx.Lit());
  ctl.SetMonitoring(false);  // already off: the wish to resume survives
  Open();
  EXPECT_TRUE(ctl.Monitoring());
  fake->Inject(2, "b");
  loop.runPending();
  EXPECT_TRUE(rx.Lit());
  // Switched off while open: stays off across a close and open.
  ctl.SetMonitoring(false);
  port.SetOpen(false);
  Open();
  EXPECT_FALSE(ctl.Monitoring());
}

TEST_F(SLControllerTest, PreviousHandlersAreChainedAndRestoredAndErrorsReported) {
  std::vector<std::string> errors;
  CollectErrors(loop, errors);
  int mine = 0;
  port.SetOnTriggerAvail([&](TApdComPort&, std::uint16_t) {
    ++mine;
    throw std::runtime_error("owner handler failed");
  });
  Open();
  Consume();
  ctl.SetMonitoring(true);
  fake->Inject(2, "a");
  loop.runPending();
  EXPECT_EQ(mine, 1);
  EXPECT_TRUE(rx.Lit());
  EXPECT_EQ(errors, std::vector<std::string>{"owner handler failed"});
  loop.advance(300);
  EXPECT_FALSE(rx.Lit());  // the notification path goes on working
  ctl.SetMonitoring(false);
  fake->Inject(2, "b");
  loop.runPending();
  EXPECT_EQ(mine, 2);  // the restored handler itself
  EXPECT_FALSE(rx.Lit());
  port.SetOnTriggerAvail(nullptr);
}

}  // namespace
}  // namespace mq::serial
