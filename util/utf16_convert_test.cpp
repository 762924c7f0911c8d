// UTF-8 <-> UTF-16 conversion, including ill-formed input: where a bad
// sequence ends decides what the next character is, so each case pins the
// exact output.
#include "util/utf16_convert.h"

#include <gtest/gtest.h>

namespace mq {
namespace {

TEST(Utf16Convert, RoundTripsAndReplacesIllFormedSequences) {
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("Copyright \xC2\xA9 Corvane \xF0\x9F\x8F\x8A"),
            u"Copyright \u00A9 Corvane \U0001F3CA");
  EXPECT_EQ(Utf16Convert::Utf16ToUtf8(u"Copyright \u00A9 Corvane \U0001F3CA"),
            "Copyright \xC2\xA9 Corvane \xF0\x9F\x8F\x8A");
  // Truncated, overlong, stray continuation, encoded surrogate, past
  // U+10FFFF, no lead at all: one U+FFFD each, and the byte after a bad
  // continuation starts afresh.
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\xC0\xAF"
                                      "b"),
            u"\uFFFD"
            "b");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\x80"
                                      "c"),
            u"\uFFFD"
            "c");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\xE2"
                                      "d"),
            u"\uFFFD"
            "d");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\xF4\x90\x80\x80"
                                      "e"),
            u"\uFFFD"
            "e");
  EXPECT_EQ(Utf16Convert::Utf8ToUtf16("\xFF\xC3\xA7"), u"\uFFFD\u00E7");
  EXPECT_EQ(Utf16Convert::SanitizeUtf8("\xC3"
                                       "a\xFF\xE2\x82"),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
  // Unpaired surrogates in UTF-16 become U+FFFD in UTF-8; a pair is one
  // code point.
  EXPECT_EQ(Utf16Convert::Utf16ToUtf8(std::u16string{u'x', char16_t(0xD800), u'y', char16_t(0xDC00)}),
            "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  EXPECT_EQ(Utf16Convert::Utf16ToUtf8(std::u16string{char16_t(0xD83D), char16_t(0xDE00), char16_t(0xD800)}),
            "\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(Utf16Convert, SingleCodePointsAtTheEncodingBoundaries) {
  std::string utf8;
  std::u16string utf16;
  for (const char32_t cp : {U'\x7F', U'\x80', U'\u07FF', U'\u0800', U'\uFFFF', U'\U00010000', U'\U0010FFFF'}) {
    Utf16Convert::AppendUtf8(utf8, cp);
    Utf16Convert::AppendUtf16(utf16, cp);
  }
  EXPECT_EQ(utf8, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(utf16, std::u16string({0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}));
  // What cannot be a character is written as U+FFFD in both forms.
  std::string badUtf8;
  std::u16string badUtf16;
  for (const char32_t cp : {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}}) {
    Utf16Convert::AppendUtf8(badUtf8, cp);
    Utf16Convert::AppendUtf16(badUtf16, cp);
  }
  EXPECT_EQ(badUtf8, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(badUtf16, u"\uFFFD\uFFFD\uFFFD");
  // NextCodePoint stops a bad sequence before the byte that broke it.
  std::size_t pos = 0;
  const std::string_view s =
      "\xE2\x82"
      "A";
  EXPECT_EQ(Utf16Convert::NextCodePoint(s, pos), Utf16Convert::kReplacement);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(Utf16Convert::NextCodePoint(s, pos), U'A');
  EXPECT_EQ(pos, 3u);
}

}  // namespace
}  // namespace mq
