// serial_latency: how fast the serial layer hands a received pad frame to
// the loop thread, how steady the 100 ms pacing timer ticks, and what an
// open, idle port costs. Runs over a pseudo-terminal (never a real device)
// and, when built with Qt5SerialPort, measures the same frame latency with
// QSerialPort reading the same pseudo-terminal for comparison.
//
//   serial_latency [--samples N] [--timer-ticks N] [--idle-seconds N]
#include <dirent.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/frame_latency.h"
#include "loop/realtime_loop.h"
#include "loop/timer.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "serial/pty_link.h"
#include "serial/serial_platform_posix.h"

using namespace mq;
using namespace mq::serial;
using Clock = std::chrono::steady_clock;

namespace {

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double CpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Context switches of all threads of the process: every wake-up of a
// sleeping thread is one.
long long ContextSwitches() {
  long long total = 0;
  DIR* d = ::opendir("/proc/self/task");
  if (!d) return 0;
  while (auto* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::atoll(line.substr(line.find(':') + 1).c_str());
  }
  ::closedir(d);
  return total;
}

long StatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.substr(std::strlen(key)).c_str());
  return 0;
}

void Print(const char* what, const bench::Summary& s) {
  std::printf("  %-34s n=%-5zu p50 %9.1f us   p99 %9.1f us   max %9.1f us\n", what, s.n, s.p50, s.p99, s.max);
}

struct Idle {
  double cpuPercent;
  double wakeupsPerSecond;
};

Idle MeasureIdle(RealtimeLoop& loop, int seconds) {
  const double cpu0 = CpuSeconds();
  const long long cs0 = ContextSwitches();
  const auto t0 = Clock::now();
  loop.addTimer(loop.nowMs() + seconds * 1000LL, [&] { loop.quit(); });
  loop.run();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  return Idle{100.0 * (CpuSeconds() - cpu0) / wall, static_cast<double>(ContextSwitches() - cs0) / wall};
}

}  // namespace

int main(int argc, char** argv) {
  int samples = 2000, timerTicks = 300, idleSeconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--samples")) samples = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--timer-ticks")) timerTicks = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::atoi(argv[i + 1]);
  }

  PtyLink link({1});
  RealtimeLoop loop;
  loop.setErrorHandler([](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      std::fprintf(stderr, "error: %s\n", ex.what());
    }
  });
  TApdComPort port(loop, std::make_shared<PosixSerialPlatform>(link.DataFolder()));
  port.SetAutoOpen(false);
  port.SetPromptForPort(false);
  port.SetComNumber(1);
  TApdDataPacket framed;
  framed.SetComPort(&port);
  framed.SetStartString("\x02");
  framed.SetEndString("\x04");
  framed.SetEndCond({TPacketEndCond::ecString});
  framed.SetTimeOut(18);
  framed.SetAutoEnable(true);

  std::printf("serial_latency: pseudo-terminal %s, %d samples\n\n", link.SlavePath(1).c_str(), samples);

  // ---- Idle cost and memory of an open port ----
  const Idle baseline = MeasureIdle(loop, idleSeconds);
  const long rss0 = StatusKiB("VmRSS:"), vm0 = StatusKiB("VmSize:");
  port.SetOpen(true);
  framed.SetEnabled(true);  // waiting for pad frames, as the pad link leaves it
  loop.runFor(200);
  const long rss1 = StatusKiB("VmRSS:"), vm1 = StatusKiB("VmSize:");
  const Idle open = MeasureIdle(loop, idleSeconds);

  // ---- Frame latency: far-side write to OnStringPacket on the loop thread ----
  // Measured in blocks that alternate with the QSerialPort measurement, so
  // both see the same load of a shared machine.
  std::vector<double> ours, qt;
  const int blocks = 10;
  std::mutex mu;
  std::condition_variable cv;
  int received = 0, wanted = 0;
  std::vector<Clock::time_point> t0(static_cast<std::size_t>(samples)), t1(static_cast<std::size_t>(samples));
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string&) {
    const auto now = Clock::now();
    std::lock_guard lock(mu);
    if (received < wanted) t1[static_cast<std::size_t>(received)] = now;
    ++received;
    cv.notify_all();
  };
  for (int block = 0; block < blocks; ++block) {
    const int n = samples / blocks;
    if (!port.Open()) {
      port.SetOpen(true);
      framed.SetEnabled(true);
    }
    {
      std::lock_guard lock(mu);
      received = 0;
      wanted = n;
    }
    std::thread writer([&] {
      for (int i = 0; i < n; ++i) {
        const std::string f = bench::LatencyFrame(i);
        t0[static_cast<std::size_t>(i)] = Clock::now();
        link.Write(1, f);
        std::unique_lock lock(mu);
        cv.wait_for(lock, std::chrono::seconds(2), [&] { return received > i; });
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    });
    loop.runUntil([&] {
      std::lock_guard lock(mu);
      return received >= n;
    }, 60000);
    writer.join();
    for (int i = 0; i < std::min(n, received); ++i)
      ours.push_back(Us(t1[static_cast<std::size_t>(i)] - t0[static_cast<std::size_t>(i)]));
    port.SetOpen(false);
    auto q = bench::QSerialPortLatency(link.SlavePath(1), link.Master(1), n);
    qt.insert(qt.end(), q.begin(), q.end());
  }
  port.SetOpen(true);
  framed.SetEnabled(true);

  // ---- Pacing timer: 100 ms ticks while pad frames arrive every 20 ms ----
  std::vector<double> lateness;
  {
    Timer pacing(loop, 100);
    std::int64_t due = 0;
    pacing.OnTimer = [&] {
      const double nowUs = Us(Clock::now().time_since_epoch());
      lateness.push_back(nowUs - static_cast<double>(due) * 1000.0);
      due += 100;
      if (static_cast<int>(lateness.size()) >= timerTicks) loop.quit();
    };
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
      for (int i = 0; !stop; ++i) {
        link.WriteSome(1, bench::LatencyFrame(i), 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    due = loop.nowMs() + 100;
    pacing.SetEnabled(true);
    loop.run();
    stop = true;
    traffic.join();
  }
  port.SetOpen(false);

  const auto s = bench::Summarise(ours);
  std::printf("Frame latency (10-byte STX..EOT frame, far-side write -> handler on the loop thread)\n");
  Print("MqTool serial layer", s);
  if (!qt.empty()) {
    const auto q = bench::Summarise(qt);
    Print("QSerialPort + blocking queued call", q);
    std::printf("  %-34s p50 %9.2fx      p99 %9.2fx      max %9.2fx   (QSerialPort / ours)\n", "ratio",
                q.p50 / s.p50, q.p99 / s.p99, q.max / s.max);
  } else {
    std::printf("  QSerialPort comparison skipped (not built with Qt5SerialPort, or the port did not open)\n");
  }
  std::printf("  target: p99 under 2000 us (the design allows 50 ms)\n\n");

  std::printf("Pacing timer (100 ms, while frames arrive every 20 ms): lateness of each tick\n");
  Print("mq::Timer on the real-time loop", bench::Summarise(lateness));
  std::printf("\n");

  std::printf("Port open and idle (%d s each)\n", idleSeconds);
  std::printf("  %-34s CPU %6.3f %% of one core   wake-ups %7.1f /s\n", "loop alone, port closed", baseline.cpuPercent,
              baseline.wakeupsPerSecond);
  std::printf("  %-34s CPU %6.3f %% of one core   wake-ups %7.1f /s\n", "port open, framer waiting", open.cpuPercent,
              open.wakeupsPerSecond);
  std::printf("  targets: under 0.1 %% of one core, under 25 wake-ups a second\n\n");
  std::printf("Memory a port adds once open: RSS %+ld KiB, virtual %+ld KiB (four thread stacks)\n", rss1 - rss0,
              vm1 - vm0);
  return 0;
}
