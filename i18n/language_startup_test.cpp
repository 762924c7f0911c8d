#include "i18n/language_startup.h"

#include "i18n/fake_lang_window.h"
#include "i18n/message_only_lang_window.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"
#include "i18n/sib_format_error.h"
#include "i18n/sib_test_writer.h"
#include "i18n/test_tables.h"
#include "i18n/test_windows.h"
#include "i18n/text_codec.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace mq::i18n;
using T = TTestTables;
using S = TLanguageStartup;

namespace {

class LanguageStartupTest : public ::testing::Test, protected TTestWindows {
 protected:
  LanguageStartupTest() {
    main.Add("btnAbort").texts["Caption"] = "Abort test";
    LinkMain();
    // A data folder with a non-ASCII name: file names are UTF-8 text.
    folder = std::filesystem::temp_directory_path() /
             TTextCodec::PathFromUtf8("mq_i18n_startup_Türkçe_" +
                                      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(folder);
  }
  ~LanguageStartupTest() override {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::string Folder() const { return TTextCodec::Utf8FromPath(folder / ""); }
  std::filesystem::path folder;
};

}  // namespace

TEST_F(LanguageStartupTest, NoTranslationFileLoadsNothing) {
  EXPECT_EQ(S::TranslationFilePath("/var/lib/Corvane/Ledgerkit/"),
            std::filesystem::path("/var/lib/Corvane/Ledgerkit/MqTool.sib"));
  EXPECT_FALSE(S::LoadTranslationFile(dispatcher, Folder()));
  EXPECT_EQ(dispatcher.FileName, folder / "MqTool.sib");
  EXPECT_TRUE(main.Writes.empty());
  const auto act = S::ActivateLanguage(dispatcher, 5);
  EXPECT_TRUE(act.ok);
  EXPECT_EQ(act.flagImage, 18);
  LinkPad();
  EXPECT_EQ(padLang->ActiveLanguage(), 5);
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_102"), "N/A");
}

TEST_F(LanguageStartupTest, TranslationFileIsLoadedWhenPresent) {
  const auto table = T::Utf16({"stCaptions_Unicode", T::Entry("btnAbort", {"From file"}), "stStrings_Unicode"});
  const auto bytes = TSibTestWriter::File(
      {{"TfrmMain", TSibTestWriter::StandardRecord(table, TsiLangDispatcher::ProgramLangNames())}});
  std::ofstream(folder / "MqTool.sib", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(S::LoadTranslationFile(dispatcher, Folder()));
  EXPECT_EQ(main.Text("btnAbort"), "From file");
}

#ifndef _WIN32
// Anyone in the data folder's group may put something in the translation
// file's place: a link is not followed, a FIFO is not waited on, and either
// is reported, naming the file, while the built-in texts stay.
TEST_F(LanguageStartupTest, ALinkOrFifoInTheFilesPlaceIsRefusedAndReported) {
  const std::string sib = Folder() + "MqTool.sib";
  for (const bool fifo : {false, true}) {
    if (fifo)
      ASSERT_EQ(mkfifo(sib.c_str(), 0666), 0);
    else
      std::filesystem::create_symlink("/dev/zero", folder / "MqTool.sib");
    try {
      S::LoadTranslationFile(dispatcher, Folder());
      ADD_FAILURE() << "loaded through " << (fifo ? "a FIFO" : "a link");
    } catch (const ESibFormatError& e) {
      EXPECT_NE(std::string(e.what()).find(sib), std::string::npos) << e.what();
    }
    EXPECT_EQ(main.Text("btnAbort"), "Abort test");
    std::filesystem::remove(folder / "MqTool.sib");
  }
}
#endif

TEST_F(LanguageStartupTest, RejectedSavedLanguageIsReported) {
  const auto act = S::ActivateLanguage(dispatcher, 11);
  EXPECT_FALSE(act.ok);
  EXPECT_EQ(act.error, "TfrmMain: 11 - is not a valid property value!\rValue must be within [1..10]!");
  EXPECT_EQ(act.flagImage, 14);
  EXPECT_EQ(dispatcher.ActiveLanguage(), 1);
  LinkPad();  // the pad-link form still links in a valid language
  EXPECT_EQ(padLang->ActiveLanguage(), 1);
}

TEST(LanguageStartup, EnablingMaskAndFlags) {
  using E = std::array<std::optional<bool>, 10>;
  EXPECT_EQ(S::LanguageItemsEnabled("1110100000"),
            (E{true, true, true, false, true, false, false, false, false, false}));
  EXPECT_EQ(S::LanguageItemsEnabled("1"), (E{true}));
  EXPECT_EQ(S::LanguageItemsEnabled(""), E{});
  EXPECT_EQ(S::LanguageItemsEnabled("1x2 1111111111111"),
            (E{true, false, false, false, true, true, true, true, true, true}));
  EXPECT_EQ(S::FlagImageIndex(1), 14);
  EXPECT_EQ(S::FlagImageIndex(10), 23);
  EXPECT_EQ(S::FlagImageIndex(0), 13);
  EXPECT_EQ(S::FlagImageIndex(11), 13);
}

TEST_F(LanguageStartupTest, YourLanguageTexts) {
  auto t = S::YourLanguageTexts(*mainLang);
  EXPECT_EQ(t.caption, "Marq Utility Translation");
  EXPECT_EQ(t.instruction, "Translation");
  EXPECT_EQ(t.content,
            "If you are willing to help translate this program\r\n"
            "into your language, please send me an email.");
  EXPECT_EQ(t.expandedText,
            "Translating this program is not a big job.  "
            "You will be provided with the necessary tools and information.");
  EXPECT_EQ(S::YourLanguageFallbackMessage(*mainLang), t.content);
  dispatcher.SetActiveLanguage(2);
  t = S::YourLanguageTexts(*mainLang);
  EXPECT_EQ(t.caption, "Marq Utility vertaling");
  EXPECT_EQ(t.expandedText,
            "Vertalen van dit programma is niet een enorme klus.  "
            "U wordt voorzien van de nodige tools en informatie.");
  dispatcher.SetActiveLanguage(4);  // no German texts: English
  EXPECT_EQ(S::YourLanguageTexts(*mainLang).instruction, "Translation");
}

TEST_F(LanguageStartupTest, RelabelsDialogControlsInTheActiveLanguageOnly) {
  const std::vector<std::string> children{"OK", "&Cancel", "", "Information", "Unknown", "Warning"};
  using R = std::vector<std::optional<std::string>>;
  // English: every caption already reads as its translation, or is an
  // accelerator variant ("&Cancel" vs "Cancel").
  EXPECT_EQ(S::RelabelDialogTexts(*mainLang, children),
            (R{std::nullopt, "Cancel", std::nullopt, std::nullopt, std::nullopt, std::nullopt}));
  dispatcher.SetActiveLanguage(7);
  EXPECT_EQ(S::RelabelDialogTexts(*mainLang, {"OK"}), (R{"U redu"}));
  dispatcher.SetActiveLanguage(8);
  EXPECT_EQ(S::RelabelDialogTexts(*mainLang, {"OK"}), (R{"Tamam"}));
  dispatcher.SetActiveLanguage(4);
  // German: "Information" has only English (no fallback), "Warning" has a text.
  EXPECT_EQ(S::RelabelDialogTexts(*mainLang, children),
            (R{std::nullopt, "&Abbrechen", std::nullopt, std::nullopt, std::nullopt, "Warnung"}));
  // Texts are read up to 255 characters only.
  EXPECT_EQ(S::RelabelDialogTexts(*mainLang, {"OK" + std::string(300, ' ')}), (R{std::nullopt}));

  // The pad-link form keeps no dialog captions.
  LinkPad();
  EXPECT_EQ(S::RelabelDialogTexts(*padLang, {"OK"}), (R{std::nullopt}));
}
