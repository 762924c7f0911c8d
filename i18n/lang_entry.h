// TLangEntry: the field arithmetic of one table entry. An entry is its name,
// then for each language a delimiter and that language's text, then one
// closing delimiter. Field 0 is the name; field k (1..N) is the text between
// the k-th and (k+1)-th delimiter, and a field without a closing delimiter
// reads as empty, so a short entry simply has no text in its last languages.
// All functions work on any input without reading outside it.
// Threading: stateless; callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TLangEntry {
 public:
  static std::string_view Field(std::string_view entry, std::string_view delim, int k);
  static std::string_view Name(std::string_view entry, std::string_view delim) { return Field(entry, delim, 0); }
  // name + for each text (delim + text) + delim.
  static std::string Make(std::string_view name, const std::vector<std::string>& texts, std::string_view delim);
  static std::string ReplaceDelimiter(std::string_view entry, std::string_view from, std::string_view to);
  // Drops every column after the first `languages` texts (the entry is cut
  // after its (languages + 1)-th delimiter); shorter entries stay as they are.
  static std::string KeepColumns(std::string_view entry, std::string_view delim, int languages);
  // UTF-8 form of a delimiter character code.
  static std::string DelimiterText(int charCode);
  static bool IsValidDelimiter(int charCode);
};

}  // namespace mq::i18n
