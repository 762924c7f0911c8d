// The HTML echo report: escaping of outside texts, well-formedness under a
// strict XML parser, one table row, bar and timeline per registered pad, and
// long tests folded into a bounded timeline.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "padlink/echo_report.h"
#include "padlink/pad_link.h"

namespace mq::padlink::test {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

// A test of `loops` loops over `judges`: every fifth step of judge 3 goes
// unanswered, judge 11 misses a send in loop 2 and a read in loop 3.
TEchoRecord Sample(const std::vector<int>& judges, int loops) {
  TEchoRecord r;
  r.Start(loops, 180, judges, 1000);
  for (int loop = 1; loop <= loops; ++loop) {
    for (int j : judges) {
      r.StepStarted(loop, j);
      if (j == 3 && loop % 5 == 0) {
        r.Resent();
      } else if (j == 11 && loop == 2) {
        r.Resent();
        r.Reply(j, 2);
      } else if (j == 11 && loop == 3) {
        r.Resent();
        r.Reply(j, 2);
      } else {
        r.Reply(j, loop);
      }
    }
  }
  r.Ended(1000 + 180LL * loops * static_cast<long long>(judges.size()));
  return r;
}

TEchoReportFacts HostileFacts() {
  TEchoReportFacts f;
  f.DateTime = "2026-12-10 09:15:00";
  f.ProgramVersion = "3.5.0.0";
  f.Port = "COM3\"><script>alert(1)</script>";
  // An identification as the link shows it: bytes as Windows-1252 text,
  // control bytes kept as their code points, here with markup and a broken tail.
  f.BaseIdent = std::string("ER400TRS<img src=x onerror=alert(1)>&amp;\x01\x1b'\xc2\x81\xff");
  f.Channel = "]]><!--";
  f.Bandwidth = "300 kHz";
  return f;
}

TEST(EchoReport, EscapeKeepsMarkupAndForbiddenCharactersOut) {
  EXPECT_EQ(TEchoReport::Escape("<b a=\"1\">&'</b>"), "&lt;b a=&quot;1&quot;&gt;&amp;&#39;&lt;/b&gt;");
  EXPECT_EQ(TEchoReport::Escape(std::string("A\0B\x1b\x7f", 5)), "A\u2400B\u241b\u2421");
  EXPECT_EQ(TEchoReport::Escape("\xc2\x81\xef\xbf\xbe"), "\ufffd\ufffd");      // C1 and U+FFFE
  EXPECT_EQ(TEchoReport::Escape("\xff\xc3(\xe2\x82"), "\ufffd\ufffd(\ufffd");  // broken UTF-8
  EXPECT_EQ(TEchoReport::Escape("\xc0\xaf\xed\xa0\x80"), "\ufffd\ufffd");      // overlong, surrogate
  EXPECT_EQ(TEchoReport::Escape("Fran\xc3\xa7"
                                "ais \xe2\x82\xac"),
            "Fran\xc3\xa7"
            "ais \xe2\x82\xac");
}

TEST(EchoReport, HostileTextsStayText) {
  const TEchoRecord r = Sample({0, 3, 11}, 10);
  const std::array<TEchoStat, 12> stats{};
  const std::string html = TEchoReport(HostileFacts(), r, stats).Html();
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("]]>"), std::string::npos);
  EXPECT_EQ(html.find("<!--"), std::string::npos);
  EXPECT_NE(html.find("ER400TRS&lt;img src=x onerror=alert(1)&gt;&amp;amp;\u2401\u241b&#39;\ufffd\ufffd"),
            std::string::npos);
  // Self-contained: nothing is fetched, nothing runs.
  EXPECT_EQ(html.find("src="), html.find("src=x"));
  EXPECT_EQ(html.find("href"), std::string::npos);
  EXPECT_EQ(html.find("@import"), std::string::npos);
}

#ifndef _WIN32
// The strict parser: xmllint reads the report as XML (Debian libxml2-utils).
TEST(EchoReport, AStrictParserAcceptsTheReport) {
  const TEchoRecord r = Sample({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 50);
  std::array<TEchoStat, 12> stats{};
  stats[3] = {40, 10, 0, 0};
  const auto file = std::filesystem::temp_directory_path() / ("echo_report_test_" + std::to_string(getpid()) + ".html");
  {
    std::ofstream out(file, std::ios::binary);
    out << TEchoReport(HostileFacts(), r, stats).Html();
  }
  const std::string cmd = "xmllint --noout --nonet '" + file.string() + "' 2>&1";
  std::string output;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) output += buf;
  const int status = pclose(p);
  std::filesystem::remove(file);
  ASSERT_NE(WEXITSTATUS(status), 127) << "xmllint is missing: bash scripts/deps.sh installs it";
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");
}
#endif

TEST(EchoReport, EveryRegisteredPadHasItsRowBarAndTimelineAndNoOtherPad) {
  const TEchoRecord r = Sample({0, 3, 11}, 20);
  std::array<TEchoStat, 12> stats{};
  stats[3] = {16, 4, 0, 0};
  stats[11] = {20, 2, 1, 1};
  const std::string html = TEchoReport(TEchoReportFacts{}, r, stats).Html();
  for (int j : {0, 3, 11}) {
    const std::string J = "J" + std::to_string(j) + "\"";
    EXPECT_EQ(Count(html, "id=\"row-" + J), 1u) << j;
    EXPECT_EQ(Count(html, "id=\"bar-" + J), 1u) << j;
    EXPECT_EQ(Count(html, "id=\"timeline-" + J), 1u) << j;
  }
  EXPECT_EQ(Count(html, "id=\"row-"), 3u);
  EXPECT_EQ(Count(html, "id=\"bar-"), 3u);
  EXPECT_EQ(Count(html, "id=\"timeline-"), 3u);
  // The counters as given, then the steps from the record.
  EXPECT_NE(html.find("<tr id=\"row-J11\"><td>11</td><td>c</td><td class=\"n\">20</td><td class=\"n\">2</td>"
                      "<td class=\"n\">1</td><td class=\"n\">1</td><td class=\"n sep\">18</td>"
                      "<td class=\"n\">2</td><td class=\"n\">0</td><td class=\"n\">0</td>"
                      "<td class=\"n\">90.0\u00a0%</td></tr>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<tr id=\"row-J3\" class=\"loss\">"), std::string::npos);
  // Judge 3's losses in loops 5, 10, 15 and 20 are separate marks on its line.
  const auto line = html.substr(html.find("id=\"timeline-J3\""));
  EXPECT_EQ(Count(line.substr(0, line.find("</g>")), "no answer</title>"), 4u);
  EXPECT_NE(html.find("J3, loop 20: no answer"), std::string::npos);
  EXPECT_NE(html.find("J11, loop 2: missed send"), std::string::npos);
  EXPECT_NE(html.find("J11, loop 3: missed read"), std::string::npos);
  EXPECT_NE(html.find("at once 80.0\u00a0% \u00b7 after a resend 0.0\u00a0% \u00b7 no answer 20.0\u00a0%"),
            std::string::npos);
  EXPECT_NE(html.find("<th>Loops</th><td>20 of 20</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Duration</th><td>10.8 s (estimate 11.3 s)</td>"), std::string::npos);
}

TEST(EchoReport, TenThousandLoopsFoldIntoABoundedTimeline) {
  const TEchoRecord r = Sample({3, 4}, 10000);
  const std::array<TEchoStat, 12> stats{};
  const std::string html = TEchoReport(TEchoReportFacts{}, r, stats).Html();
  EXPECT_NE(html.find("Each column covers 40 loops; the marks in it are as high as the share of those loops with "
                      "that outcome."),
            std::string::npos);
  // Judge 3 loses every fifth step: in each of the 250 columns a mark a
  // fifth of the cell high (20 units), not a column all dark; judge 4 none.
  EXPECT_NE(html.find("J3, loops 1\u201310000: 8000 of 10000 steps answered at once"), std::string::npos);
  EXPECT_NE(html.find("J4, loops 1\u201310000: 10000 of 10000 steps answered at once"), std::string::npos);
  auto line = [&](int j) {
    const auto at = html.find("id=\"timeline-J" + std::to_string(j) + "\"");
    return html.substr(at, html.find("</g>", at) - at);
  };
  EXPECT_EQ(Count(line(3), "height=\"4\" fill=\"#7f0000\""), 250u);
  EXPECT_EQ(Count(line(3), "fill=\"#7f0000\""), 250u);
  EXPECT_EQ(Count(line(4), "fill=\"#7f0000\""), 0u);
  EXPECT_LT(html.size(), 60'000u);
}

TEST(EchoReport, AnEmptyOrUnfinishedTestStillGivesAReport) {
  TEchoRecord r;
  r.Start(5, 200, {2, 7}, 0);
  r.StepStarted(1, 2);
  r.Reply(2, 1);  // the link went away after this step
  const std::array<TEchoStat, 12> stats{};
  const std::string html = TEchoReport(TEchoReportFacts{}, r, stats).Html();
  EXPECT_NE(html.find("<th>Loops</th><td>1 of 5 (ended early)</td>"), std::string::npos);
  EXPECT_NE(html.find("J2, loop 1: answered at once"), std::string::npos);
  EXPECT_NE(html.find("J2, loops 2\u20135: not run"), std::string::npos);
  EXPECT_NE(html.find("J7, loops 1\u20135: not run"), std::string::npos);
  TEchoRecord none;
  EXPECT_NE(TEchoReport(TEchoReportFacts{}, none, stats).Html().find("</html>"), std::string::npos);
}

TEST(EchoReport, DurationsReadLikeTheWindows) {
  EXPECT_EQ(TEchoReport::Duration(0), "0.0 s");
  EXPECT_EQ(TEchoReport::Duration(12'349), "12.3 s");
  EXPECT_EQ(TEchoReport::Duration(59'960), "60.0 s");
  EXPECT_EQ(TEchoReport::Duration(187'400), "3 min 07 s");
  EXPECT_EQ(TEchoReport::Duration(3'725'000), "1 h 02 min 05 s");
}

// The report's texts come from the caller's table: values go where the
// translation puts them, the texts are escaped like any other, the picture
// widens for longer words, and the default stays English for mqtool-cli.
TEST(EchoReport, TextsComeFromTheTableOfStringsPassedIn) {
  const TEchoRecord r = Sample({3, 11}, 4);
  const std::array<TEchoStat, 12> stats{};
  TEchoReportTexts t;
  t.Language = "tr";
  t.Title = "Yank\u0131 testi raporu";
  t.LoopsOfAsked = "%2 d\u00f6ng\u00fcden %1";  // the values in the other order
  t.Judge = "Hakem <&>";
  t.JudgeLabel = "H%1";
  t.OneLoop = "d\u00f6ng\u00fc %1";
  t.AtOnce = "hemen hemen hemen hemen hemen";  // a long word that needs more room
  const std::string html = TEchoReport(TEchoReportFacts{}, r, stats, t).Html();
  EXPECT_NE(html.find("lang=\"tr\""), std::string::npos);
  EXPECT_NE(html.find("<h1>Yank\u0131 testi raporu</h1>"), std::string::npos);
  EXPECT_NE(html.find("<td>4 d\u00f6ng\u00fcden 4</td>"), std::string::npos);
  EXPECT_NE(html.find(">Hakem &lt;&amp;&gt;</th>"), std::string::npos);
  EXPECT_NE(html.find("H11, d\u00f6ng\u00fc 2: missed send"), std::string::npos);
  EXPECT_EQ(html.find("Judge"), std::string::npos);
  EXPECT_EQ(html.find("viewBox=\"0 0 1000 "), std::string::npos);  // the bars widened
  EXPECT_EQ(TEchoReport::Fill("%1-%3-%1%", {"a", "b"}), "a-%3-a%");

  const std::string english = TEchoReport(TEchoReportFacts{}, r, stats).Html();
  EXPECT_NE(english.find("lang=\"en\""), std::string::npos);
  EXPECT_NE(english.find("<th>Loops</th><td>4 of 4</td>"), std::string::npos);
  EXPECT_NE(english.find("id=\"bars\" viewBox=\"0 0 1000 "), std::string::npos);
}

}  // namespace
}  // namespace mq::padlink::test
