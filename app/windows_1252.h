// Windows1252: the 8-bit text of the serial line shown as Unicode and back.
// Every byte decodes to one character (the five bytes that code page 1252
// leaves undefined map to the C1 controls of the same value), so a decoded
// line always has as many characters as it had bytes. Encoding maps every
// character the code page has to its byte and anything else to '?'.
//
// The table itself is the localisation layer's (TTextCodec), shared with
// mqtool-cli, which has no Qt.
//
// Threading: stateless.
#pragma once

#include <QString>
#include <string>

namespace mq {

class Windows1252 {
 public:
  static QString Decode(const std::string& bytes);
  static std::string Encode(const QString& text);
};

}  // namespace mq
