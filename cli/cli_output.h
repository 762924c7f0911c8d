// CliOutput: what mqtool-cli prints and writes, as text — the summary of a
// scan (lines or one JSON object), the echo report rows, the echo CSV, the
// HTML report's facts, and the small pieces they are made of. Scripts read
// these: the keys, columns and their order are fixed. Nothing here writes;
// the caller puts the text where it goes.
//
// Threading: plain functions of their inputs; any thread. Those that read
// a TMarqsForm are called where the form lives, on the loop thread.
#pragma once

#include <array>
#include <exception>
#include <string>
#include <vector>

namespace mq::padlink {

class TMarqsForm;
class TEchoRecord;
struct TEchoStat;

class CliOutput {
 public:
  // The summary after a scan: base station, port, channel, bandwidth,
  // channel separation, pads and firmware, one line each.
  static std::string Summary(const TMarqsForm& form, int bandwidthIndex);
  // The summary of a scan as one JSON object (no line end).
  static std::string SummaryJson(const TMarqsForm& form, int bandwidthIndex);

  // The echo report as printed: the heading, the twelve rows (an
  // unregistered pad's row is its judge number alone; a registered pad that
  // never replied is marked), then the loops that ran when the test ended
  // early.
  static std::string EchoTable(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats, int loopsRun);
  // One echo-report row as the window shows it: judge, then four counters.
  static std::string ReportRow(int judge, const TEchoStat& stat);
  // The echo CSV: a heading and one row per registered pad, CR LF line
  // ends. dateTime is when the test ended.
  static std::string EchoCsv(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats, int loopsRun,
                             int delayMs, const std::string& dateTime);
  // The echo report as one HTML file, with this program's version.
  static std::string EchoReportHtml(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats,
                                    const std::string& dateTime);

  // A JSON string; malformed UTF-8 becomes U+FFFD.
  static std::string JsonString(const std::string& utf8);
  // One CSV field, quoted when it needs to be.
  static std::string CsvField(const std::string& text);
  // "12.5" ... "300" for the bandwidth indices 0-4; another index as a number.
  static std::string BandwidthLabel(int index);
  // The items separated by ", ".
  static std::string Joined(const std::vector<std::string>& items);
  // The message of an exception.
  static std::string ErrorText(std::exception_ptr e);
  // The local time as "YYYY-MM-DD hh:mm:ss".
  static std::string LocalDateTime();
};

}  // namespace mq::padlink
