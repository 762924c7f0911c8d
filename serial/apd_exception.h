// EAPDException and its family: the errors of the serial layer.
//
// Every error carries a numeric code and a fixed message. The groups are
// EOpenComm (opening), ESerialIO (writing), EGeneral (components without a
// port) and EPacket (framer settings). EInOutError is the runtime's
// input/output error and carries the operating system's error number and
// text instead of a serial-layer code.
//
// The port that raises one names itself in front of the fixed message
// (SetPort: "COM5: ie_NOpen - device not open"); Message() is the message
// alone.
//
// Threading: plain value types; may be thrown and caught on any thread.
#pragma once

#include <stdexcept>
#include <string>

namespace mq::serial {

// "COM<n>: " in front of text; text alone for port 0 (no port).
std::string PortPrefixed(unsigned comNumber, const std::string& text);

class EAPDException : public std::runtime_error {
 public:
  // Code 0 is the generic "Apro exception".
  EAPDException() : EAPDException(0, "Apro exception") {}
  EAPDException(int code, const std::string& message)
      : std::runtime_error(message), code_(code), message_(message), what_(message) {}
  int ErrorCode() const noexcept { return code_; }
  const std::string& Message() const noexcept { return message_; }
  void SetPort(unsigned comNumber) { what_ = PortPrefixed(comNumber, message_); }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int code_;
  std::string message_;
  std::string what_;
};

// Groups.
class EOpenComm : public EAPDException {
 public:
  using EAPDException::EAPDException;
};
class ESerialIO : public EAPDException {
 public:
  using EAPDException::EAPDException;
};
class EGeneral : public EAPDException {
 public:
  using EAPDException::EAPDException;
};
class EPacket : public EAPDException {
 public:
  using EAPDException::EAPDException;
};

// Error codes.
inline constexpr int ecBadId = 2001;
inline constexpr int ecCommNotOpen = 2007;
inline constexpr int ecAlreadyOpen = 2008;
inline constexpr int ecNoPortSelected = 2011;
inline constexpr int ecOutputBufferTooSmall = 3006;
inline constexpr int ecBufferIsEmpty = 3007;
inline constexpr int ecPortNotAssigned = 1005;
inline constexpr int ecStartStringEmpty = 5501;
inline constexpr int ecPacketTooSmall = 5502;
inline constexpr int ecNoEndCharCount = 5503;
inline constexpr int ecEmptyEndString = 5504;
inline constexpr int ecZeroSizePacket = 5505;

class EBadId : public EOpenComm {
 public:
  EBadId() : EOpenComm(ecBadId, "ie_BadId - Specified comport doesn't exist") {}
};
class EAlreadyOpen : public EOpenComm {
 public:
  EAlreadyOpen() : EOpenComm(ecAlreadyOpen, "ie_Open - device already open") {}
};
class ECommNotOpen : public EOpenComm {
 public:
  ECommNotOpen() : EOpenComm(ecCommNotOpen, "ie_NOpen - device not open") {}
};
class ENoPortSelected : public EOpenComm {
 public:
  ENoPortSelected() : EOpenComm(ecNoPortSelected, "The ComNumber property of the TApdComPort has not been set") {}
};
class EOutputBufferTooSmall : public ESerialIO {
 public:
  EOutputBufferTooSmall() : ESerialIO(ecOutputBufferTooSmall, "Output buffer too small for block") {}
};
class EPortNotAssigned : public EGeneral {
 public:
  EPortNotAssigned() : EGeneral(ecPortNotAssigned, "ComPort component not assigned") {}
};

// Framer settings that contradict each other; code 5501 to 5505.
class EInvalidProperty : public EPacket {
 public:
  explicit EInvalidProperty(int code);
  static const char* MessageFor(int code);
};

// The runtime's input/output error: the operating system's error number and
// its text (the serial layer's own text where it has one for that number).
class EInOutError : public std::runtime_error {
 public:
  EInOutError(int osError, const std::string& osText);
  int ErrorCode() const noexcept { return code_; }
  const std::string& Message() const noexcept { return message_; }
  void SetPort(unsigned comNumber) { what_ = PortPrefixed(comNumber, message_); }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int code_;
  std::string message_;
  std::string what_;
};

}  // namespace mq::serial
