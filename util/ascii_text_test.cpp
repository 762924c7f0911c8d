// Case-insensitive comparison where only ASCII letters have a case: the
// order must match a sorted list's (folded to lower case) and nothing beyond
// ASCII may fold, whatever the locale.
#include "util/ascii_text.h"

#include <gtest/gtest.h>

namespace mq {
namespace {

TEST(AsciiText, FoldsOnlyAsciiLettersAndOrdersAsLowerCase) {
  EXPECT_TRUE(AsciiText::EqualNoCase("General", "gENERAL"));
  EXPECT_FALSE(AsciiText::EqualNoCase("General", "Genera"));
  EXPECT_FALSE(AsciiText::EqualNoCase("@", "`"));                // one apart from 'A'/'a', not letters
  EXPECT_FALSE(AsciiText::EqualNoCase("\xC3\xA7", "\xC3\x87"));  // UTF-8 letters keep their case
  EXPECT_EQ(AsciiText::CompareNoCase("abc", "ABC"), 0);
  EXPECT_LT(AsciiText::CompareNoCase("ab", "ABC"), 0);  // a prefix first
  EXPECT_GT(AsciiText::CompareNoCase("b", "A\xFF"), 0);
  EXPECT_LT(AsciiText::CompareNoCase("Z", "\xE9"), 0);  // bytes compare unsigned
  EXPECT_TRUE(AsciiText::LessNoCase("A_B", "Aa"));      // '_' before the letters
  EXPECT_FALSE(AsciiText::LessNoCase("aa", "A_"));
  EXPECT_EQ(AsciiText::ToLower("Stored_Unicode \xC3\x87"), "stored_unicode \xC3\x87");
  EXPECT_EQ(AsciiText::ToUpper('q'), 'Q');
  EXPECT_EQ(AsciiText::ToUpper('{'), '{');
  EXPECT_EQ(AsciiText::ToUpper(u'z'), u'Z');
  EXPECT_EQ(AsciiText::ToUpper(char16_t{0x0101}), char16_t{0x0101});  // 'a' + 0x100 is not a letter
}

}  // namespace
}  // namespace mq
