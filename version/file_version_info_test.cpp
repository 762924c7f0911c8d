// TFileVersionInfo: the program's own version data, other files, every
// failure text and the single raising case.
#include "version/file_version_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "util/utf16_convert.h"
#include "version/file_version_info_error.h"
#include "version/version_block_writer.h"

namespace mq {
namespace {

namespace fs = std::filesystem;
using Writer = TVersionBlockWriter;

// Forwards to the system and records the calls made.
class TCountingPlatform : public TVersionPlatform {
 public:
  fs::path ModuleFileName() override { return S.ModuleFileName(); }
  std::uint32_t GetFileVersionInfoSizeW(const fs::path& name) override {
    ++SizeCalls;
    return S.GetFileVersionInfoSizeW(name);
  }
  bool GetFileVersionInfoW(const fs::path& name, std::span<std::byte> buffer) override {
    ++ReadCalls;
    return S.GetFileVersionInfoW(name, buffer);
  }
  bool VerQueryValueW(std::span<const std::byte> block, std::u16string_view path, const void*& value,
                      std::uint32_t& length) override {
    Paths.emplace_back(path);
    return S.VerQueryValueW(block, path, value, length);
  }
  std::uint32_t GetLastError() override { return S.GetLastError(); }
  void SetLastError(std::uint32_t code) override { S.SetLastError(code); }
  std::u16string FormatMessageW(std::uint32_t code) override { return S.FormatMessageW(code); }
  bool VerLanguageNameW(std::uint16_t id, std::u16string& name) override { return S.VerLanguageNameW(id, name); }

  TVersionPlatform& S = TVersionPlatform::System();
  int SizeCalls = 0;
  int ReadCalls = 0;
  std::vector<std::u16string> Paths;
};

// A platform whose answers a test sets directly. Its version data is 64
// bytes: the translation bytes at 0, the string's units from 8 on.
class TScriptedPlatform : public TVersionPlatform {
 public:
  fs::path ModuleFileName() override { return "/opt/mq/mqtool"; }
  std::uint32_t GetFileVersionInfoSizeW(const fs::path&) override {
    if (SizeError != 0) LastError = SizeError;
    return SizeError != 0 ? 0 : 64;
  }
  bool GetFileVersionInfoW(const fs::path&, std::span<std::byte> buffer) override {
    std::memcpy(buffer.data(), Translation.data(), std::min<std::size_t>(Translation.size(), 8));
    for (std::size_t i = 0; i < String.size() && 8 + 2 * i + 1 < buffer.size(); ++i) {
      buffer[8 + 2 * i] = static_cast<std::byte>(String[i] & 0xFF);
      buffer[8 + 2 * i + 1] = static_cast<std::byte>(String[i] >> 8);
    }
    return true;
  }
  bool VerQueryValueW(std::span<const std::byte> block, std::u16string_view path, const void*& value,
                      std::uint32_t& length) override {
    if (path == u"\\VarFileInfo\\Translation") {
      value = block.data();
      length = static_cast<std::uint32_t>(Translation.size());
      return true;
    }
    if (!StringFound) {
      LastError = QueryError;
      return false;
    }
    value = block.data() + 8;
    length = StringLength;
    return true;
  }
  std::uint32_t GetLastError() override { return LastError; }
  void SetLastError(std::uint32_t code) override { LastError = code; }
  std::u16string FormatMessageW(std::uint32_t code) override {
    return code == 0x80070005 ? u"Wrapped denial." : u"Message " + Utf16Convert::Utf8ToUtf16(std::to_string(code));
  }
  bool VerLanguageNameW(std::uint16_t, std::u16string&) override {
    LastError = 1815;
    return false;
  }

  std::uint32_t LastError = 0;
  std::uint32_t SizeError = 0;
  std::uint32_t QueryError = 0;
  std::vector<unsigned char> Translation{0x09, 0x08, 0xE4, 0x04};
  bool StringFound = true;
  std::u16string String = u"3.5.0.0";
  std::uint32_t StringLength = 8;
};

Writer::TVersionData DataWith(std::u16string table, std::u16string fileVersion) {
  Writer::TVersionData data;
  data.FileVersion = data.ProductVersion = {1, 0, 0, 0};
  data.StringTables.push_back({std::move(table), {{u"FileVersion", std::move(fileVersion)}}});
  data.Translations = {{0x0809, 0x04E4}};
  return data;
}

// Files that hold a version block somewhere in their bytes. Only the POSIX
// platform reads those; Windows reads version data from executable
// resources only, which the own-file tests cover.
class FileVersionInfo : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "Windows reads version data only from executable resources";
#else
    // One folder per process and test: the tests of this fixture run side by
    // side, and an object's address is the same in every process under the
    // address sanitizer.
    FDir = fs::temp_directory_path() / ("mq_file_version_info_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(FDir);
#endif
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }
  fs::path WriteFile(const std::string& name, const std::vector<std::byte>& block) {
    const fs::path path = FDir / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "some program bytes before the block";
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    out << "and after it";
    return path;
  }
  fs::path FDir;
};

TEST(FileVersionInfoOwnFile, ReadsTheProgramsOwnVersionData) {
  TCountingPlatform platform;
  TFileVersionInfo info(platform);
  EXPECT_EQ(info.VerFileLangID(), 0);  // nothing read on creation
  EXPECT_EQ(platform.SizeCalls, 0);
  EXPECT_EQ(info.VerFileName(), platform.ModuleFileName());

  EXPECT_EQ(info.ReadVersionString(3), u"3.5.0.0");
  EXPECT_EQ(platform.Paths.back(), u"\\StringFileInfo\\080904E4\\FileVersion");
  EXPECT_EQ(info.ReadVersionString(9), u"3500");
  EXPECT_EQ(info.VerFileLangID(), 0x0809);
  EXPECT_EQ(info.VerFileCPID(), 0x04E4);
#ifdef _WIN32
  EXPECT_EQ(info.StrVerFileLang().rfind(u"English", 0), 0u);  // the system's wording
#else
  EXPECT_EQ(info.StrVerFileLang(), u"English (United Kingdom)");
#endif
  EXPECT_EQ(info.StrVerFileCP(), u"1252 (ANSI - Latin I)");

  EXPECT_EQ(info.StrVerFileComments(), u"");
  EXPECT_EQ(info.StrVerFileCompanyName(), u"Corvane");
  EXPECT_EQ(info.StrVerFileDescription(), u"Marq Utility");
  EXPECT_EQ(info.StrVerFileVersion(), u"3.5.0.0");
  EXPECT_EQ(info.StrVerFileInternalName(), u"MqTool");
  EXPECT_EQ(info.StrVerFileCopyright(), u"Copyright (C) Corvane");
  EXPECT_EQ(info.StrVerFileTrademarks(), u"");
  EXPECT_EQ(info.StrVerFileOriginalFilename(), u"MqTool.exe");
  EXPECT_EQ(info.StrVerFileProductName(), u"Marq Utility");
  EXPECT_EQ(info.StrVerFileProductVersion(), u"3500");
#ifndef _WIN32
  // Keys the table does not hold give the last-error text.
  const std::u16string missing = u"Error #1813 - The specified resource type cannot be found in the image file.\r\n";
  EXPECT_EQ(info.StrVerFilePrivateBuild(), missing);
  EXPECT_EQ(info.StrVerFileSpecialBuild(), missing);
#endif
  EXPECT_THROW(info.ReadVersionString(12), std::out_of_range);
  EXPECT_THROW(info.ReadVersionString(-1), std::out_of_range);
}

TEST(FileVersionInfoOwnFile, EveryReadRepeatsTheWholeSequence) {
  TCountingPlatform platform;
  TFileVersionInfo info(platform);
  const std::u16string first = info.StrVerFileVersion();
  const std::u16string second = info.StrVerFileVersion();
  EXPECT_EQ(first, second);
  EXPECT_EQ(platform.SizeCalls, 2);
  EXPECT_EQ(platform.ReadCalls, 2);
  ASSERT_EQ(platform.Paths.size(), 4u);
  EXPECT_EQ(platform.Paths[0], u"\\VarFileInfo\\Translation");
  EXPECT_EQ(platform.Paths[2], u"\\VarFileInfo\\Translation");
}

TEST_F(FileVersionInfo, NothingIsCachedBetweenReads) {
  // A file rewritten between reads is read anew.
  TFileVersionInfo info;
  const fs::path path = WriteFile("changing.exe", Writer::Write(DataWith(u"080904E4", u"1.0")));
  info.SetVerFileName(path);
  EXPECT_EQ(info.VerFileName(), path);
  EXPECT_EQ(info.StrVerFileVersion(), u"1.0");
  WriteFile("changing.exe", Writer::Write(DataWith(u"080904E4", u"2.0")));
  EXPECT_EQ(info.StrVerFileVersion(), u"2.0");
}

TEST(FileVersionInfoOwnFile, MissingFileGivesTheFileNotFoundText) {
  TFileVersionInfo info;
  info.SetVerFileName(std::filesystem::temp_directory_path() / "mq-no-such-program.exe");
  for (int index = 0; index < TFileVersionInfo::kKeyCount; ++index) {
    const std::u16string text = info.ReadVersionString(index);
    EXPECT_EQ(text.rfind(u"Error #", 0), 0u) << index;
#ifndef _WIN32
    EXPECT_EQ(text, u"Error #2 - The system cannot find the file specified.\r\n") << index;
#endif
    EXPECT_EQ(info.VerFileLangID(), 0);
    EXPECT_EQ(info.VerFileCPID(), 0);
  }
}

TEST_F(FileVersionInfo, FilesThatCannotBeReadGiveTheLastErrorText) {
  TFileVersionInfo info;
  const std::u16string notFound = u"Error #2 - The system cannot find the file specified.\r\n";
  info.SetVerFileName(WriteFile("plain.exe", {}));
  EXPECT_EQ(info.StrVerFileVersion(),
            u"Error #1813 - The specified resource type cannot be found in the image file.\r\n");

  // A read that finds a pair, then one that fails: the pair is cleared.
  info.SetVerFileName(WriteFile("good.exe", Writer::Write(DataWith(u"080904E4", u"1.0"))));
  EXPECT_EQ(info.StrVerFileVersion(), u"1.0");
  EXPECT_EQ(info.VerFileLangID(), 0x0809);
  info.SetVerFileName(FDir / "gone.exe");
  EXPECT_EQ(info.StrVerFileVersion(), notFound);
  EXPECT_EQ(info.VerFileLangID(), 0);
}

TEST_F(FileVersionInfo, OnlyTheFirstTranslationPairIsUsed) {
  TFileVersionInfo info;
  // Strings stored under another language than the first pair names.
  info.SetVerFileName(WriteFile("other.exe", Writer::Write(DataWith(u"040904B0", u"1.0"))));
  const std::u16string text = info.StrVerFileVersion();
  EXPECT_EQ(text, u"Error #1813 - The specified resource type cannot be found in the image file.\r\n");
  EXPECT_EQ(info.VerFileLangID(), 0x0809);
  EXPECT_EQ(info.VerFileCPID(), 0x04E4);

  Writer::TVersionData two = DataWith(u"040904B0", u"US");
  two.StringTables.push_back({u"080904E4", {{u"FileVersion", u"UK"}}});
  two.Translations = {{0x0409, 0x04B0}, {0x0809, 0x04E4}};
  info.SetVerFileName(WriteFile("two.exe", Writer::Write(two)));
  EXPECT_EQ(info.StrVerFileVersion(), u"US");
  EXPECT_EQ(info.VerFileLangID(), 0x0409);
  EXPECT_EQ(info.StrVerFileCP(), u"1200 (Unicode)");
}

TEST_F(FileVersionInfo, MissingOrEmptyTranslationTableRaises) {
  TFileVersionInfo info;
  Writer::TVersionData data = DataWith(u"080904E4", u"1.0");
  data.WithVarFileInfo = false;
  info.SetVerFileName(WriteFile("notrans.exe", Writer::Write(data)));
  try {
    info.StrVerFileVersion();
    FAIL() << "no exception";
  } catch (const EFileVersionInfo& e) {
    EXPECT_EQ(e.Text(), u"Error #1813 - The specified resource type cannot be found in the image file.\r\n");
    EXPECT_STREQ(e.what(), "Error #1813 - The specified resource type cannot be found in the image file.\r\n");
  }
  EXPECT_EQ(info.VerFileLangID(), 0);

  // A table too short for one pair is refused the same way, not read beyond.
  data.WithVarFileInfo = true;
  data.Translations.clear();
  info.SetVerFileName(WriteFile("emptytrans.exe", Writer::Write(data)));
  EXPECT_THROW(info.StrVerFileVersion(), EFileVersionInfo);
  EXPECT_EQ(info.VerFileLangID(), 0);
}

TEST(FileVersionInfoText, FollowsThePlatformsAnswers) {
  TScriptedPlatform platform;
  TFileVersionInfo info(platform);
  EXPECT_EQ(info.VerFileName(), fs::path("/opt/mq/mqtool"));

  // A failed lookup without an error code gives the empty text; a code left
  // from an earlier, unrelated call is not reported.
  platform.StringFound = false;
  platform.LastError = 6;
  EXPECT_EQ(info.StrVerFileVersion(), u"");
  platform.QueryError = 1814;
  EXPECT_EQ(info.StrVerFileVersion(), u"Error #1814 - Message 1814");

  // Codes print as signed decimal; the message is kept exactly.
  platform.SizeError = 0x80070005;
  EXPECT_EQ(info.StrVerFileVersion(), u"Error #-2147024891 - Wrapped denial.");
  platform.SizeError = 0;

  // A value without terminator ends at its reported length; an empty value
  // is the empty text, not an error.
  platform.StringFound = true;
  platform.String = u"12345678";
  platform.StringLength = 4;
  EXPECT_EQ(info.StrVerFileVersion(), u"1234");
  platform.StringLength = 0;
  EXPECT_EQ(info.StrVerFileVersion(), u"");
  // A length past the end of the version data is cut at its end.
  platform.String = std::u16string(28, u'x');
  platform.StringLength = 1000;
  EXPECT_EQ(info.StrVerFileVersion(), std::u16string(28, u'x'));

  // The one raising case; with no error code the message still says why.
  platform.Translation = {0x09, 0x08};
  platform.LastError = 0;
  try {
    info.StrVerFileVersion();
    FAIL() << "no exception";
  } catch (const EFileVersionInfo& e) {
    EXPECT_EQ(e.Text(), u"The version data of the file has no translation table.");
  }
  EXPECT_EQ(info.StrVerFileLang(), u"Error #1815 - Message 1815");
}

TEST(FileVersionInfoResourceScript, CompilesToTheBlockThisProgramCarries) {
#ifndef MQ_VERSION_RC_OBJECT
  GTEST_SKIP() << "no Windows resource compiler at build time";
#else
  TVersionPlatform& platform = TVersionPlatform::System();
  const fs::path compiled = MQ_VERSION_RC_OBJECT;
  const fs::path self = platform.ModuleFileName();
  const std::uint32_t size = platform.GetFileVersionInfoSizeW(compiled);
  ASSERT_NE(size, 0u);
  ASSERT_EQ(size, platform.GetFileVersionInfoSizeW(self));
  std::vector<std::byte> fromScript(size), fromProgram(size);
  ASSERT_TRUE(platform.GetFileVersionInfoW(compiled, fromScript));
  ASSERT_TRUE(platform.GetFileVersionInfoW(self, fromProgram));
  EXPECT_EQ(fromScript, fromProgram);

  TFileVersionInfo info;
  info.SetVerFileName(compiled);
  EXPECT_EQ(info.StrVerFileVersion(), u"3.5.0.0");
  EXPECT_EQ(info.StrVerFileProductVersion(), u"3500");
  EXPECT_EQ(info.VerFileLangID(), 0x0809);
  EXPECT_EQ(info.VerFileCPID(), 0x04E4);
#endif
}

}  // namespace
}  // namespace mq
