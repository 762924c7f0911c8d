#include "i18n/language_error.h"

namespace mq::i18n {

ELanguageError ELanguageError::LanguageOutOfRange(const std::string& windowClassName, int value, int numOfLanguages) {
  std::string msg;
  if (!windowClassName.empty()) msg = windowClassName + ": ";
  msg += std::to_string(value) + " - is not a valid property value!\rValue must be within [1.." +
         std::to_string(numOfLanguages) + "]!";
  return ELanguageError(msg);
}

ELanguageError ELanguageError::BadNumberOfLanguages(int value) {
  return ELanguageError(std::to_string(value) + " - is not a valid property value !\rValue must be more than ZERO !");
}

ELanguageError ELanguageError::UnknownLanguageName() {
  return ELanguageError("Language name shall be included in LangNames property!");
}

ELanguageError ELanguageError::StringNotFound(const std::string& id) {
  return ELanguageError("String identifier \"" + id + "\" not found!");
}

}  // namespace mq::i18n
