#include "i18n/sib_file_manager.h"

#include "i18n/fake_lang_window.h"
#include "i18n/message_only_lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"
#include "i18n/sib_format_error.h"
#include "i18n/sib_test_writer.h"
#include "i18n/test_tables.h"
#include "i18n/test_windows.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

using namespace mq::i18n;
using T = TTestTables;
using W = TSibTestWriter;
using Bytes = std::vector<std::uint8_t>;

namespace {

const std::vector<std::string> kTen = TsiLangDispatcher::ProgramLangNames();

// A translator's main-window table: other texts than the built-in ones.
Bytes FileMainTable(const std::string& delim = "\x01", std::size_t columns = 10) {
  return T::Utf16({"stCaptions_Unicode", T::Entry("btnAbort", {"Stop test", "Stop de test"}, delim, columns),
                   T::Entry("btnCmd", {"Send command"}, delim, columns), "stStrings_Unicode",
                   T::Entry("IDS_5", {"File translation", "Bestandsvertaling"}, delim, columns)});
}

Bytes PadTable() {
  return T::Utf16({"stStrings_Unicode", T::Entry("IDS_100", {"No base from file", "Geen basis uit bestand"})});
}

class TempFile {
 public:
  TempFile(const Bytes& bytes, const std::string& name = "MqTool.sib") {
    dir_ = std::filesystem::temp_directory_path() /
           ("mq_i18n_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = dir_ / name;
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string Folder() const { return (dir_ / "").string(); }

 private:
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

// The program's start-up order: main window linked, file loaded, saved
// language set, then the pad-link form links.
class StartupTest : public ::testing::Test, protected TTestWindows {
 protected:
  StartupTest() {
    main.Add("btnAbort").texts["Caption"] = "Abort test";
    main.Add("btnCmd").texts["Caption"] = "Send cmd";
    LinkMain();
  }
};

}  // namespace

TEST(SibFile, ReadsDirectoryAndRecordProperties) {
  const Bytes file = W::File(
      {{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}, {"TMarqsForm", W::StandardRecord(PadTable(), kTen)}},
      "English\r\nDutch\r\n");
  const TSIBFileManager sib(file);
  ASSERT_EQ(sib.Directory().size(), 2u);
  EXPECT_EQ(sib.Directory()[1].className, "TMarqsForm");
  EXPECT_EQ(sib.FixedLanguages(), "English\r\nDutch\r\n");
  const auto rec = sib.ReadRecord("TMarqsForm");
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->componentClassName, "TsiLangRT");
  EXPECT_EQ(rec->componentName, "siLangRT1");
  EXPECT_EQ(rec->langNames, kTen);
  EXPECT_EQ(rec->numOfLanguages, 10);
  EXPECT_EQ(rec->langDelim, 1);
  EXPECT_EQ(rec->storeAsUTF8, true);
  EXPECT_EQ(rec->translationData, PadTable());
  EXPECT_FALSE(sib.ReadRecord("tfrmmain"));  // record names match exactly
  EXPECT_FALSE(sib.ReadRecord("TfrmOther"));
}

TEST(SibFile, ReadsPastEveryValueType) {
  W::Bytes every{1};  // a list of one of each
  for (const int t : {2, 3, 4}) {
    every.push_back(static_cast<std::uint8_t>(t));
    W::LE(every, 0xFFFFFFFF, t == 2 ? 1 : t == 3 ? 2 : 4);
  }
  every.push_back(5), W::LE(every, 0, 8), W::LE(every, 0, 2);  // extended
  every.push_back(6), W::Short(every, "text");
  every.push_back(7), W::Short(every, "ident");
  every.push_back(8), every.push_back(9), every.push_back(13), every.push_back(0 + 1), every.push_back(0);
  every.push_back(10), W::LE(every, 3, 4), W::LE(every, 0, 3);
  every.push_back(11), W::Short(every, "fsBold"), W::Short(every, "fsItalic"), every.push_back(0);
  every.push_back(12), W::LE(every, 2, 4), every.push_back('h'), every.push_back('i');
  every.push_back(14);  // collection: one item with index, one without
  every.push_back(2), every.push_back(0), every.push_back(1), W::Short(every, "Title"), every.push_back(6),
      W::Short(every, "t"), every.push_back(0);
  every.push_back(1), every.push_back(0), every.push_back(0);
  every.push_back(15), W::LE(every, 0, 4);
  for (const int t : {16, 17, 19, 21}) every.push_back(static_cast<std::uint8_t>(t)), W::LE(every, 0, 8);
  every.push_back(18), W::LE(every, 1, 4), every.push_back('x'), every.push_back(0);
  every.push_back(20), W::LE(every, 2, 4), every.push_back(0xC3), every.push_back(0xA7);
  every.push_back(0);

  Bytes record = {'T', 'P', 'F', '0', 0xF2, 2, 7};  // flags with a child position
  W::Short(record, "TsiLangLinked");
  W::Short(record, "siLang1");
  for (const auto& [name, value] : std::vector<std::pair<std::string, Bytes>>{
           {"Everything", every},
           {"DoNotTranslate.Strings", W::WideList({"ComPort"})},
           {"NumOfLanguages", {19, 3, 0, 0, 0, 0, 0, 0, 0}},
           {"LangNames.Strings", {1, 6, 1, 'A', 12, 1, 0, 0, 0, 'B', 20, 1, 0, 0, 0, 'C', 0}},
           {"LangDelim", {2, '|'}},
           {"StoreAsUTF8", W::Bool(false)},
           {"TranslationData", W::Binary(T::Raw("stStrings\r\nIDS_1|a|b|c|\r\n"))}}) {
    W::Short(record, name);
    record.insert(record.end(), value.begin(), value.end());
  }
  record.push_back(0), record.push_back(0);
  const TSIBFileManager sib(W::File({{"TMarqsForm", record}}));
  const auto rec = sib.ReadRecord("TMarqsForm");
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->componentClassName, "TsiLangLinked");
  EXPECT_EQ(rec->langNames, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(rec->numOfLanguages, 3);
  EXPECT_EQ(rec->langDelim, '|');
  EXPECT_EQ(rec->storeAsUTF8, false);
}

TEST_F(StartupTest, FileWithMainWindowRecordOnly) {
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}}));
  dispatcher.FileName = f.Path();
  dispatcher.LoadAllFromFile(f.Path());
  EXPECT_EQ(main.Text("btnAbort"), "Stop test");  // applied in language 1
  EXPECT_EQ(main.Text("btnCmd"), "Send command");
  EXPECT_EQ(mainLang->GetTextOrDefault("IDS_5"), "File translation");
  EXPECT_EQ(mainLang->GetTextOrDefault("IDS_8"), "");  // the file replaced the whole section
  // Prepared again: the dialog captions are complete.
  EXPECT_EQ(mainLang->GetDlgCaption("Cancel"), "Cancel");

  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(main.Text("btnAbort"), "Stop de test");
  EXPECT_EQ(main.Text("btnCmd"), "Send command");

  LinkPad();  // no record: built-in messages, in the active language
  EXPECT_EQ(padLang->ActiveLanguage(), 2);
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_100"), "Geen basisstation gevonden");
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_102"), "N/A");
}

TEST_F(StartupTest, WindowWithoutRecordStillShowsTheActiveLanguage) {
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}}));
  dispatcher.FileName = f.Path();
  dispatcher.LoadAllFromFile(f.Path());
  dispatcher.SetActiveLanguage(2);
  TFakeLangWindow other("TfrmOther", "frmOther");
  other.Add("btnAbort").texts["Caption"] = "Abort test";
  TsiLangRT otherLang(&other);
  otherLang.ApplyMainWindowSettings();
  otherLang.LoadTranslationData(T::Utf16(T::MainWindowLines()));
  otherLang.Loaded(&dispatcher);
  EXPECT_EQ(otherLang.ActiveLanguage(), 2);
  EXPECT_EQ(other.Text("btnAbort"), "Test afbreken");
}

TEST_F(StartupTest, PadLinkFormReadsItsRecordWhenItLinks) {
  const TempFile f(W::File(
      {{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}, {"TMarqsForm", W::StandardRecord(PadTable(), kTen)}}));
  dispatcher.FileName = f.Path();
  dispatcher.LoadAllFromFile(f.Path());
  dispatcher.SetActiveLanguage(2);
  LinkPad();
  EXPECT_EQ(padLang->ActiveLanguage(), 2);
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_100"), "Geen basis uit bestand");
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_102"), "");
  dispatcher.SetActiveLanguage(1);
  EXPECT_EQ(padLang->GetTextOrDefault("IDS_100"), "No base from file");
}

TEST_F(StartupTest, ElevenLanguages) {
  auto eleven = kTen;
  eleven.push_back("Polish");
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(FileMainTable("\x01", 11), eleven)},
                            {"TMarqsForm", W::StandardRecord(PadTable(), eleven)}}));
  dispatcher.FileName = f.Path();
  dispatcher.LoadAllFromFile(f.Path());
  EXPECT_EQ(dispatcher.NumOfLanguages(), 11);
  EXPECT_EQ(mainLang->NumOfLanguages(), 11);
  LinkPad();
  EXPECT_EQ(padLang->NumOfLanguages(), 11);
  dispatcher.SetActiveLanguage(11);
  EXPECT_EQ(dispatcher.Language(), "Polish");
  EXPECT_EQ(padLang->ActiveLanguage(), 11);
  EXPECT_EQ(main.Text("btnAbort"), "Stop test");  // no Polish text: English
  EXPECT_THROW(dispatcher.SetActiveLanguage(12), ELanguageError);
}

TEST_F(StartupTest, FewerLanguagesDropSurplusColumns) {
  const std::vector<std::string> three{"English", "Dutch", "French"};
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), three)}}));
  dispatcher.FileName = f.Path();
  dispatcher.LoadAllFromFile(f.Path());
  EXPECT_EQ(dispatcher.LangNames(), three);
  EXPECT_EQ(mainLang->NumOfLanguages(), 3);
  EXPECT_EQ(mainLang->GetPropListByType(stStrings)->front(),
            "IDS_5\x01"
            "File translation\x01"
            "Bestandsvertaling\x01\x01");
  LinkPad();  // the pad form's built-in table is cut to three columns too
  EXPECT_EQ(padLang->NumOfLanguages(), 3);
  EXPECT_EQ(padLang->GetPropListByType(stStrings)->front(),
            "IDS_100\x01No Base Station found\x01Geen basisstation gevonden\x01\x01");
  EXPECT_THROW(dispatcher.SetActiveLanguage(4), ELanguageError);
}

TEST_F(StartupTest, OtherDelimiterAndMissingLanguages) {
  // '|' in the record; entries with only two columns and no closing delimiter.
  const Bytes table = T::Utf16({"stCaptions_Unicode", "btnAbort|Stop test|Stop de test|", "btnCmd|Send command|Zend",
                                "stStrings_Unicode", "IDS_5|File|"});
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(table, kTen, '|')}}));
  dispatcher.LoadAllFromFile(f.Path());
  EXPECT_EQ(mainLang->GetPropListByType(stCaptions)->front(), "btnAbort\x01Stop test\x01Stop de test\x01");
  dispatcher.SetActiveLanguage(2);
  EXPECT_EQ(main.Text("btnAbort"), "Stop de test");
  EXPECT_EQ(main.Text("btnCmd"), "Send command");  // unterminated Dutch text reads as empty
  EXPECT_EQ(mainLang->GetTextOrDefault("ids_5"), "File");
  dispatcher.SetActiveLanguage(7);
  EXPECT_EQ(main.Text("btnAbort"), "Stop test");
}

TEST_F(StartupTest, ExcludedEntriesOfAFileNeverReachTheControls) {
  main.Self().texts["Caption"] = "Marq Utility";
  main.Add("lblVersion").texts["Caption"] = "3.5.0.0";
  main.Add("J0").texts["Caption"] = "9.5";
  const Bytes table = T::Utf16({"stCaptions_Unicode", T::Entry("TfrmMain", {"Other title"}),
                                T::Entry("lblVersion", {"1.0"}), T::Entry("J0", {"J"}),
                                T::Entry("btnAbort", {"Stop test"})});
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(table, kTen)}}));
  dispatcher.LoadAllFromFile(f.Path());
  EXPECT_EQ(main.Text("btnAbort"), "Stop test");
  EXPECT_EQ(main.Text(""), "Marq Utility");
  EXPECT_EQ(main.Text("lblVersion"), "3.5.0.0");
  EXPECT_EQ(main.Text("J0"), "9.5");
}

TEST_F(StartupTest, WrongHeaderChangesNothing) {
  Bytes file = W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}});
  file[0] = 'X';
  const TempFile f(file);
  const auto before = *mainLang->GetPropListByType(stCaptions);
  try {
    dispatcher.LoadAllFromFile(f.Path());
    FAIL();
  } catch (const ESibFormatError& e) {
    EXPECT_STREQ(e.what(), "Unrecognized stream format!");
  }
  EXPECT_EQ(*mainLang->GetPropListByType(stCaptions), before);
  EXPECT_EQ(main.Text("btnAbort"), "Abort test");
  EXPECT_EQ(mainLang->GetTextOrDefault("IDS_5"), "Marq Utility Translation");

  // The same file met while linking fails the link's load, not the program.
  dispatcher.FileName = f.Path();
  EXPECT_THROW(LinkPad(), ESibFormatError);
}

TEST_F(StartupTest, OnlySibFilesAreRead) {
  const TempFile f(W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}}), "MqTool.SIB");
  EXPECT_NO_THROW(dispatcher.LoadAllFromFile(f.Path()));
  EXPECT_EQ(main.Text("btnAbort"), "Stop test");
  const TempFile txt(Bytes{'x'}, "MqTool.txt");
  EXPECT_THROW(dispatcher.LoadAllFromFile(txt.Path()), ESibFormatError);
  EXPECT_THROW(dispatcher.LoadAllFromFile(txt.Folder() + "missing.sib"), ESibFormatError);
}

// ---- bad input ------------------------------------------------------------

namespace {

std::string LoadError(const Bytes& file) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  TsiLangRT lang(&w);
  lang.ApplyMainWindowSettings();
  lang.LoadTranslationData(T::Utf16(T::MainWindowLines()));
  lang.Prepare();
  const auto before = *lang.GetPropListByType(stStrings);
  try {
    lang.LoadFromBinaryData(file);
  } catch (const ESibFormatError& e) {
    // A failed load leaves the component's table as it was.
    EXPECT_EQ(*lang.GetPropListByType(stStrings), before);
    EXPECT_EQ(lang.NumOfLanguages(), 10);
    return e.what();
  }
  return "";
}

// Without a trailer, so that a damaged record runs into the end of the file.
Bytes WithRecord(const Bytes& record) { return W::File({{"TfrmMain", record}}, "", false); }

}  // namespace

TEST(SibBadInput, EveryTruncationFailsCleanly) {
  const Bytes file = W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}});
  const std::size_t recordEnd = file.size() - 2 - 24;  // before the trailer
  for (std::size_t n = 0; n < file.size(); ++n) {
    const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    const std::string error = LoadError(cut);
    if (n < 44) {
      EXPECT_EQ(error, "Unrecognized stream format!") << n;
    } else if (n + 1 < recordEnd) {  // the children terminator is never needed
      EXPECT_NE(error, "") << n;     // the record is incomplete
    }
  }
}

TEST(SibBadInput, DirectoryAndLengthsOutsideTheFile) {
  Bytes file = W::File({{"TfrmMain", W::StandardRecord(FileMainTable(), kTen)}});
  const std::size_t offsetPos = 42 + 2 + 2 + 9 + 2 + 8;
  Bytes past = file;
  for (int i = 0; i < 4; ++i)
    past[offsetPos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((file.size() + 5) >> (8 * i));
  EXPECT_NE(LoadError(past).find("outside the file"), std::string::npos);
  Bytes negative = file;
  negative[offsetPos + 3] = 0x80;
  EXPECT_NE(LoadError(negative).find("outside the file"), std::string::npos);

  // A record count larger than the directory.
  Bytes count = file;
  count[42] = 200;
  EXPECT_NE(LoadError(count).find("unexpected end"), std::string::npos);

  // A binary length larger than the file.
  EXPECT_NE(
      LoadError(WithRecord(W::Record({{"TranslationData", {10, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}}}))).find("unexpected end"),
      std::string::npos);
  // A long UTF-16 length that overflows 32 bits when doubled.
  EXPECT_NE(LoadError(WithRecord(W::Record({{"Comment", {18, 0xFF, 0xFF, 0xFF, 0xFF}}}))).find("unexpected end"),
            std::string::npos);
}

TEST(SibBadInput, DamagedValues) {
  // A list that never ends.
  Bytes endless{1};
  for (int i = 0; i < 100; ++i) endless.push_back(8);
  Bytes rec = W::Record({});
  rec.resize(rec.size() - 2);
  W::Short(rec, "Endless");
  rec.insert(rec.end(), endless.begin(), endless.end());
  EXPECT_NE(LoadError(WithRecord(rec)).find("unexpected end"), std::string::npos);

  EXPECT_NE(LoadError(WithRecord(W::Record({{"Odd", {22}}}))).find("unknown value type 22"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"Odd", {0xFF}}}))).find("unknown value type 255"), std::string::npos);
  Bytes deep(100, 1);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"Deep", deep}}))).find("nested too deeply"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"TranslationData", W::Int(3)}}))).find("binary data expected"),
            std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"LangNames.Strings", {1, 8, 0}}}))).find("text expected"),
            std::string::npos);
  Bytes manyNames{1};
  for (int i = 0; i < 2000; ++i) manyNames.insert(manyNames.end(), {6, 1, 'x'});
  manyNames.push_back(0);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"LangNames.Strings", manyNames}}))).find("too many items"),
            std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"NumOfLanguages", W::Bool(true)}}))).find("integer expected"),
            std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"StoreAsUTF8", W::Int(1)}}))).find("boolean expected"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"C", {14, 1, 5}}}))).find("unexpected end"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::Record({{"C", {14, 6, 0}}}))).find("list marker"), std::string::npos);
  Bytes badSig = W::StandardRecord(FileMainTable(), kTen);
  badSig[3] = '1';
  EXPECT_NE(LoadError(WithRecord(badSig)).find("TPF0"), std::string::npos);
}

TEST(SibBadInput, ImplausibleSettings) {
  EXPECT_NE(LoadError(WithRecord(W::StandardRecord(FileMainTable(), kTen, 0))).find("LangDelim"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::StandardRecord(FileMainTable(), kTen, 13))).find("LangDelim"), std::string::npos);
  EXPECT_NE(LoadError(WithRecord(W::StandardRecord(FileMainTable(), {}))).find("number of languages"),
            std::string::npos);
  // No names, and a count that would need billions of them.
  EXPECT_NE(LoadError(WithRecord(W::Record({{"NumOfLanguages", W::Int(0x7FFFFFFF)}}))).find("number of languages"),
            std::string::npos);
}

TEST(SibBadInput, DefinedFallbacks) {
  TFakeLangWindow w("TfrmMain", "frmMain");
  TsiLangRT lang(&w);
  lang.ApplyMainWindowSettings();
  // Odd-length table: the stray byte is ignored.
  Bytes odd = FileMainTable();
  odd.push_back('Z');
  lang.LoadFromBinaryData(WithRecord(W::StandardRecord(odd, kTen)));
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "File translation");
  // A record with no properties at all: empty table, one default language.
  lang.LoadFromBinaryData(WithRecord(W::Record({})));
  EXPECT_EQ(lang.NumOfLanguages(), 1);
  EXPECT_EQ(lang.LangNames(), std::vector<std::string>{"Language N1"});
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "");
  // Entries without any delimiter: names without texts.
  lang.LoadFromBinaryData(WithRecord(W::StandardRecord(T::Utf16({"stStrings_Unicode", "IDS_5"}), kTen)));
  EXPECT_EQ(lang.GetTextOrDefault("IDS_5"), "");
}
