#include "serial/port_probe.h"

#include <exception>
#include <limits>

#include "serial/apd_exception.h"

namespace mq::serial {

bool ReportPortsInUse = true;

bool ProbeComPort(SerialPlatform& platform, std::uint32_t comNumber) {
  return ProbeComPortDetail(platform, comNumber).Available;
}

TPortProbeResult ProbeComPortDetail(SerialPlatform& platform, std::uint32_t comNumber) {
  TPortProbeResult r;
  if (comNumber == 0 || comNumber > std::numeric_limits<unsigned>::max()) return r;
  if (ReportPortsInUse) {
    r.Available = platform.DeviceKnown(comNumber);
    return r;
  }
  try {
    auto device = platform.OpenDevice(comNumber);
    r.Available = device != nullptr;  // closed again when it goes out of scope
  } catch (const EBadId&) {
    r.Failure = TOpenFailure::NoDevice;
  } catch (const EAlreadyOpen& e) {
    r.Failure = TOpenFailure::InUse;
    r.Detail = e.what();
  } catch (const EInOutError& e) {
    r.Failure = platform.OpenFailureOf(e.ErrorCode());
    r.Detail = e.what();
  } catch (const std::exception& e) {
    r.Failure = TOpenFailure::Other;
    r.Detail = e.what();
  }
  if (r.Failure == TOpenFailure::PermissionDenied || r.Failure == TOpenFailure::InUse)
    r.Advice = platform.AdviceFor(static_cast<unsigned>(comNumber), r.Failure);
  return r;
}

}  // namespace mq::serial
