// echo_pacing: an echo test against marq-sim with no loss, timed on the wall
// clock. Prints the total time against its schedule (delay x loops x pads:
// one request per delay) and the window's estimate (5% more), and the
// spread of the interval from one echo request to the next (p50, p99) with
// its deviation from the delay. With --runs, the median of the runs'
// figures. Targets: total within the estimate, p99 interval within 0.5 ms
// of the delay.
//
// usage: echo_pacing [--runs N] [--loops N] [--delay MS]   (defaults 1, 50 and 180; twelve pads)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "i18n/si_lang_dispatcher.h"
#include "loop/realtime_loop.h"
#include "padlink/pad_link.h"
#include "serial/serial_platform_posix.h"
#include "bench/bench_window.h"
#include "bench/marq_sim_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size()))) - 1;
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  int loops = 50, delay = 180, runs = 1;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs")
      runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--loops")
      loops = std::max(1, std::atoi(argv[++i]));
    else if (a == "--delay")
      delay = std::clamp(std::atoi(argv[++i]), 130, 300);
  }

  std::string tmpl = (fs::temp_directory_path() / "echo-pacing-bench-XXXXXX").string();
  const fs::path folder = mkdtemp(tmpl.data());
  int code = 0;
  {
    mqbench::MarqSimProcess sim(folder, 3, {"--loss", "0", "--seed", "1"});
    mq::RealtimeLoop loop;
    mqbench::BenchWindow::PrintErrorsOf(loop);
    auto platform = std::make_shared<mq::serial::PosixSerialPlatform>(folder.string());
    mqbench::BenchWindow win;
    mq::padlink::TShellState shell;
    shell.TestDelay = delay;
    mq::i18n::TsiLangDispatcher dispatcher;
    mq::padlink::TMarqsForm form(loop, platform, win, shell, &dispatcher);
    form.FullScan();
    loop.runUntil([&] { return win.ended > 0; }, 30'000);
    const std::size_t pads = form.PadList().size();
    if (form.BasePort() != 3 || pads != 12) {
      std::fprintf(stderr, "scan found port %d and %zu pads, expected 3 and 12\n", form.BasePort(), pads);
      code = 1;
    } else {
      std::vector<double> totals, p99s;
      const double schedule = delay * loops * static_cast<double>(pads);
      const double estimate = schedule * 1.045;
      std::printf("echo test: %d loops x %zu pads, delay %d ms, no loss; schedule %.0f ms\n", loops, pads, delay,
                  schedule);
      for (int run = 0; run < runs; ++run) {
        win.requests.clear();
        win.resends = 0;
        const auto t0 = Clock::now();
        form.TestEcho(loops);
        loop.runUntil([&] { return !form.EchoRunning(); }, -1);
        const double total = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        std::vector<double> intervals;
        for (std::size_t i = 1; i < win.requests.size(); ++i)
          intervals.push_back(std::chrono::duration<double, std::milli>(win.requests[i] - win.requests[i - 1]).count());
        if (intervals.empty()) continue;
        const double p99 = Percentile(intervals, 99);
        const auto late = std::count_if(intervals.begin(), intervals.end(), [&](double v) { return v > delay + 0.5; });
        std::printf(
            "run %d: total %.0f ms (%+.2f%% against the schedule, %s the estimate %.0f ms); "
            "request interval p50 %.2f ms, p99 %.2f ms (%+.2f ms), max %.2f ms; "
            "%ld of %zu more than 0.5 ms over; resends %d\n",
            run + 1, total, 100.0 * (total - schedule) / schedule, total <= estimate ? "within" : "OVER", estimate,
            Percentile(intervals, 50), p99, p99 - delay, *std::max_element(intervals.begin(), intervals.end()),
            static_cast<long>(late), intervals.size(), win.resends);
        std::fflush(stdout);
        totals.push_back(total);
        p99s.push_back(p99);
        if (total > estimate) code = 1;
      }
      if (!totals.empty()) {
        const double total = Percentile(totals, 50), p99 = Percentile(p99s, 50);
        std::printf(
            "median of %zu runs: total %.0f ms, deviation from the schedule %+.2f%%; "
            "request interval p99 %.2f ms, deviation from the delay %+.2f ms (target within 0.5 ms)\n",
            totals.size(), total, 100.0 * (total - schedule) / schedule, p99, p99 - delay);
      }
    }
    form.ComPort().SetOpen(false);
  }
  fs::remove_all(folder);
  return code;
}
