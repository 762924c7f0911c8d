#include "serial/serial_device.h"

#include <cstring>

namespace mq::serial {

SerialDevice::~SerialDevice() = default;

void SerialDevice::SetActivityCallback(std::function<void()>) {}

SerialDevice::WaitResult SerialDevice::WaitDispatch(bool, int) { return WaitResult::Interrupted; }

void SerialDevice::WakeDispatcher() {}

std::string SerialDevice::ErrorText(int osError) const { return std::strerror(osError); }

}  // namespace mq::serial
