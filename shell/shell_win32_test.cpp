// Windows-only tests of the shell's platform side: the named mutex across
// processes (a child is this test program started again on one hidden
// case), the common application-data folder, and replacing a settings file
// that Windows refuses to replace.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/atomic_file_writer.h"
#include "shell/data_folder.h"
#include "shell/ini_file.h"
#include "shell/shell_test_util.h"
#include "shell/single_instance.h"
#include "shell/wide_text_win32.h"

namespace mq {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::string UniqueName(const char* what) {
  static int counter = 0;
  return std::string("MqTest-") + what + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

// The child's side: started with MQ_TEST_GUARD set, it takes that guard.
// Mode "probe": exit at once with 0 when acquired, 3 when refused.
// Mode "hold": signal "<guard>-ready" and keep the guard until the parent
// ends the process; it never releases the guard itself.
TEST(SingleInstanceChild, DISABLED_TakeGuard) {
  const std::wstring guard = Environment(L"MQ_TEST_GUARD");
  if (guard.empty()) GTEST_SKIP() << "only run as the child of the cross-process test";
  SingleInstance held(WideText::ToUtf8(guard));
  if (Environment(L"MQ_TEST_GUARD_MODE") == L"hold" && held.Acquired()) {
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (guard + L"-ready").c_str());
    if (ready) SetEvent(ready);
    Sleep(INFINITE);
  }
  ExitProcess(held.Acquired() ? 0 : 3);
}

struct Child {
  PROCESS_INFORMATION pi{};
  ~Child() {
    if (pi.hProcess) {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, 30000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  }
};

// Starts this program again on the child case with the given guard and mode.
bool StartChild(const std::string& guard, const wchar_t* mode, Child& child) {
  wchar_t exe[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring cmd = std::wstring(L"\"") + exe +
                     L"\" --gtest_filter=SingleInstanceChild.DISABLED_TakeGuard --gtest_also_run_disabled_tests";
  SetEnvironmentVariableW(L"MQ_TEST_GUARD", WideText::FromUtf8(guard).c_str());
  SetEnvironmentVariableW(L"MQ_TEST_GUARD_MODE", mode);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  const BOOL ok = CreateProcessW(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child.pi);
  SetEnvironmentVariableW(L"MQ_TEST_GUARD", nullptr);
  SetEnvironmentVariableW(L"MQ_TEST_GUARD_MODE", nullptr);
  return ok != FALSE;
}

DWORD WaitForExit(Child& child) {
  if (WaitForSingleObject(child.pi.hProcess, 60000) != WAIT_OBJECT_0) return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(child.pi.hProcess, &code);
  return code;
}

TEST(SingleInstanceWin32, AnotherProcessIsRefusedWhileWeHoldTheGuard) {
  const std::string guard = UniqueName("guard");
  SingleInstance ours(guard);
  ASSERT_TRUE(ours.Acquired());
  Child refused;
  ASSERT_TRUE(StartChild(guard, L"probe", refused));
  EXPECT_EQ(WaitForExit(refused), 3u);
  EXPECT_TRUE(ours.Acquired());
  // Still ours after the refused copy ended: a third process is refused too.
  Child again;
  ASSERT_TRUE(StartChild(guard, L"probe", again));
  EXPECT_EQ(WaitForExit(again), 3u);
}

TEST(SingleInstanceWin32, GuardOfAKilledProcessIsFreeAgain) {
  const std::string guard = UniqueName("guard");
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, WideText::FromUtf8(guard + "-ready").c_str());
  ASSERT_NE(ready, nullptr);
  Child holder;
  ASSERT_TRUE(StartChild(guard, L"hold", holder));
  HANDLE waits[2] = {ready, holder.pi.hProcess};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0) << "the child never took the guard";
  {
    SingleInstance refused(guard);
    EXPECT_FALSE(refused.Acquired());
  }
  // A crash: no destructor, no ReleaseMutex; Windows frees the mutex.
  TerminateProcess(holder.pi.hProcess, 1);
  EXPECT_EQ(WaitForExit(holder), 1u);
  SingleInstance after(guard);
  EXPECT_TRUE(after.Acquired());
  CloseHandle(ready);
}

TEST(SingleInstanceWin32, DefaultNameIsTheSharedSplashledgerMutex) {
  SingleInstance guard;
  if (!guard.Acquired()) {
    HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, L"Splashledger");
    ASSERT_NE(existing, nullptr) << "refused, yet no mutex of that name exists";
    CloseHandle(existing);
    GTEST_SKIP() << "MqTool or Splashledger is running on this machine";
  }
  // The sibling scoring program's CreateMutexW sees ours.
  HANDLE sibling = CreateMutexW(nullptr, TRUE, L"Splashledger");
  ASSERT_NE(sibling, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(sibling);
}

TEST(SingleInstanceWin32, NameTakenByAnotherKindOfObjectRefusesTheStart) {
  // CreateMutexW fails (ERROR_INVALID_HANDLE) rather than reporting an
  // existing mutex; either way the program must not start.
  const std::string name = UniqueName("event");
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, WideText::FromUtf8(name).c_str());
  ASSERT_NE(event, nullptr);
  SingleInstance guard(name);
  EXPECT_FALSE(guard.Acquired());
  CloseHandle(event);
}

TEST(WideTextWin32, ConvertsBothWaysAndNamesSystemErrors) {
  EXPECT_EQ(WideText::FromUtf8("C:\\Daten\\\u03A9\U0001F600"), L"C:\\Daten\\\u03A9\U0001F600");
  EXPECT_EQ(WideText::ToUtf8(L"C:\\Daten\\\u03A9\U0001F600"), "C:\\Daten\\\u03A9\U0001F600");
  EXPECT_EQ(WideText::FromUtf8("a\xFF"
                               "b"),
            L"a\uFFFD"
            L"b");
  EXPECT_EQ(WideText::FromUtf8(""), L"");
  const std::string denied = WideText::SystemError(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(denied.ends_with(" (5)")) << denied;
  EXPECT_GT(denied.size(), 4u) << denied;
  EXPECT_EQ(denied.find('\n'), std::string::npos) << denied;
}

TEST(DataFolderWin32, CommonApplicationDataPlusOurSubFolder) {
  const std::string located = DataFolder::Locate();
  ASSERT_FALSE(located.empty());
  std::string expected = WideText::ToUtf8(Environment(L"ProgramData"));
  if (expected.empty()) expected = WideText::ToUtf8(Environment(L"ALLUSERSPROFILE"));
  ASSERT_FALSE(expected.empty()) << "neither ProgramData nor ALLUSERSPROFILE is set";
  if (expected.back() != '\\') expected += '\\';
  EXPECT_EQ(located, expected + "Corvane\\Ledgerkit\\");
}

TEST(AtomicFileWriterWin32, ReplacesAndRefusesWithoutLeavingTemporaryFiles) {
  TempDir d;
  const std::string target = d.file("MqTool.ini");
  AtomicFileWriter::Write(target, "first");
  AtomicFileWriter::Write(target, "second, longer");
  EXPECT_EQ(ReadAll(target), "second, longer");

  // Read-only file: Windows refuses to replace it, like the profile calls.
  const std::wstring wide = WideText::FromUtf8(target);
  ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(AtomicFileWriter::Write(target, "third"), FileWriteError);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadAll(target), "second, longer");

  // Open elsewhere without delete sharing (an editor, a virus scanner).
  HANDLE open = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  try {
    AtomicFileWriter::Write(target, "fourth");
    ADD_FAILURE() << "replaced a file that is open without delete sharing";
  } catch (const FileWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("MqTool.ini"), std::string::npos) << e.what();
  }
  CloseHandle(open);
  EXPECT_EQ(ReadAll(target), "second, longer");

  // A name Windows cannot create.
  EXPECT_THROW(AtomicFileWriter::Write(d.file("bad|name.ini"), "x"), FileWriteError);

  int entries = 0;
  for ([[maybe_unused]] const auto& e : testing::fs::directory_iterator(d.path)) ++entries;
  EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}

TEST(AtomicFileWriterWin32, AReplacedFileKeepsItsHiddenAndSystemAttributes) {
  TempDir d;
  const std::string target = d.file("MqTool.ini");
  AtomicFileWriter::Write(target, "first");
  const std::wstring wide = WideText::FromUtf8(target);
  ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  AtomicFileWriter::Write(target, "second");
  EXPECT_EQ(ReadAll(target), "second");
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace
}  // namespace mq
