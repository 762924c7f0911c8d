// Runs the table generator on small inputs: what it writes for good data,
// and that it stops with a clear message on malformed data.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "i18n/catalogue/builtin_tables.h"
#include "i18n/catalogue/table_decoder_test_util.h"

namespace mq::i18n {
namespace {

namespace fs = std::filesystem;
using testing::DecodeStoredTable;

const std::string kHead =
    "# test table\n"
    "@window\tTfrmTest\n"
    "@languages\tEnglish\tDutch\tFrench\tGerman\tSpanish\tItalian\tCroatian\tTurkish\tDanish\tSwedish\n";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct GeneratorRun {
  int status = -1;
  std::string errors;     // what the generator wrote to stderr
  std::string generated;  // the C++ source, when written
};

class GeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process number keeps two builds' runs on one machine apart.
    dir_ = fs::temp_directory_path() / ("mq_catalogue_" + std::to_string(::getpid()) + "_" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  GeneratorRun Run(const std::vector<fs::path>& inputs) {
    const fs::path out = dir_ / "out.cpp";
    const fs::path err = dir_ / "stderr.txt";
    std::string cmd = std::string("\"") + MQ_PYTHON + "\" \"" + MQ_CATALOGUE_GENERATOR + "\" --output \"" +
                      out.string() + "\"";
    for (const auto& in : inputs) cmd += " \"" + in.string() + "\"";
    cmd += " 2>\"" + err.string() + "\"";
    GeneratorRun r;
    r.status = std::system(cmd.c_str());
    r.errors = ReadFile(err);
    if (fs::exists(out)) r.generated = ReadFile(out);
    return r;
  }

  GeneratorRun RunText(const std::string& content) {
    const fs::path in = dir_ / "TfrmTest.txt";
    std::ofstream(in, std::ios::binary) << content;
    return Run({in});
  }

  // Expects the generator to fail on `content` with a message holding `message` and the line number.
  void ExpectRejected(const std::string& content, const std::string& message, int line) {
    const GeneratorRun r = RunText(content);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.errors.find(message), std::string::npos) << "stderr: " << r.errors;
    EXPECT_NE(r.errors.find("TfrmTest.txt:" + std::to_string(line) + ": error: "), std::string::npos)
        << "stderr: " << r.errors;
    EXPECT_EQ(r.errors.find("Traceback"), std::string::npos) << r.errors;
    EXPECT_TRUE(r.generated.empty()) << "no output on error";
  }

  fs::path dir_;
};

// The bytes of array `kTable<index>` in a generated source.
std::vector<std::uint8_t> TableBytes(const std::string& generated, int index) {
  const std::string start = "kTable" + std::to_string(index) + "[] = {";
  const auto from = generated.find(start);
  if (from == std::string::npos) return {};
  const auto to = generated.find("};", from);
  const std::string body = generated.substr(from + start.size(), to - from - start.size());
  std::vector<std::uint8_t> bytes;
  static const std::regex hex("0x([0-9a-f]{2})");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), hex); it != std::sregex_iterator(); ++it) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi((*it)[1].str(), nullptr, 16)));
  }
  return bytes;
}

TEST_F(GeneratorTest, WritesSectionsEntriesAndEscapes) {
  const GeneratorRun r = RunText(kHead +
                                 "\n[stCaptions]\n"
                                 "btnGo\tGo\\nNow\t\t\t\t\t\t\t\t\tG\\\\o\\s\n"
                                 "[stMultiLines]\n"
                                 "rg.Items\tON,OFF\t\"a b\",\"say \"\"hi\"\"\"\t\t\t\t\t\t\t\t\n"
                                 "[stStrings]\n"
                                 "IDS_1\tTab\\there \t\t\t\t\t\t\t\t\t\n"
                                 "[stCharSets]\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  const auto bytes = TableBytes(r.generated, 0);
  const std::u16string text = testing::Utf16(bytes);
  EXPECT_EQ(text,
            u"stCaptions_Unicode\r\n"
            u"btnGo\x01Go\x19\x1aNow\x01\x01\x01\x01\x01\x01\x01\x01\x01G\\o \x01\r\n"
            u"stMultiLines_Unicode\r\n"
            u"rg.Items\x01ON,OFF\x01\"a b\",\"say \"\"hi\"\"\"\x01\x01\x01\x01\x01\x01\x01\x01\x01\r\n"
            u"stStrings_Unicode\r\n"
            u"IDS_1\x01Tab\there \x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\r\n"
            u"stCharSets_Unicode\r\n");
  EXPECT_NE(r.generated.find("windowClassName == \"TfrmTest\""), std::string::npos);
}

TEST_F(GeneratorTest, NonAsciiTextsBecomeUtf16) {
  const GeneratorRun r = RunText(kHead +
                                 "[stStrings]\nX\tT\xC3\xBCrk\xC3\xA7"
                                 "e \xF0\x9F\x99\x82\t\t\t\t\t\t\t\t\t\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  const auto bytes = TableBytes(r.generated, 0);
  EXPECT_EQ(testing::Utf16(bytes),
            u"stStrings_Unicode\r\nX\x01T\u00FCrk\u00E7e \U0001F642"
            u"\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\r\n");
}

TEST_F(GeneratorTest, RegeneratesTheBuiltinTablesByteForByte) {
  const GeneratorRun r = Run(
      {fs::path(MQ_CATALOGUE_SOURCE_DIR) / "TfrmMain.txt", fs::path(MQ_CATALOGUE_SOURCE_DIR) / "TMarqsForm.txt"});
  ASSERT_EQ(r.status, 0) << r.errors;
  const auto main = BuiltinTranslationData("TfrmMain");
  const auto link = BuiltinTranslationData("TMarqsForm");
  EXPECT_EQ(TableBytes(r.generated, 0), std::vector<std::uint8_t>(main.begin(), main.end()));
  EXPECT_EQ(TableBytes(r.generated, 1), std::vector<std::uint8_t>(link.begin(), link.end()));
}

TEST_F(GeneratorTest, RejectsWrongColumnCounts) {
  ExpectRejected(kHead + "[stCaptions]\nbtnGo\tGo\t\t\t\t\t\t\t\t\n", "wrong column count: 10 columns, expected 11", 5);
  ExpectRejected(kHead + "[stCaptions]\nbtnGo\tGo\t\t\t\t\t\t\t\t\t\t\n", "wrong column count: 12 columns", 5);
  // Blanks instead of a TAB do not separate columns.
  ExpectRejected(kHead + "[stCaptions]\nbtnGo  Go\t\t\t\t\t\t\t\t\t\t\n", "no English text", 5);
}

TEST_F(GeneratorTest, RejectsUnknownOrMisplacedSections) {
  ExpectRejected(kHead + "[stCaption]\n", "unknown section 'stCaption'", 4);
  ExpectRejected(kHead + "[stStrings\n", "lacks its closing ']'", 4);
  ExpectRejected(kHead + "[stStrings]\n[stCaptions]\n", "out of order", 5);
  ExpectRejected(kHead + "[stStrings]\n[stStrings]\n", "given twice", 5);
  ExpectRejected(kHead + "IDS_1\tx\t\t\t\t\t\t\t\t\t\n", "entry before the first section", 4);
  ExpectRejected("[stStrings]\n", "@window and @languages must come before the first section", 1);
}

TEST_F(GeneratorTest, RejectsBadEscapes) {
  ExpectRejected(kHead + "[stStrings]\nIDS_1\ta\\rb\t\t\t\t\t\t\t\t\t\n", "bad escape '\\r'", 5);
  ExpectRejected(kHead + "[stStrings]\nIDS_1\tC:\\dir\t\t\t\t\t\t\t\t\t\n", "bad escape '\\d'", 5);
  ExpectRejected(kHead + "[stStrings]\nIDS_1\tend\\\t\t\t\t\t\t\t\t\t\n", "lone backslash", 5);
}

TEST_F(GeneratorTest, RejectsAmbiguousOrIncompleteEntries) {
  ExpectRejected(kHead + "[stStrings]\nIDS_1\t\tNL\t\t\t\t\t\t\t\t\n", "no English text", 5);
  ExpectRejected(kHead + "[stStrings]\nIDS_1\tx\t\t\t\t\t\t\t\t\tlast \n", "blank at the end of the line", 5);
  ExpectRejected(kHead + "[stStrings]\nIDS_1\tx\t\t\t\t\t\t\t\t\t\nids_1\ty\t\t\t\t\t\t\t\t\t\n", "given twice", 6);
  ExpectRejected(kHead +
                     "[stStrings]\nIDS_1\ta\x01"
                     "b\t\t\t\t\t\t\t\t\t\n",
                 "control character U+0001", 5);
  ExpectRejected(kHead + "[stMultiLines]\nrgDCS\tON,OFF\t\t\t\t\t\t\t\t\t\n", "must name Component.Property", 5);
  ExpectRejected(kHead + "[stMultiLines]\nrg.Items\t\"ON,OFF\t\t\t\t\t\t\t\t\t\n", "unterminated quoted item", 5);
  ExpectRejected(kHead + "[stMultiLines]\nrg.Items\tO N,OFF\t\t\t\t\t\t\t\t\t\n", "must be quoted", 5);
}

TEST_F(GeneratorTest, RejectsBadHeaderAndEncoding) {
  ExpectRejected("@window\tTfrmTest\n@languages\tEnglish\tFrench\n", "@languages must list", 2);
  ExpectRejected(kHead + "@colour\tred\n", "unknown directive '@colour'", 4);
  ExpectRejected(kHead + "[stStrings]\nIDS_1\tx\xC3\t\t\t\t\t\t\t\t\t\n", "not valid UTF-8", 5);
  ExpectRejected(
      "# nothing\n@languages\tEnglish\tDutch\tFrench\tGerman\tSpanish\tItalian\tCroatian\tTurkish\tDanish"
      "\tSwedish\n",
      "no @window line", 0);
}

TEST_F(GeneratorTest, RejectsTwoTablesForOneWindow) {
  const fs::path a = dir_ / "a.txt";
  const fs::path b = dir_ / "b.txt";
  std::ofstream(a, std::ios::binary) << kHead << "[stStrings]\n";
  std::ofstream(b, std::ios::binary) << kHead << "[stStrings]\n";
  const GeneratorRun r = Run({a, b});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.errors.find("window 'TfrmTest' has more than one table"), std::string::npos) << r.errors;
  EXPECT_TRUE(r.generated.empty());
}

}  // namespace
}  // namespace mq::i18n
