// The Win32 backend: the open-error table, and (under Wine, started by
// scripts/wine_com_pair.py) real COM ports joined by a null-modem relay:
// exclusive open, probe both ways, the four worker threads moving frames
// both ways, close and reopen.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "loop/realtime_loop.h"
#include "serial/apd_exception.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "serial/port_probe.h"
#include "serial/serial_platform_win32.h"

namespace mq::serial {
namespace {

const std::string STX = "\x02", EOT = "\x04";

bool UnderWine() { return Win32SerialPlatform::RunningUnderWine(); }

// The numbers the relay script put in the environment; empty without it.
std::vector<unsigned> EnvPorts(const char* name) {
  std::vector<unsigned> out;
  const char* v = std::getenv(name);
  if (v == nullptr) return out;
  std::string s = v;
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t comma = s.find(',', pos);
    const std::string part = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (!part.empty()) out.push_back(static_cast<unsigned>(std::stoul(part)));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

int ThreadsOfThisProcess() {
  const HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = ::Thread32First(snap, &e); ok; ok = ::Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  ::CloseHandle(snap);
  return n;
}

DWORD Handles() {
  DWORD n = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &n);
  return n;
}

template <typename E>
E Raised(unsigned long osError) {
  try {
    Win32SerialPlatform::RaiseOpenError(osError);
  } catch (const E& e) {
    return e;
  }
  throw std::logic_error("not raised as expected: " + std::to_string(osError));
}

TEST(Win32OpenErrors, EverySystemNumberMapsAsTheTableSays) {
  EXPECT_EQ(Raised<EBadId>(2).ErrorCode(), 2001);
  EXPECT_EQ(Raised<EBadId>(3).ErrorCode(), 2001);
  EXPECT_STREQ(Raised<EBadId>(2).what(), "ie_BadId - Specified comport doesn't exist");
  EXPECT_EQ(Raised<EAlreadyOpen>(5).ErrorCode(), 2008);
  EXPECT_STREQ(Raised<EAlreadyOpen>(5).what(), "ie_Open - device already open");
  EXPECT_THROW(Win32SerialPlatform::RaiseOpenError(8), std::bad_alloc);
  for (unsigned long e : {4ul, 6ul, 31ul, 32ul, 87ul, 121ul, 162ul}) {
    const auto io = Raised<EInOutError>(e);
    EXPECT_EQ(io.ErrorCode(), static_cast<int>(e));
    EXPECT_STRNE(io.what(), "") << e;
  }
  for (unsigned long e : {0ul, 1ul, 163ul, 170ul, 1167ul}) {
    try {
      Win32SerialPlatform::RaiseOpenError(e);
    } catch (const EOpenComm&) {
      ADD_FAILURE() << e << " raised an open error of its own";
    } catch (const EAPDException& apro) {
      EXPECT_EQ(apro.ErrorCode(), 0) << e;
      EXPECT_STREQ(apro.what(), "Apro exception");
    } catch (...) {
      ADD_FAILURE() << e << " raised something else";
    }
  }
}

TEST(Win32OpenErrors, RuntimeTextsFirstThenTheSystemsWithoutLineEnd) {
  EXPECT_EQ(Win32SerialPlatform::ErrorTextFor(4), "Too many open files");
  EXPECT_EQ(Win32SerialPlatform::ErrorTextFor(6), "Invalid file handle");
  EXPECT_EQ(Win32SerialPlatform::ErrorTextFor(162), "General failure");
  const std::string sys = Win32SerialPlatform::ErrorTextFor(87);  // the system's: invalid parameter
  EXPECT_FALSE(sys.empty());
  EXPECT_NE(sys.back(), '\n');
  EXPECT_NE(sys.back(), '\r');
  EXPECT_EQ(Win32SerialPlatform::ErrorTextFor(0xDEADBEEF), "System error 3735928559");
}

TEST(Win32OpenErrors, AnotherProgramHoldingThePortIsInUse) {
  Win32SerialPlatform platform;
  EXPECT_EQ(platform.OpenFailureOf(ERROR_ACCESS_DENIED), TOpenFailure::InUse);
  EXPECT_EQ(platform.OpenFailureOf(ERROR_SHARING_VIOLATION), TOpenFailure::InUse);
  EXPECT_EQ(platform.OpenFailureOf(ERROR_GEN_FAILURE), TOpenFailure::Other);
}

// Wine is recognised by its ntdll export; Wine's own registry branch is
// the independent witness. Only Wine gets the 10 ms queue polling.
TEST(Win32Platform, WaitsForDriverEventsExceptUnderWine) {
  HKEY key = nullptr;
  const bool wineRegistry = ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (key != nullptr) ::RegCloseKey(key);
  EXPECT_EQ(Win32SerialPlatform::RunningUnderWine(), wineRegistry);
  using W = Win32SerialPlatform::InputWatch;
  EXPECT_EQ(Win32SerialPlatform().EffectiveInputWatch(), wineRegistry ? W::QueuePolling : W::CommEvents);
  EXPECT_EQ(Win32SerialPlatform(W::CommEvents).EffectiveInputWatch(), W::CommEvents);
  EXPECT_EQ(Win32SerialPlatform(W::QueuePolling).EffectiveInputWatch(), W::QueuePolling);
}

TEST(Win32Platform, DeviceNameAndPortZero) {
  EXPECT_EQ(Win32SerialPlatform::DeviceName(12), L"\\\\.\\COM12");
  Win32SerialPlatform platform;
  ReportPortsInUse = false;
  EXPECT_FALSE(ProbeComPort(platform, 0));
  ReportPortsInUse = true;
  EXPECT_FALSE(ProbeComPort(platform, 0));
}

// Two COM ports joined by the relay of scripts/wine_com_pair.py, opened
// through a platform that waits for input the way Watch says.
template <Win32SerialPlatform::InputWatch Watch>
class PairFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    pair = EnvPorts("MQ_WINE_COM_PAIR");
    missing = EnvPorts("MQ_WINE_COM_MISSING");
    if (pair.size() != 2) GTEST_SKIP() << "needs two joined COM ports (scripts/wine_com_pair.py)";
    loop.setErrorHandler([this](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        errors.push_back(ex.what());
      }
    });
    for (auto* p : {&a, &b}) {
      p->SetAutoOpen(false);
      p->SetPromptForPort(false);
    }
    ReportPortsInUse = true;
  }
  void TearDown() override { ReportPortsInUse = true; }

  void SetUpFramed(TApdDataPacket& framed, TApdComPort& port) {
    framed.SetComPort(&port);
    framed.SetStartString(STX);
    framed.SetEndString(EOT);
    framed.SetEndCond({TPacketEndCond::ecString});
    framed.SetTimeOut(18);
    framed.SetAutoEnable(true);
  }

  std::vector<unsigned> pair, missing;
  RealtimeLoop loop;
  std::shared_ptr<Win32SerialPlatform> platform = std::make_shared<Win32SerialPlatform>(Watch);
  TApdComPort a{loop, platform}, b{loop, platform};
  std::vector<std::string> errors;

  void FramesBothWaysThroughFourThreadsEachThenCloseAndReopen();
};
using Win32PairTest = PairFixture<Win32SerialPlatform::InputWatch::Automatic>;
using Win32PairEventsTest = PairFixture<Win32SerialPlatform::InputWatch::CommEvents>;

TEST_F(Win32PairTest, MissingPortRaisesBadIdAndLeavesNothingOpen) {
  if (missing.empty()) GTEST_SKIP() << "no missing port named";
  const DWORD handles = Handles();
  a.SetComNumber(static_cast<std::uint16_t>(missing[0]));
  EXPECT_THROW(a.SetOpen(true), EBadId);
  EXPECT_FALSE(a.Open());
  EXPECT_EQ(a.State(), TPortState::psClosed);
  a.SetComNumber(static_cast<std::uint16_t>(pair[0]));
  a.SetOpen(true);
  EXPECT_TRUE(a.Open());
  a.SetOpen(false);
  EXPECT_EQ(Handles(), handles);
}

TEST_F(Win32PairTest, HeldPortRaisesAlreadyOpen) {
  if (UnderWine()) GTEST_SKIP() << "Wine opens a serial device twice although neither open shares it";
  auto held = platform->OpenDevice(pair[0]);
  a.SetComNumber(static_cast<std::uint16_t>(pair[0]));
  EXPECT_THROW(a.SetOpen(true), EAlreadyOpen);
  EXPECT_FALSE(a.Open());
  held.reset();
  a.SetOpen(true);
  EXPECT_TRUE(a.Open());
}

TEST_F(Win32PairTest, ProbeOpensAndClosesWithoutPortsInUse) {
  const DWORD handles = Handles();
  ReportPortsInUse = false;
  EXPECT_TRUE(ProbeComPort(*platform, pair[0]));
  EXPECT_TRUE(ProbeComPort(*platform, pair[0]));  // the first probe left nothing open
  if (!missing.empty()) {
    EXPECT_FALSE(ProbeComPort(*platform, missing[0]));
  }
  EXPECT_EQ(Handles(), handles);
  if (!UnderWine()) {  // see HeldPortRaisesAlreadyOpen
    auto held = platform->OpenDevice(pair[0]);
    EXPECT_FALSE(ProbeComPort(*platform, pair[0]));  // in use: unavailable
    EXPECT_EQ(ProbeComPortDetail(*platform, pair[0]).Failure, TOpenFailure::InUse);
  }
}

TEST_F(Win32PairTest, ProbeWithPortsInUseAsksForTheDefaultConfiguration) {
  ReportPortsInUse = true;
  if (!missing.empty()) {
    EXPECT_FALSE(ProbeComPort(*platform, missing[0]));
  }
  if (UnderWine() && std::getenv("MQ_WINE_COM_REGISTERED") == nullptr)
    GTEST_SKIP() << "Wine knows a default configuration only for the ports it registered itself";
  EXPECT_TRUE(ProbeComPort(*platform, pair[0]));
  auto held = platform->OpenDevice(pair[0]);
  EXPECT_TRUE(ProbeComPort(*platform, pair[0]));  // in use, but there
}

// Both ways of waiting for input move the same bytes; the driver event wait
// also ends at an interrupt and lets the device close.
void ExchangeThroughDevices(Win32SerialPlatform& platform, unsigned portA, unsigned portB) {
  auto da = platform.OpenDevice(portA);
  auto db = platform.OpenDevice(portB);
  LineSettings line;
  da->SetupQueues(4096, 4096);
  db->SetupQueues(4096, 4096);
  da->Configure(line);
  db->Configure(line);
  auto w = da->Write("hello", 5);
  EXPECT_EQ(w.status, SerialDevice::IoStatus::Ok) << w.osError;
  EXPECT_EQ(w.count, 5u);
  auto r = db->WaitDispatch(true, 2000);
  EXPECT_EQ(r, SerialDevice::WaitResult::Ready);
  char buf[16];
  auto got = db->Read(buf, sizeof buf);
  EXPECT_EQ(got.status, SerialDevice::IoStatus::Ok) << got.osError;
  EXPECT_EQ(std::string(buf, got.count), "hello");
  // A worker already waiting when the bytes come is woken by them.
  SerialDevice::WaitResult waited = SerialDevice::WaitResult::Failed;
  const ULONGLONG start = ::GetTickCount64();
  ULONGLONG woke = 0;
  std::thread waiter([&] {
    waited = db->WaitDispatch(true, 3000);
    woke = ::GetTickCount64() - start;
  });
  ::Sleep(200);
  da->Write("again", 5);
  waiter.join();
  EXPECT_EQ(waited, SerialDevice::WaitResult::Ready) << woke;
  got = db->Read(buf, sizeof buf);
  EXPECT_EQ(std::string(buf, got.count), "again");
  // Writing while a worker of the same port waits for input.
  std::thread selfWaiter([&] { da->WaitDispatch(true, 1000); });
  ::Sleep(100);
  w = da->Write("third", 5);
  EXPECT_EQ(w.status, SerialDevice::IoStatus::Ok) << w.osError;
  EXPECT_EQ(db->WaitDispatch(true, 1000), SerialDevice::WaitResult::Ready);
  got = db->Read(buf, sizeof buf);
  EXPECT_EQ(std::string(buf, got.count), "third");
  selfWaiter.join();
  // Nothing arrives: the wait times out; an interrupt ends the reader's
  // wait, and every wait after it returns at once.
  EXPECT_EQ(db->WaitDispatch(true, 300), SerialDevice::WaitResult::TimedOut);
  SerialDevice::WaitResult reader = SerialDevice::WaitResult::Failed;
  std::thread readerWaiting([&] { reader = db->WaitReadable(20'000); });
  ::Sleep(200);
  db->Interrupt();
  readerWaiting.join();
  EXPECT_EQ(reader, SerialDevice::WaitResult::Interrupted);
  EXPECT_EQ(db->WaitReadable(20'000), SerialDevice::WaitResult::Interrupted);
  EXPECT_EQ(db->WaitDispatch(true, 300), SerialDevice::WaitResult::TimedOut);
}

TEST_F(Win32PairTest, DeviceLevelExchangePollingTheQueue) {
  Win32SerialPlatform polling(Win32SerialPlatform::InputWatch::QueuePolling);
  ExchangeThroughDevices(polling, pair[0], pair[1]);
}

// The way real Windows waits. Wine completes these waits well enough for
// the exchange (the program does not rely on it there).
TEST_F(Win32PairTest, DeviceLevelExchangeWaitingForDriverEvents) {
  Win32SerialPlatform events(Win32SerialPlatform::InputWatch::CommEvents);
  ExchangeThroughDevices(events, pair[0], pair[1]);
}

TEST_F(Win32PairTest, FramesBothWaysThroughFourThreadsEachThenCloseAndReopen) {
  FramesBothWaysThroughFourThreadsEachThenCloseAndReopen();
}

TEST_F(Win32PairEventsTest, FramesBothWaysThroughFourThreadsEachThenCloseAndReopen) {
  FramesBothWaysThroughFourThreadsEachThenCloseAndReopen();
}

template <Win32SerialPlatform::InputWatch Watch>
void PairFixture<Watch>::FramesBothWaysThroughFourThreadsEachThenCloseAndReopen() {
  const int threads = ThreadsOfThisProcess();
  const DWORD handles = Handles();
  TApdDataPacket fa, fb;
  SetUpFramed(fa, a);
  SetUpFramed(fb, b);
  std::vector<std::string> gotA, gotB;
  bool onLoopThread = true;
  fa.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { gotA.push_back(d); };
  fb.OnStringPacket = [&](TApdDataPacket&, const std::string& d) {
    onLoopThread = onLoopThread && loop.isLoopThread();
    gotB.push_back(d);
  };
  a.SetComNumber(static_cast<std::uint16_t>(pair[0]));
  b.SetComNumber(static_cast<std::uint16_t>(pair[1]));
  for (int round = 0; round < 2; ++round) {
    gotA.clear();
    gotB.clear();
    a.SetOpen(true);
    b.SetOpen(true);
    ASSERT_TRUE(a.Open() && b.Open());
    // Wine runs helper threads of its own for the driver event waits.
    if (UnderWine()) {
      EXPECT_GE(ThreadsOfThisProcess(), threads + 8);
    } else {
      EXPECT_EQ(ThreadsOfThisProcess(), threads + 8);
    }
    fa.SetEnabled(true);
    fb.SetEnabled(true);
    std::vector<std::string> sent;
    for (int i = 0; i < 200; ++i) {
      sent.push_back(STX + std::to_string(i) + EOT);
      for (;;) {
        try {
          a.PutString(sent.back());
          break;
        } catch (const EOutputBufferTooSmall&) {
          loop.pause(1);
        }
      }
    }
    b.PutString(STX + "back" + EOT);
    EXPECT_TRUE(loop.runUntil([&] { return gotB.size() == sent.size() && gotA.size() == 1; }, 10000))
        << gotB.size() << " of " << sent.size() << (errors.empty() ? std::string() : ", error: " + errors.front());
    EXPECT_EQ(gotB, sent);
    EXPECT_EQ(gotA, std::vector<std::string>{STX + "back" + EOT});
    loop.runFor(100);
    a.SetOpen(false);
    b.SetOpen(false);
    EXPECT_FALSE(a.Open() || b.Open());
    if (UnderWine()) {
      EXPECT_LE(ThreadsOfThisProcess(), threads + 2);
    } else {
      EXPECT_EQ(ThreadsOfThisProcess(), threads);
    }
  }
  EXPECT_TRUE(onLoopThread);
  EXPECT_TRUE(errors.empty()) << errors.front();  // aborted reads of a close are no failure
  EXPECT_EQ(Handles(), handles);
}

TEST_F(Win32PairTest, FlushInBufferDropsWhatArrivedBeforeIt) {
  TApdDataPacket fb;
  SetUpFramed(fb, b);
  std::vector<std::string> got;
  fb.OnStringPacket = [&](TApdDataPacket&, const std::string& d) { got.push_back(d); };
  a.SetComNumber(static_cast<std::uint16_t>(pair[0]));
  b.SetComNumber(static_cast<std::uint16_t>(pair[1]));
  a.SetOpen(true);
  b.SetOpen(true);
  a.PutString(STX + "old");  // a frame that never ends
  loop.runFor(300);
  b.FlushInBuffer();
  fb.SetEnabled(true);
  a.PutString(STX + "new" + EOT);
  EXPECT_TRUE(loop.runUntil([&] { return !got.empty(); }, 5000));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], STX + "new" + EOT);
  a.SetOpen(false);
  b.SetOpen(false);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace mq::serial
