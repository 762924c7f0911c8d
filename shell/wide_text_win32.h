// WideText: conversions between the program's UTF-8 strings and the UTF-16
// strings of the Windows API, and the system's text for an error number.
// Windows builds only; the header itself needs no Windows header.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <string>

namespace mq {

class WideText {
 public:
  // Invalid UTF-8 sequences become U+FFFD, as Windows converts them.
  static std::wstring FromUtf8(const std::string& text);
  // Unpaired surrogates become U+FFFD.
  static std::string ToUtf8(const std::wstring& text);
  // The system's message for a GetLastError() number, without the trailing
  // line break, followed by the number: "Access is denied. (5)".
  static std::string SystemError(unsigned long code);
};

}  // namespace mq
