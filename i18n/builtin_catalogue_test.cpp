// The built-in catalogue read through the translation components: the
// coverage of every section per language, and the switches the users see.
// Built only when the catalogue is part of the tree.
#include "i18n/catalogue/builtin_tables.h"
#include "i18n/fake_lang_window.h"
#include "i18n/lang_entry.h"
#include "i18n/message_only_lang_window.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"

#include <gtest/gtest.h>

#include <array>

using namespace mq::i18n;

namespace {

class BuiltinCatalogueTest : public ::testing::Test {
 protected:
  BuiltinCatalogueTest() : main("TfrmMain", "frmMain"), pad("TMarqsForm", "MarqsForm"), mainLang(&main), padLang(&pad) {
    mainLang.ApplyMainWindowSettings();
    mainLang.LoadTranslationData(BuiltinTranslationData("TfrmMain"));
    // The layout: every control with a caption entry shows its English text.
    for (const auto& e : *mainLang.GetPropListByType(stCaptions))
      main.Add(std::string(TLangEntry::Name(e, "\x01"))).texts["Caption"] = std::string(
          TLangEntry::Field(e, "\x01", 1));
    main.Add("rgDCS").lists["Items"] = {"ON", "OFF"};
    main.Add("siTaskDialog1").texts["ExpandButtonCaption"] = "More..";
    mainLang.Loaded(&dispatcher);
    padLang.ApplyPadLinkSettings();
    padLang.LoadTranslationData(BuiltinTranslationData("TMarqsForm"));
    padLang.Loaded(&dispatcher);
  }

  static std::array<int, 10> Coverage(const TsiCustomLang& lang, int section) {
    std::array<int, 10> counts{};
    for (const auto& e : *lang.GetPropListByType(section))
      for (int k = 1; k <= 10; ++k)
        counts[static_cast<std::size_t>(k) - 1] += TLangEntry::Field(e, "\x01", k).empty() ? 0 : 1;
    return counts;
  }

  TsiLangDispatcher dispatcher;
  TFakeLangWindow main;
  TMessageOnlyLangWindow pad;
  TsiLangRT mainLang;
  TsiLangLinked padLang;
};

}  // namespace

TEST_F(BuiltinCatalogueTest, CoveragePerSectionAndLanguage) {
  using C = std::array<int, 10>;
  EXPECT_EQ(mainLang.GetPropListByType(stCaptions)->size(), 89u);
  EXPECT_EQ(Coverage(mainLang, stCaptions), (C{89, 85, 89, 14, 89, 52, 56, 54, 47, 47}));
  EXPECT_EQ(Coverage(mainLang, stMultiLines), (C{1, 0, 1, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(mainLang.GetPropListByType(stDlgsCaptions)->size(), 86u);
  EXPECT_EQ(Coverage(mainLang, stDlgsCaptions), (C{86, 84, 86, 16, 86, 79, 86, 85, 86, 86}));
  EXPECT_EQ(Coverage(mainLang, stStrings), (C{74, 74, 74, 67, 74, 69, 69, 69, 69, 69}));
  EXPECT_EQ(Coverage(mainLang, stOtherStrings), (C{1, 1, 1, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Coverage(padLang, stStrings), (C{22, 22, 22, 15, 22, 17, 16, 16, 15, 15}));
  for (const int empty : {stHints, stDisplayLabels, stFonts, stLocales, stCollections, stCharSets})
    EXPECT_TRUE(mainLang.GetPropListByType(empty)->empty()) << empty;
}

TEST_F(BuiltinCatalogueTest, DutchAndGermanSwitches) {
  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(main.Text("btnCmd"), "Send cmd");
  EXPECT_EQ(main.Text("btnAbort"), "Test afbreken");
  EXPECT_EQ(main.Text("SpTBXItemNextDive"), "Volgende\r\nSprong");
  EXPECT_EQ(main.Text("siTaskDialog1", "ExpandButtonCaption"), "Meer..");
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_102"), "N/A");
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_106"), "Beschikbare Poorten:");

  dispatcher.SetActiveLanguage(4);
  EXPECT_EQ(main.Text("SpTBXItemHelp"), "&Hilfe");
  EXPECT_EQ(main.Text("SpTBXLang4"), "Deutsch");
  EXPECT_EQ(main.Text("btnReset"), "Reset");
  EXPECT_EQ(main.Text("SpTBXItemNextDive"), "Next\r\nDive");
  EXPECT_EQ(mainLang.GetDlgCaption("Warning"), "Warnung");
  EXPECT_EQ(mainLang.GetDlgCaption("Cancel"), "&Abbrechen");
  EXPECT_EQ(mainLang.GetTextOrDefault("IDS_5"), "Marq Utility Translation");
}

TEST_F(BuiltinCatalogueTest, MessagesWithFallback) {
  dispatcher.SetActiveLanguage(6);
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_103"), "Please run a 'Scans, Full Scan' first");
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_99"), "");
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_105"), "No available ports!");
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_108"), "in uso da un altro programma");
  dispatcher.SetActiveLanguage(3);
  EXPECT_EQ(padLang.GetTextOrDefault("IDS_103"), "Veuillez d'abord lancer un \"Scans, Scan complet\"");
  EXPECT_EQ(mainLang.GetTextOrDefault("ids_5"), "Traduction de Marq Utility");
  EXPECT_EQ(main.Text("SpTBXItemNextDive"), "Prochain\r\nPlongeon");
  dispatcher.SetActiveLanguage(5);
  EXPECT_EQ(main.Text("SpTBXItemEcho"), "Echo");
}
