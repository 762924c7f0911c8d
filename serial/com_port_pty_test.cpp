// The port over real pseudo-terminals, with its four worker threads, on a
// real-time loop.
#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loop/realtime_loop.h"
#include "loop/timer.h"
#include "serial/apd_exception.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "serial/testing/collect_errors.h"
#include "serial/testing/pty_link.h"
#include "serial/serial_platform_posix.h"
#include "serial/sl_controller.h"
#include "serial/status_light.h"

namespace mq::serial {
namespace {

const std::string STX = "\x02", EOT = "\x04";

int Count(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (auto* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
  }
  return n;
}
int Threads() { return Count("/proc/self/task"); }
int Fds() { return Count("/proc/self/fd"); }

double CpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class PtyPortTest : public ::testing::Test {
 protected:
  PtyPortTest()
      : link({1, 2}), platform(std::make_shared<PosixSerialPlatform>(link.DataFolder())), port(loop, platform) {
    CollectErrors(loop, errors);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    // Runtimes with helper threads (the sanitizers) start them with the
    // first thread; do that now so thread counts compare like with like.
    std::thread([] {}).join();
  }
  void Open(std::uint16_t n) {
    port.SetComNumber(n);
    port.SetOpen(true);
  }
  void SetUpFramed(TApdDataPacket& framed) {
    framed.SetComPort(&port);
    framed.SetStartString(STX);
    framed.SetEndString(EOT);
    framed.SetEndCond({TPacketEndCond::ecString});
    framed.SetTimeOut(18);
    framed.SetAutoEnable(true);
  }

  PtyLink link;
  RealtimeLoop loop;
  std::shared_ptr<PosixSerialPlatform> platform;
  TApdComPort port;
  std::vector<std::string> errors;
};

TEST_F(PtyPortTest, OpenCloseAndReopenOnANewNumberWithFourThreads) {
  const int threads = Threads(), fds = Fds();
  Open(1);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(Threads(), threads + 4);
  port.PutString("one");
  EXPECT_EQ(link.Read(1, 3, 2000), "one");
  port.SetComNumber(2);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(Threads(), threads + 4);
  port.PutString("two");
  EXPECT_EQ(link.Read(2, 3, 2000), "two");
  port.SetOpen(false);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(Threads(), threads);  // all four joined, the line being idle
  EXPECT_EQ(Fds(), fds);
}

TEST_F(PtyPortTest, OpenErrorsLeaveNoThreadOrHandle) {
  const int threads = Threads(), fds = Fds();
  EXPECT_THROW(Open(0), ENoPortSelected);
  EXPECT_THROW(Open(7), EBadId);
  const int other = ::open(link.SlavePath(2).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_THROW(Open(2), EAlreadyOpen);
  EXPECT_FALSE(port.Open());
  ::close(other);
  EXPECT_EQ(Threads(), threads);
  EXPECT_EQ(Fds(), fds);
  Open(2);
  EXPECT_TRUE(port.Open());
}

TEST_F(PtyPortTest, PutStringEmptyTooLargeAndOrderAcrossManyCalls) {
  Open(1);
  port.PutString("");
  EXPECT_THROW(port.PutString(std::string(4097, 'x')), EOutputBufferTooSmall);
  std::string expected;
  std::atomic<bool> done{false};
  std::string received;
  std::thread reader([&] {
    while (!done || received.size() < expected.size()) {
      auto part = link.Read(1, 1 << 16, 50);
      received += part;
      if (done && part.empty()) break;
    }
  });
  for (int i = 0; i < 3000; ++i) {
    const std::string s = "<" + std::to_string(i) + ">";
    for (;;) {
      try {
        port.PutString(s);
        break;
      } catch (const EOutputBufferTooSmall&) {
        loop.pause(1);  // the ring is full: let the writer drain it
      }
    }
    expected += s;
  }
  done = true;
  reader.join();
  EXPECT_EQ(received, expected);  // nothing of the empty or refused strings
}

TEST_F(PtyPortTest, AStringLongerThanTheFreeRingIsRefusedWhole) {
  // The line holds everything until told: output stopped on the terminal
  // (as a far side's XOFF would) takes no byte, so what the ring holds
  // depends on nothing but the writes below, however the threads run.
  const int held = ::open(link.SlavePath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::tcflow(held, TCOOFF), 0);
  Open(1);
  // The writer takes the first block out of the ring and waits on the line
  // with it; from then on the ring only fills.
  const std::string block(1000, 'a');
  port.PutString(block);
  ASSERT_TRUE(loop.runUntil([&] { return port.OutBuffUsed() == 0; }, 10'000));
  int accepted = 1;
  for (;;) {
    try {
      port.PutString(block);
      ++accepted;
    } catch (const EOutputBufferTooSmall&) {
      break;
    }
  }
  EXPECT_EQ(accepted, 5);
  ASSERT_EQ(port.OutBuffUsed(), 4000u);
  EXPECT_THROW(port.PutString(std::string(97, 'X')), EOutputBufferTooSmall);
  EXPECT_EQ(port.OutBuffUsed(), 4000u);
  port.PutString(std::string(96, 'Y'));
  EXPECT_EQ(port.OutBuffUsed(), 4096u);
  ASSERT_EQ(::tcflow(held, TCOON), 0);
  const std::string all = link.Read(1, 5096, 10'000);
  ::close(held);
  EXPECT_EQ(all, std::string(5000, 'a') + std::string(96, 'Y'));
}

TEST_F(PtyPortTest, ReceivedFramesReachTheHandlerOnTheLoopThread) {
  TApdDataPacket framed;
  SetUpFramed(framed);
  std::vector<std::string> got;
  bool onLoopThread = true;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string& d) {
    onLoopThread = onLoopThread && loop.isLoopThread();
    got.push_back(d);
  };
  Open(1);
  framed.SetEnabled(true);
  link.Write(1, "junk" + STX + "0" + "\x06" + "1.2" + EOT + STX + "a5" + EOT);
  EXPECT_TRUE(loop.runUntil([&] { return got.size() == 2; }, 5000));
  EXPECT_EQ(got, (std::vector<std::string>{STX +
                                               "0\x06"
                                               "1.2" +
                                               EOT,
                                           STX + "a5" + EOT}));
  EXPECT_TRUE(onLoopThread);
  loop.runFor(100);
  EXPECT_TRUE(errors.empty());  // an empty queue is "no data", not the end
}

TEST_F(PtyPortTest, FarSideClosedIsReportedOnceWithoutSpinningAndCloseStillWorks) {
  const int threads = Threads(), fds = Fds();
  Open(1);
  link.CloseMaster(1);
  EXPECT_TRUE(loop.runUntil([&] { return !errors.empty(); }, 5000));
  const double cpu0 = CpuSeconds();
  loop.runFor(500);
  EXPECT_LT(CpuSeconds() - cpu0, 0.2);  // no thread spins on the dead line
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(port.Open());  // still reads as open
  EXPECT_THROW(port.PutString("nobody hears this"), EInOutError);
  loop.runFor(100);
  EXPECT_EQ(errors.size(), 1u);
  port.SetOpen(false);
  EXPECT_EQ(Threads(), threads);
  EXPECT_EQ(Fds(), fds - 1);  // the far side was closed by the test
}

TEST_F(PtyPortTest, HangUpOfTheDeviceIsAnEndNotNoData) {
  Open(1);
  const int fd = ::open(link.SlavePath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  if (::ioctl(fd, TIOCVHANGUP) != 0) {
    ::close(fd);
    GTEST_SKIP() << "TIOCVHANGUP needs CAP_SYS_ADMIN";
  }
  ::close(fd);
  EXPECT_TRUE(loop.runUntil([&] { return !errors.empty(); }, 5000));
  const double cpu0 = CpuSeconds();
  loop.runFor(300);
  EXPECT_LT(CpuSeconds() - cpu0, 0.15);
  EXPECT_EQ(errors.size(), 1u);
  port.SetOpen(false);
}

TEST_F(PtyPortTest, CloseWhileStreamingAndWhileAHandlerRuns) {
  TApdDataPacket framed;
  SetUpFramed(framed);
  int got = 0;
  bool closeInside = false, closed = false;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string&) {
    ++got;
    if (closeInside && !closed) {
      closed = true;
      port.SetOpen(false);  // closing from inside the packet handler itself
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a slow handler
  };
  const int threads = Threads();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    const std::string frame = STX + "3" + "\x06" + "9.5" + EOT;
    while (!stop) {
      try {
        // Never blocks for long, so the writer sees stop even when nobody reads.
        if (link.WriteSome(1, frame, 10) < frame.size()) continue;
      } catch (...) {
        // The line is closed between rounds: try again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  });
  for (int round = 0; round < 5; ++round) {
    Open(1);
    framed.SetEnabled(true);
    loop.runFor(60);
    port.SetOpen(false);                // from a loop task while the dispatcher hands over
    EXPECT_EQ(Threads(), threads + 1);  // only the test's writer is left
  }
  const int before = got;
  closeInside = true;
  Open(1);
  framed.SetEnabled(true);
  EXPECT_TRUE(loop.runUntil([&] { return closed && port.State() == TPortState::psClosed; }, 5000))
      << "got " << got - before << " enabled " << framed.Enabled() << " mode " << static_cast<int>(framed.Mode())
      << " state " << static_cast<int>(port.State()) << " unread " << port.InBuffUsed();
  stop = true;
  writer.join();
  EXPECT_EQ(Threads(), threads);
  EXPECT_GT(before, 0);
  EXPECT_TRUE(errors.empty());
}

TEST_F(PtyPortTest, StalledLoopLosesNothing) {
  TApdDataPacket framed;
  SetUpFramed(framed);
  std::vector<std::string> got;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { got.push_back(d); };
  Open(1);
  framed.SetEnabled(true);
  std::vector<std::string> sent;
  std::string all;
  for (int i = 0; all.size() < 8192; ++i) {
    sent.push_back(STX + std::to_string(i % 12) + "\x06" + std::to_string(i) + EOT);
    all += sent.back();
  }
  std::thread writer([&] { link.Write(1, all); });
  // The loop thread is stalled for 5 s while 8 KiB arrive.
  std::this_thread::sleep_for(std::chrono::seconds(5));
  writer.join();
  EXPECT_TRUE(loop.runUntil([&] { return got.size() >= sent.size(); }, 10000));
  EXPECT_EQ(got, sent);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mq::serial

namespace mq::serial {
namespace {

TEST_F(PtyPortTest, TheReaderDrainsTheDeviceWhileTheLoopIsStalled) {
  TApdDataPacket framed;
  SetUpFramed(framed);
  std::size_t got = 0;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string&) { ++got; };
  Open(1);
  framed.SetEnabled(true);
  // Far more than the kernel buffers: the writer only gets rid of it all if
  // the port keeps reading while the loop thread does not run.
  std::string all;
  std::size_t frames = 0;
  while (all.size() < 256 * 1024) {
    all += STX + "5\x06" + std::to_string(frames++) + EOT;
  }
  std::atomic<bool> written{false};
  std::thread writer([&] {
    link.Write(1, all);
    written = true;
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!written && std::chrono::steady_clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the loop is stalled
  EXPECT_TRUE(written);
  EXPECT_TRUE(loop.runUntil([&] { return written && got >= frames; }, 30000));
  writer.join();
  EXPECT_EQ(got, frames);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mq::serial

// ---- A close never waits for the dispatcher thread from inside its own
// hand-over, and errors of a hand-over are reported after it ----

namespace mq::serial {
namespace {

// Ends the test program when a test hangs, so a freeze is a failure with a
// message and not a test that never ends.
class Watchdog {
 public:
  explicit Watchdog(int seconds)
      : thread_([this, seconds] {
          std::unique_lock lock(mu_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "the loop thread hung\n");
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mu_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

TEST_F(PtyPortTest, AHandlerThatThrowsWhileATimerClosesThePortFromTheReportsLoop) {
  const Watchdog watchdog(60);
  TApdDataPacket framed;
  SetUpFramed(framed);
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string&) { throw std::runtime_error("bad echo"); };
  // A bandwidth command armed the rescan timer; its tick closes the port.
  Timer rescan(loop, 100);
  rescan.OnTimer = [&] {
    rescan.SetEnabled(false);
    port.SetOpen(false);
  };
  int reports = 0;
  loop.setErrorHandler([&](std::exception_ptr) {
    ++reports;
    // The window's report is a modal dialog: a nested loop in which the
    // link's timers keep firing. It is closed once the port has closed.
    rescan.SetEnabled(true);
    loop.runUntil([&] { return port.State() == TPortState::psClosed; }, 20000);
  });
  const int threads = Threads();
  Open(1);
  framed.SetEnabled(true);
  link.Write(1, STX +
                    "3\x06"
                    "1x" +
                    EOT);
  EXPECT_TRUE(loop.runUntil([&] { return reports > 0 && port.State() == TPortState::psClosed; }, 20000));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(Threads(), threads);
}

TEST_F(PtyPortTest, ACloseFromALoopNestedInAHandoverFinishesAfterTheHandover) {
  const Watchdog watchdog(60);
  TApdDataPacket framed;
  SetUpFramed(framed);
  Timer rescan(loop, 100);
  rescan.OnTimer = [&] {
    rescan.SetEnabled(false);
    port.SetOpen(false);
  };
  bool handlerReturned = false, closedInsideHandler = false;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string&) {
    if (handlerReturned) return;
    // A message box shown by the handler: its loop runs the timer, which
    // closes the port, and whatever that close posts.
    rescan.SetEnabled(true);
    loop.runUntil([&] { return port.State() != TPortState::psOpen; }, 20000);
    loop.runFor(300);
    closedInsideHandler = port.State() == TPortState::psClosed;
    handlerReturned = true;
  };
  const int threads = Threads();
  Open(1);
  framed.SetEnabled(true);
  link.Write(1, STX +
                    "3\x06"
                    "1.5" +
                    EOT);
  EXPECT_TRUE(loop.runUntil([&] { return handlerReturned && port.State() == TPortState::psClosed; }, 20000));
  EXPECT_FALSE(closedInsideHandler);  // the dispatcher thread was waiting for that handler
  EXPECT_EQ(Threads(), threads);
  EXPECT_TRUE(errors.empty());
  // The port opens again as usual.
  Open(1);
  EXPECT_TRUE(port.Open());
}

// ---- A port whose line dies ----

TEST_F(PtyPortTest, AfterTheLineDiedWritesRaiseTheFailureNamingThePort) {
  int failures = 0;
  port.SetOnPortFailure([&](TApdComPort& p) {
    ++failures;
    EXPECT_TRUE(errors.empty());  // told before the report
    EXPECT_TRUE(p.Open());
  });
  Open(1);
  link.CloseMaster(1);
  EXPECT_TRUE(loop.runUntil([&] { return !errors.empty(); }, 5000));
  EXPECT_EQ(failures, 1);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("COM1: ", 0), 0u) << errors[0];
  try {
    port.PutString("nobody hears this");
    ADD_FAILURE() << "a write to a dead line was accepted";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), errors[0]);
  }
  EXPECT_EQ(port.OutBuffUsed(), 0u);
}

// ---- Flushing, and the lights ----

TEST_F(PtyPortTest, AnRxLightWhoseOffNotificationTimedOutGoesOutLater) {
  struct Light : StatusLight {
    void SetLit(bool on) override { lit = on; }
    bool lit = false;
  } rx;
  TApdSLController ctl;
  ctl.Lights.RXDLight = &rx;
  ctl.SetComPort(&port);
  Open(1);
  ctl.SetMonitoring(true);
  port.Dispatcher().RegisterEventTriggerHandler([this](TTriggerKind kind, std::uint16_t, std::uint32_t n) {
    if (kind != TTriggerKind::Avail) return;
    std::string sink(n, '\0');
    port.Dispatcher().GetBlock(sink.data(), n);
  });
  link.Write(1, "x");
  ASSERT_TRUE(loop.runUntil([&] { return rx.lit; }, 5000));
  // The loop thread is blocked longer than a notification waits for it: the
  // light's off-time expires meanwhile and its notification is given up.
  std::this_thread::sleep_for(std::chrono::milliseconds(3600));
  EXPECT_TRUE(loop.runUntil([&] { return !rx.lit; }, 5000));
  ctl.SetMonitoring(false);
}

}  // namespace
}  // namespace mq::serial
