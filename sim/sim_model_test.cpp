#include "sim/sim_model.h"

#include <gtest/gtest.h>

#include <regex>

namespace mqsim {
namespace {

const std::string STX = "\x02";
const std::string EOT = "\x04";
const std::string ACK = "\x06";
const std::string ESC = "\x1b";
const std::string SUB = "\x1a";

SimConfig config(std::vector<PadConfig> pads, bool autoEntries = false) {
  SimConfig c;
  c.pads = std::move(pads);
  c.autoEntries = autoEntries;
  return c;
}

SimConfig fourPads(bool autoEntries = false) {
  return config({{'0', "912", 7}, {'3', "905", 7}, {'a', "", 7}, {'c', "912", 7}}, autoEntries);
}

// Runs the model to `until` and returns everything the base sent.
std::vector<HostOutput> runTo(SimModel& m, Millis until) {
  m.advanceTo(until);
  return m.takeHostOutput();
}

std::string joined(const std::vector<HostOutput>& out) {
  std::string s;
  for (const auto& o : out) s += o.bytes;
  return s;
}

// Sends a base command and, 20 ms later, "ACK", as the utility does.
void command(SimModel& m, Millis at, const std::string& cmd) {
  m.feedHost(at, cmd);
  m.feedHost(at + 20, "ACK");
}

std::string regPoll(char id, int judge) { return STX + id + "J" + std::to_string(judge) + ESC + "13" + EOT; }

TEST(SimModelBase, IdentificationArrivesWithinOneTickOfTheAck) {
  SimModel m(fourPads());
  command(m, 0, "ER_CMD#T3");
  const auto out = runTo(m, 200);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, "ER_CMD#T3ER400TRS-02V2.01.7");
  EXPECT_EQ(out[0].bytes.size(), 27u);
  // 5 ms to answer plus 27 bytes at 19200 baud (15 ms) after the ACK at 20.
  EXPECT_EQ(out[0].at, 20 + SimModel::kBaseTurnaroundMs + SimModel::lineTime(27));
  EXPECT_LE(out[0].at - 20, 100);
}

TEST(SimModelBase, NineteenCharacterIdentGivesTwentyEightBytes) {
  SimConfig c = fourPads();
  c.ident = "ER400TRS-02V2.01.17";
  SimModel m(c);
  command(m, 0, "ER_CMD#T3");
  EXPECT_EQ(joined(runTo(m, 200)), "ER_CMD#T3ER400TRS-02V2.01.17");
}

TEST(SimModelBase, CommandsWaitForTheirAck) {
  SimModel m(fourPads());
  m.feedHost(0, "ER_CMD#T3");
  EXPECT_TRUE(runTo(m, 500).empty());
  // An "ACK" long after the command confirms nothing.
  m.feedHost(1200, "ACK");
  EXPECT_TRUE(runTo(m, 1500).empty());
  // A stray "ACK" with nothing pending is ignored too.
  m.feedHost(1600, "ACK");
  EXPECT_TRUE(runTo(m, 1700).empty());
  command(m, 2000, "ER_CMD#T3");
  EXPECT_EQ(joined(runTo(m, 2200)).size(), 27u);
}

TEST(SimModelBase, QueriesAreAnsweredWithoutAck) {
  SimModel m(fourPads());
  m.feedHost(0, "ER_CMD#C?");
  const auto c = runTo(m, 100);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].bytes, "ER_CMD#C7");
  EXPECT_EQ(c[0].at, SimModel::kBaseTurnaroundMs + SimModel::lineTime(9));
  m.feedHost(100, "ER_CMD#B?");
  EXPECT_EQ(joined(runTo(m, 200)), "ER_CMD#B6");
}

TEST(SimModelBase, ConfigurationIsEchoedAndTakesEffectAtTheAck) {
  SimModel m(fourPads());
  m.feedHost(0, "ER_CMD#C4");
  m.feedHost(5, "ER_CMD#C?");  // before the ACK: still channel 7
  EXPECT_EQ(joined(runTo(m, 19)), "ER_CMD#C7");
  m.feedHost(20, "ACK");
  EXPECT_EQ(joined(runTo(m, 100)), "ER_CMD#C4");
  EXPECT_EQ(m.channel(), 4);

  command(m, 100, "ER_CMD#B2");
  EXPECT_EQ(joined(runTo(m, 200)), "ER_CMD#B2");
  m.feedHost(200, "ER_CMD#B?");
  EXPECT_EQ(joined(runTo(m, 300)), "ER_CMD#B2");

  command(m, 300, "ER_CMD#A01");
  const auto dcs = joined(runTo(m, 400));
  EXPECT_EQ(dcs, "ER_CMD#A01");
  EXPECT_EQ(dcs.size(), 10u);
  EXPECT_TRUE(m.dcs());
  command(m, 400, "ER_CMD#A00");
  EXPECT_EQ(joined(runTo(m, 500)), "ER_CMD#A00");
  EXPECT_FALSE(m.dcs());

  command(m, 500, "ER_CMD#R1");
  EXPECT_EQ(joined(runTo(m, 600)), "ER_CMD#R1");
  EXPECT_EQ(m.channel(), 7);
}

TEST(SimModelBase, UnknownCommandsAreIgnored) {
  SimModel m(fourPads());
  command(m, 0, "ER_CMD#B5");    // no such bandwidth code
  command(m, 100, "er_cmd#t3");  // commands are case-sensitive
  command(m, 200, "ER_CMD#X1");
  command(m, 300, "ER_CMD#A02");
  EXPECT_TRUE(runTo(m, 1000).empty());
  EXPECT_EQ(m.bandwidth(), '6');
  EXPECT_FALSE(m.dcs());
}

TEST(SimModelBase, RepliesQueueOnTheSerialLine) {
  SimModel m(fourPads());
  m.feedHost(0, "ER_CMD#C?ER_CMD#B?");
  const auto out = runTo(m, 100);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].at - out[0].at, SimModel::lineTime(9));
}

TEST(SimModelBase, GarbledHostInputDoesNotBreakWhatFollows) {
  SimModel m(fourPads());
  m.feedHost(0,
             "\x01\xff"
             "hello");
  m.feedHost(10, STX + "3J3");                   // frame with no EOT
  m.feedHost(100, STX + STX + regPoll('3', 3));  // STX repeated
  m.feedHost(200, "ER_CMX" + STX + "0" + ESC + "3" + EOT);
  command(m, 300, "ER_CMD#T3");
  const auto out = runTo(m, 600);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].bytes, STX + "3" + ACK + "905" + EOT);
  EXPECT_EQ(out[1].bytes, STX + "0" + ACK + "912" + EOT);
  EXPECT_EQ(out[2].bytes, "ER_CMD#T3ER400TRS-02V2.01.7");
  std::size_t ignored = 0;
  for (const auto& t : m.takeTrace())
    if (t.fate == TraceFate::Ignored) ++ignored;
  EXPECT_GE(ignored, 4u);
  EXPECT_EQ(m.baseStats().ignored, ignored);
}

TEST(SimModelPads, PollsAreAnsweredWithFirmware) {
  SimModel m(fourPads());
  m.feedHost(0, regPoll('3', 3));
  m.feedHost(120, regPoll('a', 10));
  m.feedHost(240, STX + "c" + ESC + "3" + EOT);  // silent poll
  m.feedHost(360, regPoll('5', 5));              // no pad 5
  const auto out = runTo(m, 600);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].bytes, STX + "3" + ACK + "905" + EOT);
  EXPECT_EQ(out[1].bytes, STX + "a" + ACK + EOT);  // pad without firmware text
  EXPECT_EQ(out[2].bytes, STX + "c" + ACK + "912" + EOT);
  // Two radio hops, the pad's turnaround and 7 bytes on the line.
  EXPECT_EQ(out[0].at, 2 * 20 + SimModel::kPadTurnaroundMs + SimModel::lineTime(7));
  EXPECT_EQ(m.findPad('3')->display(), "J3");
}

TEST(SimModelPads, PadOffOrOnAnotherChannelStaysSilent) {
  SimModel m(fourPads());
  m.switchPad('0', false);
  m.setPadChannel('3', 5);
  m.feedHost(0, regPoll('0', 0));
  m.feedHost(120, regPoll('3', 3));
  EXPECT_TRUE(runTo(m, 500).empty());
  std::vector<TraceFate> fates;
  for (const auto& t : m.takeTrace())
    if (t.dir == TraceDir::BaseToPad) fates.push_back(t.fate);
  EXPECT_EQ(fates, (std::vector<TraceFate>{TraceFate::Off, TraceFate::OtherChannel}));
  EXPECT_EQ(m.padStats('3')->down.missed, 1u);

  // The base follows the pad to its channel: now it answers.
  command(m, 500, "ER_CMD#C5");
  runTo(m, 600);
  m.feedHost(600, regPoll('3', 3));
  EXPECT_EQ(joined(runTo(m, 800)), STX + "3" + ACK + "905" + EOT);
  // Switched on again, pad 0 (on channel 7) still hears nothing on 5.
  m.switchPad('0', true);
  m.feedHost(800, regPoll('0', 0));
  EXPECT_TRUE(runTo(m, 1000).empty());
}

TEST(SimModelPads, EchoTakesTheTextAndShortEchoRepeatsIt) {
  SimModel m(fourPads());
  m.feedHost(0, STX + "aJ10  1" + ESC + "4" + EOT);
  EXPECT_EQ(joined(runTo(m, 180)), STX + "a" + ACK + "J10  1" + EOT);
  m.feedHost(180, STX + "a" + ESC + "4" + EOT);
  EXPECT_EQ(joined(runTo(m, 360)), STX + "a" + ACK + "J10  1" + EOT);
}

TEST(SimModelPads, EchoAfterADroppedRequestReturnsThePreviousLoop) {
  SimModel m(fourPads());
  m.feedHost(0, STX + "3J3  1" + ESC + "4" + EOT);
  EXPECT_EQ(joined(runTo(m, 180)), STX + "3" + ACK + "J3  1" + EOT);
  m.setLoss(1.0);
  m.feedHost(180, STX + "3J3  2" + ESC + "4" + EOT);
  EXPECT_TRUE(runTo(m, 360).empty());
  m.setLoss(0.0);
  m.feedHost(360, STX + "3" + ESC + "4" + EOT);  // the utility's resend
  EXPECT_EQ(joined(runTo(m, 540)), STX + "3" + ACK + "J3  1" + EOT);

  const auto trace = m.takeTrace();
  int dropped = 0;
  for (const auto& t : trace) {
    if (t.fate == TraceFate::Dropped) {
      ++dropped;
      EXPECT_EQ(t.dir, TraceDir::BaseToPad);
      EXPECT_EQ(t.pad, '3');
      EXPECT_EQ(t.at, 180);
      EXPECT_EQ(formatTraceLine(t), "180 base>pad 3 DROPPED <STX>3J3  2<ESC>4<EOT>");
    }
  }
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(m.padStats('3')->down.dropped, 1u);
}

// The fates of the frames to and from one pad, in order.
std::string fatesOf(const std::vector<TraceEntry>& trace, char pad) {
  std::string s;
  for (const auto& t : trace)
    if (t.pad == pad && (t.dir == TraceDir::BaseToPad || t.dir == TraceDir::PadToBase))
      s += t.fate == TraceFate::Dropped ? 'x' : '.';
  return s;
}

std::vector<TraceEntry> echoRun(std::uint64_t seed, bool otherTraffic) {
  SimConfig c = fourPads();
  c.loss = 0.3;
  c.seed = seed;
  SimModel m(c);
  Millis t = 0;
  for (int loop = 1; loop <= 40; ++loop) {
    if (otherTraffic) {
      m.feedHost(t, STX + "0J0  " + std::to_string(loop) + ESC + "4" + EOT);
      t += 180;
    }
    m.feedHost(t, STX + "3J3  " + std::to_string(loop) + ESC + "4" + EOT);
    t += 180;
  }
  m.advanceTo(t + 1000);
  return m.takeTrace();
}

TEST(SimModelPads, DropsAreReproducibleWithASeed) {
  const std::string a = fatesOf(echoRun(42, false), '3');
  EXPECT_EQ(a, fatesOf(echoRun(42, false), '3'));
  // Traffic to another pad does not change the fates of pad 3's frames.
  EXPECT_EQ(a, fatesOf(echoRun(42, true), '3'));
  EXPECT_NE(a, fatesOf(echoRun(43, false), '3'));
  // Each direction loses frames independently at about the rate asked.
  const auto drops = std::count(a.begin(), a.end(), 'x');
  EXPECT_GT(drops, 5);
  EXPECT_LT(drops, 35);
}

TEST(SimModelPads, DiveGetsAnAutomaticAwardWhichIsThenAcknowledged) {
  SimModel m(fourPads(true));
  m.feedHost(0, STX + "3J3   103B 3m    First Diver" + ESC + "0" + EOT);
  EXPECT_TRUE(runTo(m, 20 + 499).empty());
  EXPECT_EQ(m.findPad('3')->displayLine(0), "J3   103B 3m    ");
  EXPECT_EQ(m.findPad('3')->displayLine(1), "First Diver     ");
  const auto out = runTo(m, 20 + 3000 + 20 + 10);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(std::regex_match(out[0].bytes, std::regex("\x02"
                                                        "3(10\\.0|[0-9]\\.[05])\x04")))
      << out[0].bytes;
  const std::string award = out[0].bytes.substr(2, out[0].bytes.size() - 3);
  m.feedHost(4000, STX + "3" + ACK + "OK   " + award + "       MqTool" + ESC + "1" + EOT);
  runTo(m, 4100);
  EXPECT_EQ(m.findPad('3')->display(), "OK   " + award + "       MqTool");
  EXPECT_EQ(m.findPad('3')->acknowledged(), 1u);
  EXPECT_TRUE(runTo(m, 10000).empty());  // one award per dive
}

TEST(SimModelPads, ManualEntriesAndKeyboardLock) {
  SimModel m(fourPads(false));
  m.feedHost(0, STX + "3J3   101A" + ESC + "0" + EOT);
  EXPECT_TRUE(runTo(m, 5000).empty());  // manual: nothing by itself
  EXPECT_EQ(m.keyEntry('3', "8.5"), SimModel::KeyResult::Sent);
  EXPECT_EQ(joined(runTo(m, 5100)), STX + "38.5" + EOT);

  m.feedHost(5100, STX + "3" + ESC + "1" + EOT);  // lock
  runTo(m, 5200);
  EXPECT_TRUE(m.findPad('3')->isLocked());
  EXPECT_EQ(m.keyEntry('3', "9.0"), SimModel::KeyResult::Locked);
  m.feedHost(5200, STX + "3" + ESC + "0" + EOT);  // unlock
  runTo(m, 5300);
  EXPECT_EQ(m.keyEntry('3', "9.0"), SimModel::KeyResult::Sent);
  EXPECT_EQ(m.keyEntry('5', "9.0"), SimModel::KeyResult::NoSuchPad);
  EXPECT_EQ(m.keyEntry('3', ""), SimModel::KeyResult::BadText);
  EXPECT_EQ(m.keyEntry('3', "1\x04"), SimModel::KeyResult::BadText);
  m.switchPad('3', false);
  EXPECT_EQ(m.keyEntry('3', "9.0"), SimModel::KeyResult::Off);
}

TEST(SimModelPads, LockedPadKeysNoAutomaticAward) {
  SimModel m(fourPads(true));
  m.feedHost(0, STX + "3" + ESC + "1" + EOT);
  m.feedHost(100, STX + "3J3   101A" + ESC + "0" + EOT);
  EXPECT_TRUE(runTo(m, 5000).empty());
}

TEST(SimModelPads, JudgeIdPromptGetsAJudgeId) {
  SimModel m(fourPads(true));
  const std::string frame = STX + "a" + "Please enter    your Judge ID:" + ESC + "02" + EOT;
  ASSERT_EQ(frame.size(), 36u);
  m.feedHost(0, frame);
  EXPECT_EQ(joined(runTo(m, 4000)), STX + "aJ10" + EOT);
  EXPECT_EQ(m.findPad('a')->displayLine(0), "Please enter    ");
  EXPECT_EQ(m.findPad('a')->displayLine(1), "your Judge ID:  ");
}

TEST(SimModelPads, BroadcastDiveReachesEveryPadAndIsNotAnswered) {
  SimModel m(fourPads(false));
  m.feedHost(0, STX + "FJ" + SUB + "   205B" + ESC + "0" + EOT);
  m.feedHost(100, STX + "F" + ESC + "3" + EOT);  // nobody answers a broadcast poll
  EXPECT_TRUE(runTo(m, 500).empty());
  EXPECT_EQ(m.findPad('0')->display(), "J0   205B");
  EXPECT_EQ(m.findPad('a')->display(), "J:   205B");
  EXPECT_EQ(m.findPad('c')->display(), "J;   205B");
}

TEST(SimModelPads, GarbledPadFrameHasNoEot) {
  SimModel m(fourPads());
  ASSERT_TRUE(m.garble('c'));
  const std::string out = joined(runTo(m, 200));
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out.substr(0, 2), STX + "c");
  EXPECT_EQ(out.find('\x04'), std::string::npos);
  EXPECT_FALSE(m.garble('5'));
}

TEST(SimModelPads, NextEventTimeDrivesTheClock) {
  SimModel m(fourPads());
  EXPECT_FALSE(m.nextEventTime());
  m.feedHost(0, regPoll('0', 0));
  std::vector<HostOutput> out;
  while (const auto next = m.nextEventTime()) {
    m.advanceTo(*next);
    for (auto& o : m.takeHostOutput()) out.push_back(o);
  }
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(m.now(), out[0].at);
}

TEST(TraceEntry, FormatIsStableAndReadable) {
  EXPECT_EQ(readableBytes(std::string("\x02\x03\x04\x06\x1a\x1b<a b>\x7f\xe9\x00", 14)),
            "<STX><ETX><EOT><ACK><SUB><ESC><0x3C>a b><0x7F><0xE9><0x00>");
  EXPECT_EQ(formatTraceLine({1234, TraceDir::HostToBase, 0, TraceFate::Ok, "ER_CMD#T3"}),
            "1234 host>base - ok ER_CMD#T3");
  EXPECT_EQ(formatTraceLine({7, TraceDir::PadToBase, 'a', TraceFate::Dropped,
                             "\x02"
                             "a\x06J10  3\x04"}),
            "7 pad>base a DROPPED <STX>a<ACK>J10  3<EOT>");
  EXPECT_EQ(formatTraceLine({9, TraceDir::BaseToPad, '\x05', TraceFate::NoPad, ""}), "9 base>pad <0x05> nopad ");
  EXPECT_EQ(formatTraceLine({9, TraceDir::BaseToPad, ' ', TraceFate::NoPad, "x"}), "9 base>pad <0x20> nopad x");
}

// The example of the user guide, reproduced line by line.
TEST(TraceEntry, UserGuideExample) {
  SimModel m(fourPads());
  command(m, 0, "ER_CMD#T3");
  m.feedHost(4000, STX + "3J3  1" + ESC + "4" + EOT);  // loop 1, left out of the example
  m.advanceTo(4999);
  m.setLoss(1.0);
  m.feedHost(5000, STX + "3J3  2" + ESC + "4" + EOT);
  m.setLoss(0.0);
  m.feedHost(5180, STX + "3" + ESC + "4" + EOT);
  m.advanceTo(6000);
  std::vector<std::string> lines;
  for (const auto& t : m.takeTrace())
    if (t.at < 4000 || t.at >= 5000) lines.push_back(formatTraceLine(t));
  const std::vector<std::string> expected = {
      "0 host>base - ok ER_CMD#T3",
      "20 host>base - ok ACK",
      "40 base>host - ok ER_CMD#T3ER400TRS-02V2.01.7",
      "5000 host>base - ok <STX>3J3  2<ESC>4<EOT>",
      "5000 base>pad 3 DROPPED <STX>3J3  2<ESC>4<EOT>",
      "5180 host>base - ok <STX>3<ESC>4<EOT>",
      "5180 base>pad 3 ok <STX>3<ESC>4<EOT>",
      "5205 pad>base 3 ok <STX>3<ACK>J3  1<EOT>",
      "5230 base>host 3 ok <STX>3<ACK>J3  1<EOT>",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace mqsim
