// Utf16Convert: UTF-8 <-> UTF-16 and single code points to UTF-8, for every
// layer that meets both forms (translation files and stored tables, version
// blocks, console output). Ill-formed input never throws: each bad sequence
// becomes one U+FFFD, so the result is always well-formed and damaged input
// still yields text.
//
// A bad UTF-8 sequence ends before the first byte that cannot continue it;
// that byte starts the next sequence. An overlong form, an encoded surrogate
// or a value past U+10FFFF is one U+FFFD for all its bytes. In UTF-16 a
// surrogate without its partner becomes U+FFFD.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mq {

class Utf16Convert {
 public:
  static constexpr char32_t kReplacement = 0xFFFD;

  // Appends one code point; a surrogate or a value past U+10FFFF is
  // appended as U+FFFD.
  static void AppendUtf8(std::string& out, char32_t codePoint);
  static void AppendUtf16(std::u16string& out, char32_t codePoint);
  // Decodes the code point at `pos` and moves `pos` past it (past the bad
  // sequence, U+FFFD, where there is none). `pos` must be before the end.
  static char32_t NextCodePoint(std::string_view utf8, std::size_t& pos);

  static std::u16string Utf8ToUtf16(std::string_view utf8);
  static std::string Utf16ToUtf8(std::u16string_view utf16);
  // Any bytes to well-formed UTF-8: the valid sequences as they are.
  static std::string SanitizeUtf8(std::string_view bytes);
};

}  // namespace mq
