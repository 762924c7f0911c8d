// Competition and configuration commands.
#include "padlink/pad_link_fixture.h"

namespace mq::padlink::test {
namespace {

using Strings = std::vector<std::string>;

class CommandsTest : public PadLinkTest {
 protected:
  void WithPads(const std::string& ids) {
    OpenWithPads(ids);
    win.refreshes = 0;
  }
  // Finds the station on `port` with a full scan.
  void FindStation(unsigned port, const std::string& ident = "ER400TRS-02V2.02.10") {
    fake->AddPort(port);
    base = std::make_unique<ScriptedBase>();
    base->port = port;
    base->ident = ident;
    form->FullScan();
    Run(4000);
    ASSERT_EQ(form->BasePort(), static_cast<int>(port));
    fake->ClearWritten(port);
    base->seen = 0;
    win.log.clear();
  }
  long Scans() const { return std::count(win.log.begin(), win.log.end(), "Start Full Scan"); }
};

// ---- Competition commands ----

TEST_F(CommandsTest, DiveFramesLeaveOneHundredMillisecondsApartInJudgeOrder) {
  WithPads("0123456789ac");
  const auto t0 = loop.nowMs();
  ASSERT_EQ(form->PadList().size(), 12u);
  ASSERT_TRUE(form->Broadcast());  // every pad reported 912
  form->SetBroadcast(false);
  form->SendDive("103B 3m    First Diver");
  EXPECT_EQ(form->TxQueueCount(), 12u);
  loop.advance(12 * 100);
  const auto writes = WritesOf(3);
  ASSERT_EQ(writes.size(), 12u);
  for (int j = 0; j < 12; ++j) {
    EXPECT_EQ(writes[static_cast<std::size_t>(j)], DiveFrame(PadId(j), "103B 3m    First Diver"));
    EXPECT_EQ(WriteTimes(3)[static_cast<std::size_t>(j)], t0 + 100 * (j + 1));
  }
  EXPECT_EQ(writes[3],
            "\x02"
            "3J3   103B 3m    First Diver\x1b"
            "0\x04");
  EXPECT_EQ(win.refreshes, 0);
  loop.advance(100);
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_EQ(form->COMTimer().Interval(), 120);
}

TEST_F(CommandsTest, BroadcastDiveIsOneFrameEvenWithoutPads) {
  OpenPort(3);
  form->SetBroadcast(true);
  form->SendDive("103B 3m    First Diver");
  EXPECT_EQ(form->TxQueueCount(), 1u);
  loop.advance(100);
  EXPECT_EQ(WritesOf(3), Strings{"\x02"
                                 "FJ\x1a   103B 3m    First Diver\x1b"
                                 "0\x04"});
  loop.advance(100);
  EXPECT_FALSE(form->Broadcast());  // recomputed: no firmware, no broadcast
}

TEST_F(CommandsTest, BroadcastWithThreePadsQueuesOneFrame) {
  WithPads("01a");
  form->SetBroadcast(true);
  form->SendDive("x");
  EXPECT_EQ(form->TxQueueCount(), 1u);
}

TEST_F(CommandsTest, LockThenUnlockQueueBothBatchesInOrder) {
  WithPads("27");
  form->SetBroadcast(true);  // no broadcast form of these frames
  form->KbdLocked(true);
  form->KbdLocked(false);
  loop.advance(500);
  EXPECT_EQ(WritesOf(3),
            (Strings{LockFrame('2', true), LockFrame('7', true), LockFrame('2', false), LockFrame('7', false)}));
  EXPECT_EQ(win.refreshes, 1);
}

TEST_F(CommandsTest, JudgeIdRequestGoesToEveryPadAndAcksFollowTheBatch) {
  WithPads("05");
  form->RequestJudgeIDs();
  EXPECT_TRUE(form->JudgeIdMode());
  loop.advance(100);
  Feed(3, kStx + "0J0" + kEot);  // arrives while the batch is being sent
  loop.advance(200);
  EXPECT_EQ(WritesOf(3), (Strings{JudgeIdRequest('0'), JudgeIdRequest('5'), EntryAck('0', "J0", true)}));
  EXPECT_EQ(WritesOf(3)[0].size(), 36u);
}

TEST_F(CommandsTest, NoPadsNoBroadcastQueuesNothingButStillRefreshes) {
  OpenPort(3);
  form->SendDive("x");
  form->RequestJudgeIDs();
  loop.advance(100);
  EXPECT_TRUE(WritesOf(3).empty());
  EXPECT_EQ(win.refreshes, 1);
}

// ---- Configuration commands ----

TEST_F(CommandsTest, SetChannelBeforeAnyPortShowsTheMessageAndSendsNothing) {
  form->SetChannel(4);
  ASSERT_EQ(win.messages.size(), 1u);
  EXPECT_EQ(win.messages[0], "Please run a 'Scans, Full Scan' first");
  EXPECT_FALSE(form->SetChanTimer().Enabled());
}

TEST_F(CommandsTest, SetChannelSendsTheDigitWithoutLogAndRescans) {
  FindStation(3);
  const auto t0 = loop.nowMs();
  form->SetChannel(4);
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#C4", "ACK"}));
  EXPECT_EQ(WriteTimes(3)[1] - WriteTimes(3)[0], 20);
  EXPECT_TRUE(win.log.empty());
  Run(119);
  EXPECT_EQ(Scans(), 1);
  EXPECT_EQ(win.log.front(), "Start Full Scan");
  EXPECT_GE(loop.nowMs() - t0, 100);
  EXPECT_EQ(form->SetChanTimer().Interval(), 100);
  EXPECT_FALSE(form->SetChanTimer().Enabled());
}

TEST_F(CommandsTest, ResetWithAKnownChannelSevenStationRescansAfterHalfASecond) {
  FindStation(2, "ER400TRS-02V2.01.7");
  ASSERT_FALSE(form->UseResetCommand());
  const auto t0 = loop.nowMs();
  form->BaseStationReset();
  EXPECT_EQ(WritesOf(2), (Strings{"ER_CMD#C7", "ACK"}));
  EXPECT_EQ(form->SetChanTimer().Interval(), 500);
  Run(499);
  EXPECT_EQ(Scans(), 0);
  Run(30);
  EXPECT_EQ(Scans(), 1);
  EXPECT_EQ(form->SetChanTimer().Interval(), 100);
  (void)t0;
}

TEST_F(CommandsTest, ResetWithAKnownStationSendsR1) {
  FindStation(3);
  form->BaseStationReset();
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#R1", "ACK"}));
}

TEST_F(CommandsTest, ResetWalkGoesFromTheLastPortToTheFirstSkippingOneThatFails) {
  for (unsigned n : {3u, 5u, 7u}) fake->AddPort(n);
  form->FullScan();
  Run(2000);  // no station: both passes fail
  ASSERT_EQ(form->PortList(), (Strings{"3", "5", "7"}));
  ASSERT_EQ(form->BasePort(), 0);
  for (unsigned n : {3u, 5u, 7u}) fake->ClearWritten(n);
  fake->SetConfigureFailure(5, 5, "Input/output error");
  form->RequestJudgeIDs();
  const auto t0 = loop.nowMs();
  form->BaseStationReset();
  EXPECT_FALSE(form->JudgeIdMode());
  EXPECT_EQ(WritesOf(7), (Strings{"ER_CMD#R1", "ACK"}));
  EXPECT_TRUE(form->ReSetTimer().Enabled());
  loop.advance(100);
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#R1", "ACK"}));
  EXPECT_TRUE(WritesOf(5).empty());
  EXPECT_GE(WriteTimes(3)[0] - t0, 100 + 50 + 50 + 20);
  loop.advance(500);
  EXPECT_FALSE(form->ReSetTimer().Enabled());
  EXPECT_TRUE(form->ComPort().Open());
  EXPECT_EQ(form->ComPort().ComNumber(), 3);
  EXPECT_EQ(WritesOf(3).size(), 2u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(CommandsTest, ResetWithNoPortsDoesNothing) {
  form->BaseStationReset();
  EXPECT_FALSE(form->ReSetTimer().Enabled());
  EXPECT_FALSE(form->ComPort().Open());
  EXPECT_TRUE(errors.empty());
}

TEST_F(CommandsTest, TwoConfigurationCommandsWithinOneHundredMillisecondsGiveOneScan) {
  FindStation(3);
  form->SetChannel(4);
  loop.advance(50);
  form->SetBandwidth(1);
  Run(1000);
  EXPECT_EQ(Scans(), 1);
}

TEST_F(CommandsTest, BandwidthCommandsAndTheirReplies) {
  FindStation(3);
  shell.BandwidthIndex = 1;
  form->SetBandwidth(4);
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#B6", "ACK"}));
  EXPECT_EQ(win.log, (Strings{"3 --> ER_CMD#B6", "3 --> ACK"}));
  EXPECT_EQ(shell.BandwidthIndex, 4);
  EXPECT_FALSE(form->FramedDataPacket().Enabled());
  EXPECT_TRUE(form->FixedDataPacket().Enabled());
  EXPECT_EQ(form->FixedDataPacket().PacketSize(), 9);
  Feed(3, "ER_CMD#B0");
  EXPECT_EQ(shell.BandwidthIndex, 0);
  fake->ClearWritten(3);
  form->SetBandwidth(0);
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#B0", "ACK"}));
  fake->ClearWritten(3);
  form->SetBandwidth(7);  // no such item
  EXPECT_TRUE(WritesOf(3).empty());
}

TEST_F(CommandsTest, SeparationArmsTenBytes) {
  FindStation(3);
  form->DCS(true);
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#A01", "ACK"}));
  EXPECT_EQ(WritesOf(3)[0].size(), 10u);
  EXPECT_EQ(win.log, (Strings{"3 --> ER_CMD#A01", "3 --> ACK"}));
  Feed(3, "ER_CMD#A01");
  EXPECT_EQ(win.log.back(), "3 <-- ER_CMD#A01");
  EXPECT_TRUE(form->SetChanTimer().Enabled());
}

TEST_F(CommandsTest, WithoutAStationBandwidthAndSeparationDoNothing) {
  OpenPort(3);
  form->SetBandwidth(2);
  form->DCS(false);
  EXPECT_TRUE(WritesOf(3).empty());
  EXPECT_TRUE(win.log.empty());
  EXPECT_FALSE(form->SetChanTimer().Enabled());
}

TEST_F(CommandsTest, CustomCommandsArmTheirLength) {
  FindStation(3);
  form->SendCustomCmd("ER_CMD#T3");
  EXPECT_EQ(form->FixedDataPacket().PacketSize(), 27);
  Feed(3, "ER_CMD#T3ER400TRS-02V2.01.7");
  EXPECT_EQ(win.log.back(), "3 <-- ER_CMD#T3ER400TRS-02V2.01.7");
  form->SendCustomCmd("er_cmd#t3");
  EXPECT_EQ(form->FixedDataPacket().PacketSize(), 9);
  Feed(3, "er_cmd#t3");
  EXPECT_EQ(win.log.back(), "3 <-- er_cmd#t3");
  EXPECT_FALSE(form->SetChanTimer().Enabled());
  EXPECT_FALSE(form->FramedDataPacket().Enabled());
}

TEST_F(CommandsTest, EmptyCustomCommandIsRefusedByAnIdleFramer) {
  FindStation(3);
  loop.advance(2000);  // earlier collections over
  ASSERT_FALSE(form->FixedDataPacket().Enabled());
  form->SendCustomCmd("");
  ASSERT_EQ(errors, Strings{"Packet size cannot be zero"});
  EXPECT_TRUE(win.log.empty());
  EXPECT_TRUE(WritesOf(3).empty());
  EXPECT_FALSE(form->FramedDataPacket().Enabled());
  // With the framer still collecting, only "ACK" goes out.
  form->SendCustomCmd("ER_CMD#B?");
  form->SendCustomCmd("");
  EXPECT_EQ(WritesOf(3), (Strings{"ER_CMD#B?", "ACK", "ACK"}));
  EXPECT_EQ(win.log.back(), "3 --> ACK");
  EXPECT_EQ(win.log[win.log.size() - 2], "3 --> ");
}

TEST_F(CommandsTest, WriteOnAClosedPortStopsTheCommandWhereItIs) {
  FindStation(3);
  form->ComPort().SetOpen(false);
  form->SetBandwidth(2);
  EXPECT_EQ(errors, Strings{"COM3: ie_NOpen - device not open"});
  EXPECT_EQ(win.log, Strings{"3 --> ER_CMD#B2"});
  EXPECT_FALSE(form->SetChanTimer().Enabled());
  form->SetChannel(5);
  form->BaseStationReset();
  EXPECT_EQ(errors.size(), 3u);
  EXPECT_FALSE(form->SetChanTimer().Enabled());
}

}  // namespace
}  // namespace mq::padlink::test
