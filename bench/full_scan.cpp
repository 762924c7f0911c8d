// full_scan: wall time of a full scan against marq-sim, compared with the
// schedule the scan's own pauses and ticks fix.
//
// Setup: a fresh data folder whose ports/COM1..COM4 are silent
// pseudo-terminals (nobody answers) and marq-sim on COM5 with twelve pads
// and a 19-character identification (found in the first pass). The pad link
// runs in-process on the real-time loop with the POSIX serial platform.
//
// Measured: from the call of FullScan to the refresh after the pad scan
// (the cursor going back to normal), every run from a closed port (a scan
// from an open one first closes it and pauses 50 ms more). Schedule: 4 x 220 ms for the silent
// ports (50 ms after opening, 20 ms before "ACK", one 100 ms tick, 50 ms
// after closing), 50 + 20 + 3 x 100 ms on the station's port (identification,
// channel, bandwidth, end of the check) and 13 x 120 ms for the twelve
// registration polls and the refresh tick. Target: within 1% of it.
// --trace prints the log lines of the last run with their times, to see
// which step takes longer than its pause or tick.
//
// usage: full_scan [--runs N] [--trace]   (needs the built marq-sim beside this build)
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  int runs = 5;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    if (std::string(argv[i]) == "--trace") trace = true;
  }

  std::string tmpl = (fs::temp_directory_path() / "full-scan-bench-XXXXXX").string();
  const fs::path folder = mkdtemp(tmpl.data());
  fs::create_directory(folder / "ports");
  std::vector<int> masters;
  for (int n = 1; n <= 4; ++n) {
    int master = -1, slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      return 1;
    }
    close(slave);  // reopened by the pad link through the link
    masters.push_back(master);
    fs::create_symlink(name, folder / "ports" / ("COM" + std::to_string(n)));
  }
  // Silent ports still take what is written; drain it so nothing blocks.
  for (int m : masters) fcntl(m, F_SETFL, O_NONBLOCK);
  std::atomic<bool> stop{false};
  std::thread drain([&] {
    char buf[256];
    while (!stop) {
      for (int m : masters)
        while (read(m, buf, sizeof buf) > 0) {
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  int code = 0;
  {
    mqbench::MarqSimProcess sim(folder, 5, {"--ident", "ER400TRS-02V2.02.10", "--seed", "1"});
    const double schedule = 4 * 220 + (50 + 20 + 3 * 100) + 13 * 120;
    mq::RealtimeLoop loop;
    mqbench::BenchWindow::PrintErrorsOf(loop);
    auto platform = std::make_shared<mq::serial::PosixSerialPlatform>(folder.string());
    mqbench::BenchWindow win;
    mq::padlink::TShellState shell;
    mq::i18n::TsiLangDispatcher dispatcher;
    mq::padlink::TMarqsForm form(loop, platform, win, shell, &dispatcher);

    std::printf("full scan: 4 silent ports, station on COM5, 12 pads; schedule %.0f ms\n", schedule);
    std::vector<double> times;
    win.keepLog = trace;
    for (int r = 0; r < runs; ++r) {
      form.ComPort().SetOpen(false);
      loop.runFor(100);  // whatever the close sets off, before the clock starts
      const int before = win.ended;
      win.log.clear();
      const auto t0 = Clock::now();
      form.FullScan();
      loop.runUntil([&] { return win.ended > before; }, 30'000);
      const double ms = std::chrono::duration<double, std::milli>(win.endedAt - t0).count();
      const bool ok = form.BasePort() == 5 && form.PadList().size() == 12;
      std::printf("  run %d: %8.1f ms  (%+5.2f%%)%s\n", r + 1, ms, 100.0 * (ms - schedule) / schedule,
                  ok ? "" : "  station or pads missing");
      if (!ok) code = 1;
      times.push_back(ms);
    }
    if (trace && !win.log.empty()) {
      std::printf("trace of the last run (ms since the first log line):\n");
      for (const auto& [at, text] : win.log) {
        std::string shown;
        for (unsigned char c : text) shown += c < 0x20 ? '.' : static_cast<char>(c);
        std::printf("  %9.2f  %s\n", std::chrono::duration<double, std::milli>(at - win.log.front().first).count(),
                    shown.c_str());
      }
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("median %.1f ms, deviation from the schedule %+.1f ms = %+.2f%% (target within +1%%)\n", median,
                median - schedule, 100.0 * (median - schedule) / schedule);
    form.ComPort().SetOpen(false);
  }
  stop = true;
  drain.join();
  for (int m : masters) close(m);
  fs::remove_all(folder);
  return code;
}
