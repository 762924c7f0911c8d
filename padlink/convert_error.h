// EConvertError: a received text that should be a decimal number is not
// one, and StrToInt, the one conversion the pad link uses for such texts.
//
// Threading: plain value type and a pure function.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace mq::padlink {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal integer with an optional sign and nothing else, within 32 bits.
// Otherwise EConvertError "'<text>' is not a valid integer value" (text
// shown through Windows-1252).
int StrToInt(std::string_view text);

}  // namespace mq::padlink
