// ELanguageError: the failure raised by the translation components and the
// language dispatcher (language number or count out of range, unknown
// language name, unknown string id when a component is set to report it).
// Threading: a plain value type; safe to copy between threads.
#pragma once

#include <stdexcept>
#include <string>

namespace mq::i18n {

class ELanguageError : public std::runtime_error {
 public:
  explicit ELanguageError(const std::string& message) : std::runtime_error(message) {}

  // "<Class>: <v> - is not a valid property value!\rValue must be within [1..<n>]!"
  // (without "<Class>: " when the component has no window).
  static ELanguageError LanguageOutOfRange(const std::string& windowClassName, int value, int numOfLanguages);
  // "<n> - is not a valid property value !\rValue must be more than ZERO !"
  static ELanguageError BadNumberOfLanguages(int value);
  static ELanguageError UnknownLanguageName();
  static ELanguageError StringNotFound(const std::string& id);
};

}  // namespace mq::i18n
