// SerialDevice: one open serial device, the driver operations the dispatcher
// and its worker threads use. Implemented by each platform backend (POSIX
// and Win32) and by the fake platform of the tests.
//
// A device either needs the four worker threads (UsesWorkerThreads() true:
// the reader waits in WaitReadable, the writer in WaitWritable) or is driven
// directly on the loop thread (false: it calls the activity callback when
// bytes arrive, and writes complete at once).
//
// Threading: Read/WaitReadable belong to the reader, Write/WaitWritable to
// the writer; Interrupt, PurgeInput and PurgeOutput may be called from any
// thread while the others run. The rest is called before the workers start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/serial_types.h"

namespace mq::serial {

class SerialDevice {
 public:
  enum class IoStatus {
    Ok,          // count bytes were transferred (count > 0)
    WouldBlock,  // nothing to read / no room to write right now
    End,         // the line has gone: hang-up, 0-byte read, device removed
    Failed,      // any other driver error (osError)
  };
  struct IoResult {
    IoStatus status = IoStatus::WouldBlock;
    std::size_t count = 0;
    int osError = 0;
  };
  enum class WaitResult { Ready, TimedOut, Interrupted, HungUp, Failed, Woken };

  SerialDevice() = default;
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;
  virtual ~SerialDevice();

  // Driver queue sizes requested at open. Throws EInOutError.
  virtual void SetupQueues(std::uint16_t inSize, std::uint16_t outSize) = 0;
  // Writes the line settings and asserts/clears DTR and RTS. Throws EInOutError.
  virtual void Configure(const LineSettings& settings) = 0;
  virtual void SetDTR(bool on) = 0;
  virtual void SetRTS(bool on) = 0;

  // Non-blocking transfers.
  virtual IoResult Read(char* dest, std::size_t max) = 0;
  virtual IoResult Write(const char* src, std::size_t count) = 0;
  virtual void PurgeInput() = 0;
  virtual void PurgeOutput() = 0;

  virtual bool UsesWorkerThreads() const = 0;
  // Worker-thread devices: block until readable/writable, timeoutMs (< 0:
  // no limit), or Interrupt(). After Interrupt() every wait returns at once.
  virtual WaitResult WaitReadable(int timeoutMs) = 0;
  virtual WaitResult WaitWritable(int timeoutMs) = 0;
  virtual void Interrupt() = 0;
  // The dispatcher thread's wait: until the device is readable (Ready, only
  // when watchDevice), WakeDispatcher() was called (Woken), or timeoutMs.
  // Interrupt() does not end it. Reading what arrived itself saves a thread
  // hand-off on the way to the consumers; the reader still drains the device
  // whenever the dispatcher is busy.
  virtual WaitResult WaitDispatch(bool watchDevice, int timeoutMs);
  virtual void WakeDispatcher();

  // Directly driven devices: called whenever bytes arrive or the line ends.
  virtual void SetActivityCallback(std::function<void()> callback);

  // The operating system's text for an error number of this device.
  virtual std::string ErrorText(int osError) const;
};

}  // namespace mq::serial
