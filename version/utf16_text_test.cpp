// UTF-8 <-> UTF-16 conversion of version texts, including ill-formed input.
#include "version/utf16_text.h"

#include <gtest/gtest.h>

namespace mq {
namespace {

TEST(Utf16Text, RoundTripsAndReplacesIllFormedSequences) {
  EXPECT_EQ(Utf8ToUtf16("Copyright \xC2\xA9 Corvane \xF0\x9F\x8F\x8A"),
            u"Copyright \u00A9 Corvane \U0001F3CA");
  EXPECT_EQ(Utf16ToUtf8(u"Copyright \u00A9 Corvane \U0001F3CA"),
            "Copyright \xC2\xA9 Corvane \xF0\x9F\x8F\x8A");
  // Truncated, overlong, stray continuation, encoded surrogate: one U+FFFD
  // each, and the byte after a bad continuation starts afresh.
  EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF" "b"), u"\uFFFD" "b");
  EXPECT_EQ(Utf8ToUtf16("\x80" "c"), u"\uFFFD" "c");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE2" "d"), u"\uFFFD" "d");
  // Unpaired surrogates in UTF-16 become U+FFFD in UTF-8.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', char16_t(0xD800), u'y', char16_t(0xDC00)}),
            "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

}  // namespace
}  // namespace mq
