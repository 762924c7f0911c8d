// What the shared data folder may hold in a file's place, read as another
// user's input: only a regular file within the cap is read; links, FIFOs,
// devices and folders are refused at once, never followed or waited on.
#include "util/safe_file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace mq {
namespace {

struct Folder {
  fs::path path;
  Folder() {
    path = fs::temp_directory_path() /
           ("mq-safe-read-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path Write(const std::string& name, const std::string& content) const {
    std::ofstream(path / name, std::ios::binary) << content;
    return path / name;
  }
};

TEST(SafeFileReader, ReadsARegularFileWithinTheCapAndRefusesLargerOrMissing) {
  Folder d;
  const auto file = d.Write("MqTool.ini", std::string("[General]\r\nLanguage=3\r\n\0x", 25));
  const FileReadResult r = SafeFileReader::Read(file, 25);
  ASSERT_TRUE(r.Ok()) << r.Reason();
  EXPECT_EQ(r.bytes, std::string("[General]\r\nLanguage=3\r\n\0x", 25));
  EXPECT_EQ(SafeFileReader::Read(file, 24).status, FileReadStatus::TooLarge);
  EXPECT_EQ(SafeFileReader::Read(d.path / "none.ini", 100).status, FileReadStatus::Missing);
  EXPECT_EQ(SafeFileReader::Read(d.path, 100).status, FileReadStatus::NotRegular);
}

#ifndef _WIN32
TEST(SafeFileReader, LinksFifosAndDevicesAreRefusedWithoutBlocking) {
  Folder d;
  const auto target = d.Write("target", "secret");
  fs::create_symlink(target, d.path / "link");
  fs::create_symlink("/dev/zero", d.path / "zero");
  ASSERT_EQ(mkfifo((d.path / "fifo").c_str(), 0666), 0);
  const FileReadResult link = SafeFileReader::Read(d.path / "link", 100);
  EXPECT_EQ(link.status, FileReadStatus::Link);
  EXPECT_TRUE(link.bytes.empty());
  EXPECT_EQ(SafeFileReader::Read(d.path / "zero", 1 << 20).status, FileReadStatus::Link);
  // A FIFO with no writer would block a plain open for good.
  EXPECT_EQ(SafeFileReader::Read(d.path / "fifo", 100).status, FileReadStatus::NotRegular);
  EXPECT_EQ(SafeFileReader::Read("/dev/null", 100).status, FileReadStatus::NotRegular);
}

TEST(SafeFileReader, AFileTheUserMayNotReadNamesItsOwnerAndMode) {
  Folder d;
  const auto file = d.Write("MqTool.ini", "[General]\n");
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  ASSERT_EQ(chmod(d.path.c_str(), 0755), 0);
  // As root every file is readable: read as "nobody" in a child.
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    const FileReadResult r = SafeFileReader::Read(file, 100);
    const std::string reason = r.Reason();
    _exit(r.status == FileReadStatus::Failed && r.mode == "0000" && !r.owner.empty() &&
                  reason.find("mode 0000") != std::string::npos
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace mq
