// TCommaText: the comma form of a list of texts, as list entries store it.
// Joining quotes an item that holds a blank, a comma, a double quote or a
// character below 32 (inner quotes doubled); splitting breaks at commas and
// at unquoted blanks and removes the quotes. Any input splits safely.
// Threading: stateless; callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TCommaText {
 public:
  static std::string Join(const std::vector<std::string>& items);
  static std::vector<std::string> Split(std::string_view text);
};

}  // namespace mq::i18n
