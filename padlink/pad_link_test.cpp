// Link state, transmit queue, base-station discovery and pad replies.
#include <cerrno>

#include "padlink/pad_link_fixture.h"

namespace mq::padlink::test {
namespace {

using Strings = std::vector<std::string>;

std::string Poll(char id) { return RegisterPoll(id); }

TEST_F(PadLinkTest, StartStateOfTheForm) {
  EXPECT_EQ(form->BasePort(), 0);
  EXPECT_TRUE(form->PadList().empty());
  EXPECT_TRUE(form->UseResetCommand());
  EXPECT_FALSE(form->Broadcast());
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_FALSE(form->ComPort().Open());
  EXPECT_FALSE(form->FixedDataPacket().Enabled());
  EXPECT_FALSE(form->FramedDataPacket().Enabled());
  EXPECT_EQ(form->FramedDataPacket().StartString(), kStx);
  EXPECT_EQ(form->FramedDataPacket().EndString(), kEot);
  EXPECT_EQ(form->FixedDataPacket().PacketSize(), 27);
  EXPECT_EQ(form->FixedDataPacket().TimeOut(), 18);
  EXPECT_FALSE(form->COMTimer().Enabled());
  EXPECT_EQ(form->BaseTimer().Interval(), 100);
  EXPECT_EQ(form->EchoTimer().Interval(), 50);
  EXPECT_FALSE(form->ComPort().AutoOpen());
}

// ---- Transmit queue ----

TEST_F(PadLinkTest, TwelvePollsLeaveOnTwelveTicksAndRefreshFollowsOnTheThirteenth) {
  OpenPort(3);
  const auto t0 = loop.nowMs();
  form->ScanPortForPads();
  EXPECT_TRUE(win.monitoring);
  EXPECT_TRUE(form->FramedDataPacket().Enabled());
  EXPECT_TRUE(form->FramedDataPacket().AutoEnable());
  EXPECT_EQ(form->TxQueueCount(), 12u);
  loop.advance(12 * 120);
  const auto times = WriteTimes(3);
  ASSERT_EQ(times.size(), 12u);
  for (std::size_t k = 0; k < 12; ++k) EXPECT_EQ(times[k], t0 + 120 * static_cast<std::int64_t>(k + 1));
  Strings expected;
  for (char id : PadIdAlphabet) expected.push_back(Poll(id));
  EXPECT_EQ(WritesOf(3), expected);
  EXPECT_EQ(win.log.back(), "3 --> " + kStx + "cJ11" + kEsc + "13" + kEot);
  EXPECT_EQ(win.refreshes, 0);
  loop.advance(119);
  EXPECT_EQ(win.refreshes, 0);
  loop.advance(1);
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_FALSE(form->COMTimer().Enabled());
  EXPECT_EQ(form->COMTimer().Interval(), 120);
  EXPECT_EQ(win.events.back(), "cursor:normal");
}

TEST_F(PadLinkTest, WriteOnAClosedPortLosesTheFrameAndTheTimerGoesOn) {
  OpenPort(3);
  form->ScanPortForPads();
  loop.advance(120);
  EXPECT_EQ(WritesOf(3).size(), 1u);
  form->ComPort().SetOpen(false);
  loop.advance(120);
  ASSERT_EQ(errors, Strings{"COM3: ie_NOpen - device not open"});
  EXPECT_EQ(form->TxQueueCount(), 10u);  // the frame of this tick is gone
  EXPECT_TRUE(form->COMTimer().Enabled());
  form->ComPort().SetOpen(true);
  loop.advance(120);
  EXPECT_EQ(WritesOf(3).back(), Poll('2'));
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(PadLinkTest, EmptyQueueRefreshesOnTheFirstTick) {
  OpenPort(3);
  form->KbdLocked(true);
  EXPECT_TRUE(form->COMTimer().Enabled());
  EXPECT_EQ(form->COMTimer().Interval(), 100);
  loop.advance(100);
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_TRUE(WritesOf(3).empty());
  EXPECT_EQ(form->COMTimer().Interval(), 120);
}

// ---- Full scan ----

TEST_F(PadLinkTest, FullScanFindsTheStationOnTheSecondPortAndScansItsPads) {
  fake->AddPort(3);
  fake->AddPort(7);
  fake->AddPort(51);  // never probed
  base = std::make_unique<ScriptedBase>();
  base->port = 7;
  base->pads = {{'0', "912"}, {'a', ""}};
  form->FullScan();
  EXPECT_TRUE(win.busy);
  Run(3000);
  EXPECT_TRUE(errors.empty()) << errors.front();
  const Strings expected = {
      "Start Full Scan",
      "Available port numbers: 3, 7",
      "3 --> ER_CMD#T3",
      "3 --> ACK",
      "7 --> ER_CMD#T3",
      "7 --> ACK",
      "7 <-- ER_CMD#T3ER400TRS-02V2.02.10",
      "7 --> ER_CMD#C?",
      "7 <-- ER_CMD#C7",
      "7 --> ER_CMD#B?",
      "7 <-- ER_CMD#B6",
      "7 --> " + Poll('0'),
      "7 <-- 912",
  };
  ASSERT_GE(win.log.size(), expected.size());
  EXPECT_EQ(Strings(win.log.begin(), win.log.begin() + static_cast<long>(expected.size())), expected);
  EXPECT_NE(std::find(win.log.begin(), win.log.end(), "7 <-- "), win.log.end());  // pad a, no firmware
  EXPECT_EQ(form->BasePort(), 7);
  EXPECT_EQ(form->PortText(), "7");
  EXPECT_EQ(form->BaseIdent(), "ER400TRS-02V2.02.10");
  EXPECT_EQ(form->ChannelText(), "7");
  EXPECT_EQ(shell.BandwidthIndex, 4);
  EXPECT_TRUE(form->DCSAvailable());
  EXPECT_TRUE(form->UseResetCommand());
  EXPECT_EQ(form->PadList(), (Strings{"0", "a"}));
  EXPECT_EQ(form->FirmwareList(), (Strings{"0", "912"}));
  EXPECT_FALSE(form->Broadcast());  // a pad without firmware
  EXPECT_TRUE(win.lights[0]);
  EXPECT_TRUE(win.lights[10]);
  EXPECT_TRUE(win.handCursor[10]);
  EXPECT_FALSE(win.lights[1]);
  EXPECT_FALSE(win.busy);
  EXPECT_TRUE(form->ComPort().Open());
  EXPECT_EQ(form->ComPort().ComNumber(), 7);
  EXPECT_EQ(form->PortList(), (Strings{"3", "7"}));
  EXPECT_FALSE(fake->IsOpen(3));
}

TEST_F(PadLinkTest, TwentySevenByteStationIsFoundInTheSecondPass) {
  fake->AddPort(2);
  base = std::make_unique<ScriptedBase>();
  base->port = 2;
  base->ident = "ER400TRS-02V2.01.7";
  form->FullScan();
  Run(4000);
  EXPECT_EQ(std::count(win.log.begin(), win.log.end(), "Available port numbers: 2"), 2);
  EXPECT_EQ(form->BasePort(), 2);
  EXPECT_EQ(form->BaseIdent(), "ER400TRS-02V2.01.7");
  EXPECT_FALSE(form->UseResetCommand());
  EXPECT_EQ(form->BasePacketSize(), 27);

  // The channel-7 reset stays until the program restarts.
  base->ident = "ER400TRS-02V2.02.10";
  base->seen = fake->Writes(2).size();
  form->FullScan();
  Run(3000);
  EXPECT_EQ(form->BaseIdent(), "ER400TRS-02V2.02.10");
  EXPECT_FALSE(form->UseResetCommand());
}

TEST_F(PadLinkTest, NoPortsAtAll) {
  form->FullScan();
  EXPECT_EQ(win.log, (Strings{"Start Full Scan", "No available ports!"}));
  EXPECT_EQ(form->PortText(), "No ports found");
  EXPECT_EQ(form->BaseIdent(), "");
  EXPECT_EQ(form->ChannelText(), "?");
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_FALSE(win.busy);
}

TEST_F(PadLinkTest, NoStationInBothPassesLeavesPadFramesCollected) {
  fake->AddPort(4);
  form->FullScan();
  Run(1000);
  EXPECT_EQ(std::count(win.log.begin(), win.log.end(), "Available port numbers: 4"), 2);
  EXPECT_EQ(form->BasePort(), 0);
  EXPECT_EQ(form->BaseIdent(), "No Base Station found");
  EXPECT_EQ(form->PortText(), "");
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_TRUE(form->FramedDataPacket().Enabled());
  EXPECT_TRUE(form->FramedDataPacket().AutoEnable());
  EXPECT_FALSE(form->FixedDataPacket().Enabled());
  EXPECT_TRUE(form->ComPort().Open());
  // About 220 ms per silent port and pass.
  EXPECT_EQ(WriteTimes(4)[2] - WriteTimes(4)[0], 220);
}

TEST_F(PadLinkTest, PortThatFailsToOpenIsSkipped) {
  fake->AddPort(3);
  fake->AddPort(5);
  base = std::make_unique<ScriptedBase>();
  base->port = 5;
  fake->SetConfigureFailure(3, 5, "Input/output error");  // the probe's open succeeds, the port's fails
  form->FullScan();
  Run(2000);
  EXPECT_EQ(form->BasePort(), 5);
  EXPECT_TRUE(WritesOf(3).empty());
  EXPECT_TRUE(errors.empty());
}

const std::string kNoPermission = "permission denied";

TEST_F(PadLinkTest, PortsThatExistButCannotBeOpenedAreNamedWithTheReason) {
  fake->AddPort(3);
  fake->SetHeldByOther(3, true);
  fake->SetOpenFailure(5, EACCES);
  fake->SetOpenFailure(6, EIO, "Input/output error");
  fake->AddPort(8);
  form->FullScan();
  ASSERT_GE(win.log.size(), 5u);
  EXPECT_EQ(Strings(win.log.begin(), win.log.begin() + 5),
            (Strings{"Start Full Scan", "COM3: in use by another program", "COM5: " + kNoPermission,
                     "COM6: Input/output error", "Available port numbers: 8"}));
  EXPECT_EQ(form->PortList(), (Strings{"8"}));
  Run(1000);
  EXPECT_TRUE(win.messages.empty());  // a port could be opened: the log says enough
  EXPECT_TRUE(errors.empty());
}

// The advice fits what the system says about each port: a group to join
// only where joining helps, whose device it is otherwise, which program
// holds a port in use.
TEST_F(PadLinkTest, TheReasonForAPortCarriesAdviceThatFitsItsCause) {
  using Kind = mq::serial::TOpenAdvice::Kind;
  for (unsigned n : {2u, 3u, 4u}) fake->SetOpenFailure(n, EACCES);
  fake->AddPort(5);
  fake->SetHeldByOther(5, true);
  fake->SetAdvice(2, {Kind::JoinGroup, "/dev/ttyUSB1", "dialout", "", "", "", 0});
  fake->SetAdvice(3, {Kind::LogInAgain, "/dev/ttyUSB2", "dialout", "", "", "", 0});
  fake->SetAdvice(4, {Kind::DeviceOwner, "/dev/ttyUSB3", "root", "root", "0600", "", 0});
  fake->SetAdvice(5, {Kind::HeldBy, "/dev/ttyUSB4", "", "", "", "ModemManager", 812});
  fake->AddPort(8);
  form->FullScan();
  ASSERT_GE(win.log.size(), 6u);
  EXPECT_EQ(Strings(win.log.begin() + 1, win.log.begin() + 5),
            (Strings{"COM2: permission denied \u2014 ask to be added to the group dialout, then log in again",
                     "COM3: permission denied \u2014 you were added to the group dialout after logging in: log out "
                     "and back in",
                     "COM4: permission denied \u2014 /dev/ttyUSB3 belongs to root:root with mode 0600",
                     "COM5: in use by ModemManager (process 812)"}));
}

// Where the COM numbers come from is the scan's first word: a simulator's
// links hide the machine's own ports, and what was ignored says why.
TEST_F(PadLinkTest, TheScanSaysWhereTheComNumbersComeFrom) {
  using Kind = mq::serial::TPortMapNote::Kind;
  fake->SetPortMapNotes({{Kind::PortsFolderUsed, "/d/ports/", ""},
                         {Kind::LinkForeign, "/d/ports/COM3", "bob"},
                         {Kind::PortsFolderForeign, "/e/ports/", "eve"},
                         {Kind::PortsFolderNotAFolder, "/f/ports/", ""},
                         {Kind::PortsFolderNoDevice, "/g/ports/", ""}});
  form->FullScan();
  ASSERT_GE(win.log.size(), 6u);
  EXPECT_EQ(Strings(win.log.begin(), win.log.begin() + 6),
            (Strings{"Start Full Scan",
                     "COM numbers are the links in /d/ports/; the machine's own serial ports are not scanned",
                     "/d/ports/COM3 belongs to user bob: ignored", "/e/ports/ belongs to user eve: ignored",
                     "/f/ports/ is not a folder: ignored",
                     "/g/ports/ holds no link to an existing device (left by a simulator that has ended?): ignored"}));
}

TEST_F(PadLinkTest, NoPortOpenableForAReasonIsShownInAMessage) {
  fake->SetOpenFailure(2, EACCES);
  fake->AddPort(4);
  fake->SetHeldByOther(4, true);
  form->FullScan();
  EXPECT_EQ(win.log, (Strings{"Start Full Scan", "COM2: " + kNoPermission, "COM4: in use by another program",
                              "No available ports!"}));
  // The result is what it always was, and the message comes once the scan
  // has ended (refreshed, normal cursor).
  EXPECT_EQ(form->PortText(), "No ports found");
  EXPECT_EQ(form->BaseIdent(), "");
  EXPECT_EQ(win.messages,
            (Strings{"No serial port could be opened:\nCOM2: " + kNoPermission + "\nCOM4: in use by another program"}));
  const auto at = std::find(win.events.begin(), win.events.end(), "message:" + win.messages[0]);
  ASSERT_NE(at, win.events.end());
  EXPECT_NE(std::find(win.events.begin(), at, "cursor:normal"), at);
  EXPECT_EQ(win.refreshes, 1);
  // Without any port there is nothing to explain.
  fake->RemovePort(4);
  fake->SetOpenFailure(2, 0);
  fake->RemovePort(2);
  win.messages.clear();
  form->FullScan();
  EXPECT_TRUE(win.messages.empty());
}

TEST_F(PadLinkTest, UnusableChannelRepliesEndTheQueryAfterThreeAndTheScanGoesOn) {
  fake->AddPort(3);
  base = std::make_unique<ScriptedBase>();
  base->port = 3;
  base->channel = 'x';
  base->pads = {{'1', "912"}};
  form->FullScan();
  Run(3000);
  const auto writes = WritesOf(3);
  EXPECT_EQ(std::count(writes.begin(), writes.end(), "ER_CMD#C?"), 3);
  const auto lastQuery = std::find(writes.rbegin(), writes.rend(), "ER_CMD#C?");
  ASSERT_NE(lastQuery, writes.rend());
  EXPECT_EQ(*(lastQuery - 1), "ER_CMD#B?");  // answered as if the channel had been
  EXPECT_EQ(form->ChannelText(), "?");
  EXPECT_EQ(form->BasePort(), 3);
  EXPECT_EQ(form->PadList(), (Strings{"1"}));
  EXPECT_FALSE(form->BaseTimer().Enabled());
  EXPECT_EQ(errors, (Strings{"COM3: 3 channel replies without a channel number ('x' is not a valid integer "
                             "value); the channel is shown as unknown"}));
}

TEST_F(PadLinkTest, AChannelQueryUnansweredThreeTimesEndsTheQueryAndTheScanGoesOn) {
  fake->AddPort(3);
  base = std::make_unique<ScriptedBase>();
  base->port = 3;
  base->answersChannel = false;
  base->pads = {{'1', "912"}};
  form->FullScan();
  Run(3000);
  std::vector<std::int64_t> queries;
  std::int64_t bandwidthAt = -1;
  for (const auto& w : fake->Writes(3)) {
    if (w.bytes == "ER_CMD#C?") queries.push_back(w.timeMs);
    if (w.bytes == "ER_CMD#B?") bandwidthAt = w.timeMs;
  }
  ASSERT_EQ(queries.size(), 3u);
  for (std::size_t i = 1; i < queries.size(); ++i) EXPECT_EQ(queries[i] - queries[i - 1], 100);
  // The tick that would have asked a fourth time asks for the bandwidth.
  EXPECT_EQ(bandwidthAt - queries.back(), 100);
  EXPECT_EQ(form->ChannelText(), "?");
  EXPECT_EQ(form->BasePort(), 3);
  EXPECT_EQ(form->PadList(), (Strings{"1"}));
  EXPECT_FALSE(form->BaseTimer().Enabled());
  EXPECT_EQ(errors, (Strings{"COM3: no reply to 3 channel queries; the channel is shown as unknown"}));
}

TEST_F(PadLinkTest, FullScanClosesAnOpenPortAndWaits) {
  OpenPort(3);
  const auto t0 = loop.nowMs();
  form->FullScan();
  EXPECT_GE(loop.nowMs() - t0, 50);
  EXPECT_EQ(win.log.front(), "Start Full Scan");
}

TEST_F(PadLinkTest, DcsAvailableSurvivesANewScan) {
  OpenPort(3);
  form->FixedDataPacketStringPacket("ER_CMD#T3ER400TRS-02V2.01.7");
  EXPECT_TRUE(form->DCSAvailable());
  fake->RemovePort(3);
  form->FullScan();
  EXPECT_TRUE(form->DCSAvailable());
  EXPECT_EQ(form->BasePort(), 0);
  OpenPort(3);
  form->FixedDataPacketStringPacket("ER_CMD#T3ER400TRS-02W2.01.8X");
  EXPECT_FALSE(form->DCSAvailable());
}

// ---- Base replies ----

TEST_F(PadLinkTest, BandwidthReplies) {
  OpenPort(3);
  shell.BandwidthIndex = 0;
  form->FixedDataPacketStringPacket("ER_CMD#B6");
  EXPECT_EQ(shell.BandwidthIndex, 4);
  shell.BandwidthIndex = 0;
  form->FixedDataPacketStringPacket("ER_CMD#B?");
  EXPECT_EQ(shell.BandwidthIndex, 4);
  form->FixedDataPacketStringPacket("ER_CMD#B2");
  EXPECT_EQ(shell.BandwidthIndex, 2);
  form->FixedDataPacketStringPacket("ER_CMD#B8");  // no such item
  EXPECT_EQ(shell.BandwidthIndex, 4);
  EXPECT_EQ(win.refreshes, 4);
  EXPECT_EQ(win.log.back(), "3 <-- ER_CMD#B8");
  EXPECT_EQ(fake->InputPurges(3), 4);
}

TEST_F(PadLinkTest, ChannelResetAndSeparationReplies) {
  OpenPort(3);
  form->FixedDataPacketStringPacket("ER_CMD#C4");
  EXPECT_EQ(form->ChannelText(), "4");
  EXPECT_TRUE(form->ChannelKnown());
  form->FixedDataPacketStringPacket("ER_CMD#R1");
  EXPECT_EQ(form->ChannelText(), "7");
  EXPECT_EQ(win.refreshes, 0);
  form->FixedDataPacketStringPacket("ER_CMD#A01");
  EXPECT_EQ(win.refreshes, 1);
  form->FixedDataPacketStringPacket("ER_CMD#X11");  // 10 bytes, not "A"
  EXPECT_EQ(win.refreshes, 1);
  form->FixedDataPacketStringPacket("ER_CMD#Z9");  // only logged
  EXPECT_EQ(win.log.back(), "3 <-- ER_CMD#Z9");
  form->FixedDataPacketStringPacket("short");  // an identification without the name
  EXPECT_EQ(form->BasePort(), 0);
  EXPECT_EQ(fake->InputPurges(3), 6);
}

TEST_F(PadLinkTest, NonDigitChannelByteSkipsTheRestOfTheReply) {
  OpenPort(3);
  form->FixedDataPacketStringPacket("ER_CMD#C4");
  const int purges = fake->InputPurges(3);
  // Through the framer, as on the line. Two unusable replies are only
  // logged; the query that follows may still be answered.
  for (int i = 0; i < 2; ++i) {
    form->FixedDataPacket().SetPacketSize(9);
    form->FixedDataPacket().SetEnabled(true);
    Feed(3, "ER_CMD#Cx");
  }
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(form->ChannelText(), "4");
  EXPECT_EQ(fake->InputPurges(3), purges);
  EXPECT_EQ(win.log.back(), "3 <-- ER_CMD#Cx");
  // The third makes the channel unknown; the one error is reported after
  // the reply's handler has returned, not from inside it.
  form->FixedDataPacketStringPacket("ER_CMD#C+");
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(form->ChannelText(), "?");
  EXPECT_TRUE(form->ChannelKnown());
  EXPECT_EQ(fake->InputPurges(3), purges + 1);
  loop.runPending();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            "COM3: 3 channel replies without a channel number ('+' is not a valid integer value); "
            "the channel is shown as unknown");
  // A bandwidth byte that is no digit skips the rest of its reply: no Refresh.
  form->FixedDataPacket().SetPacketSize(9);
  form->FixedDataPacket().SetEnabled(true);
  Feed(3, "ER_CMD#B!");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1], "'!' is not a valid integer value");
  EXPECT_EQ(win.refreshes, 0);
}

// ---- DoRefresh ----

TEST_F(PadLinkTest, RefreshComputesBroadcastFromFirmware) {
  OpenPort(3);
  form->ScanPortForPads();
  Register(3, '1', "910");
  Register(3, '2', "1000");
  form->DoRefresh();
  EXPECT_TRUE(form->Broadcast());
  Register(3, '3', "");
  form->DoRefresh();
  EXPECT_FALSE(form->Broadcast());
}

TEST_F(PadLinkTest, FirmwareThatIsNoNumberCountsAsOldAndStillRefreshes) {
  OpenPort(3);
  form->ScanPortForPads();
  Register(3, '1', "912");
  Register(3, '2', "V9x");
  loop.advance(13 * 120);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(win.refreshes, 1);
  EXPECT_FALSE(form->Broadcast());
  EXPECT_EQ(form->FirmwareList(), (Strings{"912", "V9x"}));
  EXPECT_FALSE(win.busy);
}

// ---- Pad replies ----

TEST_F(PadLinkTest, RegistrationWithAndWithoutFirmware) {
  OpenPort(3);
  form->ScanPortForPads();
  Register(3, '3', "912");
  EXPECT_EQ(win.log.back(), "3 <-- 912");
  EXPECT_EQ(form->PadList(), Strings{"3"});
  EXPECT_TRUE(win.lights[3]);
  EXPECT_TRUE(win.handCursor[3]);
  Feed(3, kStx + "a" + kAck + kEot);  // 4 bytes
  EXPECT_EQ(form->PadList(), (Strings{"3", "a"}));
  EXPECT_EQ(form->FirmwareList(), (Strings{"0", "912"}));
  EXPECT_TRUE(win.lights[10]);
  // A repeat registration touches nothing, even a light switched off since.
  win.lights[3] = false;
  const auto events = win.events.size();
  Register(3, '3', "999");
  EXPECT_EQ(win.events.size(), events + 1);  // only the log line
  EXPECT_FALSE(win.lights[3]);
  EXPECT_EQ(form->FirmwareList(), (Strings{"0", "912"}));
}

TEST_F(PadLinkTest, SilentPollDropsThePadSoItsAnswerRegistersAgain) {
  OpenPort(3);
  form->ScanPortForPads();
  Register(3, '3');
  loop.advance(13 * 120);
  win.lights[3] = false;
  form->SilentScan('3');
  EXPECT_TRUE(form->PadList().empty());
  EXPECT_EQ(form->FirmwareList(), Strings{"912"});
  loop.advance(120);
  EXPECT_EQ(WritesOf(3).back(), SilentPoll('3'));
  Register(3, '3');
  EXPECT_TRUE(win.lights[3]);
  form->SilentScanAll();
  EXPECT_TRUE(form->FirmwareList().empty());
  EXPECT_EQ(form->TxQueueCount(), 12u);
}

TEST_F(PadLinkTest, EchoedTextGoesToTheEchoLabelWhilePadsAreFound) {
  OpenPort(3);
  const std::string payload = "ABCDEFGHIJKLMNOPQRST";  // 20 bytes
  shell.PadsFound = false;
  Feed(3, kStx + "3" + kAck + payload + kEot);
  EXPECT_EQ(win.echoText, "");
  EXPECT_EQ(win.log.back(), "3 <-- " + payload);
  shell.PadsFound = true;
  Feed(3, kStx + "3" + kAck + payload + kEot);
  EXPECT_EQ(win.echoText, "ABCDEFGHIJKLMNOP<CR>QRST");
  Feed(3, kStx + "3" + kAck + "123456" + kEot);
  EXPECT_EQ(win.echoText, "123456<CR>");
  EXPECT_TRUE(form->PadList().empty());
}

TEST_F(PadLinkTest, EntriesUnderBothSeparatorsAndTheirAcknowledgement) {
  OpenPort(3);
  shell.DecimalSeparator = ',';
  Feed(3, kStx + "c9.5" + kEot);
  EXPECT_EQ(form->CurJudge(), 11);
  EXPECT_EQ(form->Awards()[11], "9,5");
  EXPECT_EQ(win.awards.back(), "9,5");
  EXPECT_TRUE(form->COMTimer().Enabled());
  EXPECT_EQ(form->COMTimer().Interval(), 100);  // interval left as it was
  form->COMTimer().SetEnabled(false);
  form->COMTimer().SetInterval(120);
  const auto t0 = loop.nowMs();
  Feed(3, kStx + "010.0" + kEot);
  EXPECT_EQ(form->Awards()[0], "10,0");
  loop.advance(240);
  EXPECT_EQ(WritesOf(3), (Strings{EntryAck('c', "9.5", false), EntryAck('0', "10.0", false)}));
  EXPECT_EQ(WriteTimes(3), (std::vector<std::int64_t>{t0 + 120, t0 + 240}));  // idle queue: 120 ms
  shell.DecimalSeparator = '.';
  Feed(3, kStx + "29.5" + kEot);
  EXPECT_EQ(form->Awards()[2], "9.5");
  Feed(3, kStx + "29,5" + kEot);  // no '.': the pad's point is put in its place
  EXPECT_EQ(form->Awards()[2], "9.5");
  Feed(3, kStx + "2A" + kEot);  // one byte: nothing to replace
  EXPECT_EQ(form->Awards()[2], "A");
  // No log line for an entry; only the acknowledgements when they leave.
  EXPECT_EQ(win.log.size(), 2u);
}

TEST_F(PadLinkTest, JudgeIdEntriesAreShownUnchangedWithShortSpacing) {
  OpenPort(3);
  shell.DecimalSeparator = ',';
  form->ScanPortForPads();
  Register(3, '4');
  loop.advance(13 * 120);
  form->RequestJudgeIDs();
  EXPECT_TRUE(form->JudgeIdMode());
  Feed(3, kStx + "4J4.123" + kEot);
  EXPECT_EQ(form->Awards()[4], "J4.123");
  loop.advance(300);
  EXPECT_EQ(WritesOf(3).back(), EntryAck('4', "J4.123", true));
  form->SendDive("x");
  EXPECT_FALSE(form->JudgeIdMode());
  Feed(3, kStx + "48.5" + kEot);
  EXPECT_EQ(form->Awards()[4], "8,5");
}

TEST_F(PadLinkTest, OddFramesFromPads) {
  OpenPort(3);
  shell.DecimalSeparator = ',';
  // STX id EOT keeps its EOT: an entry whose text is that one byte.
  Feed(3, kStx + "5" + kEot);
  EXPECT_EQ(form->Awards()[5], kEot);
  EXPECT_EQ(form->CurJudge(), 5);
  // An id outside the alphabet is acknowledged and touches nothing else.
  const auto events = win.events.size();
  Feed(3, kStx + "b9.5" + kEot);
  EXPECT_EQ(form->CurJudge(), 5);
  EXPECT_EQ(win.events.size(), events);
  Feed(3, kStx + "b" + kAck + "912" + kEot);
  EXPECT_TRUE(form->PadList().empty());
  // A repeated STX leaves a frame that ends after the id: ignored.
  Feed(3, kStx + "7" + kStx + "7" + kEot);
  EXPECT_EQ(form->Awards()[7], "");
  EXPECT_EQ(form->TxQueueCount(), 2u);  // the two acknowledgements only
  // The last STX counts: "xx" STX "6" "8.0" EOT after a stray STX.
  Feed(3, kStx + "9zz" + kStx + "68.0" + kEot);
  EXPECT_EQ(form->Awards()[6], "8,0");
  EXPECT_TRUE(errors.empty());
}

TEST_F(PadLinkTest, GarbledFrameDoesNotSilenceLaterAwards) {
  OpenPort(3);
  form->ScanPortForPads();
  Register(3, '2');
  loop.advance(13 * 120);
  Feed(3, kStx + "2garbled");  // no EOT
  loop.advance(1200);
  Feed(3, kStx + "27.5" + kEot);
  EXPECT_EQ(form->Awards()[2], "7.5");
  EXPECT_EQ(win.awards.back(), "7.5");
  EXPECT_TRUE(form->FramedDataPacket().Enabled());
}

TEST_F(PadLinkTest, GarbledFrameAfterABaseQueryDoesNotReArm) {
  OpenPort(3);
  form->ScanPortForPads();
  loop.advance(13 * 120);
  Feed(3, kStx + "2garbled");
  form->SendCustomCmd("ER_CMD#B?");  // switches pad frames off
  loop.advance(1200);
  EXPECT_FALSE(form->FramedDataPacket().Enabled());
}

// Every entry is acknowledged, so junk entries on the channel would grow the
// transmit queue without end: what does not fit is dropped, counted and
// reported once; a later overflow, after the queue has drained, is
// reported again.
TEST_F(PadLinkTest, TheTransmitQueueIsBoundedAndAnOverflowIsReportedOnce) {
  OpenPort(3);
  std::string junk;
  for (int i = 0; i < 300; ++i) junk += kStx + "c9.5" + kEot;
  Feed(3, junk);
  EXPECT_EQ(form->TxQueueCount(), 256u);
  EXPECT_EQ(form->TxDroppedCount(), 44u);
  const std::string full = "Transmit queue full (256 frames): further frames are dropped until it has been sent";
  EXPECT_EQ(std::count(win.log.begin(), win.log.end(), full), 1);
  loop.advance(257 * 120);  // drains at one frame a tick
  EXPECT_EQ(form->TxQueueCount(), 0u);
  EXPECT_EQ(WritesOf(3).size(), 256u);
  Feed(3, junk);
  EXPECT_EQ(form->TxDroppedCount(), 88u);
  EXPECT_EQ(std::count(win.log.begin(), win.log.end(), full), 2);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mq::padlink::test
