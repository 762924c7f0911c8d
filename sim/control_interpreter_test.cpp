#include "sim/control_interpreter.h"

#include <gtest/gtest.h>

namespace mqsim {
namespace {

using Lines = std::vector<std::string>;

SimConfig twoPads() {
  SimConfig c;
  c.pads = {{'3', "912", 7}, {'a', "", 7}};
  c.autoEntries = false;
  return c;
}

TEST(ControlInterpreter, EntriesReachTheHost) {
  SimModel m(twoPads());
  ControlInterpreter ci(m);
  EXPECT_EQ(ci.execute("award 3 8.5"), Lines{"award 3 sent 8.5"});
  EXPECT_EQ(ci.execute("  judgeid a  123456 "), Lines{"judgeid a sent 123456"});
  m.advanceTo(500);
  std::string out;
  for (const auto& o : m.takeHostOutput()) out += o.bytes;
  EXPECT_EQ(out,
            "\x02"
            "38.5\x04\x02"
            "a123456\x04");
}

TEST(ControlInterpreter, BadInputIsAnsweredWithAnError) {
  SimModel m(twoPads());
  ControlInterpreter ci(m);
  for (const char* line : {"award 5 8.5", "award 3", "award", "loss 2", "loss x", "channel 3 12", "channel q 3",
                           "garble", "frobnicate", "off 33"}) {
    const Lines answer = ci.execute(line);
    ASSERT_EQ(answer.size(), 1u) << line;
    EXPECT_EQ(answer[0].rfind("error: ", 0), 0u) << line << " -> " << answer[0];
  }
  EXPECT_TRUE(ci.execute("").empty());
  EXPECT_FALSE(ci.quitRequested());
  EXPECT_EQ(m.loss(), 0.0);
}

TEST(ControlInterpreter, PadPowerChannelLossAndStatus) {
  SimModel m(twoPads());
  ControlInterpreter ci(m);
  EXPECT_EQ(ci.execute("off a"), Lines{"off a"});
  EXPECT_EQ(ci.execute("award a 9.0"), Lines{"error: award: pad a is switched off"});
  EXPECT_EQ(ci.execute("garble a"), Lines{"error: garble: pad a is switched off"});
  EXPECT_EQ(ci.execute("channel 3 4"), Lines{"channel 3 4"});
  EXPECT_EQ(ci.execute("loss 0.25"), Lines{"loss 0.25"});
  EXPECT_EQ(m.loss(), 0.25);

  const Lines status = ci.execute("status");
  ASSERT_EQ(status.size(), 4u);
  EXPECT_EQ(status[0], "status base channel 7 bandwidth 6 dcs off loss 0.25 entries manual ident ER400TRS-02V2.01.7");
  EXPECT_EQ(status[1],
            "status pad 3 on channel 4 unlocked acked 0 firmware '912' display '                |                '");
  EXPECT_EQ(status[2].rfind("status pad a off channel 7", 0), 0u);
  EXPECT_EQ(status[3], "status end");

  EXPECT_EQ(ci.execute("on a"), Lines{"on a"});
  EXPECT_EQ(ci.execute("channel all 2"), Lines{"channel all 2"});
  EXPECT_EQ(m.findPad('a')->channel(), 2);
  EXPECT_TRUE(m.findPad('a')->isOn());
}

TEST(ControlInterpreter, StatsCountFramesPerPadAndDirection) {
  SimModel m(twoPads());
  ControlInterpreter ci(m);
  m.feedHost(0,
             "\x02"
             "3\x1b"
             "3\x04");
  m.feedHost(10,
             "\x02"
             "a\x1b"
             "3\x04");
  ci.execute("off a");
  m.advanceTo(500);
  const Lines stats = ci.execute("stats");
  ASSERT_EQ(stats.size(), 4u);
  EXPECT_EQ(stats[0], "stats base commands 0 acks 0 frames 2 ignored 0 to-host 1");
  EXPECT_EQ(stats[1], "stats pad 3 down sent 1 received 1 dropped 0 missed 0 up sent 1 received 1 dropped 0 missed 0");
  EXPECT_EQ(stats[2], "stats pad a down sent 1 received 0 dropped 0 missed 1 up sent 0 received 0 dropped 0 missed 0");
  EXPECT_EQ(stats[3], "stats end");
}

TEST(ControlInterpreter, QuitIsRemembered) {
  SimModel m(twoPads());
  ControlInterpreter ci(m);
  EXPECT_EQ(ci.execute("quit"), Lines{"quit"});
  EXPECT_TRUE(ci.quitRequested());
}

}  // namespace
}  // namespace mqsim
