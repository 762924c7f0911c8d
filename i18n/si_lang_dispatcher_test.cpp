#include "i18n/si_lang_dispatcher.h"

#include "i18n/fake_lang_window.h"
#include "i18n/message_only_lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"
#include "i18n/test_tables.h"
#include "i18n/test_windows.h"

#include <gtest/gtest.h>

#include <memory>

using namespace mq::i18n;
using T = TTestTables;

namespace {

// The program's two windows linked to one dispatcher, without a file.
class TwoWindowsTest : public ::testing::Test, protected TTestWindows {
 protected:
  TwoWindowsTest() {
    main.Add("btnAbort").texts["Caption"] = "Abort test";
    main.Add("btnCmd").texts["Caption"] = "Send cmd";
    LinkMain();
    LinkPad();
  }
};

}  // namespace

TEST_F(TwoWindowsTest, SwitchesEveryWindowInLinkOrder) {
  ASSERT_EQ(dispatcher.LinkedComponents().size(), 2u);
  EXPECT_EQ(dispatcher.LinkedComponents()[0], mainLang.get());
  int padLanguageWhileMainSwitched = 0;
  main.OnWrite = [&] { padLanguageWhileMainSwitched = padLang->ActiveLanguage(); };
  int changed = 0;
  dispatcher.OnLanguageChanged = [&] { ++changed; };

  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(padLanguageWhileMainSwitched, 1);  // the main window went first
  EXPECT_EQ(dispatcher.ActiveLanguage(), 2);
  EXPECT_EQ(dispatcher.Language(), "Dutch");
  EXPECT_EQ(mainLang->ActiveLanguage(), 2);
  EXPECT_EQ(padLang->ActiveLanguage(), 2);
  EXPECT_EQ(main.Text("btnAbort"), "Test afbreken");
  EXPECT_EQ(main.Text("btnCmd"), "Send cmd");
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_102"), "N/A");
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_106"), "Beschikbare Poorten:");
  EXPECT_EQ(changed, 1);

  dispatcher.SetActiveLanguage(6);  // Italian: IDS_103 is empty there
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_103"), "Please run a 'Scans, Full Scan' first");
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_99"), "");
}

TEST_F(TwoWindowsTest, SameLanguageAgainIsNoSwitch) {
  dispatcher.SetActiveLanguage(2);
  main.Add("btnAbort").texts["Caption"] = "set by code";
  main.Writes.clear();
  int changing = 0;
  dispatcher.OnLanguageChanging = [&](int) { return ++changing, true; };
  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(changing, 0);
  EXPECT_TRUE(main.Writes.empty());
  EXPECT_EQ(main.Text("btnAbort"), "set by code");
}

TEST_F(TwoWindowsTest, RejectedNumberLeavesEveryWindowAsItWas) {
  dispatcher.SetActiveLanguage(3);
  main.Writes.clear();
  for (const int bad : {0, 11}) {
    try {
      dispatcher.SetActiveLanguage(bad);
      FAIL() << bad;
    } catch (const ELanguageError& e) {
      EXPECT_EQ(std::string(e.what()), "TfrmMain: " + std::to_string(bad) +
                                           " - is not a valid property value!\rValue must be within [1..10]!");
    }
    EXPECT_EQ(dispatcher.ActiveLanguage(), 3);
    EXPECT_EQ(dispatcher.Language(), "French");
    EXPECT_EQ(mainLang->ActiveLanguage(), 3);
    EXPECT_EQ(padLang->ActiveLanguage(), 3);
    EXPECT_TRUE(main.Writes.empty());
  }
  // A component linking afterwards still gets a valid language.
  TFakeLangWindow late("TfrmLate", "frmLate");
  TsiLangLinked lateLang(&late);
  lateLang.ApplyPadLinkSettings();
  lateLang.Loaded(&dispatcher);
  EXPECT_EQ(lateLang.ActiveLanguage(), 3);
}

TEST_F(TwoWindowsTest, VetoAndUnlinking) {
  dispatcher.OnLanguageChanging = [](int v) { return v != 4; };
  dispatcher.SetActiveLanguage(4);
  EXPECT_EQ(dispatcher.ActiveLanguage(), 1);
  EXPECT_EQ(mainLang->ActiveLanguage(), 1);

  padLang.reset();  // a destroyed component leaves the list
  ASSERT_EQ(dispatcher.LinkedComponents().size(), 1u);
  dispatcher.SetActiveLanguage(5);
  EXPECT_EQ(mainLang->ActiveLanguage(), 5);
  mainLang->SetLangDispatcher(nullptr);
  EXPECT_TRUE(dispatcher.LinkedComponents().empty());
  EXPECT_EQ(mainLang->LangDispatcher(), nullptr);
}

TEST(Dispatcher, LinkingTakesTheDispatchersLanguage) {
  TsiLangDispatcher dispatcher;
  dispatcher.ApplyProgramSettings();
  EXPECT_EQ(dispatcher.NumOfLanguages(), 10);
  EXPECT_EQ(dispatcher.Language(), "English");
  // Without components the dispatcher checks against its own count.
  EXPECT_THROW(dispatcher.SetActiveLanguage(11), ELanguageError);
  dispatcher.SetActiveLanguage(5);

  TFakeLangWindow main("TfrmMain", "frmMain");
  main.Add("btnCmd").texts["Caption"] = "Send cmd";
  TsiLangRT lang(&main);
  lang.NeedAllDlgs = true;
  lang.LoadTranslationData(T::Utf16(T::MainWindowLines()));
  lang.Loaded(&dispatcher);  // a one-language component takes the ten names first
  EXPECT_EQ(lang.NumOfLanguages(), 10);
  EXPECT_EQ(lang.ActiveLanguage(), 5);
  EXPECT_EQ(lang.Language(), "Spanish");
  EXPECT_EQ(main.Text("btnCmd"), "Enviar cmd");
  lang.Loaded(&dispatcher);  // linking twice keeps one entry
  EXPECT_EQ(dispatcher.LinkedComponents().size(), 1u);
}

TEST(Dispatcher, DestroyedDispatcherReleasesComponents) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  TsiLangRT lang(&w);
  {
    TsiLangDispatcher dispatcher;
    lang.Loaded(&dispatcher);
    EXPECT_EQ(lang.LangDispatcher(), &dispatcher);
  }
  EXPECT_EQ(lang.LangDispatcher(), nullptr);
}
