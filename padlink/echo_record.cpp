#include "padlink/echo_record.h"

#include <utility>

#include "padlink/frames.h"

namespace mq::padlink {

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string s = "\"";
  for (char c : text) s += c == '"' ? std::string("\"\"") : std::string(1, c);
  return s + "\"";
}

void TEchoRecord::Start(int loopsAsked, int delayMs, std::vector<int> judges, std::int64_t nowMs) {
  cells_.clear();
  judges_ = std::move(judges);
  loopsAsked_ = loopsAsked;
  delayMs_ = delayMs;
  running_ = true;
  startMs_ = nowMs;
  endMs_ = -1;
  earlyEnd_.clear();
  station_ = {};
}

void TEchoRecord::StepStarted(int loop, int judge) {
  TEchoCell cell;
  cell.Loop = loop;
  cell.Judge = judge;
  cells_.push_back(cell);
}

void TEchoRecord::Resent() {
  if (!cells_.empty()) cells_.back().Resent = true;
}

void TEchoRecord::Reply(int judge, int replyLoop) {
  if (cells_.empty()) return;
  TEchoCell& current = cells_.back();
  if (current.Judge == judge) {
    if (current.Outcome == TEchoOutcome::NoAnswer && (current.Resent || replyLoop == current.Loop)) {
      current.Outcome = !current.Resent             ? TEchoOutcome::AtOnce
                        : replyLoop == current.Loop ? TEchoOutcome::MissedSend
                                                    : TEchoOutcome::MissedRead;
      current.ReplyLoop = replyLoop;
      return;
    }
    // A second reply within the step.
    if (current.Outcome != TEchoOutcome::NoAnswer || replyLoop == current.Loop) {
      ++current.LateReplies;
      return;
    }
  }
  // A reply to an earlier step of this pad.
  for (auto it = cells_.rbegin() + 1; it != cells_.rend(); ++it) {
    if (it->Judge == judge) {
      ++it->LateReplies;
      return;
    }
  }
}

void TEchoRecord::Ended(std::int64_t nowMs, std::string earlyEnd) {
  running_ = false;
  endMs_ = nowMs;
  earlyEnd_ = std::move(earlyEnd);
}

std::string_view TEchoRecord::OutcomeName(TEchoOutcome outcome) {
  switch (outcome) {
    case TEchoOutcome::AtOnce: return "at_once";
    case TEchoOutcome::MissedSend: return "missed_send";
    case TEchoOutcome::MissedRead: return "missed_read";
    case TEchoOutcome::NoAnswer: break;
  }
  return "no_answer";
}

std::string TEchoRecord::LoopsCsv() const {
  std::string csv = "loop,pad,judge,outcome,resent,reply_loop,late_replies,ended_early\r\n";
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    const TEchoCell& c = cells_[i];
    csv += std::to_string(c.Loop) + ',' + PadId(c.Judge) + ',' + std::to_string(c.Judge) + ',' +
           std::string(OutcomeName(c.Outcome)) + ',' + (c.Resent ? "1" : "0") + ',' +
           (c.ReplyLoop >= 0 ? std::to_string(c.ReplyLoop) : std::string()) + ',' + std::to_string(c.LateReplies) +
           ',' + (i + 1 == cells_.size() ? CsvField(earlyEnd_) : std::string()) + "\r\n";
  }
  return csv;
}

}  // namespace mq::padlink
