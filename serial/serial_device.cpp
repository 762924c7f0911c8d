#include "serial/serial_device.h"

#include <cstring>

namespace mq::serial {

SerialDevice::~SerialDevice() = default;

void SerialDevice::SetActivityCallback(std::function<void()>) {}

std::string SerialDevice::ErrorText(int osError) const { return std::strerror(osError); }

}  // namespace mq::serial
