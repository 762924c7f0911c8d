// log_memory: the window's memory over a competition day of radio traffic.
//
// Setup: the real main window (offscreen) over the real pad link on virtual
// time, with a fake serial port on which a scripted base station answers
// the full scan and twelve pads (firmware 912, so dives are broadcast)
// register. Then a dive every 2 s for the whole day: every judge keys an
// award 0.3 to 1.1 s later, and each award's acknowledgement leaves the
// transmit queue, so the log gets the dive and twelve acknowledgements
// (13 lines) every 2 s, about 23,400 lines an hour.
//
// Printed every simulated hour: the lines written to the log so far, the
// lines it keeps, those it dropped, the heap in use and the resident size.
// Once the log has reached its bound (20,000 lines, within the first hour)
// the memory stays flat; --max-lines 0 takes the bound away to show the
// growth without it. Virtual time: a 10-hour day takes a few minutes of
// processor time, most of it the list's layout.
//
// usage: log_memory [--hours H] [--max-lines N]   (default 10 hours, 20000)
#include <malloc.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/log_list_box.h"
#include "app/main_window.h"
#include "app/pad_link_adapter.h"
#include "app/recording_dialogs.h"
#include "loop/virtual_loop.h"
#include "padlink/pad_link.h"
#include "serial/testing/fake_serial_platform.h"

namespace {

constexpr unsigned kPort = 3;
const std::string kPads = "0123456789ac";

double HeapMb() { return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0); }

double RssMb() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The base station and its pads on the fake port: answers what the link
// writes (identification after "ACK", channel, bandwidth, registration
// polls) and keys the awards it is told to.
class Station {
 public:
  Station(mq::VirtualLoop& loop, mq::serial::FakeSerialPlatform& fake) : loop_(loop), fake_(fake) {}

  void Answer() {
    const auto writes = fake_.Writes(kPort);
    for (const auto& w : writes) {
      const std::string& b = w.bytes;
      std::string reply;
      if (b == "ER_CMD#T3") {
        identAsked_ = true;
      } else if (b == "ACK" && identAsked_) {
        identAsked_ = false;
        reply = "ER_CMD#T3ER400TRS-02V2.02.10";
      } else if (b == "ER_CMD#C?") {
        reply = "ER_CMD#C7";
      } else if (b == "ER_CMD#B?") {
        reply = "ER_CMD#B6";
      } else if (b.size() >= 5 && b[0] == '\x02' && b.back() == '\x04') {
        const bool poll = b.substr(b.size() - 4) ==
                              "\x1b"
                              "13\x04" ||
                          b.substr(b.size() - 3) ==
                              "\x1b"
                              "3\x04";
        if (poll && kPads.find(b[1]) != std::string::npos)
          reply = std::string("\x02") + b[1] +
                  "\x06"
                  "912\x04";
      }
      if (!reply.empty()) fake_.Inject(kPort, reply);
    }
    // The records would grow for the whole day: only what is new counts.
    fake_.ClearWritten(kPort);
    for (auto it = awards_.begin(); it != awards_.end() && it->first <= loop_.nowMs();) {
      fake_.Inject(kPort, it->second);
      it = awards_.erase(it);
    }
    loop_.runPending();
  }

  // Every judge keys an award 300 to 1100 ms from now.
  void KeyAwards() {
    for (char id : kPads) {
      const int tenths = static_cast<int>(rng_() % 21) * 5;  // 0.0 .. 10.0 in halves
      const std::string award = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
      awards_.emplace(loop_.nowMs() + 300 + static_cast<std::int64_t>(rng_() % 800),
                      std::string("\x02") + id + award + "\x04");
    }
  }

 private:
  mq::VirtualLoop& loop_;
  mq::serial::FakeSerialPlatform& fake_;
  bool identAsked_ = false;
  std::multimap<std::int64_t, std::string> awards_;
  std::minstd_rand rng_{7};
};

}  // namespace

int main(int argc, char** argv) {
  int hours = 10;
  int maxLines = mq::TLogListBox::DefaultMaxLines;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--hours") == 0) hours = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--max-lines") == 0) maxLines = std::atoi(argv[i + 1]);
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  std::ofstream(dir.path().toStdString() + "/MqTool.ini", std::ios::binary) << "[General]\r\n";

  mq::VirtualLoop loop;
  loop.setErrorHandler([](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      std::fprintf(stderr, "error: %s\n", ex.what());
    }
  });
  auto fake = std::make_shared<mq::serial::FakeSerialPlatform>(loop);
  fake->AddPort(kPort);
  mq::RecordingDialogs dialogs;
  mq::TfrmMain::Options options;
  options.dataFolder = dir.path().toStdString() + "/";
  options.dialogs = &dialogs;
  mq::TfrmMain window(options);
  mq::padlink::TMarqsForm form(loop, fake, window, window.Shell(), &window.siLangDispatcher1());
  mq::PadLinkAdapter link(window, form);
  window.Shell().MillisecondsOfMinute = [&loop] { return static_cast<int>(loop.nowMs() % 60000); };
  window.resize(1200, window.height());  // the log is visible, as at the pool side
  window.show();
  auto* log = window.findChild<mq::TLogListBox*>(QStringLiteral("lbxLog"));
  auto* fullScan = window.findChild<QAction*>(QStringLiteral("SpTBXItemFullScan"));
  auto* nextDive = window.findChild<QAction*>(QStringLiteral("SpTBXItemNextDive"));
  if (log == nullptr || fullScan == nullptr || nextDive == nullptr) {
    std::fprintf(stderr, "log_memory: the window has no lbxLog, Full Scan or Next Dive\n");
    return 1;
  }
  log->SetMaxLines(maxLines > 0 ? maxLines : INT_MAX);

  long long written = 0;
  QObject::connect(log->model(), &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex&, int first, int last) { written += last - first + 1; });
  Station station(loop, *fake);
  // Runs ms of virtual time in 10 ms steps; the window's own events (its
  // layout, deferred deletions) once a simulated second, as its event loop
  // would between bursts.
  auto run = [&](std::int64_t ms) {
    for (std::int64_t t = 0; t < ms; t += 10) {
      loop.advance(10);
      station.Answer();
      if (loop.nowMs() % 1000 < 10) QApplication::processEvents();
    }
  };

  fullScan->trigger();
  run(5000);
  if (form.PadList().size() != kPads.size()) {
    std::fprintf(stderr, "log_memory: the scan registered %zu pads, not 12\n", form.PadList().size());
    return 1;
  }
  written = 0;
  QApplication::processEvents();
  std::printf("bound %s lines; a dive every 2 s, 12 awards each\n",
              maxLines > 0 ? std::to_string(maxLines).c_str() : "no");
  std::printf("%5s %12s %8s %10s %9s %8s\n", "hour", "lines", "kept", "dropped", "heap MB", "RSS MB");
  std::printf("%5d %12lld %8d %10lld %9.1f %8.1f\n", 0, written, log->count(), log->Dropped(), HeapMb(), RssMb());
  std::fflush(stdout);
  constexpr int kDivesPerHour = 3600 / 2;
  for (int hour = 1; hour <= hours; ++hour) {
    for (int d = 0; d < kDivesPerHour; ++d) {
      nextDive->trigger();
      station.KeyAwards();
      run(2000);
    }
    QApplication::processEvents();
    malloc_trim(0);
    std::printf("%5d %12lld %8d %10lld %9.1f %8.1f\n", hour, written, log->count(), log->Dropped(), HeapMb(), RssMb());
    std::fflush(stdout);
  }
  return 0;
}
