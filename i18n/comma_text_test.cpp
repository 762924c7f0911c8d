#include "i18n/comma_text.h"

#include <gtest/gtest.h>

using mq::i18n::TCommaText;
using V = std::vector<std::string>;

TEST(CommaText, JoinQuotesOnlyWhereNeeded) {
  EXPECT_EQ(TCommaText::Join({"ON", "OFF"}), "ON,OFF");
  EXPECT_EQ(TCommaText::Join({"a b", "c,d", "say \"hi\"", "tab\there", "plain"}),
            "\"a b\",\"c,d\",\"say \"\"hi\"\"\",\"tab\there\",plain");
  EXPECT_EQ(TCommaText::Join({}), "");
}

TEST(CommaText, SplitAtCommasAndUnquotedBlanks) {
  EXPECT_EQ(TCommaText::Split("ON,OFF"), (V{"ON", "OFF"}));
  EXPECT_EQ(TCommaText::Split("  a b ,  c"), (V{"a", "b", "c"}));
  EXPECT_EQ(TCommaText::Split("\"a b\",\"say \"\"hi\"\"\""), (V{"a b", "say \"hi\""}));
  EXPECT_EQ(TCommaText::Split("a,,b"), (V{"a", "", "b"}));
  EXPECT_EQ(TCommaText::Split("a,"), (V{"a", ""}));
  EXPECT_EQ(TCommaText::Split(""), V{});
  EXPECT_EQ(TCommaText::Split("\"unterminated"), (V{"unterminated"}));
  EXPECT_EQ(TCommaText::Split(std::string("a\0b", 3)), (V{"a"}));
}

TEST(CommaText, RoundTrip) {
  const V items{"ON", "two words", "\"quoted\"", "x,y", "Français"};
  EXPECT_EQ(TCommaText::Split(TCommaText::Join(items)), items);
}
