#include "serial/serial_platform.h"

namespace mq::serial {

SerialPlatform::~SerialPlatform() = default;

TOpenFailure SerialPlatform::OpenFailureOf(int) const { return TOpenFailure::Other; }

}  // namespace mq::serial
