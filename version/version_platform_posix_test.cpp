// The POSIX version-resource calls against real files: where the block is
// found, what is copied, and the Windows error numbers of each failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "version/version_block_writer.h"
#include "version/version_platform.h"

namespace mq {
namespace {

using Bytes = std::vector<std::byte>;
namespace fs = std::filesystem;

Bytes ProgramBlock() {
  TVersionBlockWriter::TVersionData data;
  data.FileVersion = data.ProductVersion = {3, 5, 0, 0};
  data.StringTables.push_back({u"080904E4", {{u"FileVersion", u"3.5.0.0"}}});
  data.Translations = {{0x0809, 0x04E4}};
  return TVersionBlockWriter::Write(data);
}

class PosixVersionPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("mq_version_posix_" + std::to_string(::getpid()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    P.SetLastError(0);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
  }
  fs::path WriteFile(const std::string& name, const Bytes& bytes) {
    const fs::path path = FDir / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::u16string Message() { return P.FormatMessageW(P.GetLastError()); }

  TVersionPlatform& P = TVersionPlatform::System();
  fs::path FDir;
};

TEST_F(PosixVersionPlatform, FindsAndCopiesTheBlockInsideAnyFile) {
  const Bytes block = ProgramBlock();
  Bytes file(3001, std::byte{0x7F});
  file.insert(file.end(), block.begin(), block.end());
  file.insert(file.end(), 999, std::byte{0});
  const fs::path path = WriteFile("prog.bin", file);

  const std::uint32_t size = P.GetFileVersionInfoSizeW(path);
  ASSERT_EQ(size, block.size());
  Bytes buffer(size);
  ASSERT_TRUE(P.GetFileVersionInfoW(path, buffer));
  EXPECT_EQ(buffer, block);

  const void* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(P.VerQueryValueW(buffer, u"\\StringFileInfo\\080904E4\\FileVersion", value, length));
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value), 7), u"3.5.0.0");
  EXPECT_EQ(P.GetLastError(), 0u);  // success leaves the last error alone

  // A buffer shorter than the block gets its first bytes; the cut block then
  // answers no query.
  Bytes small(40);
  ASSERT_TRUE(P.GetFileVersionInfoW(path, small));
  EXPECT_TRUE(std::equal(small.begin(), small.end(), block.begin()));
  EXPECT_FALSE(P.VerQueryValueW(small, u"\\VarFileInfo\\Translation", value, length));
  EXPECT_EQ(P.GetLastError(), 1813u);

  P.SetLastError(0);
  EXPECT_FALSE(P.GetFileVersionInfoW(path, std::span<std::byte>{}));
  EXPECT_EQ(P.GetLastError(), 87u);
}

TEST_F(PosixVersionPlatform, FailuresCarryWindowsErrorNumbers) {
  EXPECT_EQ(P.GetFileVersionInfoSizeW(FDir / "missing.exe"), 0u);
  EXPECT_EQ(P.GetLastError(), 2u);
  EXPECT_EQ(Message(), u"The system cannot find the file specified.\r\n");

  P.SetLastError(0);
  EXPECT_EQ(P.GetFileVersionInfoSizeW(FDir / "no" / "such" / "folder.exe"), 0u);
  EXPECT_EQ(P.GetLastError(), 3u);
  EXPECT_EQ(Message(), u"The system cannot find the path specified.\r\n");
  P.SetLastError(0);
  EXPECT_EQ(P.GetFileVersionInfoSizeW("relative-name-that-is-missing.exe"), 0u);
  EXPECT_EQ(P.GetLastError(), 2u);

  const fs::path plain = WriteFile("plain.txt", Bytes(100, std::byte{'a'}));
  EXPECT_EQ(P.GetFileVersionInfoSizeW(plain / "below.exe"), 0u);
  EXPECT_EQ(P.GetLastError(), 3u);

  EXPECT_EQ(P.GetFileVersionInfoSizeW(plain), 0u);
  EXPECT_EQ(P.GetLastError(), 1813u);
  EXPECT_EQ(Message(), u"The specified resource type cannot be found in the image file.\r\n");

  EXPECT_EQ(P.GetFileVersionInfoSizeW(WriteFile("empty", {})), 0u);
  EXPECT_EQ(P.GetLastError(), 1813u);

  EXPECT_EQ(P.GetFileVersionInfoSizeW(FDir), 0u);
  EXPECT_EQ(P.GetLastError(), 5u);
  EXPECT_EQ(Message(), u"Access is denied.\r\n");

  // A pipe neither blocks the open nor is read forever.
  const fs::path fifo = FDir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(P.GetFileVersionInfoSizeW(fifo), 0u);
  EXPECT_EQ(P.GetLastError(), 1813u);

  EXPECT_EQ(P.GetFileVersionInfoSizeW(fs::path(std::string("prog\0.exe", 9))), 0u);
  EXPECT_EQ(P.GetLastError(), 123u);

  if (::geteuid() != 0) {  // root reads any file
    const fs::path locked = WriteFile("locked.exe", ProgramBlock());
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(P.GetFileVersionInfoSizeW(locked), 0u);
    EXPECT_EQ(P.GetLastError(), 5u);
  }
  EXPECT_EQ(P.FormatMessageW(999999), u"");
}

TEST_F(PosixVersionPlatform, NamesLanguagesAndTheRunningProgram) {
  std::u16string name;
  ASSERT_TRUE(P.VerLanguageNameW(0x0809, name));
  EXPECT_EQ(name, u"English (United Kingdom)");
  ASSERT_TRUE(P.VerLanguageNameW(0x1C09, name));  // sublanguage not listed
  EXPECT_EQ(name, u"English");
  EXPECT_FALSE(P.VerLanguageNameW(0x00FE, name));
  EXPECT_EQ(P.GetLastError(), 1815u);

  const fs::path self = P.ModuleFileName();
  EXPECT_TRUE(self.is_absolute());
  EXPECT_TRUE(fs::equivalent(self, "/proc/self/exe"));
}

}  // namespace
}  // namespace mq
