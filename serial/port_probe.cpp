#include "serial/port_probe.h"

#include <exception>
#include <limits>

namespace mq::serial {

bool ReportPortsInUse = true;

bool ProbeComPort(SerialPlatform& platform, std::uint32_t comNumber) {
  if (comNumber == 0 || comNumber > std::numeric_limits<unsigned>::max()) return false;
  if (ReportPortsInUse) return platform.DeviceKnown(comNumber);
  try {
    auto device = platform.OpenDevice(comNumber);
    return device != nullptr;  // closed again when it goes out of scope
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace mq::serial
