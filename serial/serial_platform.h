// SerialPlatform: how the serial layer reaches the machine's ports. One
// implementation per platform (PosixSerialPlatform now, a Win32 one later)
// and FakeSerialPlatform for tests of the layers above.
//
// OpenDevice is step 3 of opening a port: the exclusive open of COM n, with
// the errors the user sees when it fails (EBadId: no such device,
// EAlreadyOpen: another program holds it, EInOutError: any other system
// error with its number and text, std::bad_alloc: out of memory).
// OpenFailureOf says what such an EInOutError means to the user (the full
// scan names ports that exist but could not be opened, and why).
//
// Threading: called on the loop thread.
#pragma once

#include <memory>

#include "serial/serial_device.h"

namespace mq::serial {

// Why a port could not be opened, in terms the user can act on.
enum class TOpenFailure {
  NoDevice,          // there is no such port
  InUse,             // another program holds it
  PermissionDenied,  // the user may not open the device
  Other,             // any other failure; the error's own text says which
};

class SerialPlatform {
 public:
  SerialPlatform() = default;
  SerialPlatform(const SerialPlatform&) = delete;
  SerialPlatform& operator=(const SerialPlatform&) = delete;
  virtual ~SerialPlatform();

  virtual std::unique_ptr<SerialDevice> OpenDevice(unsigned comNumber) = 0;

  // Whether the system knows a device for COM n, whether or not another
  // program holds it (the probe's "ports in use count as available" mode).
  virtual bool DeviceKnown(unsigned comNumber) = 0;

  // What an EInOutError of OpenDevice carrying this system error number
  // means (EBadId and EAlreadyOpen speak for themselves). Default: Other.
  virtual TOpenFailure OpenFailureOf(int osError) const;
};

}  // namespace mq::serial
