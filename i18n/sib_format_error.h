// ESibFormatError: a translation file that cannot be read — wrong header
// ("Unrecognized stream format!"), a damaged or truncated record, an
// unreadable file. The load stops where the error occurs.
// Threading: a plain value type; safe to copy between threads.
#pragma once

#include <stdexcept>
#include <string>

namespace mq::i18n {

class ESibFormatError : public std::runtime_error {
 public:
  explicit ESibFormatError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace mq::i18n
