#include "i18n/catalogue/builtin_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "i18n/catalogue/table_decoder_test_util.h"

namespace mq::i18n {
namespace {

using testing::DecodedSection;
using testing::DecodedTable;
using testing::DecodeStoredTable;

enum Lang { kEnglish = 1, kDutch, kFrench, kGerman, kSpanish, kItalian, kCroatian, kTurkish, kDanish, kSwedish };

const DecodedTable& MainTable() {
  static const DecodedTable t = DecodeStoredTable(BuiltinTranslationData("TfrmMain"));
  return t;
}
const DecodedTable& LinkTable() {
  static const DecodedTable t = DecodeStoredTable(BuiltinTranslationData("TMarqsForm"));
  return t;
}

std::u16string Utf16Of(std::span<const std::uint8_t> bytes) { return testing::Utf16(bytes); }

// Text of entry `name` in section `section` for language `lang`; fails the test when missing.
std::string Text(const DecodedTable& t, std::string_view section, std::string_view name, int lang) {
  const DecodedSection* s = t.Section(section);
  if (s == nullptr) {
    ADD_FAILURE() << "no section " << section;
    return {};
  }
  const auto* e = s->Find(name);
  if (e == nullptr) {
    ADD_FAILURE() << "no entry " << name << " in " << section;
    return {};
  }
  return e->texts.at(lang - 1);
}

// --- Stored layout ------------------------------------------------------------

TEST(BuiltinTablesLayout, BothWindowsDecodeCleanly) {
  EXPECT_EQ(MainTable().error, "");
  EXPECT_EQ(LinkTable().error, "");
  EXPECT_FALSE(BuiltinTranslationData("TfrmMain").empty());
  EXPECT_FALSE(BuiltinTranslationData("TMarqsForm").empty());
}

TEST(BuiltinTablesLayout, OtherNamesHaveNoTable) {
  EXPECT_TRUE(BuiltinTranslationData("").empty());
  EXPECT_TRUE(BuiltinTranslationData("TfrmHelp").empty());
  EXPECT_TRUE(BuiltinTranslationData("frmMain").empty());
  EXPECT_TRUE(BuiltinTranslationData("TfrmMain ").empty());
}

TEST(BuiltinTablesLayout, MainWindowKeepsEverySectionButListViewItems) {
  const std::vector<std::string> expected = {"stCaptions",   "stHints",        "stDisplayLabels", "stFonts",
                                             "stMultiLines", "stDlgsCaptions", "stStrings",       "stOtherStrings",
                                             "stLocales",    "stCollections",  "stCharSets"};
  EXPECT_EQ(MainTable().SectionNames(), expected);
}

TEST(BuiltinTablesLayout, PadLinkFormHasNoDialogCaptionsAndNoLocales) {
  const std::vector<std::string> expected = {"stCaptions",     "stHints",       "stDisplayLabels",
                                             "stFonts",        "stMultiLines",  "stStrings",
                                             "stOtherStrings", "stCollections", "stCharSets"};
  EXPECT_EQ(LinkTable().SectionNames(), expected);
}

TEST(BuiltinTablesLayout, BytesStartAndEndExactly) {
  for (const char* window : {"TfrmMain", "TMarqsForm"}) {
    SCOPED_TRACE(window);
    const auto bytes = BuiltinTranslationData(window);
    // No byte-order mark: the very first bytes are 's', 0, 't', 0.
    const std::array<std::uint8_t, 8> head = {'s', 0, 't', 0, 'C', 0, 'a', 0};
    ASSERT_GE(bytes.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    const std::u16string text = Utf16Of(bytes);
    EXPECT_TRUE(text.starts_with(u"stCaptions_Unicode\r\n"));
    EXPECT_TRUE(text.ends_with(u"\r\nstCollections_Unicode\r\nstCharSets_Unicode\r\n"));
  }
  EXPECT_TRUE(Utf16Of(BuiltinTranslationData("TfrmMain")).starts_with(u"stCaptions_Unicode\r\nbtnAbort\x01"));
  // The pad-link form has no entries at all outside its strings.
  EXPECT_TRUE(Utf16Of(BuiltinTranslationData("TMarqsForm"))
                  .starts_with(u"stCaptions_Unicode\r\nstHints_Unicode\r\nstDisplayLabels_Unicode\r\n"
                               u"stFonts_Unicode\r\nstMultiLines_Unicode\r\nstStrings_Unicode\r\nIDS_100\x01"));
}

TEST(BuiltinTablesLayout, EveryEntryHasElevenDelimitersAndEndsWithOne) {
  for (const DecodedTable* t : {&MainTable(), &LinkTable()}) {
    for (const auto& s : t->sections) {
      for (const auto& e : s.entries) {
        EXPECT_EQ(e.delimiters, 11u) << s.name << " " << e.name;
        EXPECT_EQ(e.line.back(), testing::kDelim) << s.name << " " << e.name;
        EXPECT_FALSE(e.name.empty());
      }
    }
  }
}

TEST(BuiltinTablesLayout, LineBreaksAreStoredAsCharacters25And26) {
  const auto* e = MainTable().Section("stCaptions")->Find("SpTBXItemNextDive");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->line,
            u"SpTBXItemNextDive\x01Next\x19\x1a"
            u"Dive\x01Volgende\x19\x1aSprong\x01Prochain\x19\x1aPlongeon\x01\x01"
            u"Siguiente\x19\x1aSalto\x01\x01\x01\x01\x01\x01");
  EXPECT_EQ(e->texts[kEnglish - 1], "Next\r\nDive");
  // No raw CR or LF anywhere but at line ends.
  for (const auto& line : MainTable().lines) {
    EXPECT_EQ(line.find_first_of(u"\r\n"), std::u16string::npos);
  }
}

TEST(BuiltinTablesLayout, NonLatinLettersAreSingleUtf16Units) {
  const auto* e = MainTable().Section("stCaptions")->Find("SpTBXLang8");
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->line.starts_with(u"SpTBXLang8\x01T\u00FCrk\u00E7e\x01"));
  const auto* abort = MainTable().Section("stDlgsCaptions")->Find("Abort");
  ASSERT_NE(abort, nullptr);
  EXPECT_NE(abort->line.find(u"\x01\u0130ptal\x01"), std::u16string::npos);  // Turkish capital dotted I
}

TEST(BuiltinTablesLayout, LanguageNamesInColumnOrder) {
  const std::vector<std::string_view> expected = {"English", "Dutch",    "French",  "German", "Spanish",
                                                  "Italian", "Croatian", "Turkish", "Danish", "Swedish"};
  const auto names = BuiltinLanguageNames();
  EXPECT_EQ(std::vector<std::string_view>(names.begin(), names.end()), expected);
}

// --- Coverage -----------------------------------------------------------------

struct CoverageRow {
  const DecodedTable& (*table)();
  const char* section;
  std::size_t entries;
  std::array<int, 10> perLanguage;
};

TEST(BuiltinTablesCoverage, TextsPerSectionAndLanguage) {
  const CoverageRow rows[] = {
      {MainTable, "stCaptions", 89, {89, 85, 89, 14, 89, 52, 56, 54, 47, 47}},
      {MainTable, "stMultiLines", 1, {1, 0, 1, 0, 1, 0, 0, 0, 0, 0}},
      {MainTable, "stDlgsCaptions", 86, {86, 84, 86, 16, 86, 79, 86, 85, 86, 86}},
      // IDS_0 to IDS_8, then the program's own texts (the log, the settings
      // file, the error-report window, the echo report), in every language.
      {MainTable, "stStrings", 74, {74, 74, 74, 67, 74, 69, 69, 69, 69, 69}},
      {MainTable, "stOtherStrings", 1, {1, 1, 1, 0, 1, 0, 0, 0, 0, 0}},
      {LinkTable, "stStrings", 22, {22, 22, 22, 15, 22, 17, 16, 16, 15, 15}},
  };
  for (const auto& row : rows) {
    const DecodedSection* s = row.table().Section(row.section);
    ASSERT_NE(s, nullptr) << row.section;
    SCOPED_TRACE(std::string(row.table().Section("stDlgsCaptions") ? "TfrmMain " : "TMarqsForm ") + row.section);
    EXPECT_EQ(s->entries.size(), row.entries);
    for (int lang = 1; lang <= 10; ++lang) {
      EXPECT_EQ(s->CountTexts(lang), row.perLanguage[lang - 1]) << "language " << lang;
    }
  }
}

TEST(BuiltinTablesCoverage, AllOtherSectionsAreEmpty) {
  for (const auto& s : MainTable().sections) {
    if (s.name == "stCaptions" || s.name == "stMultiLines" || s.name == "stDlgsCaptions" || s.name == "stStrings" ||
        s.name == "stOtherStrings") {
      continue;
    }
    EXPECT_TRUE(s.entries.empty()) << "TfrmMain " << s.name;
  }
  for (const auto& s : LinkTable().sections) {
    if (s.name != "stStrings") {
      EXPECT_TRUE(s.entries.empty()) << "TMarqsForm " << s.name;
    }
  }
}

TEST(BuiltinTablesCoverage, JudgeLabelFamilies) {
  for (const char* family : {"JLab", "lblJ"}) {
    for (int k = 0; k <= 11; ++k) {
      const std::string name = family + std::to_string(k);
      SCOPED_TRACE(name);
      const std::string n = std::to_string(k);
      const auto* e = MainTable().Section("stCaptions")->Find(name);
      ASSERT_NE(e, nullptr);
      const std::vector<std::string> expected = {"J" + n,
                                                 "J" + n,
                                                 "J" + n,
                                                 "",
                                                 "J" + n,
                                                 "G" + n,
                                                 "S" + n,
                                                 "J" + n,
                                                 k == 0 ? "" : "D" + n,
                                                 k == 0 ? "" : "D" + n};
      EXPECT_EQ(e->texts, expected);
    }
  }
}

TEST(BuiltinTablesCoverage, EchoReportRowFamily) {
  for (int k = 0; k <= 11; ++k) {
    const std::string n = std::to_string(k);
    const auto* e = MainTable().Section("stCaptions")->Find("Pad" + n);
    ASSERT_NE(e, nullptr) << k;
    const bool danishSwedish = k >= 1 && k <= 7;
    const std::vector<std::string> expected = {n,
                                               n,
                                               n,
                                               "",
                                               n,
                                               k <= 7 ? n : "",
                                               k == 8 ? "" : n,
                                               k == 8 ? "" : n,
                                               danishSwedish ? n : "",
                                               danishSwedish ? n : ""};
    EXPECT_EQ(e->texts, expected) << "Pad" << k;
  }
}

TEST(BuiltinTablesCoverage, LanguageItemsShowTheirOwnNameInEveryColumn) {
  const char* native[] = {"English",  "Nederland", "Français", "Deutsch", "Español",
                          "Italiano", "Hrvatski",  "Türkçe",   "Dansk",   "Svenska"};
  for (int n = 1; n <= 10; ++n) {
    const auto* e = MainTable().Section("stCaptions")->Find("SpTBXLang" + std::to_string(n));
    ASSERT_NE(e, nullptr) << n;
    EXPECT_EQ(e->texts, std::vector<std::string>(10, native[n - 1])) << n;
  }
}

// The context menus' captions (mnu...) came later, in all ten languages.
TEST(BuiltinTablesCoverage, GermanCaptionsAreOnlyHelpLanguageNamesAndContextMenus) {
  for (const auto& e : MainTable().Section("stCaptions")->entries) {
    const bool expectGerman = e.name == "SpTBXItemHelp" ||
                              (e.name.starts_with("SpTBXLang") && e.name != "SpTBXLangX") || e.name.starts_with("mnu");
    EXPECT_EQ(!e.texts[kGerman - 1].empty(), expectGerman) << e.name;
  }
  EXPECT_EQ(Text(MainTable(), "stCaptions", "SpTBXItemHelp", kGerman), "&Hilfe");
}

// --- Exact texts --------------------------------------------------------------

TEST(BuiltinTablesTexts, MainWindowStrings) {
  const std::pair<const char*, const char*> english[] = {
      {"IDS_0", "<pre 910>"},
      {"IDS_1", "If you are willing to help translate this program"},
      {"IDS_2", "into your language, please send me an email."},
      {"IDS_3", "Unable to locate Common Application Data folder."},
      {"IDS_4", "This is a Critical Error."},
      {"IDS_5", "Marq Utility Translation"},
      {"IDS_6", "Translating this program is not a big job.  "},
      {"IDS_7", "You will be provided with the necessary tools and information."},
      {"IDS_8", "Translation"},
      {"IDS_20", "Earlier lines dropped:"},
  };
  // The original messages come first; the program's later texts follow.
  const auto& entries = MainTable().Section("stStrings")->entries;
  ASSERT_GE(entries.size(), std::size(english));
  for (std::size_t i = 0; i < std::size(english); ++i) {
    EXPECT_EQ(entries[i].name, english[i].first);
    EXPECT_EQ(entries[i].texts[0], english[i].second);
  }
  // The expandable text: two blanks between the sentences in each of its languages.
  for (int lang : {kEnglish, kDutch, kFrench, kSpanish}) {
    const std::string six = Text(MainTable(), "stStrings", "IDS_6", lang);
    EXPECT_TRUE(six.ends_with(".  ")) << lang << ": [" << six << "]";
    EXPECT_FALSE(six.ends_with("   ")) << lang;
  }
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_2", kGerman),
            "Sprache zu übersetzen, ein email schicken Sie mir bitte.");
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_3", kDanish), "Kan ikke finde folderen Programmer\\Fælles Filer");
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_3", kSwedish), "Hittar inte mappen Program\\Gemensamma filer");
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_4", kCroatian), "Ovo je kritična greška.");
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_2", kTurkish), "yardım etmek isterseniz, lütfen bana mail atınız");
  EXPECT_EQ(Text(MainTable(), "stStrings", "IDS_2", kDutch), "te vertalen in uw eigen taal , stuur mij dan een email.");
}

TEST(BuiltinTablesTexts, PadLinkStrings) {
  const std::pair<const char*, const char*> english[] = {
      {"IDS_100", "No Base Station found"},
      {"IDS_101", "No ports found"},
      {"IDS_102", "N/A"},
      {"IDS_103", "Please run a 'Scans, Full Scan' first"},
      {"IDS_104", "Start Full Scan"},
      {"IDS_105", "No available ports!"},
      {"IDS_106", "Available port numbers: "},
      {"IDS_107", "permission denied \u2014 ask to be added to the group %1, then log in again"},
      {"IDS_108", "in use by another program"},
      {"IDS_109", "No serial port could be opened:"},
      {"IDS_150", "COM numbers are the links in %1; the machine's own serial ports are not scanned"},
      {"IDS_151", "%1 belongs to user %2: ignored"},
      {"IDS_152", "%1 is not a folder: ignored"},
      {"IDS_158", "%1 holds no link to an existing device (left by a simulator that has ended?): ignored"},
      {"IDS_153", "permission denied \u2014 you were added to the group %1 after logging in: log out and back in"},
      {"IDS_154", "permission denied \u2014 %1 belongs to %2:%3 with mode %4"},
      {"IDS_155", "permission denied"},
      {"IDS_156", "in use by %1 (process %2)"},
      {"IDS_157", "Transmit queue full (%1 frames): further frames are dropped until it has been sent"},
      {"IDS_120", "ended early: the link to the base station was lost"},
      {"IDS_121", "ended early: aborted by the user"},
      {"IDS_122", "Echo test"},
  };
  const auto& entries = LinkTable().Section("stStrings")->entries;
  ASSERT_EQ(entries.size(), std::size(english));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, english[i].first);
    EXPECT_EQ(entries[i].texts[0], english[i].second);
  }
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_106", kDutch), "Beschikbare Poorten:");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_106", kFrench), "Numéros des ports disponibles : ");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_106", kSpanish), "Numeros de puertos disponibles: ");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_103", kFrench), "Veuillez d'abord lancer un \"Scans, Scan complet\"");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_103", kDutch), "A.u.b. eerst 'Scannen, Volledige Scan' uitvoeren");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_103", kItalian), "");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_102", kDutch), "N/A");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_101", kCroatian), "Nije pronađen priključak");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_100", kItalian), "Non è stata trovata una stazione base");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_121", kGerman), "vorzeitig beendet: vom Benutzer abgebrochen");
  EXPECT_EQ(Text(LinkTable(), "stStrings", "IDS_122", kSwedish), "Ekotest");
}

TEST(BuiltinTablesTexts, Captions) {
  const auto& t = MainTable();
  EXPECT_EQ(Text(t, "stCaptions", "btnAbort", kDutch), "Test afbreken");
  EXPECT_EQ(Text(t, "stCaptions", "btnCmd", kDutch), "");
  EXPECT_EQ(Text(t, "stCaptions", "btnCmd", kEnglish), "Send cmd");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXItemEcho", kSpanish), "Echo");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXItemEcho", kFrench), "Test\r\necho");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXSubmenuItemCommand", kDutch), "Commando's");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXCharTest", kFrench), "Test des\r\ncaractères");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXItemExit", kTurkish), "Çıkış");
  EXPECT_EQ(Text(t, "stCaptions", "btnReset", kSwedish), "Återställa");
  EXPECT_EQ(Text(t, "stCaptions", "SpTBXSubmenuItemLang", kFrench), "&Langue..");
  EXPECT_EQ(Text(t, "stCaptions", "rgDCS", kFrench), "Digital Chanel Separation (voir l'aide)");
  EXPECT_EQ(Text(t, "stCaptions", "Label7", kCroatian), "Verzonden");
  // The Next Dive item is two lines wherever it has a text.
  for (int lang = 1; lang <= 10; ++lang) {
    const std::string s = Text(t, "stCaptions", "SpTBXItemNextDive", lang);
    if (!s.empty()) {
      EXPECT_NE(s.find("\r\n"), std::string::npos) << lang;
    }
  }
  // Controls that code fills, and the window's own caption, have no entry.
  for (const char* name : {"TfrmMain", "lblVersion", "SpTBXToolbar1", "J0", "J11", "lblFirmware", "lblPort",
                           "lblChannel", "lblEcho", "lblMQVer", "lblTime", "lblRX", "lblTX", "rgBandwidth"}) {
    EXPECT_EQ(t.Section("stCaptions")->Find(name), nullptr) << name;
  }
}

TEST(BuiltinTablesTexts, ListAndOtherStringEntries) {
  const auto* list = MainTable().Section("stMultiLines");
  ASSERT_EQ(list->entries.size(), 1u);
  EXPECT_EQ(list->entries[0].name, "rgDCS.Items");
  EXPECT_EQ(list->entries[0].texts,
            (std::vector<std::string>{"ON,OFF", "", "ON,OFF", "", "ON,OFF", "", "", "", "", ""}));
  const auto* other = MainTable().Section("stOtherStrings");
  ASSERT_EQ(other->entries.size(), 1u);
  EXPECT_EQ(other->entries[0].name, "siTaskDialog1.ExpandButtonCaption");
  EXPECT_EQ(other->entries[0].texts,
            (std::vector<std::string>{"More..", "Meer..", "Plus..", "", "Mas..", "", "", "", "", ""}));
}

TEST(BuiltinTablesTexts, DialogCaptionIdsInOrderWithEnglish) {
  const std::pair<const char*, const char*> expected[] = {
      {"Warning", "Warning"},
      {"Error", "Error"},
      {"Information", "Information"},
      {"Confirm", "Confirm"},
      {"Yes", "&Yes"},
      {"No", "&No"},
      {"OK", "OK"},
      {"Cancel", "Cancel"},
      {"Abort", "&Abort"},
      {"Retry", "&Retry"},
      {"Ignore", "&Ignore"},
      {"All", "&All"},
      {"No To All", "N&o to All"},
      {"Yes To All", "Yes to &All"},
      {"Help", "&Help"},
      {"Open", "&Open"},
      {"Look in:", "Look &in:"},
      {"File name:", "File &name:"},
      {"Files of type:", "Files of &type:"},
      {"Read-only", "&Read-only"},
      {"Save", "&Save"},
      {"Drives:", "&Drives:"},
      {"Save in:", "Save &in:"},
      {"Save as type:", "Save as &type:"},
      {"Basic colors:", "&Basic colors:"},
      {"Custom colors:", "&Custom colors:"},
      {"Define Custom Colors >>", "&Define Custom Colors >>"},
      {"Color", "Color"},
      {"|Solid", "|S&olid"},
      {"Hue:", "Hu&e:"},
      {"Sat:", "&Sat:"},
      {"Lum:", "&Lum:"},
      {"Red:", "&Red:"},
      {"Green:", "&Green:"},
      {"Blue:", "Bl&ue:"},
      {"Add to Custom Colors", "&Add to Custom Colors"},
      {"Font:", "&Font:"},
      {"Font style:", "Font st&yle:"},
      {"Size:", "Si&ze:"},
      {"Color:", "&Color:"},
      {"Apply", "&Apply"},
      {"Effects", "Effects"},
      {"Strikeout", "Stri&keout"},
      {"Underline", "&Underline"},
      {"Sample", "Sample"},
      {"Script:", "Sc&ript:"},
      {"Printer", "Printer"},
      {"Name:", "&Name:"},
      {"Properties", "&Properties"},
      {"Status:", "Status:"},
      {"Type:", "Type:"},
      {"Where:", "Where:"},
      {"Comment:", "Comment:"},
      {"Paper", "Paper"},
      {"Source:", "&Source:"},
      {"Orientation", "Orientation"},
      {"Portrait", "P&ortrait"},
      {"Landscape", "L&andscape"},
      {"Print to file", "Print to f&ile"},
      {"Print", "Print"},
      {"Pages", "Pa&ges"},
      {"Selection", "&Selection"},
      {"from:", "&from:"},
      {"to:", "&to:"},
      {"Copies", "Copies"},
      {"Number of copies:", "Number of &copies:"},
      {"Collate", "C&ollate"},
      {"Find what:", "Fi&nd what:"},
      {"Match whole words only", "Match &whole words only"},
      {"Match case", "Match &case"},
      {"Direction", "Direction"},
      {"Up", "&Up"},
      {"Down", "&Down"},
      {"Find Next", "&Find Next"},
      {"Replace", "&Replace"},
      {"Replace All", "Replace &All"},
      {"Replace with:", "Re&place with:"},
      {"Picture:", "Picture:"},
      {"Preview", "Preview"},
      {"New Folder", "New Folder"},
      {"Folder:", "Folder:"},
      {"(None)", "(None)"},
      {"Close", "Close"},
      {"Network", "Network"},
      {"Print Setup", "Print Setup"},
      {"Find", "Find"},
  };
  static_assert(std::size(expected) == 86);
  const auto& entries = MainTable().Section("stDlgsCaptions")->entries;
  ASSERT_EQ(entries.size(), 86u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].first) << i;
    EXPECT_EQ(entries[i].texts[0], expected[i].second) << i;
    // Ids are written without accelerator ampersands.
    EXPECT_EQ(entries[i].name.find('&'), std::string::npos) << entries[i].name;
  }
}

TEST(BuiltinTablesTexts, DialogCaptions) {
  const auto& t = MainTable();
  EXPECT_EQ(Text(t, "stDlgsCaptions", "OK", kCroatian), "U redu");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "OK", kTurkish), "Tamam");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Warning", kGerman), "Warnung");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Cancel", kGerman), "&Abbrechen");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Confirm", kGerman), "Die Bestätigen");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "No To All", kDutch), "Nee &op Alles");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Yes To All", kItalian), "Sì t&utti");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Retry", kCroatian), "Pokušaj ponovno");
  EXPECT_EQ(Text(t, "stDlgsCaptions", "Help", kDanish), "Hjælp");
  // The first fifteen, the message-box captions, have a text in every language.
  const auto& entries = t.Section("stDlgsCaptions")->entries;
  for (std::size_t i = 0; i < 15; ++i) {
    for (int lang = 1; lang <= 10; ++lang) {
      EXPECT_FALSE(entries[i].texts[lang - 1].empty()) << entries[i].name << " " << lang;
    }
  }
}

}  // namespace
}  // namespace mq::i18n
