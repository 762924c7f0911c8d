// AsciiText: case-insensitive comparison of names and keys in which only the
// ASCII letters have a case (section and key names, component names,
// language names, the bytes a packet waits for). Every other byte, including
// each byte of a UTF-8 sequence, compares as itself, so the result never
// depends on the locale or on the platform.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace mq {

class AsciiText {
 public:
  // 'A'..'Z' to 'a'..'z' and back; everything else unchanged.
  static constexpr char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }
  static constexpr char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }
  // The same on a UTF-16 code unit: only u'a'..u'z' change.
  static constexpr char16_t ToUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c; }
  static std::string ToLower(std::string_view s);

  // Whether a and b are the same text but for the case of ASCII letters.
  static bool EqualNoCase(std::string_view a, std::string_view b);
  // Negative, zero or positive like strcmp, with 'A'..'Z' folded to 'a'..'z'
  // and bytes compared unsigned; a prefix sorts first. Folding to lower case
  // puts '_' and '[' before the letters, as a sorted list expects.
  static int CompareNoCase(std::string_view a, std::string_view b);
  static bool LessNoCase(std::string_view a, std::string_view b) { return CompareNoCase(a, b) < 0; }
};

}  // namespace mq
