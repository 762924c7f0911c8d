// EFileVersionInfo: raised by TFileVersionInfo when a file's version data has
// no translation table, so no string of it can be addressed. Its message is
// the platform's last-error text ("Error #<code> - <message>").
//
// Threading: an ordinary exception value.
#pragma once

#include <stdexcept>
#include <string>

namespace mq {

class EFileVersionInfo : public std::runtime_error {
 public:
  explicit EFileVersionInfo(const std::u16string& text);

  // The message as UTF-16 text (what() gives it in UTF-8).
  const std::u16string& Text() const noexcept { return FText; }

 private:
  std::u16string FText;
};

}  // namespace mq
