// TEchoReport: the echo test as a document to keep — one self-contained HTML
// file (inline CSS and SVG, no scripts, nothing fetched) with the run's
// facts, the report table, a bar per pad (answered at once / after a resend
// / no answer) and a timeline of pads × loops coloured by outcome, so that
// bursts of losses stand out. Patterns and letters stand beside the colours
// so that it reads in black and white, and it prints on A4.
//
// The output is well-formed XML as well as HTML, so a strict parser can
// check it. Every text from outside (station identification, port, channel,
// version) is escaped; bytes that XML cannot carry (control bytes, broken
// UTF-8) are shown as control pictures or U+FFFD, never written raw.
//
// Its texts come from TEchoReportTexts (English unless the caller passes a
// translation); the data and the document's structure are the same in
// every language.
//
// Threading: a plain function of its inputs; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "padlink/echo_record.h"
#include "padlink/echo_report_texts.h"

namespace mq::padlink {

struct TEchoStat;

// The facts of a run that the record does not hold. UTF-8 texts.
struct TEchoReportFacts {
  std::string DateTime;        // local time when the test ended
  std::string ProgramVersion;  // "3.5.0.0"
  std::string Port;            // "COM3"
  std::string BaseIdent;
  std::string Channel;
  std::string Bandwidth;  // "300 kHz"
};

class TEchoReport {
 public:
  TEchoReport(TEchoReportFacts facts, const TEchoRecord& record, const std::array<TEchoStat, 12>& stats,
              TEchoReportTexts texts = {});

  std::string Html() const;

  // The window's duration estimate: delay × loops × pads × 1.045, in ms.
  std::int64_t EstimateMs() const;

  // Text for an HTML/XML element or attribute: & < > " ' escaped, control
  // characters as control pictures (U+2400...), invalid UTF-8 and the
  // C1 range as U+FFFD.
  static std::string Escape(std::string_view utf8);
  // "1 h 02 min 05 s", "3 min 07 s", "12.3 s".
  static std::string Duration(std::int64_t ms);
  // pattern with "%1".."%9" replaced by the arguments in turn (a number
  // without an argument stays as it is).
  static std::string Fill(std::string_view pattern, std::initializer_list<std::string> args);

  // Columns of the timeline at most; longer tests put several loops into one
  // column, whose marks show the share of each outcome among them.
  static constexpr int MaxColumns = 250;

 private:
  std::string Facts() const;
  std::string Table() const;
  std::string Bars() const;
  std::string Timeline() const;
  std::string Legend() const;
  // The name of outcome k (0 at once, 1 missed send, 2 missed read, 3 no
  // answer), escaped.
  std::string Outcome(int k) const;

  TEchoReportFacts facts_;
  TEchoReportTexts texts_;
  const TEchoRecord& record_;
  const std::array<TEchoStat, 12>& stats_;
};

}  // namespace mq::padlink
