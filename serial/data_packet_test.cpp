#include "serial/data_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop/virtual_loop.h"
#include "serial/apd_exception.h"
#include "serial/com_port.h"
#include "serial/data_packet_manager.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::serial {
namespace {

const std::string STX = "\x02", EOT = "\x04", ACK = "\x06";

std::string Msg(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  }
}

// The two framers as the pad link sets them up, on a fake port 3.
class FramerTest : public ::testing::Test {
 protected:
  FramerTest() : fake(std::make_shared<FakeSerialPlatform>(loop)), port(loop, fake) {
    loop.setErrorHandler([this](std::exception_ptr e) { errors.push_back(Msg(e)); });
    fake->AddPort(3);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetComNumber(3);

    fixed.SetComPort(&port);
    fixed.SetStartCond(TPacketStartCond::scAnyData);
    fixed.SetEndCond({TPacketEndCond::ecPacketSize});
    fixed.SetPacketSize(27);
    fixed.SetTimeOut(18);
    fixed.SetAutoEnable(false);
    fixed.OnStringPacket = [this](TApdDataPacket&, const std::string& d) {
      fixedGot.push_back(d);
      if (onFixed) onFixed(d);
    };

    framed.SetComPort(&port);
    framed.SetStartString(STX);
    framed.SetEndString(EOT);
    framed.SetEndCond({TPacketEndCond::ecString});
    framed.SetTimeOut(18);
    framed.SetAutoEnable(false);
    framed.OnStringPacket = [this](TApdDataPacket&, const std::string& d) {
      framedGot.push_back(d);
      if (onFramed) onFramed(d);
    };
  }
  void Open() {
    port.SetOpen(true);
    loop.runPending();
  }
  void Feed(const std::string& bytes) {
    fake->Inject(3, bytes);
    loop.runPending();
  }
  TApdDataPacketManager& Manager() { return *TApdDataPacketManager::ForPort(port); }

  VirtualLoop loop;
  std::shared_ptr<FakeSerialPlatform> fake;
  TApdComPort port;
  TApdDataPacket fixed, framed;
  std::vector<std::string> fixedGot, framedGot, errors;
  std::function<void(const std::string&)> onFixed, onFramed;
};

using Strings = std::vector<std::string>;

TEST_F(FramerTest, DefaultsOfAFreshFramer) {
  TApdDataPacket p;
  EXPECT_EQ(p.ComPort(), nullptr);
  EXPECT_EQ(p.StartCond(), TPacketStartCond::scString);
  EXPECT_TRUE(p.EndCond().Empty());
  EXPECT_EQ(p.PacketSize(), 0);
  EXPECT_EQ(p.TimeOut(), 2184);
  EXPECT_TRUE(p.IncludeStrings());
  EXPECT_TRUE(p.IgnoreCase());
  EXPECT_FALSE(p.Enabled());
  EXPECT_TRUE(p.AutoEnable());
  EXPECT_TRUE(p.FlushOnTimeout());
  EXPECT_TRUE(p.SyncEvents());
  EXPECT_EQ(p.EnableTimeout(), 0);
}

TEST_F(FramerTest, FramedPacketKeepsStartAndEndAndDropsTheRest) {
  Open();
  framed.SetEnabled(true);
  Feed("xy" + STX + "0" + ACK + "ab" + EOT + "z");
  EXPECT_EQ(framedGot, Strings{STX + "0" + ACK + "ab" + EOT});
  EXPECT_FALSE(framed.Enabled());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);
}

TEST_F(FramerTest, TwoFramesInOneChunkWithAndWithoutAutoEnable) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  Feed(STX + "1A" + EOT + STX + "2B" + EOT);
  EXPECT_EQ(framedGot, (Strings{STX + "1A" + EOT, STX + "2B" + EOT}));
  EXPECT_TRUE(framed.Enabled());

  framedGot.clear();
  framed.SetAutoEnable(false);
  Feed(STX + "3C" + EOT + STX + "4D" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "3C" + EOT});
  EXPECT_FALSE(framed.Enabled());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);  // the second frame is gone
  framed.SetEnabled(true);
  loop.advance(100);
  EXPECT_EQ(framedGot.size(), 1u);
}

TEST_F(FramerTest, EotBeforeStxIsIgnoredAndASecondStxIsData) {
  Open();
  framed.SetEnabled(true);
  Feed(EOT + "q" + STX + "a" + STX + "b");
  EXPECT_TRUE(framedGot.empty());
  Feed(EOT);
  EXPECT_EQ(framedGot, Strings{STX + "a" + STX + "b" + EOT});
}

TEST_F(FramerTest, FrameWithoutEotTimesOutAndDisablesEvenWithAutoEnable) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  loop.advance(500);  // the time-out runs from the STX, not from enabling
  Feed("noise" + STX + "0abc");
  const std::int64_t stxAt = loop.nowMs();
  EXPECT_TRUE(framed.HoldsCapture());
  loop.advanceTo(stxAt + 989);
  EXPECT_TRUE(framed.Enabled());
  loop.advanceTo(stxAt + 1045);
  EXPECT_FALSE(framed.Enabled());
  EXPECT_FALSE(framed.HoldsCapture());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);
  Feed("def" + EOT);
  EXPECT_TRUE(framedGot.empty());
  // Frames are received again once the framer is enabled again.
  framed.SetEnabled(true);
  Feed(STX + "1" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "1" + EOT});
}

TEST_F(FramerTest, FixedPacketTakesTheFirstSizeBytes) {
  Open();
  fixed.SetPacketSize(9);
  fixed.SetEnabled(true);
  Feed("ER_CMD#C7xyz");
  EXPECT_EQ(fixedGot, Strings{"ER_CMD#C7"});
  EXPECT_FALSE(fixed.Enabled());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);  // "xyz" had no taker
}

TEST_F(FramerTest, FixedPacketArrivingOneByteShortTimesOutFromEnabling) {
  Open();
  fixed.SetPacketSize(28);
  const std::int64_t enabledAt = loop.nowMs();
  fixed.SetEnabled(true);
  EXPECT_TRUE(fixed.HoldsCapture());
  loop.advance(200);
  Feed(std::string(27, 'i'));
  EXPECT_EQ(Manager().CollectedBytes(), 27u);
  loop.advanceTo(enabledAt + 989);
  EXPECT_TRUE(fixed.Enabled());
  loop.advanceTo(enabledAt + 1045);
  EXPECT_FALSE(fixed.Enabled());
  EXPECT_TRUE(fixedGot.empty());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);
  Feed("j");
  EXPECT_TRUE(fixedGot.empty());
}

TEST_F(FramerTest, EnablingAnEnabledFramerChangesNothing) {
  Open();
  fixed.SetPacketSize(9);
  const std::int64_t enabledAt = loop.nowMs();
  fixed.SetEnabled(true);
  loop.advance(600);
  fixed.SetPacketSize(27);
  fixed.SetEnabled(true);
  Feed("abcdefghi");
  EXPECT_EQ(fixedGot, Strings{"abcdefghi"});  // still 9
  // The time-out is not restarted either.
  fixed.SetEnabled(true);
  loop.advance(600);
  fixed.SetEnabled(true);
  const std::int64_t t0 = loop.nowMs() - 600;
  loop.advanceTo(t0 + 1045);
  EXPECT_FALSE(fixed.Enabled());
  EXPECT_GT(t0, enabledAt);
}

TEST_F(FramerTest, FixedFramerEnabledWhileClosedStartsAtOpen) {
  fixed.SetPacketSize(9);
  fixed.SetEnabled(true);
  EXPECT_TRUE(fixed.Enabled());
  EXPECT_EQ(fixed.Mode(), TPacketMode::dpIdle);
  loop.advance(5000);  // no time-out while closed
  EXPECT_TRUE(fixed.Enabled());
  const std::int64_t openedAt = loop.nowMs();
  Open();
  EXPECT_EQ(fixed.Mode(), TPacketMode::dpCollecting);
  EXPECT_TRUE(fixed.HoldsCapture());
  loop.advanceTo(openedAt + 1045);
  EXPECT_FALSE(fixed.Enabled());
}

TEST_F(FramerTest, WhileFixedCollectsFramedSeesNothingAndGetsTheBytesBehind) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  fixed.SetPacketSize(9);
  fixed.SetEnabled(true);
  EXPECT_TRUE(fixed.HoldsCapture());
  // A frame inside the fixed packet belongs to it; the frame behind it goes
  // to the framed framer.
  Feed("ER" + STX + "1" + EOT + "abcd" + STX + "2x" + EOT);
  EXPECT_EQ(fixedGot, Strings{"ER" + STX + "1" + EOT + "abcd"});
  EXPECT_EQ(framedGot, Strings{STX + "2x" + EOT});
}

TEST_F(FramerTest, FlushInBufferFromAHandlerKeepsTheCollectedBytesBehindThePacket) {
  Open();
  framed.SetEnabled(true);
  fixed.SetPacketSize(9);
  fixed.SetEnabled(true);
  onFixed = [this](const std::string&) {
    fake->Inject(3, STX + "late" + EOT);  // not yet read by the port: dropped
    port.FlushInBuffer();
  };
  Feed("ER_CMD#B0" + STX + "3z" + EOT);
  EXPECT_EQ(fixedGot, Strings{"ER_CMD#B0"});
  EXPECT_EQ(framedGot, Strings{STX + "3z" + EOT});
  framed.SetEnabled(true);
  loop.advance(100);
  EXPECT_EQ(framedGot.size(), 1u);
  EXPECT_EQ(fake->PendingInput(3), 0u);
}

TEST_F(FramerTest, InvalidSettingsAreRefusedWhenEnablingWhileOpen) {
  Open();
  framed.SetEnabled(true);
  TApdDataPacket bad;
  bad.SetComPort(&port);
  auto expectCode = [&](int code) {
    try {
      bad.SetEnabled(true);
      ADD_FAILURE() << "no error for " << code;
    } catch (const EInvalidProperty& e) {
      EXPECT_EQ(e.ErrorCode(), code);
    }
    EXPECT_FALSE(bad.Enabled());
    EXPECT_FALSE(bad.HoldsCapture());
    EXPECT_EQ(bad.Mode(), TPacketMode::dpIdle);
  };
  expectCode(5501);  // scString, no start string
  bad.SetStartString("ab");
  bad.SetEndCond({TPacketEndCond::ecPacketSize});
  bad.SetPacketSize(1);
  expectCode(5502);
  bad.SetStartCond(TPacketStartCond::scAnyData);
  bad.SetEndCond({});
  expectCode(5503);
  bad.SetEndCond({TPacketEndCond::ecString});
  expectCode(5504);
  bad.SetEndCond({TPacketEndCond::ecPacketSize});
  bad.SetPacketSize(0);
  expectCode(5505);
  // The other framers go on receiving.
  Feed(STX + "ok" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "ok" + EOT});
}

TEST_F(FramerTest, InvalidSettingsOfAFramerEnabledWhileClosedAreReportedAtOpen) {
  fixed.SetPacketSize(0);
  fixed.SetEnabled(true);  // not checked while closed
  framed.SetEnabled(true);
  Open();
  EXPECT_FALSE(fixed.Enabled());
  EXPECT_EQ(errors, Strings{"Packet size cannot be zero"});
  EXPECT_TRUE(port.Open());
  Feed(STX + "x" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "x" + EOT});
}

TEST_F(FramerTest, WildcardsBackslashAndIgnoreCase) {
  Open();
  TApdDataPacket p;
  std::vector<std::string> got;
  p.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { got.push_back(d); };
  p.SetComPort(&port);
  p.SetAutoEnable(true);
  p.SetStartString("s?\\?");  // "s", any byte, a literal "?"
  p.SetEndString("e\\\\");    // "e" then a backslash
  p.SetEndCond({TPacketEndCond::ecString});
  p.SetEnabled(true);
  Feed("sx!..SY?data\\eE\\tail");
  EXPECT_EQ(got, Strings{"SY?data\\eE\\"});
  // A partial start match falls back to the shortest later beginning.
  got.clear();
  p.SetStartString("aab");
  p.SetEndString("z");
  Feed("xaaab12z");
  EXPECT_EQ(got, Strings{"aab12z"});
  // Case counts when IgnoreCase is off.
  got.clear();
  p.SetIgnoreCase(false);
  Feed(
      "AABqz"
      "aabQZz");
  EXPECT_EQ(got, Strings{"aabQZz"});
}

TEST_F(FramerTest, PartialEndMatchFallsBack) {
  Open();
  TApdDataPacket p;
  std::vector<std::string> got;
  p.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { got.push_back(d); };
  p.SetComPort(&port);
  p.SetStartString("<");
  p.SetEndString("ab!");
  p.SetEndCond({TPacketEndCond::ecString});
  p.SetEnabled(true);
  Feed(
      "<aab"
      "aab!rest");
  EXPECT_EQ(got, Strings{"<aabaab!"});
}

TEST_F(FramerTest, IncludeStringsOffStripsStartAndEnd) {
  Open();
  framed.SetIncludeStrings(false);
  framed.SetEnabled(true);
  Feed(STX + "payload" + EOT);
  EXPECT_EQ(framedGot, Strings{"payload"});
}

TEST_F(FramerTest, HandlerErrorIsReportedAndTheFramerGoesOn) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  onFramed = [](const std::string& d) {
    if (d.find('!') != std::string::npos) throw std::runtime_error("bad entry");
  };
  Feed(STX + "!" + EOT + STX + "ok" + EOT);
  EXPECT_EQ(framedGot, (Strings{STX + "!" + EOT, STX + "ok" + EOT}));
  EXPECT_EQ(errors, Strings{"bad entry"});
  EXPECT_TRUE(framed.Enabled());
}

TEST_F(FramerTest, EnablingInsideAnEventIsPendingUntilItEnds) {
  Open();
  fixed.SetPacketSize(3);
  fixed.SetEnabled(true);
  bool enabledInside = false;
  TPacketMode modeInside = TPacketMode::dpCollecting;
  onFixed = [&](const std::string&) {
    framed.SetAutoEnable(true);
    framed.SetEnabled(true);
    enabledInside = framed.Enabled();
    modeInside = framed.Mode();
  };
  Feed("abc" + STX + "7" + EOT);
  EXPECT_TRUE(enabledInside);
  EXPECT_EQ(modeInside, TPacketMode::dpIdle);  // not matching during the event
  EXPECT_EQ(framedGot, Strings{STX + "7" + EOT});
}

TEST_F(FramerTest, SwitchingFromFramedToFixedInsideAHandler) {
  // The pad link's base query from a pad handler: framed off, fixed on.
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  fixed.SetPacketSize(4);
  onFramed = [&](const std::string&) {
    framed.SetAutoEnable(false);
    framed.SetEnabled(false);
    fixed.SetEnabled(true);
  };
  Feed(STX + "0" + EOT + "REPL" + STX + "1" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "0" + EOT});
  EXPECT_EQ(fixedGot, Strings{"REPL"});
  EXPECT_FALSE(framed.Enabled());
}

TEST_F(FramerTest, CloseStopsMatchingButKeepsEnabledAndReopenRestarts) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  Feed(STX + "half");
  EXPECT_TRUE(framed.HoldsCapture());
  port.SetOpen(false);
  EXPECT_TRUE(framed.Enabled());
  EXPECT_EQ(framed.Mode(), TPacketMode::dpIdle);
  EXPECT_FALSE(Manager().Active());
  EXPECT_EQ(Manager().CollectedBytes(), 0u);
  Open();
  EXPECT_EQ(framed.Mode(), TPacketMode::dpWaitStart);
  Feed("rest" + EOT + STX + "new" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "new" + EOT});
}

TEST_F(FramerTest, ClosingThePortFromAPacketHandler) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  onFramed = [&](const std::string&) { port.SetOpen(false); };
  Feed(STX + "a" + EOT + STX + "b" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "a" + EOT});
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.State(), TPortState::psClosed);
  EXPECT_EQ(fake->OpenHandles(), 0);
  EXPECT_TRUE(framed.Enabled());
}

TEST_F(FramerTest, TimeoutEventAndFlushOnTimeoutOff) {
  Open();
  int timeouts = 0;
  framed.OnTimeout = [&](TApdDataPacket& sender) {
    EXPECT_EQ(&sender, &framed);
    ++timeouts;
  };
  framed.SetFlushOnTimeout(false);
  framed.SetEnabled(true);
  Feed(STX + "x");
  loop.advance(1200);
  EXPECT_EQ(timeouts, 1);
  EXPECT_FALSE(framed.Enabled());
  EXPECT_EQ(Manager().CollectedBytes(), 2u);  // kept without FlushOnTimeout
}

TEST_F(FramerTest, FixedEnabledWhileAFrameIsCollectedWaitsForThatCapture) {
  Open();
  framed.SetEnabled(true);
  Feed(STX + "4" + "\x06");
  ASSERT_TRUE(framed.HoldsCapture());
  fixed.SetPacketSize(4);
  fixed.SetEnabled(true);  // will collect once the frame is complete
  EXPECT_TRUE(fixed.Enabled());
  EXPECT_FALSE(fixed.HoldsCapture());
  Feed("7" + EOT + "REPLrest");
  EXPECT_EQ(framedGot, Strings{STX +
                               "4\x06"
                               "7" +
                               EOT});
  EXPECT_EQ(fixedGot, Strings{"REPL"});
}

TEST_F(FramerTest, TakingTheCaptureRestartsAPartialStartMatchOfAnother) {
  Open();
  TApdDataPacket a;
  std::vector<std::string> got;
  a.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { got.push_back(d); };
  a.SetComPort(&port);
  a.SetStartString("AB");
  a.SetEndString("!");
  a.SetEndCond({TPacketEndCond::ecString});
  a.SetEnabled(true);
  framed.SetEnabled(true);
  // "A" begins a's start string; the STX that follows gives the capture to
  // the framed framer, which restarts a: the "B" later starts nothing.
  Feed("A");
  Feed(STX + "B!" + EOT);
  EXPECT_EQ(framedGot, Strings{STX + "B!" + EOT});
  EXPECT_TRUE(got.empty());
  Feed("AB!");
  EXPECT_EQ(got, Strings{"AB!"});
}

TEST_F(FramerTest, ManagerIsSharedAndGoesWithTheLastFramer) {
  EXPECT_EQ(TApdDataPacketManager::ForPort(port).get(), TApdDataPacketManager::ForPort(port).get());
  {
    TApdComPort other(loop, fake);
    TApdDataPacket a;
    a.SetComPort(&other);
    EXPECT_FALSE(other.PacketManagerSlot().expired());
    a.SetComPort(nullptr);
    EXPECT_TRUE(other.PacketManagerSlot().expired());
    EXPECT_EQ(a.ComPort(), nullptr);
  }
  // A framer outliving its port no longer has one.
  TApdDataPacket orphan;
  {
    TApdComPort shortLived(loop, fake);
    orphan.SetComPort(&shortLived);
    orphan.SetStartString(STX);
    orphan.SetEnabled(true);
  }
  EXPECT_EQ(orphan.ComPort(), nullptr);
  orphan.SetEnabled(false);
}

TEST_F(FramerTest, ManyFramesAcrossChunkBoundaries) {
  Open();
  framed.SetAutoEnable(true);
  framed.SetEnabled(true);
  std::string all;
  Strings expected;
  for (int i = 0; i < 2000; ++i) {
    std::string f = STX + std::to_string(i % 12) + ACK + std::string(static_cast<std::size_t>(i % 40), 'x') + EOT;
    expected.push_back(f);
    all += f;
  }
  for (std::size_t off = 0; off < all.size(); off += 777) fake->Inject(3, all.substr(off, 777));
  loop.runPending();
  EXPECT_EQ(framedGot, expected);
  EXPECT_EQ(Manager().CollectedBytes(), 0u);
}

}  // namespace
}  // namespace mq::serial
