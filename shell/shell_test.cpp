// Tests of the window program's plain parts: settings file, single-instance
// guard and data folder. They run on every platform; what only one platform
// can check sits under its #if and in shell_win32_test.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "shell/data_folder.h"
#include "shell/ini_file.h"
#include "shell/settings.h"
#include "shell/shell_test_util.h"
#include "shell/single_instance.h"
#ifndef _WIN32
#include "util/user_account.h"
#endif

namespace fs = std::filesystem;

namespace mq {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

#ifdef _WIN32
constexpr const char* kSep = "\\";
constexpr const char* kNewFileEol = "\r\n";
// The mutex namespace is shared with everything else in the session (a
// running MqTool included), so each test guards a name of its own.
std::string GuardName(const TempDir& d) { return "Splashledger-test-" + testing::Utf8(d.path.filename()); }
#else
constexpr const char* kSep = "/";
constexpr const char* kNewFileEol = "\n";
// The lock file lives in the test's own folder: the real name is safe to use.
std::string GuardName(const TempDir&) { return "Splashledger"; }
#endif

TEST(IniFile, ReadsCaseInsensitivelyTrimsAndUnquotes) {
  TempDir d;
  WriteAll(d.file("a.ini"),
           "; comment\r\n[Other]\r\nLanguage=9\r\n[general]\r\n  LANGUAGE = 5 \r\nName=\"quoted\"\r\n");
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

TEST(IniFile, ByteOrderMarkLoneCarriageReturnsAndDuplicateSections) {
  TempDir d;
  WriteAll(d.file("bom.ini"), "\xEF\xBB\xBF[General]\r\nLanguage=5\r\n");
  IniFile bom(d.file("bom.ini"));
  EXPECT_EQ(bom.ReadInteger("General", "Language", 1), 5);
  bom.WriteInteger("General", "Language", 6);
  EXPECT_EQ(ReadAll(d.file("bom.ini")), "\xEF\xBB\xBF[General]\r\nLanguage=6\r\n");

  WriteAll(d.file("cr.ini"), "[General]\rLanguage=5\rDeveloper=1\r");
  IniFile cr(d.file("cr.ini"));
  EXPECT_EQ(cr.ReadInteger("General", "Language", 1), 5);
  EXPECT_TRUE(cr.ReadBool("General", "Developer", false));
  cr.WriteString("General", "Languages", "x");
  EXPECT_EQ(ReadAll(d.file("cr.ini")), "[General]\rLanguage=5\rDeveloper=1\rLanguages=x\r");

  // Only the first [General] counts, for reads and writes alike.
  WriteAll(d.file("dup.ini"), "[General]\nLanguage=2\n[Other]\nk=1\n[general]\nDeveloper=1\nLanguage=9\n");
  IniFile dup(d.file("dup.ini"));
  EXPECT_EQ(dup.ReadInteger("General", "Language", 1), 2);
  EXPECT_FALSE(dup.ReadValue("General", "Developer"));
  dup.WriteBool("General", "Developer", false);
  EXPECT_EQ(ReadAll(d.file("dup.ini")),
            "[General]\nLanguage=2\nDeveloper=0\n[Other]\nk=1\n[general]\nDeveloper=1\nLanguage=9\n");
  EXPECT_EQ(dup.ReadValue("General", "Developer"), "0");
}

TEST(IniFile, FileOfBareLineFeedsKeepsThem) {
  TempDir d;
  WriteAll(d.file("a.ini"), "[General]\nLanguage=2");
  IniFile ini(d.file("a.ini"));
  ini.WriteString("General", "Developer", "1");
  ini.WriteString("Extra", "K", "v");
  EXPECT_EQ(ReadAll(d.file("a.ini")), "[General]\nLanguage=2\nDeveloper=1\n[Extra]\nK=v\n");
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
  EXPECT_THROW(AtomicFileWriter::Write(d.file("a.ini"), "[General]\n"), FileWriteError);
  EXPECT_TRUE(fs::is_directory(d.path / "a.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
}

TEST(IniFile, AFolderInTheFilesPlaceIsReportedAndLeftAlone) {
  TempDir d;
  fs::create_directory(d.path / "MqTool.ini");
  IniFile ini(d.file("MqTool.ini"));
  EXPECT_EQ(Settings::Load(ini).Language, 1);  // unreadable: the defaults
  try {
    Settings{}.Save(ini);
    ADD_FAILURE() << "written over a folder";
  } catch (const FileWriteError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find(d.file("MqTool.ini")), std::string::npos) << what;
    EXPECT_NE(what.find("not a regular file"), std::string::npos) << what;
  }
  EXPECT_TRUE(fs::is_directory(d.path / "MqTool.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
}

#ifndef _WIN32
// Runs fn in a child process as another user (root reads every file, and
// the tests run as root in CI): as uid/gid when we are root, as ourselves
// otherwise. Returns fn's result, or -1 when the child did not end normally.
int InChildAs(uid_t uid, gid_t gid, const std::function<int()>& fn) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(100);
    int result = 101;
    try {
      result = fn();
    } catch (...) {
    }
    _exit(result);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int InChildAsOrdinaryUser(const std::function<int()>& fn) { return InChildAs(65534, 65534, fn); }

// In a child process: 0 when the save is refused with an error naming the
// file and "permission denied", 3 when it succeeds, 4 for another error.
int SaveIsRefusedForPermission(IniFile& ini, const Settings& s, const std::string& path) {
  try {
    s.Save(ini);
    return 3;
  } catch (const FileWriteError& e) {
    const std::string what = e.what();
    return what.find(path) != std::string::npos && what.find(std::strerror(EACCES)) != std::string::npos ? 0 : 4;
  }
}

TEST(IniFile, AFileTheUserMayNotReadIsNeverReplaced) {
  TempDir d;
  fs::permissions(d.path, fs::perms::all);  // the user may create files here
  const std::string path = d.file("MqTool.ini");
  const std::string before = "; set up by the installer\n[Other]\nKey=1\n[General]\nLanguage=3\n";
  WriteAll(path, before);
  fs::permissions(path, fs::perms::none);
  const int result = InChildAsOrdinaryUser([&] {
    IniFile ini(path);
    Settings s = Settings::Load(ini);
    if (s.Language != 1) return 2;  // cannot be read: the defaults
    return SaveIsRefusedForPermission(ini, s, path);
  });
  EXPECT_EQ(result, 0);
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);  // no temporary file left
}

TEST(IniFile, AUserOutsideTheFoldersGroupGetsTheReasonAndTheFileStays) {
  // The installed data folder: group-writable (2775) for a group the user
  // is not in, holding a settings file 0664.
  TempDir d;
  ASSERT_EQ(chmod(d.str().c_str(), 02775), 0);
  const std::string path = d.file("MqTool.ini");
  const std::string before = "[General]\nLanguage=2\n";
  WriteAll(path, before);
  ASSERT_EQ(chmod(path.c_str(), 0664), 0);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(d.str().c_str(), 0555), 0);  // we own it: take our own write access away
  }
  const int result = InChildAsOrdinaryUser([&] {
    IniFile ini(path);
    Settings s = Settings::Load(ini);
    if (s.Language != 2) return 2;  // readable by everyone
    s.Language = 5;
    return SaveIsRefusedForPermission(ini, s, path);
  });
  EXPECT_EQ(chmod(d.str().c_str(), 0755), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 1);
}

// The data folder is shared by a group: another member may put anything in
// the settings file's place. The victim's program (as root and as an
// ordinary user) reads nothing through a link, never blocks, never writes
// over it, and the attacker's target keeps owner, mode and content.
constexpr uid_t kAttacker = 60001;

struct Planted {
  const char* name;
  std::function<void(const TempDir&, const std::string& ini)> plant;
  FileReadStatus expected;
};

TEST(SharedSettingsFile, WhatAnotherUserPlantsIsRefusedAtStartAndLeftAloneAtClose) {
  TempDir d;
  ASSERT_EQ(chmod(d.str().c_str(), 0777), 0);  // the victim may write here, as in the shared folder
  const std::string victimFile = d.file("victim-secret");
  WriteAll(victimFile, "root:secret\n");
  ASSERT_EQ(chmod(victimFile.c_str(), 0600), 0);
  const std::vector<Planted> cases = {
      {"link to the victim's file",
       [&](const TempDir&, const std::string& ini) { ASSERT_EQ(symlink(victimFile.c_str(), ini.c_str()), 0); },
       FileReadStatus::Link},
      {"link to /dev/zero",
       [](const TempDir&, const std::string& ini) { ASSERT_EQ(symlink("/dev/zero", ini.c_str()), 0); },
       FileReadStatus::Link},
      {"FIFO", [](const TempDir&, const std::string& ini) { ASSERT_EQ(mkfifo(ini.c_str(), 0666), 0); },
       FileReadStatus::NotRegular},
      {"file over the cap",
       [](const TempDir&, const std::string& ini) {
         WriteAll(ini, "[General]\nLanguage=3\n" + std::string(IniFile::kMaxFileSize, ';'));
       },
       FileReadStatus::TooLarge},
  };
  for (const bool asRoot : {true, false}) {
    for (const Planted& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (asRoot ? ", victim root" : ", victim an ordinary user"));
      const std::string ini = d.file("MqTool.ini");
      c.plant(d, ini);
      if (geteuid() == 0) lchown(ini.c_str(), kAttacker, kAttacker);
      struct stat before {};
      ASSERT_EQ(lstat(ini.c_str(), &before), 0);
      auto victim = [&] {
        IniFile file(ini);
        FileReadResult read;
        Settings s = Settings::Load(file, &read);
        if (read.status != c.expected) return 2;
        if (s.Language != 1) return 3;  // its settings are not used
        s.Language = 5;
        try {
          s.Save(file);
          return 4;
        } catch (const FileWriteError& e) {
          return std::string(e.what()).find(ini) != std::string::npos ? 0 : 5;
        }
      };
      EXPECT_EQ(asRoot ? victim() : InChildAsOrdinaryUser(victim), 0);
      struct stat after {};
      ASSERT_EQ(lstat(ini.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino);  // not replaced
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(ReadAll(victimFile), "root:secret\n");
      struct stat secret {};
      ASSERT_EQ(stat(victimFile.c_str(), &secret), 0);
      EXPECT_EQ(secret.st_mode & 07777, 0600u);
      EXPECT_EQ(secret.st_uid, geteuid());
      EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 2);  // no temporary file
      unlink(ini.c_str());
    }
  }
}

// A planted executable with set-ID bits and no CR bytes is written back (the
// INI code keeps what it does not understand), but never with its set-ID,
// sticky or execute bits: not by root, whom the kernel would let keep them,
// nor by an ordinary user.
TEST(SharedSettingsFile, AReplacementNeverCarriesSetIdOrExecuteBits) {
  for (const bool asRoot : {true, false}) {
    SCOPED_TRACE(asRoot ? "writer root" : "writer an ordinary user");
    TempDir d;
    ASSERT_EQ(chmod(d.str().c_str(), 0777), 0);
    const std::string ini = d.file("MqTool.ini");
    const std::string program = std::string(
                                    "\x7f"
                                    "ELF\x02\x01\x01",
                                    7) +
                                "payload";
    WriteAll(ini, program);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(ini.c_str(), kAttacker, 0), 0);
    }
    ASSERT_EQ(chmod(ini.c_str(), 07777), 0);
    auto writer = [&] {
      IniFile file(ini);
      Settings s = Settings::Load(file);
      s.Save(file);
      return 0;
    };
    ASSERT_EQ(asRoot ? writer() : InChildAsOrdinaryUser(writer), 0);
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_TRUE(ReadAll(ini).starts_with(program));
  }
}

// All three keys go in one replacement: a write that fails part way (here:
// a file-size limit between the old and the new size) leaves the file as it
// was, never a mixture of old and new keys.
TEST(Settings, AllKeysAreWrittenInOneReplacementOrNotAtAll) {
  TempDir d;
  const std::string ini = d.file("MqTool.ini");
  const std::string before = "[General]\nLanguage=2\n";
  WriteAll(ini, before);
  const int result = InChildAs(geteuid(), getegid(), [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{40, 40};  // the first key alone would fit, all three do not
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    IniFile file(ini);
    Settings s = Settings::Load(file);
    s.Language = 5;
    s.Developer = true;
    try {
      s.Save(file);
      return 3;
    } catch (const FileWriteError&) {
      return 0;
    }
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadAll(ini), before);
}

TEST(IniFile, ANewFileIsGroupWritableAReplacedOneKeepsItsModeAndGroup) {
  TempDir d;
  const std::string path = d.file("MqTool.ini");
  const mode_t oldMask = umask(022);
  IniFile ini(path);
  ini.WriteInteger("General", "Language", 1);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664u);  // whatever the umask

  // Another group than the writer's: any one as root, else one of ours.
  gid_t other = getegid();
  if (geteuid() == 0) {
    other = 65534;
  } else {
    gid_t groups[64];
    const int n = getgroups(64, groups);
    for (int i = 0; i < n; ++i)
      if (groups[i] != getegid()) other = groups[i];
  }
  ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), other), 0);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ini.WriteInteger("General", "Language", 2);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_gid, other);
  EXPECT_EQ(ini.ReadInteger("General", "Language", 0), 2);
  umask(oldMask);
}
#endif

TEST(IniFile, FolderNameOutsideTheAnsiCodePage) {
  // The data folder's path is UTF-8 throughout: reading and writing must
  // open the same file even where Windows' 8-bit code page lacks a letter.
  TempDir d("mqshell.\u03A9\u00FC.");
  IniFile ini(d.file("Mq\u0394Tool.ini"));
  ini.WriteInteger("General", "Language", 7);
  EXPECT_EQ(ini.ReadInteger("General", "Language", 1), 7);
  EXPECT_NE(ReadAll(d.file("Mq\u0394Tool.ini")).find("Language=7"), std::string::npos);
}

TEST(Settings, DefaultsWhenFileMissingAndWrittenAsIntegers) {
  TempDir d;
  IniFile ini(d.file("MqTool.ini"));
  Settings s = Settings::Load(ini);
  EXPECT_EQ(s.Language, 1);
  EXPECT_EQ(s.Languages, "1110100000");
  EXPECT_FALSE(s.Developer);
  s.Save(ini);
  const std::string n = kNewFileEol;
  EXPECT_EQ(ReadAll(d.file("MqTool.ini")),
            "[General]" + n + "Language=1" + n + "Languages=1110100000" + n + "Developer=0" + n);
}

TEST(Settings, HexLanguageAndIntegerBooleans) {
  TempDir d;
  WriteAll(d.file("MqTool.ini"), "[General]\nLanguage=0x4\nDeveloper=5\n");
  IniFile file(d.file("MqTool.ini"));
  EXPECT_EQ(Settings::Load(file).Language, 4);
  EXPECT_TRUE(Settings::Load(file).Developer);
  WriteAll(d.file("MqTool.ini"), "[General]\nLanguage=abc\nDeveloper=yes\n");
  Settings s = Settings::Load(file);
  EXPECT_EQ(s.Language, 1);
  EXPECT_FALSE(s.Developer);
  s.Language = 5;
  IniFile ini(d.file("MqTool.ini"));
  s.Save(ini);
  EXPECT_EQ(ini.ReadString("General", "Language", ""), "5");
}

TEST(SingleInstance, SecondGuardIsRefusedUntilTheFirstEnds) {
  TempDir d;
  auto first = std::make_unique<SingleInstance>(GuardName(d), d.str());
  EXPECT_TRUE(first->Acquired());
  {
    SingleInstance second(GuardName(d), d.str());
    EXPECT_FALSE(second.Acquired());
  }
  EXPECT_TRUE(first->Acquired());  // the refused copy leaves the first untouched
  first.reset();
  SingleInstance third(GuardName(d), d.str());
  EXPECT_TRUE(third.Acquired());
}

#ifndef _WIN32
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
#endif

TEST(DataFolder, ExistingRootGivesTheSubFolderMissingRootIsEmpty) {
  TempDir d;
  const std::string sub = std::string(kSep) + "Corvane" + kSep + "Ledgerkit" + kSep;
  EXPECT_EQ(DataFolder::FromRoot(d.str()), d.str() + sub);
  EXPECT_EQ(DataFolder::FromRoot(d.str() + kSep), d.str() + sub);  // no doubled separator
  EXPECT_EQ(DataFolder::FromRoot(d.file("nope")), "");
  WriteAll(d.file("plain"), "x");
  EXPECT_EQ(DataFolder::FromRoot(d.file("plain")), "");  // a file is no root
  EXPECT_EQ(DataFolder::FromRoot(""), "");
  const std::string located = DataFolder::Locate();
  if (!located.empty()) {
    EXPECT_TRUE(located.ends_with(sub));
  }
}

#ifndef _WIN32
// One copy per user session: the lock lives in the session's runtime
// folder, or in a 0700 folder of the user's own under /tmp, so that no other
// user can hold it or plant something in its place.
TEST(SingleInstance, EachUserHasAGuardOfTheirOwnAndNoOtherUserCanHoldIt) {
  TempDir runtime;
  ASSERT_EQ(chmod(runtime.str().c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", runtime.str().c_str(), 1);
  EXPECT_EQ(SingleInstance::DefaultLockFolder(), runtime.str());
  {
    SingleInstance guard;
    EXPECT_TRUE(guard.Acquired());
    EXPECT_TRUE(fs::is_regular_file(runtime.path / "Splashledger.lock"));
  }
  ASSERT_EQ(chmod(runtime.str().c_str(), 0777), 0);  // unfit: others may write there
  unsetenv("XDG_RUNTIME_DIR");
  if (geteuid() != 0) GTEST_SKIP() << "the rest needs root to act as three users (CI runs as root)";

  // Two users at once, each in /tmp/mqtool-<uid>.
  const uid_t a = 60002, b = 60003, victim = 60004;
  int hold[2];
  ASSERT_EQ(pipe(hold), 0);
  const pid_t first = fork();
  if (first == 0) {
    close(hold[1]);
    if (setgroups(0, nullptr) != 0 || setgid(a) != 0 || setuid(a) != 0) _exit(100);
    SingleInstance guard;
    char c;
    if (guard.Acquired()) {
      [[maybe_unused]] const ssize_t n = read(hold[0], &c, 1);  // until the parent is done
    }
    _exit(guard.Acquired() ? 0 : 1);
  }
  close(hold[0]);
  // The second user may start while the first one's guard is held.
  for (int i = 0; i < 500 && !fs::exists("/tmp/mqtool-" + std::to_string(a) + "/Splashledger.lock"); ++i) usleep(10000);
  EXPECT_EQ(InChildAs(b, b, [] { return SingleInstance().Acquired() ? 0 : 1; }), 0);
  close(hold[1]);
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Another user planted the victim's folder: the victim is told whose it is.
  const std::string planted = "/tmp/mqtool-" + std::to_string(victim);
  ASSERT_EQ(mkdir(planted.c_str(), 0700), 0);
  ASSERT_EQ(chown(planted.c_str(), a, a), 0);
  EXPECT_EQ(InChildAs(victim, victim,
                      [&] {
                        SingleInstance guard;
                        return !guard.Acquired() && guard.Problem().find(planted) != std::string::npos &&
                                       guard.Problem().find("belongs to user") != std::string::npos
                                   ? 0
                                   : 1;
                      }),
            0);
  for (uid_t u : {a, b, victim}) fs::remove_all("/tmp/mqtool-" + std::to_string(u));
}

// The advice at a failed settings write fits the folder: missing (how it is
// made), a group the user could join, or whose folder it is.
TEST(DataFolder, DiagnoseWriteNamesTheCause) {
  TempDir d;
  EXPECT_EQ(DataFolder::DiagnoseWrite(d.file("missing")).kind, WriteProblem::Kind::FolderMissing);
  EXPECT_EQ(DataFolder::DiagnoseWrite(d.str()).kind, WriteProblem::Kind::Unknown);  // writable
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give folders to root and dialout (CI runs as root)";
  const std::string shared = d.file("shared"), closed = d.file("closed");
  ASSERT_EQ(mkdir(shared.c_str(), 0775), 0);
  ASSERT_EQ(chown(shared.c_str(), 0, 20), 0);  // Debian's dialout
  ASSERT_EQ(chmod(shared.c_str(), 02775), 0);
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(chmod(d.str().c_str(), 0755), 0);
  EXPECT_EQ(InChildAsOrdinaryUser([&] {
              const WriteProblem join = DataFolder::DiagnoseWrite(shared);
              const WriteProblem owner = DataFolder::DiagnoseWrite(closed);
              return join.kind == WriteProblem::Kind::JoinGroup && join.group == UserAccount::GroupName(20) &&
                             owner.kind == WriteProblem::Kind::FolderNotWritable && owner.owner == "root" &&
                             owner.group == UserAccount::GroupName(0) && owner.mode == "0755"
                         ? 0
                         : 1;
            }),
            0);
}
#endif

}  // namespace
}  // namespace mq
