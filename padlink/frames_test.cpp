#include "padlink/frames.h"

#include <gtest/gtest.h>

#include "padlink/convert_error.h"

namespace mq::padlink {
namespace {

TEST(Frames, PollsAndShortFramesAreByteExact) {
  EXPECT_EQ(RegisterPoll('a'),
            "\x02"
            "aJ10\x1b"
            "13\x04");
  EXPECT_EQ(RegisterPoll('0'),
            "\x02"
            "0J0\x1b"
            "13\x04");
  EXPECT_EQ(RegisterPoll('c'),
            "\x02"
            "cJ11\x1b"
            "13\x04");
  EXPECT_EQ(SilentPoll('7'),
            "\x02"
            "7\x1b"
            "3\x04");
  EXPECT_EQ(SilentPoll('7').size(), 5u);
  EXPECT_EQ(LockFrame('3', true),
            "\x02"
            "3\x1b"
            "1\x04");
  EXPECT_EQ(LockFrame('3', false),
            "\x02"
            "3\x1b"
            "0\x04");
  EXPECT_EQ(EchoResend('a'),
            "\x02"
            "a\x1b"
            "4\x04");
  EXPECT_EQ(EchoResend('a').size(), 5u);
}

TEST(Frames, DiveHeadersUseOneJudgeByte) {
  const std::string text = "103B 3m    First Diver";
  const std::string dive = DiveFrame('3', text);
  EXPECT_EQ(dive,
            "\x02"
            "3J3   103B 3m    First Diver\x1b"
            "0\x04");
  EXPECT_EQ(dive.size(), 32u);
  EXPECT_EQ(DiveFrame('a', "x").substr(1, 4), "aJ: ");
  EXPECT_EQ(DiveFrame('c', "x").substr(1, 4), "cJ; ");
  EXPECT_EQ(DiveFrame('7', "x").substr(1, 4), "7J7 ");
  EXPECT_EQ(BroadcastDiveFrame(text),
            "\x02"
            "FJ\x1a   103B 3m    First Diver\x1b"
            "0\x04");
}

TEST(Frames, JudgeIdRequestAndEntryAcknowledgements) {
  const std::string req = JudgeIdRequest('5');
  EXPECT_EQ(req.size(), 36u);
  EXPECT_EQ(req,
            "\x02"
            "5Please enter    your Judge ID:\x1b"
            "02\x04");
  EXPECT_EQ(EntryAck('3', "9.5", false),
            "\x02"
            "3\x06"
            "OK   9.5       MqTool\x1b"
            "1\x04");
  EXPECT_EQ(EntryAck('3', "J3", true),
            "\x02"
            "3\x06"
            "OK  J3      MqTool\x1b"
            "1\x04");
}

TEST(Frames, EchoRequestsCarryJudgeAndLoop) {
  EXPECT_EQ(EchoRequest('0', 1),
            "\x02"
            "0J0  1\x1b"
            "4\x04");
  EXPECT_EQ(EchoRequest('a', 1),
            "\x02"
            "aJ10  1\x1b"
            "4\x04");
  EXPECT_EQ(EchoRequest('c', 10000),
            "\x02"
            "cJ11  10000\x1b"
            "4\x04");
}

TEST(Frames, JudgeIndexOfEveryIdAndNone) {
  for (int j = 0; j < 12; ++j) EXPECT_EQ(JudgeIndex(PadId(j)), j);
  EXPECT_EQ(JudgeIndex('a'), 10);
  EXPECT_EQ(JudgeIndex('c'), 11);
  EXPECT_EQ(JudgeIndex('b'), -1);
  EXPECT_EQ(JudgeIndex('F'), -1);
  EXPECT_EQ(JudgeIndex('\0'), -1);
}

TEST(StrToInt, DecimalOnly) {
  EXPECT_EQ(StrToInt("912"), 912);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", "1a", "a", " 1", "2147483648", "99999999999999999999", "0x10"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  try {
    StrToInt("x");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
}

}  // namespace
}  // namespace mq::padlink
