#include "i18n/si_custom_lang.h"

#include "i18n/fake_lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"
#include "i18n/standard_dialog_captions.h"
#include "i18n/test_tables.h"

#include <gtest/gtest.h>

using namespace mq::i18n;
using T = TTestTables;

namespace {

// The main window with the controls the small test table names.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : window("TfrmMain", "frmMain"), lang(&window) {
    window.Self().texts["Caption"] = "Marq Utility";
    // The layout's (English) captions.
    for (const auto& [name, caption] :
         std::vector<std::pair<std::string, std::string>>{{"btnAbort", "Abort test"},
                                                          {"btnCmd", "Send cmd"},
                                                          {"SpTBXItemNextDive", "Next\r\nDive"},
                                                          {"SpTBXItemHelp", "Help"},
                                                          {"lblFirmware", "Firmware"},
                                                          {"J0", "J"},
                                                          {"J10", ""},
                                                          {"lblVersion", "3.5.0.0"},
                                                          {"Label2", "Marq"}})
      window.Add(name, "TLabel").texts["Caption"] = caption;
    window.Add("rgDCS", "TRadioGroup").lists["Items"] = {"ON", "OFF"};
    window.Add("siTaskDialog1", "TsiTaskDialog").texts["ExpandButtonCaption"] = "More..";
    lang.ApplyMainWindowSettings();
    lang.LoadTranslationData(T::Utf16(T::MainWindowLines()));
    lang.Prepare();
  }
  const std::vector<std::string>& Section(int type) { return *lang.GetPropListByType(type); }

  TFakeLangWindow window;
  TsiLangRT lang;
};

}  // namespace

TEST(StoredTable, DetectsEncodingAndSplitsLines) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  TsiLangRT lang(&w);
  lang.ApplyMainWindowSettings();

  // UTF-16LE: second byte 0. Headers in any case, with or without "_Unicode".
  lang.LoadTranslationData(T::Utf16({"junk before any header", "STSTRINGS_unicode", T::Entry("IDS_1", {"Één"})}));
  EXPECT_EQ(lang.GetTextOrDefault("IDS_1"), "Één");
  EXPECT_EQ(lang.GetPropListByType(stStrings)->size(), 1u);

  // UTF-8 when StoreAsUTF8, lone CR and lone LF as breaks, no empty last line.
  lang.LoadTranslationData(
      T::Raw("stStrings\rIDS_1\x01"
             "Fran\xC3\xA7"
             "ais\x01\nIDS_2\x01x\x01\n"));
  EXPECT_EQ(lang.GetTextOrDefault("IDS_1"), "Français");
  EXPECT_EQ(lang.GetPropListByType(stStrings)->size(), 2u);

  // 8-bit text is Windows-1252 without StoreAsUTF8.
  lang.StoreAsUTF8 = false;
  lang.LoadTranslationData(
      T::Raw("stStrings\r\nIDS_1\x01"
             "Fran\xE7"
             "ais \x80\x01\r\n"));
  EXPECT_EQ(lang.GetTextOrDefault("IDS_1"), "Français €");

  // Fewer than two bytes: an empty table.
  lang.LoadTranslationData(T::Raw("s"));
  EXPECT_TRUE(lang.GetPropListByType(stStrings)->empty());

  // Odd length: the stray last byte is ignored.
  auto odd = T::Utf16({"stStrings_Unicode", T::Entry("IDS_1", {"A"})});
  odd.push_back(0x41);
  lang.LoadTranslationData(odd);
  EXPECT_EQ(lang.GetTextOrDefault("IDS_1"), "A");

  // An invalid UTF-16 surrogate and invalid UTF-8 become U+FFFD.
  std::vector<std::uint8_t> bad = T::Utf16({"stStrings_Unicode"});
  const std::string id = TTextCodec::Utf8ToUtf16Le("IDS_1\x01");
  bad.insert(bad.end(), id.begin(), id.end());
  bad.insert(bad.end(), {0x00, 0xD8, 0x01, 0x00, '\r', 0x00, '\n', 0x00});  // lone high surrogate
  lang.LoadTranslationData(bad);
  EXPECT_EQ(lang.GetTextOrDefault("IDS_1"), "\xEF\xBF\xBD");
}

TEST(StoredTable, HeadersEmptySectionsAndClassEntriesGoFirst) {
  TFakeLangWindow w("TMarqsForm", "MarqsForm");
  TsiLangLinked lang(&w);
  lang.ApplyPadLinkSettings();
  lang.LoadTranslationData(T::Utf16({
      "stCaptions_Unicode",
      T::Entry("Label1", {"L"}),
      T::Entry("TMarqsForm", {"Form"}),
      "stDlgsCaptions_Unicode",
      T::Entry("OK", {"OK"}),  // a section this class does not keep
      "stCaptions_Unicode",
      T::Entry("Label2", {"L2"}),
      T::Entry("TMarqsForm", {"Form2"}),
      "stListView_TreeView_Items_Unicode",
      T::Entry("x", {"y"}),
      "stStrings_Unicode",
      T::Entry("IDS_100", {"No Base Station found"}),
  }));
  // The second header re-opened stCaptions and emptied it first.
  const auto& caps = *lang.GetPropListByType(stCaptions);
  ASSERT_EQ(caps.size(), 2u);
  EXPECT_EQ(caps[0], T::Entry("TMarqsForm", {"Form2"}));
  EXPECT_EQ(caps[1], T::Entry("Label2", {"L2"}));
  EXPECT_EQ(lang.GetPropListByType(stDlgsCaptions), nullptr);
  EXPECT_EQ(lang.GetPropListByType(stLocales), nullptr);
  EXPECT_EQ(lang.GetPropListByType(stListView_TreeView_Items), nullptr);
  EXPECT_EQ(lang.GetTextOrDefault("IDS_100"), "No Base Station found");
}

TEST_F(MainWindowTest, PreparingCompletesDialogCaptionsAndDropsExclusions) {
  // 3 in the table + the 83 missing standard ids, English only.
  const auto& dlgs = Section(stDlgsCaptions);
  ASSERT_EQ(dlgs.size(), TStandardDialogCaptions::kCount);
  EXPECT_EQ(dlgs[2], T::Entry("Cancel", {"Cancel", "Annuleren", "A&nnuler", "&Abbrechen"}));
  EXPECT_EQ(dlgs[3],
            "Error\x01"
            "Error\x01");
  EXPECT_EQ(dlgs.back(),
            "Find\x01"
            "Find\x01");
  EXPECT_EQ(dlgs[12], "No To All\x01N&o to All\x01");

  // "Font" is excluded: fonts never follow the language.
  EXPECT_TRUE(Section(stFonts).empty());
  // SmartExcludeProps removes J10 and lblVersion captions.
  for (const auto& e : Section(stCaptions)) {
    EXPECT_FALSE(e.starts_with("J10\x01")) << e;
    EXPECT_FALSE(e.starts_with("lblVersion\x01")) << e;
  }
  EXPECT_EQ(Section(stCaptions).size(), 7u);

  // Preparing again adds nothing.
  lang.Prepare();
  EXPECT_EQ(Section(stDlgsCaptions).size(), TStandardDialogCaptions::kCount);
}

TEST(Prepare, ExclusionRules) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  w.Add("lblA", "TLabel");
  w.Add("edt", "TEdit");
  TsiLangRT lang(&w);
  lang.LoadTranslationData(T::Utf16({
      "stCaptions_Unicode",
      T::Entry("lblA", {"a"}),
      T::Entry("edt", {"e"}),
      "stHints_Unicode",
      T::Entry("edt", {"hint"}),
      "stMultiLines_Unicode",
      T::Entry("edt.Lines", {"a,b"}),
      T::Entry("edt.PickList", {"p"}),
      "stOtherStrings_Unicode",
      T::Entry("edt.Name", {"n"}),
      T::Entry("edt.Font.Name", {"Arial"}),
      T::Entry("edt.TextHint", {"h"}),
      T::Entry("edt.Sub.HelpKeyword", {"k"}),
      "stCollections_Unicode",
      T::Entry("edt.Columns[0].Title", {"t"}),
  }));
  lang.SmartExcludeProps = {"!TLabel.Caption", "edt.TextHint"};
  lang.ExcludedProperties = lang.DefaultExcludedProperties();
  lang.ExcludedProperties.push_back("Hint");
  lang.Prepare();
  EXPECT_EQ(*lang.GetPropListByType(stCaptions), std::vector<std::string>{T::Entry("edt", {"e"})});
  EXPECT_TRUE(lang.GetPropListByType(stHints)->empty());
  EXPECT_EQ(*lang.GetPropListByType(stMultiLines), std::vector<std::string>{T::Entry("edt.Lines", {"a,b"})});
  EXPECT_TRUE(lang.GetPropListByType(stOtherStrings)->empty());
  EXPECT_EQ(lang.GetPropListByType(stCollections)->size(), 1u);

  lang.ExcludedProperties = {"Caption"};
  lang.Prepare();
  EXPECT_TRUE(lang.GetPropListByType(stCaptions)->empty());
}

TEST_F(MainWindowTest, MessagesFallBackToEnglishAndIgnoreCase) {
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "Marq Utility Translation");
  lang.SetActiveLanguage(2);
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "Marq Utility vertaling");
  EXPECT_EQ(lang.GetTextOrDefault("ids_5"), "Marq Utility vertaling");
  lang.SetActiveLanguage(4);  // German: no text
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "Marq Utility Translation");
  EXPECT_EQ(lang.GetTextOrDefault("IDS_99"), "");
  EXPECT_EQ(lang.GetTextOrDefault(""), "");

  // Without the default language English is still the last resort.
  lang.UseDefaultLanguage = false;
  EXPECT_EQ(lang.GetTextOrDefault("IDS_8"), "Translation");

  lang.RaiseOnUnknownString = true;
  try {
    (void)lang.GetTextOrDefault("IDS_99");
    FAIL();
  } catch (const ELanguageError& e) {
    EXPECT_STREQ(e.what(), "String identifier \"IDS_99\" not found!");
  }
}

TEST(EntryText, FallbacksAndShortEntries) {
  TsiLangRT lang(nullptr);
  lang.SetNumOfLanguages(3);
  lang.SetActiveLanguage(3);
  lang.DefaultLanguage = 2;
  const std::string e =
      "x\x01"
      "one\x01two\x01\x01";
  EXPECT_EQ(lang.EntryText(e), "");
  lang.UseDefaultLanguage = true;
  EXPECT_EQ(lang.EntryText(e), "two");
  const std::string onlyEnglish = "x\x01one\x01\x01\x01";
  EXPECT_EQ(lang.EntryText(onlyEnglish), "");
  lang.TranslateType = TTranslateType::ttGetDefault;
  EXPECT_EQ(lang.EntryText(onlyEnglish), "one");
  // No closing delimiter: the last field reads as empty.
  lang.SetActiveLanguage(1);
  EXPECT_EQ(lang.EntryText("x\x01one"), "");
  EXPECT_EQ(lang.EntryText("no delimiter at all"), "");
}

TEST_F(MainWindowTest, SwitchToDutchAndBack) {
  window.Add("lblFirmware", "TLabel").texts["Caption"] = "V1.2";
  window.Add("J0", "TLabel").texts["Caption"] = "9.5";

  lang.SetActiveLanguage(2);
  EXPECT_EQ(lang.Language(), "Dutch");
  EXPECT_EQ(window.Text("btnAbort"), "Test afbreken");
  EXPECT_EQ(window.Text("btnCmd"), "Send cmd");  // empty Dutch text: English stays
  EXPECT_EQ(window.Text("SpTBXItemNextDive"), "Volgende\r\nSprong");
  EXPECT_EQ(window.Text("SpTBXItemHelp"), "&Help");
  EXPECT_EQ(window.Text("lblFirmware"), "V1.2");
  EXPECT_EQ(window.Text("J0"), "9.5");
  EXPECT_EQ(window.Text("J10"), "");                // excluded pair
  EXPECT_EQ(window.Text("lblVersion"), "3.5.0.0");  // excluded pair
  EXPECT_EQ(window.Text("", "Caption"), "Marq Utility");
  EXPECT_EQ(window.Text("siTaskDialog1", "ExpandButtonCaption"), "Meer..");
  EXPECT_EQ(window.List("rgDCS"), (std::vector<std::string>{"ON", "OFF"}));
  // Only what changed was written: no rgDCS items, no "Marq", no btnCmd.
  EXPECT_EQ(window.Writes,
            (std::vector<std::string>{"btnAbort.Caption=Test afbreken", "SpTBXItemNextDive.Caption=Volgende\r\nSprong",
                                      "SpTBXItemHelp.Caption=&Help", "siTaskDialog1.ExpandButtonCaption=Meer.."}));

  window.Writes.clear();
  lang.SetActiveLanguage(1);
  EXPECT_EQ(window.Text("btnAbort"), "Abort test");
  EXPECT_EQ(window.Text("SpTBXItemNextDive"), "Next\r\nDive");
  EXPECT_EQ(window.Text("SpTBXItemHelp"), "Help");
  EXPECT_EQ(window.Text("lblFirmware"), "V1.2");
  // The expand caption ("More.." looks like a path) is rewritten on every switch.
  EXPECT_EQ(window.Writes.back(), "siTaskDialog1.ExpandButtonCaption=More..");
}

TEST_F(MainWindowTest, ListItemsWrittenOnlyWhenTheyDiffer) {
  window.Add("rgDCS", "TRadioGroup").lists["Items"] = {"AN", "AUS", "extra"};
  lang.SetActiveLanguage(3);
  EXPECT_EQ(window.List("rgDCS"), (std::vector<std::string>{"ON", "OFF"}));
  const auto writes = std::count_if(window.Writes.begin(), window.Writes.end(),
                                    [](const std::string& w) { return w.starts_with("rgDCS.Items"); });
  EXPECT_EQ(writes, 1);
  window.Writes.clear();
  lang.SetActiveLanguage(5);
  lang.SetActiveLanguage(4);  // German: empty, English "ON,OFF" already shown
  for (const auto& w : window.Writes) EXPECT_FALSE(w.starts_with("rgDCS")) << w;
}

TEST_F(MainWindowTest, SameLanguageAgainChangesNothing) {
  lang.SetActiveLanguage(2);
  window.Add("btnAbort", "TLabel").texts["Caption"] = "Changed by code";
  window.Writes.clear();
  lang.SetActiveLanguage(2);
  EXPECT_TRUE(window.Writes.empty());
  EXPECT_EQ(window.Text("btnAbort"), "Changed by code");
}

TEST_F(MainWindowTest, MissingComponentsAndPropertiesAreSkipped) {
  TFakeLangWindow bare("TfrmMain2", "frmMain2");
  bare.Add("btnAbort", "TPanel");  // no Caption property
  TsiLangRT other(&bare);
  other.ApplyMainWindowSettings();
  other.LoadTranslationData(T::Utf16(T::MainWindowLines()));
  other.Prepare();
  EXPECT_NO_THROW(other.SetActiveLanguage(2));
  EXPECT_TRUE(bare.Writes.empty());
}

TEST(ChangeLanguage, WindowOwnCaptionAndEntriesNamedByTheWindow) {
  TFakeLangWindow w("TfrmAbout", "frmAbout");
  w.Self().texts["Caption"] = "About";
  w.Self().texts["Hint"] = "h";
  TsiLangRT lang(&w);
  lang.SetNumOfLanguages(2);
  lang.LoadTranslationData(T::Utf16({"stCaptions_Unicode", T::Entry("TfrmAbout", {"About", "Over"}, "\x01", 2),
                                     "stHints_Unicode", T::Entry("frmAbout", {"h", "hint NL"}, "\x01", 2)}));
  lang.Prepare();
  lang.SetActiveLanguage(2);
  EXPECT_EQ(w.Text("", "Caption"), "Over");
  EXPECT_EQ(w.Text("", "Hint"), "hint NL");

  // Excluded through SmartExcludeProps: the window keeps its caption.
  lang.SmartExcludeProps = {"TfrmAbout.Caption"};
  lang.SetActiveLanguage(1);
  EXPECT_EQ(w.Text("", "Caption"), "Over");
  EXPECT_EQ(w.Text("", "Hint"), "h");
}

TEST(Settings, ErrorsAndLanguageCount) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  TsiLangRT lang(&w);
  try {
    TsiLangLinked second(&w);
    FAIL() << "a second component in the same window was accepted";
  } catch (const ELanguageError& e) {
    EXPECT_STREQ(e.what(), "Only one TsiCustomLang component per Form/DataModule allowed!");
  }
  lang.ApplyMainWindowSettings();
  for (const int bad : {0, 11}) {
    try {
      lang.SetActiveLanguage(bad);
      FAIL();
    } catch (const ELanguageError& e) {
      EXPECT_EQ(std::string(e.what()), "TfrmMain: " + std::to_string(bad) +
                                           " - is not a valid property value!\rValue must be within [1..10]!");
    }
  }
  EXPECT_EQ(lang.ActiveLanguage(), 1);
  TsiLangRT windowless(nullptr);
  try {
    windowless.SetActiveLanguage(2);
    FAIL();
  } catch (const ELanguageError& e) {
    EXPECT_STREQ(e.what(), "2 - is not a valid property value!\rValue must be within [1..1]!");
  }
  try {
    lang.SetNumOfLanguages(0);
    FAIL();
  } catch (const ELanguageError& e) {
    EXPECT_STREQ(e.what(), "0 - is not a valid property value !\rValue must be more than ZERO !");
  }
  try {
    lang.SetLanguage("Klingon");
    FAIL();
  } catch (const ELanguageError& e) {
    EXPECT_STREQ(e.what(), "Language name shall be included in LangNames property!");
  }
  lang.SetLanguage("spanish");
  EXPECT_EQ(lang.ActiveLanguage(), 5);
  EXPECT_EQ(lang.Language(), "Spanish");

  // Growing pads the names; shrinking cuts names and columns.
  lang.LoadTranslationData(T::Utf16({"stStrings_Unicode", T::Entry("IDS_1", {"a", "b", "c", "d", "e", "f"})}));
  lang.SetNumOfLanguages(12);
  EXPECT_EQ(lang.LangNames()[10], "Language N11");
  EXPECT_EQ(lang.LangNames()[11], "Language N12");
  lang.SetNumOfLanguages(2);
  EXPECT_EQ(lang.LangNames(), (std::vector<std::string>{"English", "Dutch"}));
  EXPECT_EQ(lang.GetPropListByType(stStrings)->front(),
            "IDS_1\x01"
            "a\x01"
            "b\x01");

  // A new delimiter converts the entries.
  lang.SetLangDelim('|');
  EXPECT_EQ(lang.GetPropListByType(stStrings)->front(), "IDS_1|a|b|");
  EXPECT_THROW(lang.SetLangDelim(13), ELanguageError);
  EXPECT_THROW(lang.SetLangDelim(0), ELanguageError);
}

TEST(ComponentRegistry, WindowIsFreeAgainAfterDestruction) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  { TsiLangRT first(&w); }
  EXPECT_NO_THROW(TsiLangRT second(&w));
}
