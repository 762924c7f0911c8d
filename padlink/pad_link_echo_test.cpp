// The echo test on virtual time: requests, resends, the four counters and
// the report rows.
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <random>

#include "padlink/pad_link_fixture.h"

namespace mq::padlink::test {
namespace {

using Strings = std::vector<std::string>;

class EchoTest : public PadLinkTest {
 protected:
  void WithPads(const std::string& ids) {
    OpenWithPads(ids);
    win.log.clear();
    seen = 0;
  }
  // Decides the reply to one frame written to port 3 (nullopt: silence),
  // and how many milliseconds later it arrives.
  std::function<std::optional<std::string>(const std::string& frame)> pad;
  int latency = 10;
  std::vector<std::pair<std::int64_t, std::string>> pending;
  std::size_t seen = 0;

  void Step(std::int64_t ms) {
    for (std::int64_t i = 0; i < ms; ++i) {
      loop.advance(1);
      const auto writes = fake->Writes(3);
      for (; seen < writes.size(); ++seen)
        if (pad)
          if (auto r = pad(writes[seen].bytes)) pending.emplace_back(loop.nowMs() + latency, *r);
      for (auto it = pending.begin(); it != pending.end();) {
        if (it->first <= loop.nowMs()) {
          fake->Inject(3, it->second);
          it = pending.erase(it);
        } else {
          ++it;
        }
      }
      loop.runPending();
    }
  }
  static std::string Reply(char id, const std::string& text) { return kStx + id + kAck + text + kEot; }
  // The display text of an echo request ("J<n>  <loop>"), empty for a resend.
  static std::string TextOf(const std::string& frame) { return frame.substr(2, frame.size() - 5); }
};

TEST_F(EchoTest, TwoPadsTwoLoopsWithPromptReplies) {
  WithPads("0a");
  std::map<char, std::string> display;
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (!TextOf(f).empty()) display[f[1]] = TextOf(f);
    return Reply(f[1], display[f[1]]);
  };
  const auto t0 = loop.nowMs();
  form->TestEcho(2);
  EXPECT_TRUE(form->EchoRunning());
  EXPECT_EQ(win.progressMax, 4);
  EXPECT_TRUE(win.progressVisible);
  EXPECT_EQ(form->EchoTimer().Interval(), 180);
  Step(4 * 180);
  EXPECT_EQ(WritesOf(3), (Strings{"\x02"
                                  "0J0  1\x1b"
                                  "4\x04",
                                  "\x02"
                                  "aJ10  1\x1b"
                                  "4\x04",
                                  "\x02"
                                  "0J0  2\x1b"
                                  "4\x04",
                                  "\x02"
                                  "aJ10  2\x1b"
                                  "4\x04"}));
  const auto times = WriteTimes(3);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(times[k], t0 + 180 * static_cast<std::int64_t>(k));
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_FALSE(win.progressVisible);
  EXPECT_EQ(win.progressPos, 4);
  EXPECT_EQ(form->EchoStats()[0], (TEchoStat{2, 0, 0, 0}));
  EXPECT_EQ(form->EchoStats()[10], (TEchoStat{2, 0, 0, 0}));
  EXPECT_EQ(win.rows[0], "0       2       0       0       0");
  EXPECT_EQ(win.rows[10], "10       2       0       0       0");
  EXPECT_EQ(win.rowColours[0], TReportColour::WindowText);
  EXPECT_EQ(win.rows[5], "5");  // never written: its judge number only
  // Log: request with loop and time stamp, reply with number and time stamp.
  auto stamp = [](std::int64_t t) { return static_cast<int>(t % 60000); };
  char line[64];
  std::snprintf(line, sizeof line, "0 -->%8d%8d", 1, stamp(t0));
  EXPECT_EQ(win.log[0], line);
  std::snprintf(line, sizeof line, "0 <-- %8d%8d", 1, stamp(t0 + latency + 1));
  EXPECT_EQ(win.log[1], std::string(line));
  EXPECT_TRUE(errors.empty());
}

TEST_F(EchoTest, ReplyOnlyAfterTheResendWithTheCurrentLoopIsAMissedSend) {
  WithPads("3");
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (!TextOf(f).empty()) return std::nullopt;  // the first reply is lost
    return Reply('3', "J3  1");
  };
  form->TestEcho(1);
  Step(180);
  EXPECT_EQ(WritesOf(3).back(), EchoResend('3'));
  EXPECT_TRUE(form->EchoResent());
  EXPECT_EQ(form->ReportColour(), TReportColour::Red);
  Step(180);
  EXPECT_EQ(form->EchoStats()[3], (TEchoStat{1, 1, 0, 1}));
  EXPECT_EQ(win.rows[3], "3       1       1       0       1");
  EXPECT_EQ(win.rowColours[3], TReportColour::Red);
  EXPECT_EQ(win.log[1].substr(0, 5), "3 -->");
  EXPECT_EQ(win.log[1].substr(0, 13), "3 -->>      1");
  EXPECT_FALSE(form->EchoRunning());
}

TEST_F(EchoTest, ReplyAfterTheResendWithAnOlderLoopIsAMissedRead) {
  WithPads("3");
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (TextOf(f) == "J3  2") return std::nullopt;  // request of loop 2 not heard
    if (!TextOf(f).empty()) return Reply('3', TextOf(f));
    return Reply('3', "J3  1");
  };
  form->TestEcho(2);
  Step(180 * 3);
  EXPECT_EQ(form->EchoStats()[3], (TEchoStat{2, 1, 1, 0}));
}

TEST_F(EchoTest, SilentPadGetsTwoDelaysAndOneResend) {
  WithPads("35");
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (f[1] == '3') return std::nullopt;
    return Reply(f[1], TextOf(f));
  };
  const auto t0 = loop.nowMs();
  form->TestEcho(1);
  Step(2 * 180 + 180);
  EXPECT_EQ(WritesOf(3), (Strings{EchoRequest('3', 1), EchoResend('3'), EchoRequest('5', 1)}));
  EXPECT_EQ(WriteTimes(3)[2], t0 + 360);
  EXPECT_EQ(form->EchoStats()[3], (TEchoStat{0, 1, 0, 0}));
  EXPECT_EQ(win.rows[3], "3");  // not shown
  EXPECT_EQ(form->EchoStats()[5], (TEchoStat{1, 0, 0, 0}));
  EXPECT_EQ(win.rowColours[5], TReportColour::WindowText);
  ASSERT_GE(win.log.size(), 2u);
  EXPECT_EQ(win.log[0].substr(0, 5), "3 -->");
  EXPECT_EQ(win.log[1].substr(0, 6), "3 -->>");
}

TEST_F(EchoTest, LateReplyCountsOnItsSendersRow) {
  WithPads("12");
  // Pad 1 answers its request only after two delays, inside pad 2's step;
  // pad 2 stays silent.
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (f == EchoRequest('1', 1)) return Reply('1', TextOf(f));
    return std::nullopt;
  };
  latency = 370;
  const auto t0 = loop.nowMs();
  form->TestEcho(1);
  Step(541);
  EXPECT_EQ(WritesOf(3), (Strings{EchoRequest('1', 1), EchoResend('1'), EchoRequest('2', 1)}));
  EXPECT_EQ(WriteTimes(3)[2], t0 + 360);
  EXPECT_FALSE(form->EchoRunning());  // pad 2's step ended as if it had replied
  EXPECT_EQ(form->EchoStats()[1], (TEchoStat{1, 1, 0, 0}));
  EXPECT_EQ(form->EchoStats()[2], TEchoStat{});
  EXPECT_EQ(win.rows[1], "1       1       1       0       0");
  EXPECT_EQ(win.rowColours[1], TReportColour::WindowText);
  EXPECT_EQ(win.rows[2], "2");
  EXPECT_TRUE(errors.empty());
}

TEST_F(EchoTest, AbortInTheThirdLoopFinishesThatLoop) {
  WithPads("01");
  pad = [&](const std::string& f) -> std::optional<std::string> { return Reply(f[1], TextOf(f)); };
  form->TestEcho(10);
  Step(2 * 2 * 180 + 90);  // inside loop 3
  EXPECT_EQ(form->EchoLoop(), 3);
  form->SetEchoLoops(1);
  Step(2000);
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_FALSE(win.progressVisible);
  EXPECT_EQ(WritesOf(3).size(), 6u);
  EXPECT_EQ(WritesOf(3).back(), EchoRequest('1', 3));
}

TEST_F(EchoTest, TenThousandLoopsWithoutPadsEndAtOnce) {
  OpenPort(3);
  form->TestEcho(10000);
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_EQ(form->EchoLoop(), 10000);
  EXPECT_EQ(win.progressMax, 0);
  EXPECT_FALSE(win.progressVisible);
  EXPECT_TRUE(WritesOf(3).empty());
}

TEST_F(EchoTest, EchoReplyThatIsNoNumberIsReportedAndNothingCounts) {
  WithPads("5");
  form->TestEcho(1);
  Feed(3, Reply('5', "J5  1c"));
  EXPECT_EQ(errors, Strings{"'1c' is not a valid integer value"});
  EXPECT_EQ(form->CurJudge(), 5);
  EXPECT_EQ(form->EchoStats()[5], TEchoStat{});
  EXPECT_FALSE(form->EchoReplied());
  Feed(3, Reply('5', "J5  12"));
  EXPECT_EQ(form->EchoStats()[5].Replies, 1);
}

TEST_F(EchoTest, WriteOnAClosedPortEndsTheTest) {
  WithPads("0");
  form->ComPort().SetOpen(false);
  form->TestEcho(3);
  EXPECT_EQ(errors, Strings{"COM3: ie_NOpen - device not open"});
  EXPECT_FALSE(form->EchoTimer().Enabled());
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_FALSE(win.progressVisible);
  // Registrations are registrations again.
  form->ComPort().SetOpen(true);
  form->ScanPortForPads();
  Register(3, '4');
  EXPECT_EQ(form->PadList(), Strings{"4"});
}

TEST_F(EchoTest, WriteFailureOnTheResendMovesOnAtTheNextTick) {
  WithPads("01");
  form->TestEcho(1);
  form->ComPort().SetOpen(false);
  Step(180);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_TRUE(form->EchoTimer().Enabled());
  form->ComPort().SetOpen(true);
  Step(180);
  EXPECT_EQ(WritesOf(3).back(), EchoRequest('1', 1));
}

TEST_F(EchoTest, ALineThatDiesEndsTheTestAndTheQueueAndShowsTheLinkAsGone) {
  WithPads("01");
  pad = [](const std::string& f) -> std::optional<std::string> {
    if (f[1] == '0') return Reply('0', TextOf(f));
    return std::nullopt;  // pad 1 is silent
  };
  form->TestEcho(50);
  // Loop 1 (pad 0 answers, pad 1 gets its resend), then pad 0's answer in
  // loop 2 is in but its step has not ended yet.
  Step(4 * 180 - 30);
  form->KbdLocked(true);  // two frames queued behind the test
  ASSERT_EQ(win.rows[0], "0       1       0       0       0");
  const int refreshes = win.refreshes;
  win.log.clear();
  fake->Vanish(3);
  loop.runPending();
  const std::string failure = std::string("COM3: ") + std::strerror(ENODEV);
  EXPECT_EQ(errors, Strings{failure});
  // The test ends where it was. Its step ends as its tick would have (the
  // answer is written to its row) and the record says why it ended.
  EXPECT_FALSE(form->EchoRunning());
  EXPECT_FALSE(form->EchoTimer().Enabled());
  EXPECT_FALSE(win.progressVisible);
  EXPECT_EQ(win.rows[0], "0       2       0       0       0");
  EXPECT_EQ(win.rows[1], "1");
  const std::string why = "ended early: the link to the base station was lost \u2014 " + failure;
  EXPECT_EQ(win.log, Strings{"Echo test 2/50 (" + why + ")"});
  const TEchoRecord& r = form->EchoRecord();
  EXPECT_FALSE(r.Running());
  EXPECT_EQ(r.EarlyEnd(), why);
  EXPECT_EQ(r.Judges(), (std::vector<int>{0, 1}));
  EXPECT_EQ(r.Cells().size(), 3u);
  EXPECT_EQ(r.Station().Port, 3);  // the port the test ran on, though closed now
  EXPECT_TRUE(r.LoopsCsv().ends_with("\r\n2,0,0,at_once,0,2,0," + why + "\r\n")) << r.LoopsCsv();
  EXPECT_EQ(form->TxQueueCount(), 0u);
  EXPECT_FALSE(form->COMTimer().Enabled());
  // The window sees the link gone: port closed, no base, no pads, lights off.
  EXPECT_FALSE(form->ComPort().Open());
  EXPECT_EQ(form->BasePort(), 0);
  EXPECT_EQ(form->BaseIdent(), "No Base Station found");
  EXPECT_TRUE(form->PadList().empty());
  EXPECT_EQ(win.lights, (std::array<bool, 12>{}));
  EXPECT_FALSE(win.monitoring);
  EXPECT_GT(win.refreshes, refreshes);
  EXPECT_FALSE(win.busy);
  const std::size_t written = WritesOf(3).size();
  Step(5000);
  EXPECT_EQ(WritesOf(3).size(), written);
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(EchoTest, OneJudgeEchoWritesTheShortFrameOnly) {
  OpenPort(3);
  form->EchoOneJudge('c');
  EXPECT_EQ(WritesOf(3), Strings{EchoResend('c')});
  EXPECT_TRUE(win.log.empty());
  form->ComPort().SetOpen(false);
  form->EchoOneJudge('c');
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(EchoTest, ReplyOfFiveWithLoopTwelve) {
  WithPads("5");
  form->TestEcho(20);
  // Pretend loop 12 is running with a resend made.
  for (int i = 0; i < 11; ++i) {
    Feed(3, Reply('5', "J5  " + std::to_string(i + 1)));
    loop.advance(180);
  }
  ASSERT_EQ(form->EchoLoop(), 12);
  loop.advance(180);  // no reply yet: resend
  ASSERT_TRUE(form->EchoResent());
  Feed(3, Reply('5', "J5  12"));
  EXPECT_EQ(form->EchoStats()[5].MissedSends, 1);
  loop.advance(180);  // loop 13
  loop.advance(180);
  Feed(3, Reply('5', "J5  12"));
  EXPECT_EQ(form->EchoStats()[5].MissedReads, 1);
}

// ---- The per-loop record ----

// What the radio did to one echo frame of one pad.
struct FrameFate {
  std::string frame;
  bool heard = false;
  bool replyArrived = false;
  int display = 0;  // the loop number the pad showed when it answered
};

// The record against an independent model of a lossy radio: each frame is
// heard or lost, each reply arrives or is lost (a seeded generator decides),
// the pad answers every frame it hears with the loop number it last heard.
TEST_F(EchoTest, RecordFollowsEveryFrameOfALossyRadio) {
  WithPads("03ac");
  std::minstd_rand rng(4711);
  std::map<char, int> shown;
  std::map<char, std::vector<FrameFate>> fates;
  pad = [&](const std::string& f) -> std::optional<std::string> {
    FrameFate fate;
    fate.frame = f;
    fate.heard = rng() % 5 != 0;
    if (fate.heard && !TextOf(f).empty()) shown[f[1]] = std::stoi(f.substr(f.rfind(' ') + 1, f.size() - 3));
    fate.display = shown[f[1]];
    fate.replyArrived = fate.heard && rng() % 5 != 0;
    fates[f[1]].push_back(fate);
    if (!fate.replyArrived) return std::nullopt;
    return Reply(f[1], "J  " + std::to_string(fate.display));
  };
  form->TestEcho(30);
  Step(30 * 4 * 2 * 180 + 10);
  ASSERT_FALSE(form->EchoRunning());

  std::vector<TEchoCell> expected;
  std::map<char, std::size_t> next;
  for (int loop = 1; loop <= 30; ++loop) {
    for (char id : std::string("03ac")) {
      const auto& f = fates[id];
      std::size_t& k = next[id];
      TEchoCell cell;
      cell.Loop = loop;
      cell.Judge = JudgeIndex(id);
      ASSERT_LT(k, f.size());
      ASSERT_EQ(f[k].frame, EchoRequest(id, loop));
      if (f[k].replyArrived) {
        cell.Outcome = TEchoOutcome::AtOnce;
        cell.ReplyLoop = loop;
        ++k;
      } else {
        ++k;
        cell.Resent = true;
        ASSERT_LT(k, f.size());
        ASSERT_EQ(f[k].frame, EchoResend(id));
        if (f[k].replyArrived) {
          cell.ReplyLoop = f[k].display;
          cell.Outcome = f[k].display == loop ? TEchoOutcome::MissedSend : TEchoOutcome::MissedRead;
        }
        ++k;
      }
      expected.push_back(cell);
    }
  }
  EXPECT_EQ(form->EchoRecord().Cells(), expected);
  EXPECT_EQ(form->EchoRecord().LoopsRun(), 30);
  EXPECT_EQ(form->EchoRecord().Judges(), (std::vector<int>{0, 3, 10, 11}));
  // The counters, untouched, agree with the record.
  std::array<TEchoStat, 12> fromCells{};
  std::array<int, 4> kinds{};
  for (const TEchoCell& c : expected) {
    TEchoStat& s = fromCells[static_cast<std::size_t>(c.Judge)];
    s.Replies += c.Outcome != TEchoOutcome::NoAnswer;
    s.Resends += c.Resent;
    s.MissedSends += c.Outcome == TEchoOutcome::MissedSend;
    s.MissedReads += c.Outcome == TEchoOutcome::MissedRead;
    ++kinds[static_cast<std::size_t>(c.Outcome)];
  }
  EXPECT_EQ(form->EchoStats(), fromCells);
  for (int n : kinds) EXPECT_GT(n, 0) << "the seed should give every outcome";
  EXPECT_TRUE(errors.empty());
}

TEST_F(EchoTest, RecordPutsALateReplyOnItsOwnStepAndItsCsvSaysSo) {
  WithPads("12");
  pad = [&](const std::string& f) -> std::optional<std::string> {
    if (f == EchoRequest('1', 1)) return Reply('1', TextOf(f));
    return std::nullopt;
  };
  latency = 370;  // pad 1's answer comes inside pad 2's step
  const auto t0 = loop.nowMs();
  form->TestEcho(1);
  Step(600);
  const TEchoRecord& r = form->EchoRecord();
  ASSERT_EQ(r.Cells().size(), 2u);
  EXPECT_EQ(r.Cells()[0], (TEchoCell{1, 1, TEchoOutcome::NoAnswer, true, -1, 1}));
  // Pad 2's step was cut short by pad 1's late reply: not resent, not answered.
  EXPECT_EQ(r.Cells()[1], (TEchoCell{1, 2, TEchoOutcome::NoAnswer, false, -1, 0}));
  EXPECT_EQ(r.LoopsCsv(),
            "loop,pad,judge,outcome,resent,reply_loop,late_replies,ended_early\r\n"
            "1,1,1,no_answer,1,,1,\r\n"
            "1,2,2,no_answer,0,,0,\r\n");
  EXPECT_EQ(r.DurationMs(), 540);  // three delays, on the loop's clock
  EXPECT_EQ(loop.nowMs() - t0, 600);
}

TEST_F(EchoTest, RecordOfAnAbortedTestEndsWithTheLastLoopThatRan) {
  WithPads("01");
  pad = [&](const std::string& f) -> std::optional<std::string> { return Reply(f[1], TextOf(f)); };
  form->TestEcho(10);
  Step(2 * 2 * 180 + 90);
  form->SetEchoLoops(1);
  Step(2 * 180);
  ASSERT_FALSE(form->EchoRunning());
  const TEchoRecord& r = form->EchoRecord();
  EXPECT_EQ(r.LoopsAsked(), 10);
  EXPECT_EQ(r.LoopsRun(), 3);
  EXPECT_EQ(r.EarlyEnd(), "ended early: aborted by the user");
  EXPECT_EQ(win.log.back(), "Echo test 3/10 (ended early: aborted by the user)");
  ASSERT_EQ(r.Cells().size(), 6u);
  for (const TEchoCell& c : r.Cells()) EXPECT_EQ(c.Outcome, TEchoOutcome::AtOnce);
  // A new test starts a new record.
  form->TestEcho(1);
  EXPECT_EQ(r.Cells().size(), 1u);
  EXPECT_TRUE(r.Running());
}

}  // namespace
}  // namespace mq::padlink::test
