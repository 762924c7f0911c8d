#include "serial/serial_platform_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdint>
#include <new>
#include <vector>

#include "serial/apd_exception.h"
#include "util/annotated_mutex.h"
#include "util/thread_annotations.h"

namespace mq::serial {

namespace {

// Closes a kernel handle once.
void CloseIfValid(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

// One open COM port: the overlapped handle, a manual-reset event that
// Interrupt() sets for good, an auto-reset event that wakes the dispatcher,
// and an event each for the overlapped reads and writes.
//
// Waiting for input, two ways:
// - CommEvents: one overlapped driver event wait (WaitCommEvent for a
//   received character) is kept pending on the handle, shared by the
//   dispatcher and the reader; an idle port costs no processor time.
// - QueuePolling: the driver's receive queue is looked at (ClearCommError)
//   every 10 ms. Wine needs this: there the wait's event is signalled while
//   the wait is still pending, and a pending wait is never completed by a
//   close, which would hang the port.
class Win32SerialDevice : public SerialDevice {
 public:
  Win32SerialDevice(HANDLE handle, Win32SerialPlatform::InputWatch watch)
      : h_(handle), commEvents_(watch == Win32SerialPlatform::InputWatch::CommEvents) {
    interrupt_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    dispatchWake_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    readEv_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEv_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (commEvents_) commEv_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!interrupt_ || !dispatchWake_ || !readEv_ || !writeEv_ || (commEvents_ && !commEv_) ||
        (commEvents_ && !::SetCommMask(h_, EV_RXCHAR))) {
      const DWORD err = ::GetLastError();
      CloseAll();
      Win32SerialPlatform::RaiseOpenError(err);
    }
  }

  ~Win32SerialDevice() override {
    // The workers have ended; a driver event wait may still be pending.
    ::SetEvent(interrupt_);
    if (commPending_) ::SetCommMask(h_, 0);  // completes a pending event wait
    ::CancelIoEx(h_, nullptr);
    if (commPending_ && ::WaitForSingleObject(commEv_, kCloseWaitMs) != WAIT_OBJECT_0 &&
        !HasOverlappedIoCompleted(commOv_.get())) {
      // A driver that never ends the wait must not hang the close: its
      // record and event stay allocated, since the driver may still write
      // to them.
      static_cast<void>(commOv_.release());
      commEv_ = nullptr;
    }
    CloseAll();
  }

  void SetupQueues(std::uint16_t inSize, std::uint16_t outSize) override {
    if (!::SetupComm(h_, inSize, outSize)) Win32SerialPlatform::RaiseOpenError(::GetLastError());
  }

  void Configure(const LineSettings& s) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h_, &dcb)) Win32SerialPlatform::RaiseOpenError(::GetLastError());
    dcb.BaudRate = s.baud;
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    switch (s.parity) {
      case TParity::pNone: dcb.Parity = NOPARITY; break;
      case TParity::pOdd: dcb.Parity = ODDPARITY; break;
      case TParity::pEven: dcb.Parity = EVENPARITY; break;
      case TParity::pMark: dcb.Parity = MARKPARITY; break;
      case TParity::pSpace: dcb.Parity = SPACEPARITY; break;
    }
    dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fOutxCtsFlow = (s.hwFlow & hwfRequireCTS) ? TRUE : FALSE;
    dcb.fOutxDsrFlow = (s.hwFlow & hwfRequireDSR) ? TRUE : FALSE;
    dcb.fDtrControl = (s.hwFlow & hwfUseDTR) ? DTR_CONTROL_HANDSHAKE : s.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = (s.hwFlow & hwfUseRTS) ? RTS_CONTROL_HANDSHAKE : s.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = (s.swFlow == TSWFlowOptions::swfTransmit || s.swFlow == TSWFlowOptions::swfBoth) ? TRUE : FALSE;
    dcb.fInX = (s.swFlow == TSWFlowOptions::swfReceive || s.swFlow == TSWFlowOptions::swfBoth) ? TRUE : FALSE;
    dcb.XonChar = static_cast<char>(s.xonChar);
    dcb.XoffChar = static_cast<char>(s.xoffChar);
    if (!::SetCommState(h_, &dcb)) Win32SerialPlatform::RaiseOpenError(::GetLastError());
    // Reads return at once with what the driver holds.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(h_, &t)) Win32SerialPlatform::RaiseOpenError(::GetLastError());
  }

  // A device without modem lines has none to set: failures do not matter.
  void SetDTR(bool on) override { ::EscapeCommFunction(h_, on ? SETDTR : CLRDTR); }
  void SetRTS(bool on) override { ::EscapeCommFunction(h_, on ? SETRTS : CLRRTS); }

  // Reads only what the driver already holds, so the read completes at
  // once whatever the driver makes of the read time-outs (Wine, for one,
  // leaves an overlapped read on an empty queue pending).
  IoResult Read(char* dest, std::size_t max) override {
    if (const DWORD err = deferredError_.load()) return {IoStatus::Failed, 0, static_cast<int>(err)};
    mq::AnnotatedMutex::Lock lock(readMu_);
    const DWORD queued = QueuedBytes();
    if (const DWORD err = deferredError_.load()) return {IoStatus::Failed, 0, static_cast<int>(err)};
    if (queued == 0 || max == 0) return {IoStatus::WouldBlock, 0, 0};
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(max, queued));
    return Transfer(readEv_, [&](OVERLAPPED* ov, DWORD* n) { return ::ReadFile(h_, dest, want, n, ov); });
  }

  IoResult Write(const char* src, std::size_t count) override {
    mq::AnnotatedMutex::Lock lock(writeMu_);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    return Transfer(writeEv_, [&](OVERLAPPED* ov, DWORD* n) { return ::WriteFile(h_, src, want, n, ov); });
  }

  void PurgeInput() override { ::PurgeComm(h_, PURGE_RXABORT | PURGE_RXCLEAR); }
  void PurgeOutput() override { ::PurgeComm(h_, PURGE_TXABORT | PURGE_TXCLEAR); }
  bool UsesWorkerThreads() const override { return true; }

  WaitResult WaitReadable(int timeoutMs) override {
    return WaitForInput(interrupt_, WaitResult::Interrupted, true, timeoutMs);
  }

  // A write completes inside Write(); when the driver took nothing, room
  // is looked for again after a short pause.
  WaitResult WaitWritable(int timeoutMs) override {
    const DWORD ms = timeoutMs < 0 ? 10 : static_cast<DWORD>(std::min(timeoutMs, 10));
    return ::WaitForSingleObject(interrupt_, ms) == WAIT_OBJECT_0 ? WaitResult::Interrupted : WaitResult::Ready;
  }

  WaitResult WaitDispatch(bool watchDevice, int timeoutMs) override {
    return WaitForInput(dispatchWake_, WaitResult::Woken, watchDevice, timeoutMs);
  }

  void WakeDispatcher() override { ::SetEvent(dispatchWake_); }

  void Interrupt() override {
    ::SetEvent(interrupt_);
    // A read or write of another worker that is still pending ends now.
    ::CancelIoEx(h_, nullptr);
  }

  std::string ErrorText(int osError) const override {
    return Win32SerialPlatform::ErrorTextFor(static_cast<unsigned long>(osError));
  }

 private:
  template <typename Start>
  IoResult Transfer(HANDLE event, Start start) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    ::ResetEvent(event);
    DWORD n = 0;
    if (!start(&ov, &n)) {
      DWORD err = ::GetLastError();
      if (err == ERROR_IO_PENDING) {
        const HANDLE waits[2] = {event, interrupt_};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) ::CancelIoEx(h_, &ov);
        // Wait for the operation itself: the record must outlive it.
        err = ::GetOverlappedResult(h_, &ov, &n, TRUE) ? ERROR_SUCCESS : ::GetLastError();
      }
      // Cancelled by a close, an interrupt or a purge: not a failure.
      if (err != ERROR_SUCCESS && err != ERROR_OPERATION_ABORTED) return {IoStatus::Failed, 0, static_cast<int>(err)};
    }
    if (n == 0) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Ok, n, 0};
  }

  // Bytes waiting in the driver's receive queue; an error of the query is
  // kept for the next Read, which fails with it.
  DWORD QueuedBytes() {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(h_, &errors, &stat)) {
      Defer(::GetLastError());
      return 0;
    }
    return stat.cbInQue;
  }
  bool InputQueued() { return QueuedBytes() > 0 || deferredError_.load() != 0; }

  void Defer(DWORD err) {
    DWORD none = 0;
    deferredError_.compare_exchange_strong(none, err == 0 ? ERROR_GEN_FAILURE : err);
  }

  static DWORD Remaining(ULONGLONG start, int timeoutMs) {
    if (timeoutMs < 0) return INFINITE;
    const ULONGLONG spent = ::GetTickCount64() - start;
    return spent >= static_cast<ULONGLONG>(timeoutMs) ? 0 : static_cast<DWORD>(timeoutMs - spent);
  }

  bool Interrupted() const { return ::WaitForSingleObject(interrupt_, 0) == WAIT_OBJECT_0; }

  // Waits for received bytes, for `other` or for timeoutMs.
  WaitResult WaitForInput(HANDLE other, WaitResult otherResult, bool watchDevice, int timeoutMs) {
    // After an interrupt the event wait is cancelled for good: no new one.
    if (watchDevice && commEvents_ && !Interrupted()) return WaitForCommEvent(other, otherResult, timeoutMs);
    return PollForInput(other, otherResult, watchDevice, timeoutMs);
  }

  // The driver's received-character event. Whoever finds the shared wait
  // completed takes its result and arms the next one; both waiters then
  // look at the receive queue, so an event for bytes another worker has
  // already read only costs one look.
  WaitResult WaitForCommEvent(HANDLE other, WaitResult otherResult, int timeoutMs) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
      if (InputQueued()) return WaitResult::Ready;
      if (Interrupted())
        return PollForInput(other, otherResult, true,
                            timeoutMs < 0 ? -1 : static_cast<int>(Remaining(start, timeoutMs)));
      if (!ArmCommWait()) return WaitResult::Ready;  // the error waits for the next Read
      const HANDLE waits[2] = {other, commEv_};
      const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, Remaining(start, timeoutMs));
      if (r == WAIT_OBJECT_0) return otherResult;
      if (r == WAIT_OBJECT_0 + 1) {
        TakeCommWait();
        continue;
      }
      if (r == WAIT_TIMEOUT) return InputQueued() ? WaitResult::Ready : WaitResult::TimedOut;
      return WaitResult::Failed;
    }
  }

  // Starts the shared event wait unless one is pending; false (and the
  // error deferred) when the driver refuses it.
  bool ArmCommWait() {
    mq::AnnotatedMutex::Lock lock(commMu_);
    if (commPending_) return true;
    ::ResetEvent(commEv_);
    *commOv_ = OVERLAPPED{};
    commOv_->hEvent = commEv_;
    if (::WaitCommEvent(h_, &commMask_, commOv_.get())) {
      ::SetEvent(commEv_);  // done at once: the caller looks at the queue
      return true;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_IO_PENDING) {
      commPending_ = true;
      return true;
    }
    Defer(err);
    return false;
  }

  // Collects a completed event wait. A signal while the wait is still
  // pending is cleared (a late completion signals again), so it cannot
  // make the waiters spin.
  void TakeCommWait() {
    mq::AnnotatedMutex::Lock lock(commMu_);
    if (!commPending_) return;
    DWORD n = 0;
    if (::GetOverlappedResult(h_, commOv_.get(), &n, FALSE)) {
      commPending_ = false;
      return;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_IO_INCOMPLETE) {
      ::ResetEvent(commEv_);
      return;
    }
    commPending_ = false;
    // Cancelled by an interrupt: not a failure.
    if (err != ERROR_OPERATION_ABORTED) Defer(err);
  }

  // Looks at the driver's receive queue every kInputCheckMs.
  WaitResult PollForInput(HANDLE other, WaitResult otherResult, bool watchDevice, int timeoutMs) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
      const DWORD remaining = Remaining(start, timeoutMs);
      if (watchDevice && InputQueued()) return WaitResult::Ready;
      const DWORD slice = watchDevice ? std::min<DWORD>(remaining, kInputCheckMs) : remaining;
      const DWORD r = ::WaitForSingleObject(other, slice);
      if (r == WAIT_OBJECT_0) return otherResult;
      if (r != WAIT_TIMEOUT) return WaitResult::Failed;
      if (remaining == 0 || (slice == remaining && !(watchDevice && InputQueued()))) return WaitResult::TimedOut;
    }
  }

  static constexpr DWORD kInputCheckMs = 10;
  static constexpr DWORD kCloseWaitMs = 2000;

  void CloseAll() {
    CloseIfValid(interrupt_);
    CloseIfValid(dispatchWake_);
    CloseIfValid(readEv_);
    CloseIfValid(writeEv_);
    CloseIfValid(commEv_);
    CloseIfValid(h_);
  }

  HANDLE h_;
  HANDLE interrupt_ = nullptr;
  HANDLE dispatchWake_ = nullptr;
  HANDLE readEv_ = nullptr;
  HANDLE writeEv_ = nullptr;
  // One read and one write transfer at a time on readEv_ and writeEv_.
  mq::AnnotatedMutex readMu_, writeMu_;
  std::atomic<DWORD> deferredError_{0};
  // The shared driver event wait (CommEvents only).
  const bool commEvents_;
  HANDLE commEv_ = nullptr;
  mq::AnnotatedMutex commMu_;
  std::unique_ptr<OVERLAPPED> commOv_ MQ_GUARDED_BY(commMu_) = std::make_unique<OVERLAPPED>();
  DWORD commMask_ MQ_GUARDED_BY(commMu_) = 0;
  bool commPending_ MQ_GUARDED_BY(commMu_) = false;
};

// Texts of the runtime's input/output errors, by system error number.
const char* RuntimeIoText(unsigned long e) {
  switch (e) {
    case 2: return "File not found";
    case 3: return "Path not found";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 6: return "Invalid file handle";
    case 12: return "Invalid file access code";
    case 15: return "Invalid drive number";
    case 100: return "Disk read error";
    case 101: return "Disk write error";
    case 102: return "File not assigned";
    case 103: return "File not open";
    case 104: return "File not open for input";
    case 105: return "File not open for output";
    case 106: return "Invalid numeric format";
    case 150: return "Disk is write-protected";
    case 151: return "Bad drive request struct length";
    case 152: return "Drive not ready";
    case 154: return "CRC error in data";
    case 156: return "Disk seek error";
    case 157: return "Unknown media type";
    case 158: return "Sector Not Found";
    case 159: return "Printer out of paper";
    case 160: return "Device write fault";
    case 161: return "Device read fault";
    case 162: return "General failure";
    default: return nullptr;
  }
}

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

bool Win32SerialPlatform::RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

Win32SerialPlatform::InputWatch Win32SerialPlatform::EffectiveInputWatch() const {
  if (watch_ != InputWatch::Automatic) return watch_;
  return RunningUnderWine() ? InputWatch::QueuePolling : InputWatch::CommEvents;
}

std::wstring Win32SerialPlatform::DeviceName(unsigned n) { return L"\\\\.\\COM" + std::to_wstring(n); }

std::string Win32SerialPlatform::ErrorTextFor(unsigned long e) {
  if (const char* own = RuntimeIoText(e)) return own;
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(e), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) text = Utf8(buffer, static_cast<int>(length));
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = "System error " + std::to_string(e);
  return text;
}

void Win32SerialPlatform::RaiseOpenError(unsigned long e) {
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) throw EBadId();
  if (e == ERROR_ACCESS_DENIED) throw EAlreadyOpen();
  if (e == ERROR_NOT_ENOUGH_MEMORY) throw std::bad_alloc();
  if (e >= 4 && e <= 162) throw EInOutError(static_cast<int>(e), ErrorTextFor(e));
  throw EAPDException();
}

TOpenFailure Win32SerialPlatform::OpenFailureOf(int e) const {
  if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION) return TOpenFailure::InUse;
  return TOpenFailure::Other;
}

std::unique_ptr<SerialDevice> Win32SerialPlatform::OpenDevice(unsigned n) {
  const std::wstring name = DeviceName(n);
  HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseOpenError(::GetLastError());
  return std::make_unique<Win32SerialDevice>(h, EffectiveInputWatch());
}

bool Win32SerialPlatform::DeviceKnown(unsigned n) {
  // The device name without its "\\.\" prefix.
  const std::wstring name = DeviceName(n).substr(4);
  DWORD size = 52;
  std::vector<std::uint8_t> record(size);
  auto query = [&] {
    auto* config = reinterpret_cast<COMMCONFIG*>(record.data());
    config->dwSize = size;
    return ::GetDefaultCommConfigW(name.c_str(), config, &size) != FALSE;
  };
  if (query()) return true;
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= record.size()) return false;
  record.assign(size, 0);
  return query();
}

std::shared_ptr<SerialPlatform> MakeMachineSerialPlatform(const std::string&) {
  return std::make_shared<Win32SerialPlatform>();
}

}  // namespace mq::serial
