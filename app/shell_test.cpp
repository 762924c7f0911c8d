// Tests of the window program's plain parts: settings file, single-instance
// guard and data folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/data_folder.h"
#include "app/ini_file.h"
#include "app/settings.h"
#include "app/single_instance.h"

namespace fs = std::filesystem;

namespace mq {
namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "mqshell.XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(IniFile, ReadsCaseInsensitivelyTrimsAndUnquotes) {
  TempDir d;
  WriteAll(d.file("a.ini"), "; comment\r\n[Other]\r\nLanguage=9\r\n[general]\r\n  LANGUAGE = 5 \r\nName=\"quoted\"\r\n");
  IniFile ini(d.file("a.ini"));
  EXPECT_EQ(ini.ReadInteger("General", "Language", 1), 5);
  EXPECT_EQ(ini.ReadString("GENERAL", "name", ""), "quoted");
  EXPECT_EQ(ini.ReadString("General", "Missing", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Nowhere", "Language", 3), 3);
}

TEST(IniFile, IntegersDecimalHexAndBadValues) {
  EXPECT_EQ(IniFile::ParseInteger("0x4"), 4);
  EXPECT_EQ(IniFile::ParseInteger("0X1f"), 31);
  EXPECT_EQ(IniFile::ParseInteger("-12"), -12);
  EXPECT_EQ(IniFile::ParseInteger("0xFFFFFFFF"), -1);
  EXPECT_FALSE(IniFile::ParseInteger("yes"));
  EXPECT_FALSE(IniFile::ParseInteger(""));
  EXPECT_FALSE(IniFile::ParseInteger("0x"));
  EXPECT_FALSE(IniFile::ParseInteger("12a"));
  EXPECT_FALSE(IniFile::ParseInteger("99999999999"));
  EXPECT_FALSE(IniFile::ParseInteger("0x1FFFFFFFF"));
}

TEST(IniFile, WriteKeepsOtherSectionsKeysCommentsAndLineEndings) {
  TempDir d;
  const std::string before = "[Other]\r\nKey=1\r\n\r\n; keep me\r\n[General]\r\nLanguage=2\r\nExtra=x\r\n";
  WriteAll(d.file("a.ini"), before);
  IniFile ini(d.file("a.ini"));
  ini.WriteInteger("general", "language", 5);
  ini.WriteString("General", "Languages", "1110100000");
  ini.WriteString("New", "K", "v");
  EXPECT_EQ(ReadAll(d.file("a.ini")),
            "[Other]\r\nKey=1\r\n\r\n; keep me\r\n[General]\r\nlanguage=5\r\nExtra=x\r\n"
            "Languages=1110100000\r\n[New]\r\nK=v\r\n");
}

TEST(IniFile, WriteIntoMissingFolderFailsAndLeavesNothing) {
  TempDir d;
  IniFile ini(d.file("missing/MqTool.ini"));
  EXPECT_THROW(ini.WriteString("General", "Language", "1"), FileWriteError);
  EXPECT_FALSE(fs::exists(d.path / "missing"));
}

TEST(IniFile, FailedWriteLeavesTheTargetAndNoTemporaryFiles) {
  TempDir d;
  // The rename over a folder fails after the temporary file was written.
  fs::create_directory(d.path / "a.ini");
  IniFile ini(d.file("a.ini"));
  EXPECT_THROW(ini.WriteInteger("General", "Language", 7), FileWriteError);
  EXPECT_TRUE(fs::is_directory(d.path / "a.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
}

TEST(Settings, DefaultsWhenFileMissingAndWrittenAsIntegers) {
  TempDir d;
  IniFile ini(d.file("MqTool.ini"));
  Settings s = Settings::Load(ini);
  EXPECT_EQ(s.Language, 1);
  EXPECT_EQ(s.Languages, "1110100000");
  EXPECT_FALSE(s.Developer);
  s.Save(ini);
  EXPECT_EQ(ReadAll(d.file("MqTool.ini")), "[General]\nLanguage=1\nLanguages=1110100000\nDeveloper=0\n");
}

TEST(Settings, HexLanguageAndIntegerBooleans) {
  TempDir d;
  WriteAll(d.file("MqTool.ini"), "[General]\nLanguage=0x4\nDeveloper=5\n");
  EXPECT_EQ(Settings::Load(IniFile(d.file("MqTool.ini"))).Language, 4);
  EXPECT_TRUE(Settings::Load(IniFile(d.file("MqTool.ini"))).Developer);
  WriteAll(d.file("MqTool.ini"), "[General]\nLanguage=abc\nDeveloper=yes\n");
  Settings s = Settings::Load(IniFile(d.file("MqTool.ini")));
  EXPECT_EQ(s.Language, 1);
  EXPECT_FALSE(s.Developer);
  s.Language = 5;
  IniFile ini(d.file("MqTool.ini"));
  s.Save(ini);
  EXPECT_EQ(ini.ReadString("General", "Language", ""), "5");
}

TEST(SingleInstance, SecondGuardIsRefusedUntilTheFirstEnds) {
  TempDir d;
  auto first = std::make_unique<SingleInstance>("Splashledger", d.path.string());
  EXPECT_TRUE(first->Acquired());
  {
    SingleInstance second("Splashledger", d.path.string());
    EXPECT_FALSE(second.Acquired());
  }
  EXPECT_TRUE(first->Acquired());  // the refused copy leaves the first untouched
  first.reset();
  SingleInstance third("Splashledger", d.path.string());
  EXPECT_TRUE(third.Acquired());
}

TEST(SingleInstance, LockDiesWithTheProcess) {
  TempDir d;
  const pid_t child = fork();
  if (child == 0) {
    SingleInstance held("Splashledger", d.path.string());
    _exit(held.Acquired() ? 0 : 1);  // ends without running destructors
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  SingleInstance after("Splashledger", d.path.string());
  EXPECT_TRUE(after.Acquired());
}

TEST(DataFolder, ExistingRootGivesTheSubFolderMissingRootIsEmpty) {
  TempDir d;
  EXPECT_EQ(DataFolder::FromRoot(d.path.string()), d.path.string() + "/Corvane/Ledgerkit/");
  EXPECT_EQ(DataFolder::FromRoot((d.path / "nope").string()), "");
  EXPECT_EQ(DataFolder::FromRoot(""), "");
  const std::string located = DataFolder::Locate();
  if (!located.empty()) {
    EXPECT_TRUE(located.ends_with("/Corvane/Ledgerkit/"));
  }
}

}  // namespace
}  // namespace mq
