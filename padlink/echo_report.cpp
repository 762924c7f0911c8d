#include "padlink/echo_report.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "util/utf16_convert.h"

namespace mq::padlink {

namespace {

// Severity of an outcome in the timeline; a column of several loops shows
// the worst. -1: the step did not run.
int Severity(TEchoOutcome o) {
  switch (o) {
    case TEchoOutcome::AtOnce: return 0;
    case TEchoOutcome::MissedSend: return 1;
    case TEchoOutcome::MissedRead: return 2;
    case TEchoOutcome::NoAnswer: break;
  }
  return 3;
}

constexpr const char* kFill[] = {"#a5d6a7", "url(#pSend)", "url(#pRead)", "#7f0000"};

// Tenths of a percent of n in d, as "96.0 %" (no locale involved).
std::string Percent(int n, int d) {
  if (d <= 0) return "\u2013";
  const long long tenths = (static_cast<long long>(n) * 1000 + d / 2) / d;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "\u00a0%";
}

std::string Num(long long v) { return std::to_string(v); }

std::size_t CodePoints(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

struct PadCounts {
  std::array<int, 4> outcomes{};
  int late = 0;
  int steps = 0;
};

}  // namespace

TEchoReport::TEchoReport(TEchoReportFacts facts, const TEchoRecord& record, const std::array<TEchoStat, 12>& stats,
                         TEchoReportTexts texts)
    : facts_(std::move(facts)), texts_(std::move(texts)), record_(record), stats_(stats) {}

std::string TEchoReport::Fill(std::string_view pattern, std::initializer_list<std::string> args) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (n < args.size()) {
        out += *(args.begin() + n);
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::string TEchoReport::Outcome(int k) const {
  switch (k) {
    case 0: return Escape(texts_.AnsweredAtOnce);
    case 1: return Escape(texts_.MissedSend);
    case 2: return Escape(texts_.MissedRead);
    default: return Escape(texts_.NoAnswer);
  }
}

std::string TEchoReport::Escape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = Utf16Convert::NextCodePoint(utf8, i);
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      case '"': out += "&quot;"; continue;
      case '\'': out += "&#39;"; continue;
      default: break;
    }
    if (c < 0x20)
      c += 0x2400;  // control pictures, as the log draws them
    else if (c == 0x7F)
      c = 0x2421;
    else if ((c >= 0x80 && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF)
      c = 0xFFFD;
    Utf16Convert::AppendUtf8(out, c);
  }
  return out;
}

std::string TEchoReport::Duration(std::int64_t ms) {
  if (ms < 0) ms = 0;
  if (ms < 60'000) {
    const std::int64_t tenths = (ms + 50) / 100;
    return Num(tenths / 10) + "." + Num(tenths % 10) + " s";
  }
  const std::int64_t s = (ms + 500) / 1000;
  auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + Num(v); };
  if (s < 3600) return Num(s / 60) + " min " + two(s % 60) + " s";
  return Num(s / 3600) + " h " + two(s / 60 % 60) + " min " + two(s % 60) + " s";
}

std::int64_t TEchoReport::EstimateMs() const {
  const double ms = static_cast<double>(record_.DelayMs()) * record_.LoopsAsked() *
                    static_cast<double>(record_.Judges().size()) * 1.045;
  return static_cast<std::int64_t>(ms + 0.5);
}

std::string TEchoReport::Facts() const {
  const TEchoReportTexts& t = texts_;
  std::vector<std::pair<std::string, std::string>> facts;  // name, value (plain text)
  facts.emplace_back(t.DateTime, facts_.DateTime);
  facts.emplace_back(t.BaseStation, facts_.BaseIdent);
  facts.emplace_back(t.ProgramVersion, facts_.ProgramVersion);
  facts.emplace_back(t.Channel, facts_.Channel);
  facts.emplace_back(t.Port, facts_.Port);
  facts.emplace_back(t.Bandwidth, facts_.Bandwidth);
  facts.emplace_back(t.TestDelay, Num(record_.DelayMs()) + " ms");
  std::string loops = Fill(t.LoopsOfAsked, {Num(record_.LoopsRun()), Num(record_.LoopsAsked())});
  // Why it ended early comes with the record, in the language the test ran
  // in; a record without a reason (an older one) says only that it did.
  if (!record_.EarlyEnd().empty())
    loops += " (" + record_.EarlyEnd() + ")";
  else if (record_.LoopsRun() < record_.LoopsAsked())
    loops += " " + t.EndedEarly;
  facts.emplace_back(t.Loops, loops);
  std::string pads;
  for (int j : record_.Judges()) pads += (pads.empty() ? "" : ", ") + std::string(1, PadId(j));
  facts.emplace_back(t.Pads,
                     Num(static_cast<long long>(record_.Judges().size())) + (pads.empty() ? "" : " (" + pads + ")"));
  facts.emplace_back(t.Duration, Duration(record_.DurationMs()) + " " + Fill(t.Estimate, {Duration(EstimateMs())}));
  // Two facts a row: the page keeps room for the charts.
  std::string h = "<table class=\"facts\">\n";
  for (std::size_t i = 0; i < facts.size(); i += 2) {
    h += "<tr>";
    for (std::size_t k = i; k < i + 2 && k < facts.size(); ++k)
      h += "<th>" + Escape(facts[k].first) + "</th><td>" + Escape(facts[k].second) + "</td>";
    h += "</tr>\n";
  }
  h += "</table>\n";
  return h;
}

std::string TEchoReport::Table() const {
  std::vector<PadCounts> counts(12);
  for (const TEchoCell& c : record_.Cells()) {
    if (c.Judge < 0 || c.Judge >= 12) continue;
    PadCounts& p = counts[static_cast<std::size_t>(c.Judge)];
    ++p.outcomes[static_cast<std::size_t>(Severity(c.Outcome))];
    p.late += c.LateReplies;
    ++p.steps;
  }
  const TEchoReportTexts& t = texts_;
  std::string h =
      "<table class=\"report\" id=\"report\">\n<thead>\n"
      "<tr><th rowspan=\"2\">" +
      Escape(t.Judge) + "</th><th rowspan=\"2\">" + Escape(t.Pad) + "</th><th rowspan=\"2\">" + Escape(t.Replies) +
      "</th>"
      "<th rowspan=\"2\">" +
      Escape(t.Resends) + "</th><th colspan=\"2\">" + Escape(t.Missed) + "</th><th class=\"sep\" colspan=\"5\">" +
      Escape(t.Steps) +
      "</th></tr>\n"
      "<tr><th>" +
      Escape(t.Reads) + "</th><th>" + Escape(t.Sends) + "</th><th class=\"sep\">" + Escape(t.AtOnce) + "</th><th>" +
      Escape(t.AfterResend) + "</th><th>" + Escape(t.NoAnswer) +
      "</th>"
      "<th>" +
      Escape(t.LateReplies) + "</th><th>" + Escape(t.AnsweredAtOnce) + "</th></tr>\n</thead>\n<tbody>\n";
  for (int j : record_.Judges()) {
    if (j < 0 || j >= 12) continue;
    const TEchoStat& s = stats_[static_cast<std::size_t>(j)];
    const PadCounts& p = counts[static_cast<std::size_t>(j)];
    const int resent = p.outcomes[1] + p.outcomes[2];
    const std::string cls = p.outcomes[3] > 0 ? " class=\"loss\"" : "";
    h += "<tr id=\"row-J" + Num(j) + "\"" + cls + "><td>" + Num(j) + "</td><td>" + std::string(1, PadId(j)) +
         "</td><td class=\"n\">" + Num(s.Replies) + "</td><td class=\"n\">" + Num(s.Resends) + "</td><td class=\"n\">" +
         Num(s.MissedReads) + "</td><td class=\"n\">" + Num(s.MissedSends) + "</td><td class=\"n sep\">" +
         Num(p.outcomes[0]) + "</td><td class=\"n\">" + Num(resent) + "</td><td class=\"n\">" + Num(p.outcomes[3]) +
         "</td><td class=\"n\">" + Num(p.late) + "</td><td class=\"n\">" + Percent(p.outcomes[0], p.steps) +
         "</td></tr>\n";
  }
  h += "</tbody>\n</table>\n";
  return h;
}

namespace {

std::string PatternDefs() {
  return "<defs>\n"
         "<pattern id=\"pSend\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
         "<rect width=\"6\" height=\"6\" fill=\"#ffd180\"/>"
         "<path d=\"M0,6 L6,0 M-1,1 L1,-1 M5,7 L7,5\" stroke=\"#bf360c\" stroke-width=\"1.6\"/></pattern>\n"
         "<pattern id=\"pRead\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">"
         "<rect width=\"6\" height=\"6\" fill=\"#e1bee7\"/>"
         "<circle cx=\"3\" cy=\"3\" r=\"1.6\" fill=\"#4a148c\"/></pattern>\n"
         "</defs>\n";
}

}  // namespace

std::string TEchoReport::Legend() const {
  std::string h = "<p class=\"legend\">";
  for (int k = 0; k < 4; ++k) {
    h += "<span><svg xmlns=\"http://www.w3.org/2000/svg\" class=\"key\" viewBox=\"0 0 18 12\" width=\"18\" "
         "height=\"12\">";
    if (k == 1 || k == 2) h += PatternDefs();  // each key carries its own pattern
    h += "<rect x=\"0.5\" y=\"0.5\" width=\"17\" height=\"11\" fill=\"" + std::string(kFill[k]) +
         "\" stroke=\"#000\" stroke-width=\"0.5\"/></svg> " + Outcome(k) + "</span> ";
  }
  h += "<span><svg xmlns=\"http://www.w3.org/2000/svg\" class=\"key\" viewBox=\"0 0 18 12\" width=\"18\" "
       "height=\"12\"><rect x=\"0.5\" y=\"0.5\" width=\"17\" height=\"11\" fill=\"#fff\" stroke=\"#999\" "
       "stroke-width=\"0.5\"/></svg> " +
       Escape(texts_.NotRun) + "</span></p>\n";
  return h;
}

std::string TEchoReport::Bars() const {
  const auto& judges = record_.Judges();
  std::vector<PadCounts> counts(12);
  for (const TEchoCell& c : record_.Cells()) {
    if (c.Judge < 0 || c.Judge >= 12) continue;
    ++counts[static_cast<std::size_t>(c.Judge)].outcomes[static_cast<std::size_t>(Severity(c.Outcome))];
    ++counts[static_cast<std::size_t>(c.Judge)].steps;
  }
  constexpr int rowH = 25, barX = 90, barW = 380;
  const int height = static_cast<int>(judges.size()) * rowH + 8;
  std::string h;
  std::size_t longest = 0;  // code points of the longest share text
  int y = 4;
  for (int j : judges) {
    if (j < 0 || j >= 12) continue;
    const PadCounts& p = counts[static_cast<std::size_t>(j)];
    h += "<g id=\"bar-J" + Num(j) + "\">";
    h += "<text x=\"0\" y=\"" + Num(y + 19) + "\">" + Escape(Fill(texts_.JudgeLabel, {Num(j)})) + " (" +
         std::string(1, PadId(j)) + ")</text>";
    int x = barX;
    int done = 0;
    for (int k = 0; k < 4; ++k) {
      if (p.steps == 0 || p.outcomes[static_cast<std::size_t>(k)] == 0) continue;
      done += p.outcomes[static_cast<std::size_t>(k)];
      // Cumulative rounding, so the segments always add up to the bar.
      const int end = barX + static_cast<int>(static_cast<long long>(barW) * done / p.steps);
      h += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y + 2) + "\" width=\"" + Num(end - x) + "\" height=\"" +
           Num(rowH - 6) + "\" fill=\"" + kFill[k] + "\"><title>" + Outcome(k) + ": " +
           Num(p.outcomes[static_cast<std::size_t>(k)]) + "</title></rect>";
      x = end;
    }
    h += "<rect x=\"" + Num(barX) + "\" y=\"" + Num(y + 2) + "\" width=\"" + Num(barW) + "\" height=\"" +
         Num(rowH - 6) + "\" fill=\"none\" stroke=\"#000\" stroke-width=\"0.8\"/>";
    const std::string shares = texts_.AtOnce + " " + Percent(p.outcomes[0], p.steps) + " \u00b7 " + texts_.AfterResend +
                               " " + Percent(p.outcomes[1] + p.outcomes[2], p.steps) + " \u00b7 " + texts_.NoAnswer +
                               " " + Percent(p.outcomes[3], p.steps);
    longest = std::max(longest, CodePoints(shares));
    h += "<text x=\"" + Num(barX + barW + 10) + "\" y=\"" + Num(y + 19) + "\">" + Escape(shares) + "</text></g>\n";
    y += rowH;
  }
  // The picture is 1000 units wide unless a translation's share text needs
  // more (about 9 units a character at this size); it then scales down.
  const int width = std::max(1000, barX + barW + 10 + 9 * static_cast<int>(longest) + 10);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"bars\" viewBox=\"0 0 " + Num(width) + " " + Num(height) +
         "\" role=\"img\" aria-label=\"" + Escape(texts_.SharesHeading) + "\">\n" + PatternDefs() + h + "</svg>\n";
}

std::string TEchoReport::Timeline() const {
  const auto& judges = record_.Judges();
  const int loops = std::max({record_.LoopsAsked(), record_.LoopsRun(), 1});
  const int bin = (loops + MaxColumns - 1) / MaxColumns;
  const int columns = (loops + bin - 1) / bin;
  const int cw = std::max(4, 900 / columns);
  constexpr int labelW = 80, rowH = 24, top = 4;
  const int gridW = cw * columns;
  const int rows = static_cast<int>(judges.size());
  const int height = top + rows * rowH + 32;

  // grid[row][column]: how many of the column's steps had each outcome.
  using Counts = std::array<int, 4>;
  std::array<int, 12> rowOf{};
  rowOf.fill(-1);
  for (int r = 0; r < rows; ++r)
    if (judges[static_cast<std::size_t>(r)] >= 0 && judges[static_cast<std::size_t>(r)] < 12)
      rowOf[static_cast<std::size_t>(judges[static_cast<std::size_t>(r)])] = r;
  std::vector<std::vector<Counts>> grid(static_cast<std::size_t>(rows),
                                        std::vector<Counts>(static_cast<std::size_t>(columns), Counts{}));
  for (const TEchoCell& c : record_.Cells()) {
    if (c.Judge < 0 || c.Judge >= 12 || rowOf[static_cast<std::size_t>(c.Judge)] < 0) continue;
    const int col = (c.Loop - 1) / bin;
    if (col < 0 || col >= columns) continue;
    ++grid[static_cast<std::size_t>(rowOf[static_cast<std::size_t>(c.Judge)])][static_cast<std::size_t>(col)]
          [static_cast<std::size_t>(Severity(c.Outcome))];
  }
  auto steps = [](const Counts& n) { return n[0] + n[1] + n[2] + n[3]; };
  // One loop a column: the outcome; several: whether any step ran there.
  auto key = [&](const Counts& n) {
    if (steps(n) == 0) return -1;
    if (bin > 1) return 0;
    for (int k = 3; k > 0; --k)
      if (n[static_cast<std::size_t>(k)] > 0) return k;
    return 0;
  };

  std::string h = "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"timeline\" viewBox=\"0 0 " +
                  Num(labelW + gridW + 32) + " " + Num(height) + "\" role=\"img\" aria-label=\"" +
                  Escape(texts_.TimelineLabel) + "\">\n" + PatternDefs();
  auto loopsOf = [&](int c0, int c1) {  // columns c0..c1-1 as loop numbers
    const int first = c0 * bin + 1, last = std::min(loops, c1 * bin);
    return first == last ? Fill(texts_.OneLoop, {Num(first)}) : Fill(texts_.LoopRange, {Num(first), Num(last)});
  };
  constexpr int cellH = rowH - 4;
  for (int r = 0; r < rows; ++r) {
    const int j = judges[static_cast<std::size_t>(r)];
    const int y = top + r * rowH;
    const std::string judge = Fill(texts_.JudgeLabel, {Num(j)});
    h += "<g id=\"timeline-J" + Num(j) + "\"><text x=\"0\" y=\"" + Num(y + 18) + "\">" + Escape(judge) + " (" +
         std::string(1, PadId(j)) + ")</text>";
    const auto& line = grid[static_cast<std::size_t>(r)];
    // Runs of equal columns become one rectangle: a 10,000-loop test stays small.
    for (int c0 = 0; c0 < columns;) {
      const int k = key(line[static_cast<std::size_t>(c0)]);
      int c1 = c0 + 1;
      int atOnce = line[static_cast<std::size_t>(c0)][0], all = steps(line[static_cast<std::size_t>(c0)]);
      for (; c1 < columns && key(line[static_cast<std::size_t>(c1)]) == k; ++c1) {
        atOnce += line[static_cast<std::size_t>(c1)][0];
        all += steps(line[static_cast<std::size_t>(c1)]);
      }
      std::string what = k < 0 ? Escape(texts_.NotRun) : Outcome(k);
      if (k >= 0 && bin > 1) what = Escape(Fill(texts_.StepsAtOnce, {Num(atOnce), Num(all)}));
      h += "<rect x=\"" + Num(labelW + c0 * cw) + "\" y=\"" + Num(y + 2) + "\" width=\"" + Num((c1 - c0) * cw) +
           "\" height=\"" + Num(cellH) + "\" fill=\"" + (k < 0 ? "#fff" : kFill[k]) + "\"><title>" + Escape(judge) +
           ", " + Escape(loopsOf(c0, c1)) + ": " + what + "</title></rect>";
      c0 = c1;
    }
    // Several loops a column: its losses as a stack from the bottom, each
    // outcome as high as its share of the column's steps (at least a line).
    if (bin > 1) {
      for (int c = 0; c < columns; ++c) {
        const Counts& n = line[static_cast<std::size_t>(c)];
        const int all = steps(n);
        int bottom = y + 2 + cellH;
        for (int k = 3; k > 0 && all > 0; --k) {
          const int count = n[static_cast<std::size_t>(k)];
          if (count == 0) continue;
          const int hk = std::min(bottom - (y + 2), std::max(1, (cellH * count + all / 2) / all));
          bottom -= hk;
          h += "<rect x=\"" + Num(labelW + c * cw) + "\" y=\"" + Num(bottom) + "\" width=\"" + Num(cw) +
               "\" height=\"" + Num(hk) + "\" fill=\"" + kFill[k] + "\"/>";
        }
      }
    }
    h += "<rect x=\"" + Num(labelW) + "\" y=\"" + Num(y + 2) + "\" width=\"" + Num(gridW) + "\" height=\"" +
         Num(cellH) + "\" fill=\"none\" stroke=\"#000\" stroke-width=\"0.6\"/></g>\n";
  }
  // Loop axis: about ten labels at round numbers.
  const int axisY = top + rows * rowH;
  int step = 1;
  for (int m : {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000}) {
    step = m;
    if (loops / m <= 10) break;
  }
  h += "<g class=\"axis\">";
  for (int loop = 1; loop <= loops; loop = (loop == 1 && step > 1) ? step : loop + step) {
    const int x = labelW + ((loop - 1) / bin) * cw + cw / 2;
    h += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(axisY) + "\" x2=\"" + Num(x) + "\" y2=\"" + Num(axisY + 5) +
         "\" stroke=\"#000\"/><text x=\"" + Num(x) + "\" y=\"" + Num(axisY + 24) + "\" text-anchor=\"middle\">" +
         Num(loop) + "</text>";
  }
  h += "</g>\n</svg>\n";
  if (bin > 1) h += "<p class=\"note\">" + Escape(Fill(texts_.ColumnNote, {Num(bin)})) + "</p>\n";
  return h;
}

std::string TEchoReport::Html() const {
  std::string title = Escape(texts_.Title);
  if (!facts_.DateTime.empty()) title += " \u2013 " + Escape(facts_.DateTime);
  std::string h = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"" + Escape(texts_.Language) +
                  "\">\n<head>\n"
                  "<meta charset=\"utf-8\"/>\n<title>" +
                  title +
                  "</title>\n<style>\n"
                  "@page { size: A4; margin: 10mm; }\n"
                  "html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }\n"
                  "body { font-family: sans-serif; font-size: 10pt; color: #000; background: #fff; max-width: 186mm; "
                  "margin: 8mm auto; }\n"
                  "h1 { font-size: 16pt; margin: 0 0 4mm; } h2 { font-size: 12pt; margin: 5mm 0 2mm; }\n"
                  "table { border-collapse: collapse; }\n"
                  "th, td { border: 1px solid #888; padding: 1px 6px; }\n"
                  "table.facts th { text-align: left; font-weight: normal; color: #333; background: #f2f2f2; }\n"
                  "table.report th { background: #f2f2f2; }\n"
                  "td.n { text-align: right; font-variant-numeric: tabular-nums; }\n"
                  ".sep { border-left: 2px solid #000; }\n"
                  "tr.loss td:first-child { font-weight: bold; }\n"
                  "svg { display: block; width: 100%; height: auto; font-family: sans-serif; font-size: 18px; }\n"
                  "svg.key { display: inline; width: 18px; height: 12px; vertical-align: middle; }\n"
                  ".legend span { margin-right: 4mm; white-space: nowrap; }\n"
                  "section { break-inside: avoid; page-break-inside: avoid; }\n"
                  ".note, .how { color: #333; }\n"
                  "@media print { body { margin: 0; max-width: none; font-size: 9pt; } h2 { margin: 3mm 0 1mm; } "
                  ".how { font-size: 8pt; } }\n"
                  "</style>\n</head>\n<body>\n<h1>" +
                  Escape(texts_.Title) + "</h1>\n<section id=\"facts\">\n" + Facts() +
                  "</section>\n<section id=\"table\">\n<h2>" + Escape(texts_.ReportHeading) + "</h2>\n" + Table() +
                  "</section>\n<section id=\"shares\">\n<h2>" + Escape(texts_.SharesHeading) + "</h2>\n" + Bars() +
                  "</section>\n" + Legend() + "<section id=\"steps\">\n<h2>" + Escape(texts_.TimelineHeading) +
                  "</h2>\n" + Timeline() + "</section>\n<p class=\"how\">" + Escape(texts_.HowToRead) +
                  "</p>\n</body>\n</html>\n";
  return h;
}

}  // namespace mq::padlink
