// Win32SerialPlatform: the machine's serial ports on Windows.
//
// COM n is the device "\\.\COM<n>", opened with CreateFileW for reading and
// writing, without sharing (exclusive), open-existing, overlapped. When the
// open fails the system's error number e decides the error (RaiseOpenError):
// 2 or 3 (no such file or path) -> EBadId; 5 (access denied: another
// program holds the port) -> EAlreadyOpen; 8 -> std::bad_alloc; any other
// e from 4 to 162 -> EInOutError carrying e and its text; anything else
// (1, or above 162) -> EAPDException code 0 "Apro exception". A sharing
// violation (32) is another program holding the port as well
// (OpenFailureOf); Windows has no per-user permission on serial ports.
//
// The devices it opens: SetupQueues is SetupComm; Configure reads the line
// settings (GetCommState), writes speed, framing, binary mode, no parity
// checking, no DSR sensitivity, transmission continuing after XOFF, no
// null stripping and DTR/RTS (SetCommState) and sets read time-outs that
// return at once with what is there. Failures of either close the handle
// (the device is dropped) and raise as above.
//
// DeviceKnown (the probe with ReportPortsInUse) asks GetDefaultCommConfigW
// for "COM<n>" with a 52-byte record and, when the system asks for more,
// once more with the size it asked for.
//
// Waiting for input (InputWatch): on Windows a worker waits for the
// driver's received-character event (SetCommMask, WaitCommEvent), so an
// idle open port costs nothing; under Wine, whose event waits cannot be
// relied on (see the device), it looks at the driver's receive queue every
// 10 ms (ClearCommError). Automatic picks by asking ntdll for Wine's
// wine_get_version at open.
//
// Threading: OpenDevice/DeviceKnown on the loop thread. A device's reads
// are issued only by the dispatcher and reader threads, its writes only by
// the writer thread, all overlapped. Interrupt and
// the purges may come from any thread: a pending read or write is
// cancelled with CancelIoEx or the purge, and an operation aborted that
// way is not a failure.
#pragma once

#include <string>

#include "serial/serial_platform.h"

namespace mq::serial {

class Win32SerialPlatform : public SerialPlatform {
 public:
  enum class InputWatch { Automatic, CommEvents, QueuePolling };

  explicit Win32SerialPlatform(InputWatch watch = InputWatch::Automatic) : watch_(watch) {}

  std::unique_ptr<SerialDevice> OpenDevice(unsigned comNumber) override;
  bool DeviceKnown(unsigned comNumber) override;
  TOpenFailure OpenFailureOf(int osError) const override;

  // "\\.\COM<n>" as a UTF-16 text.
  static std::wstring DeviceName(unsigned comNumber);
  // Throws the serial layer's error for a system error number of opening
  // a device (or of setting it up).
  [[noreturn]] static void RaiseOpenError(unsigned long osError);
  // The text of an EInOutError for a system error number: the runtime's
  // own text where it has one, otherwise the system's message (UTF-8).
  static std::string ErrorTextFor(unsigned long osError);

  // True inside Wine (ntdll exports wine_get_version).
  static bool RunningUnderWine();
  // The way the devices opened from now on wait for input.
  InputWatch EffectiveInputWatch() const;

 private:
  InputWatch watch_;
};

}  // namespace mq::serial
