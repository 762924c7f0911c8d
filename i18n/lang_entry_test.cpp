#include "i18n/lang_entry.h"

#include <gtest/gtest.h>

using mq::i18n::TLangEntry;

TEST(LangEntry, FieldsBetweenDelimiters) {
  const std::string e =
      "IDS_1\x01"
      "English\x01\x01"
      "French\x01";
  EXPECT_EQ(TLangEntry::Name(e, "\x01"), "IDS_1");
  EXPECT_EQ(TLangEntry::Field(e, "\x01", 1), "English");
  EXPECT_EQ(TLangEntry::Field(e, "\x01", 2), "");
  EXPECT_EQ(TLangEntry::Field(e, "\x01", 3), "French");
  EXPECT_EQ(TLangEntry::Field(e, "\x01", 4), "");  // past the last delimiter
  EXPECT_EQ(TLangEntry::Field(e, "\x01", 99), "");
  EXPECT_EQ(TLangEntry::Field(e, "\x01", -1), "");
  // Without a closing delimiter the last text reads as empty.
  EXPECT_EQ(TLangEntry::Field("IDS_1\x01"
                              "English",
                              "\x01", 1),
            "");
  EXPECT_EQ(TLangEntry::Name("no delimiter", "\x01"), "no delimiter");
  // A multi-byte delimiter works the same.
  EXPECT_EQ(TLangEntry::Field("a\xC2\xA7"
                              "b\xC2\xA7",
                              TLangEntry::DelimiterText(0xA7), 1),
            "b");
}

TEST(LangEntry, MakeReplaceAndKeepColumns) {
  const std::string e = TLangEntry::Make("OK", {"OK", "U redu"}, "\x01");
  EXPECT_EQ(e, "OK\x01OK\x01U redu\x01");
  EXPECT_EQ(TLangEntry::ReplaceDelimiter("a|b||", "|", "\x01"),
            "a\x01"
            "b\x01\x01");
  EXPECT_EQ(TLangEntry::KeepColumns("a\x01"
                                    "1\x01"
                                    "2\x01"
                                    "3\x01",
                                    "\x01", 2),
            "a\x01"
            "1\x01"
            "2\x01");
  EXPECT_EQ(TLangEntry::KeepColumns("a\x01"
                                    "1\x01",
                                    "\x01", 5),
            "a\x01"
            "1\x01");
  EXPECT_TRUE(TLangEntry::IsValidDelimiter(1));
  EXPECT_TRUE(TLangEntry::IsValidDelimiter('|'));
  for (const int bad : {0, 10, 13, 25, 26, 0xD800, 0x110000, -1})
    EXPECT_FALSE(TLangEntry::IsValidDelimiter(bad)) << bad;
}
