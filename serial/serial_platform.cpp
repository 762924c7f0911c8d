#include "serial/serial_platform.h"

namespace mq::serial {

SerialPlatform::~SerialPlatform() = default;

TOpenFailure SerialPlatform::OpenFailureOf(int) const { return TOpenFailure::Other; }

TOpenAdvice SerialPlatform::AdviceFor(unsigned, TOpenFailure) { return {}; }

std::vector<TPortMapNote> SerialPlatform::PortMapNotes() { return {}; }

}  // namespace mq::serial
