// ProbeComPort and ReportPortsInUse: whether a COM port is there to be
// opened, for the full scan over ports 1 to 50. The probe never touches a
// TApdComPort and leaves no handle of the port open. ProbeComPortDetail
// gives the same answer and, for a port that exists but cannot be opened,
// the reason (another program holds it, the user may not open it), so the
// scan can tell the user why a port is missing from its list.
//
// Threading: loop thread (ReportPortsInUse is a plain module-level flag).
#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_platform.h"

namespace mq::serial {

// true (the start value): a port that exists counts as available even when
// another program holds it. false: the port must be free to open now.
extern bool ReportPortsInUse;

// What the probe found for one port.
struct TPortProbeResult {
  bool Available = false;
  // Why it is not available: NoDevice when there is no such port.
  TOpenFailure Failure = TOpenFailure::NoDevice;
  // The error's text (meant for Failure == Other).
  std::string Detail;
  // What the user can do about it (PermissionDenied, InUse).
  TOpenAdvice Advice;
};

// n = 0: false. With ReportPortsInUse: whether the system knows the device.
// Otherwise: whether an exclusive open succeeds (it is closed again at once).
bool ProbeComPort(SerialPlatform& platform, std::uint32_t comNumber);
TPortProbeResult ProbeComPortDetail(SerialPlatform& platform, std::uint32_t comNumber);

}  // namespace mq::serial
