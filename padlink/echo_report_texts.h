// TEchoReportTexts: every text of the echo-test report that is not data —
// headings, the facts' names, column heads, outcome names, the legend and
// the explanations — in one language. The defaults are English, which is
// what mqtool-cli writes (scripts read its reports); the window fills the
// fields from its translation table in the language it shows, so a saved
// report reads like the window it came from.
//
// "%1", "%2", ... in a text stand for the values put in (numbers, loop
// numbers, a duration); a translation may put them in any order. Texts are
// plain UTF-8: the report escapes them.
//
// Threading: a plain value; any thread.
#pragma once

#include <string>

namespace mq::padlink {

struct TEchoReportTexts {
  std::string Language = "en";  // the document's language (BCP 47)
  std::string Title = "Echo test report";
  // The facts.
  std::string DateTime = "Date and time";
  std::string BaseStation = "Base station";
  std::string ProgramVersion = "Program version";
  std::string Channel = "Channel";
  std::string Port = "Port";
  std::string Bandwidth = "Bandwidth";
  std::string TestDelay = "Test delay";
  std::string Loops = "Loops";
  std::string Pads = "Pads";
  std::string Duration = "Duration";
  std::string LoopsOfAsked = "%1 of %2";
  std::string EndedEarly = "(ended early)";
  std::string Estimate = "(estimate %1)";
  // Section headings.
  std::string ReportHeading = "Report";
  std::string SharesHeading = "Share of steps per pad";
  std::string TimelineHeading = "Timeline: every pad in every loop";
  // The table's column heads.
  std::string Judge = "Judge";
  std::string Pad = "Pad";
  std::string Replies = "Replies";
  std::string Resends = "Resends";
  std::string Missed = "Missed";
  std::string Steps = "Steps";
  std::string Reads = "Reads";
  std::string Sends = "Sends";
  std::string AtOnce = "at once";
  std::string AfterResend = "after a resend";
  std::string NoAnswer = "no answer";
  std::string LateReplies = "late replies";
  // Outcome names (legend, tooltips) and the last column's head.
  std::string AnsweredAtOnce = "answered at once";
  std::string MissedSend = "missed send (answered after a resend)";
  std::string MissedRead = "missed read (answered after a resend)";
  std::string NotRun = "not run";
  // The timeline.
  std::string TimelineLabel = "Outcome of every step, pads by loops";
  std::string JudgeLabel = "J%1";
  std::string OneLoop = "loop %1";
  std::string LoopRange = "loops %1\u2013%2";
  std::string StepsAtOnce = "%1 of %2 steps answered at once";
  std::string ColumnNote =
      "Each column covers %1 loops; the marks in it are as high as the share of those loops with that outcome.";
  std::string HowToRead =
      "A step is one echo request to one pad, with one test delay for the answer and, when the pad stays silent, "
      "one resend with a second delay. A missed send is an answer after the resend that carries the current loop "
      "number: the pad's first reply was lost. A missed read is an answer after the resend with another loop "
      "number: the pad had not heard the request. Late replies came after their step had ended. Losses in a row "
      "of one pad point to that pad (range, a body blocking it); losses in the same loops of all pads point to "
      "the base station or interference.";
};

}  // namespace mq::padlink
