#include "i18n/text_codec.h"

#include <gtest/gtest.h>

using mq::i18n::TTextCodec;

namespace {
std::vector<std::uint8_t> B(std::initializer_list<int> v) {
  std::vector<std::uint8_t> out;
  for (const int x : v) out.push_back(static_cast<std::uint8_t>(x));
  return out;
}
}  // namespace

TEST(TextCodec, Utf16LeDecoding) {
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(B({'A', 0, 0xE7, 0, 0xAC, 0x20})), "Aç€");
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(B({0x3D, 0xD8, 0x00, 0xDE})), "\xF0\x9F\x98\x80");  // surrogate pair
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(B({0x00, 0xDC, 'A', 0})),
            "\xEF\xBF\xBD"
            "A");                                                         // lone low surrogate
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(B({0x00, 0xD8})), "\xEF\xBF\xBD");  // lone high at the end
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(B({'A', 0, 'B'})), "A");            // odd byte ignored
}

TEST(TextCodec, Windows1252AndUtf8Repair) {
  EXPECT_EQ(TTextCodec::Windows1252ToUtf8(B({'a', 0x80, 0x81, 0x9F, 0xE9, 0xFF})), "a€\xC2\x81Ÿéÿ");
  EXPECT_EQ(TTextCodec::SanitizeUtf8(B({'a', 0xC3, 0xA7})), "aç");
  EXPECT_EQ(TTextCodec::SanitizeUtf8(B({0xC3, 'a', 0xFF, 0xE2, 0x82})),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(TTextCodec::SanitizeUtf8(B({0xC0, 0x80})), "\xEF\xBF\xBD");        // overlong
  EXPECT_EQ(TTextCodec::SanitizeUtf8(B({0xED, 0xA0, 0x80})), "\xEF\xBF\xBD");  // encoded surrogate
  const std::string round = "Türkçe 😀";
  const std::string u16 = TTextCodec::Utf8ToUtf16Le(round);
  EXPECT_EQ(TTextCodec::Utf16LeToUtf8(TTextCodec::Bytes(u16)), round);
}

TEST(TextCodec, Utf8ToWindows1252RefusesWhatTheCodePageLacks) {
  char32_t missing = 0;
  EXPECT_EQ(TTextCodec::Utf8ToWindows1252("M\u00FCller \u20AC\u0178", missing), "M\xFCller \x80\x9F");
  // Every byte round-trips, the five undefined ones as their C1 controls.
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(TTextCodec::Utf8ToWindows1252(TTextCodec::Windows1252ToUtf8(TTextCodec::Bytes(one)), missing), one) << b;
  }
  EXPECT_FALSE(TTextCodec::Utf8ToWindows1252("a\u0141b", missing));
  EXPECT_EQ(missing, U'\u0141');
  EXPECT_FALSE(TTextCodec::Utf8ToWindows1252("\U0001F600", missing));
  EXPECT_EQ(missing, U'\U0001F600');
  EXPECT_FALSE(TTextCodec::Utf8ToWindows1252("a\xFF", missing));  // not UTF-8
  EXPECT_EQ(missing, U'\uFFFD');
}
