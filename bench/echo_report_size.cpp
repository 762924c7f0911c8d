// echo_report_size: the HTML report of the longest echo test the window
// allows (10,000 loops) over twelve pads with 10 % of the steps lost at
// random: the time to write it and its size. Targets: well under a second
// (the window writes it on the user's click) and a file a browser opens
// at once (under 1 MB: the timeline folds loops into at most 250 columns).
//
// usage: echo_report_size [--loops N] [--out FILE.html]   (default 10000 loops)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "padlink/echo_report.h"
#include "padlink/pad_link.h"

int main(int argc, char** argv) {
  using namespace mq::padlink;
  int loops = 10000;
  const char* out = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--loops") == 0) loops = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--out") == 0) out = argv[i + 1];
  }
  std::vector<int> judges;
  for (int j = 0; j < 12; ++j) judges.push_back(j);
  std::minstd_rand rng(1);
  TEchoRecord record;
  std::array<TEchoStat, 12> stats{};
  record.Start(loops, 180, judges, 0);
  for (int loop = 1; loop <= loops; ++loop) {
    for (int j : judges) {
      record.StepStarted(loop, j);
      if (rng() % 10 != 0) {
        record.Reply(j, loop);
        ++stats[static_cast<std::size_t>(j)].Replies;
        continue;
      }
      record.Resent();
      ++stats[static_cast<std::size_t>(j)].Resends;
      if (rng() % 2) record.Reply(j, rng() % 2 ? loop : loop - 1);
    }
    // A burst: judge 7 silent for a twentieth of the test, a third of the way in.
    if (loop == loops / 3)
      for (int k = 0; k < loops / 20 && loop + 1 <= loops; ++k) {
        ++loop;
        for (int j : judges) {
          record.StepStarted(loop, j);
          if (j == 7) {
            record.Resent();
            ++stats[7].Resends;
          } else {
            record.Reply(j, loop);
            ++stats[static_cast<std::size_t>(j)].Replies;
          }
        }
      }
  }
  record.Ended(static_cast<std::int64_t>(loops) * 12 * 190);
  const TEchoReportFacts facts{"2026-12-10 09:00:00", "3.5.0.0", "COM3", "ER400TRS-02V2.01.7", "7", "300 kHz"};
  constexpr int kRuns = 20;
  std::size_t size = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < kRuns; ++r) size = TEchoReport(facts, record, stats).Html().size();
  const auto t1 = std::chrono::steady_clock::now();
  const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count() / kRuns;
  std::printf("echo report: %d loops x 12 pads, %zu steps: %.1f ms per report, %zu bytes\n", loops,
              record.Cells().size(), ms, size);
  if (out != nullptr) {
    std::FILE* f = std::fopen(out, "wb");
    const std::string html = TEchoReport(facts, record, stats).Html();
    if (f == nullptr || std::fwrite(html.data(), 1, html.size(), f) != html.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "echo_report_size: cannot write %s\n", out);
      return 1;
    }
  }
  return 0;
}
