#include "i18n/text_codec.h"

#include "util/utf16_convert.h"

#include <array>

namespace mq::i18n {

namespace {

// Windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 control
// of the same value, as the platform converter does.
constexpr std::array<char32_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string TTextCodec::Utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return Utf16Convert::Utf16ToUtf8(units);
}

std::string TTextCodec::SanitizeUtf8(std::span<const std::uint8_t> bytes) {
  return Utf16Convert::SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string TTextCodec::Windows1252ToUtf8(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const std::uint8_t b : bytes) {
    if (b < 0x80)
      out.push_back(static_cast<char>(b));
    else
      Utf16Convert::AppendUtf8(out, Windows1252Char(b));
  }
  return out;
}

char32_t TTextCodec::Windows1252Char(std::uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

std::optional<std::uint8_t> TTextCodec::Windows1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<std::uint8_t>(cp);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] == cp) return static_cast<std::uint8_t>(0x80 + i);
  return std::nullopt;
}

std::optional<std::string> TTextCodec::Utf8ToWindows1252(std::string_view utf8, char32_t& missing) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = Utf16Convert::NextCodePoint(utf8, pos);
    const auto byte = cp == Utf16Convert::kReplacement ? std::nullopt : Windows1252Byte(cp);
    if (!byte) {
      missing = cp;
      return std::nullopt;
    }
    out.push_back(static_cast<char>(*byte));
  }
  return out;
}

std::string TTextCodec::Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (const char16_t u : Utf16Convert::Utf8ToUtf16(utf8)) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  }
  return out;
}

std::filesystem::path TTextCodec::PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TTextCodec::Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

}  // namespace mq::i18n
