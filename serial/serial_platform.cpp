#include "serial/serial_platform.h"

namespace mq::serial {

SerialPlatform::~SerialPlatform() = default;

}  // namespace mq::serial
