// TTextCodec: the text conversions of the localisation layer. Text inside
// the program is UTF-8 in std::string; stored tables and translation files
// carry UTF-16LE, UTF-8 or 8-bit text, and 8-bit text is Windows-1252 on
// every platform so a file reads the same everywhere.
// Every decoder accepts arbitrary bytes: malformed sequences become U+FFFD,
// so the result is always valid UTF-8 (the Unicode forms are converted by
// Utf16Convert, which every layer shares).
// Threading: stateless; callable from any thread.
#pragma once

#include "util/utf16_convert.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mq::i18n {

class TTextCodec {
 public:
  // UTF-16LE bytes to UTF-8. A trailing odd byte is ignored; unpaired
  // surrogates become U+FFFD.
  static std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);
  // UTF-8 bytes to valid UTF-8 (invalid sequences become U+FFFD).
  static std::string SanitizeUtf8(std::span<const std::uint8_t> bytes);
  static std::string Windows1252ToUtf8(std::span<const std::uint8_t> bytes);

  // One byte of Windows-1252 and back. The five bytes the code page leaves
  // undefined stand for the C1 controls of the same value both ways, so
  // every byte round-trips; a character the code page lacks has no byte.
  static char32_t Windows1252Char(std::uint8_t byte);
  static std::optional<std::uint8_t> Windows1252Byte(char32_t codePoint);
  // UTF-8 text to Windows-1252 bytes, or nothing when a character has no
  // byte; `missing` then holds the first such character (U+FFFD for a
  // malformed UTF-8 sequence).
  static std::optional<std::string> Utf8ToWindows1252(std::string_view utf8, char32_t& missing);

  // UTF-8 to UTF-16LE bytes (used by writers, e.g. test files).
  static std::string Utf8ToUtf16Le(std::string_view utf8);

  // File names: UTF-8 text <-> path on every platform (on Windows the
  // narrow path functions would use the ANSI code page instead).
  static std::filesystem::path PathFromUtf8(std::string_view utf8);
  static std::string Utf8FromPath(const std::filesystem::path& path);

  static std::span<const std::uint8_t> Bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
  }
};

}  // namespace mq::i18n
