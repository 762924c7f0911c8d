#include "serial/apd_exception.h"

namespace mq::serial {

const char* EInvalidProperty::MessageFor(int code) {
  switch (code) {
    case ecStartStringEmpty: return "Start string is empty";
    case ecPacketTooSmall: return "Packet size cannot be smaller than start string";
    case ecNoEndCharCount: return "CharCount packets must have an end-condition";
    case ecEmptyEndString: return "End string is empty";
    case ecZeroSizePacket: return "Packet size cannot be zero";
    default: return "Apro exception";
  }
}

EInvalidProperty::EInvalidProperty(int code) : EPacket(code, MessageFor(code)) {}

EInOutError::EInOutError(int osError, const std::string& osText)
    : std::runtime_error(osText), code_(osError), message_(osText), what_(osText) {}

std::string PortPrefixed(unsigned comNumber, const std::string& text) {
  if (comNumber == 0) return text;
  return "COM" + std::to_string(comNumber) + ": " + text;
}

}  // namespace mq::serial
