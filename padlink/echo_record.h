// TEchoRecord: what happened to every pad in every loop of an echo test, one
// cell per pad step, kept beside the four counters of TEchoStat (which it
// never changes). It lets a report show when losses happened — in bursts or
// spread out — not only how many there were.
//
// A reply answers the step it belongs to: the pad being echoed, the step not
// answered yet, and either a resend went out (any loop number, as the
// counters take it) or it carries the step's own loop number. Every other
// reply is late (a reply from an earlier step, or a second reply) and is
// added to the latest earlier step of its pad, so no reply is lost and none
// is taken for an answer it is not.
//
// Threading: a plain value; TMarqsForm fills it on the loop thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mq::padlink {

enum class TEchoOutcome {
  AtOnce,      // answered within the first test delay
  MissedSend,  // answered after a resend, with the step's loop number: the first reply was lost
  MissedRead,  // answered after a resend, with another loop number: the request was lost
  NoAnswer,    // no answer within the step (registered but silent, or the step was cut short)
};

// The base station a test ran against, as the link state showed it when
// the test started (a lost link clears the link state, not the record).
struct TEchoStation {
  int Port = 0;           // COM number; 0: not set
  std::string BaseIdent;  // UTF-8
  std::string Channel;
  int BandwidthIndex = 4;
  bool operator==(const TEchoStation&) const = default;
};

struct TEchoCell {
  int Loop = 0;   // 1-based
  int Judge = 0;  // 0..11
  TEchoOutcome Outcome = TEchoOutcome::NoAnswer;
  bool Resent = false;
  int ReplyLoop = -1;   // the loop number the answer carried; -1 without an answer
  int LateReplies = 0;  // replies of this pad for this step that came after its answer or after the step
  bool operator==(const TEchoCell&) const = default;
};

// One CSV field, quoted when it needs to be (the CSV files of a test).
std::string CsvField(std::string_view text);

class TEchoRecord {
 public:
  // A new test: forgets every cell. nowMs is the loop clock.
  void Start(int loopsAsked, int delayMs, std::vector<int> judges, std::int64_t nowMs);
  void StepStarted(int loop, int judge);
  void Resent();
  // A reply from `judge` carrying loop number `replyLoop` (-1: unreadable).
  void Reply(int judge, int replyLoop);
  // The end of the test. earlyEnd: why it ended before every loop asked
  // had run (a finished text in the language the test ran in), or empty.
  void Ended(std::int64_t nowMs, std::string earlyEnd = {});
  void SetStation(TEchoStation station) { station_ = std::move(station); }

  const std::vector<TEchoCell>& Cells() const { return cells_; }
  // The registered pads' judge indices in the order they are echoed.
  const std::vector<int>& Judges() const { return judges_; }
  int LoopsAsked() const { return loopsAsked_; }
  // Loops that started (the last one may be incomplete after a lost link).
  int LoopsRun() const { return cells_.empty() ? 0 : cells_.back().Loop; }
  int DelayMs() const { return delayMs_; }
  bool Running() const { return running_; }
  // Why the test ended early; empty while it runs and after a full run.
  const std::string& EarlyEnd() const { return earlyEnd_; }
  const TEchoStation& Station() const { return station_; }
  // From the start to the end of the test (to now while it runs: 0).
  std::int64_t DurationMs() const { return endMs_ >= startMs_ ? endMs_ - startMs_ : 0; }

  // The token used in the per-loop CSV and the report.
  static std::string_view OutcomeName(TEchoOutcome outcome);
  // One heading line and one row per cell, CR LF line ends:
  // loop,pad,judge,outcome,resent,reply_loop,late_replies,ended_early
  // where ended_early is empty but on the last row of a test that ended
  // early: there it says why.
  std::string LoopsCsv() const;

 private:
  std::vector<TEchoCell> cells_;
  std::vector<int> judges_;
  int loopsAsked_ = 0;
  int delayMs_ = 0;
  bool running_ = false;
  std::int64_t startMs_ = 0;
  std::int64_t endMs_ = -1;
  std::string earlyEnd_;
  TEchoStation station_;
};

}  // namespace mq::padlink
