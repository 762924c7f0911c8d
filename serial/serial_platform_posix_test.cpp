#include "serial/serial_platform_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "serial/apd_exception.h"
#include "serial/port_probe.h"
#include "serial/pty_link.h"

namespace mq::serial {
namespace {

int OpenFds() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(PosixPortMap, FixedTableWithoutAPortsFolder) {
  EXPECT_EQ(PosixSerialPlatform::DevicePathFor("/d/", false, 0), std::nullopt);
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 1), "/dev/ttyS0");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 16), "/dev/ttyS15");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 17), "/dev/ttyUSB0");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 32), "/dev/ttyUSB15");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 33), "/dev/ttyACM0");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/d/", false, 48), "/dev/ttyACM15");
  EXPECT_EQ(PosixSerialPlatform::DevicePathFor("/d/", false, 49), std::nullopt);
  EXPECT_EQ(PosixSerialPlatform::DevicePathFor("/d/", false, 50), std::nullopt);
}

TEST(PosixPortMap, OnlyThePortsFolderWhenItExists) {
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/var/lib/Corvane/Ledgerkit/", true, 3),
            "/var/lib/Corvane/Ledgerkit/ports/COM3");
  EXPECT_EQ(*PosixSerialPlatform::DevicePathFor("/data", true, 50), "/data/ports/COM50");
  EXPECT_EQ(PosixSerialPlatform::DevicePathFor("/data", true, 0), std::nullopt);
}

TEST(PosixPortMap, OpenErrorsMapToTheSerialLayersErrors) {
  EXPECT_THROW(PosixSerialPlatform::RaiseOpenError(ENOENT), EBadId);
  EXPECT_THROW(PosixSerialPlatform::RaiseOpenError(ENXIO), EBadId);
  EXPECT_THROW(PosixSerialPlatform::RaiseOpenError(EBUSY), EAlreadyOpen);
  EXPECT_THROW(PosixSerialPlatform::RaiseOpenError(EWOULDBLOCK), EAlreadyOpen);
  EXPECT_THROW(PosixSerialPlatform::RaiseOpenError(ENOMEM), std::bad_alloc);
  try {
    PosixSerialPlatform::RaiseOpenError(EACCES);  // not "already open"
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), EACCES);
    EXPECT_STREQ(e.what(), "Permission denied");
  }
}

TEST(PosixPlatform, OpensOnlyWhatThePortsFolderBinds) {
  PtyLink link({2});
  PosixSerialPlatform platform(link.DataFolder());
  EXPECT_EQ(*platform.DevicePath(2), link.DataFolder() + "ports/COM2");
  EXPECT_THROW(platform.OpenDevice(1), EBadId);  // /dev/ttyS0 is never tried
  const int before = OpenFds();
  { auto device = platform.OpenDevice(2); }
  EXPECT_EQ(OpenFds(), before);
  // A link to something that is not a serial device.
  link.BindPath(5, "/dev/null");
  EXPECT_THROW(platform.OpenDevice(5), EBadId);
  EXPECT_EQ(OpenFds(), before);
}

TEST(PosixPlatform, ASecondOpenIsAlreadyOpenEvenForRoot) {
  PtyLink link({1});
  PosixSerialPlatform platform(link.DataFolder());
  auto first = platform.OpenDevice(1);
  const int before = OpenFds();
  EXPECT_THROW(platform.OpenDevice(1), EAlreadyOpen);
  EXPECT_EQ(OpenFds(), before);
  first.reset();
  EXPECT_NO_THROW(platform.OpenDevice(1));
}

const char* FailureName(TOpenFailure f) {
  switch (f) {
    case TOpenFailure::NoDevice: return "no device";
    case TOpenFailure::InUse: return "in use";
    case TOpenFailure::PermissionDenied: return "permission denied";
    case TOpenFailure::Other: return "other";
  }
  return "?";
}

std::string ProbeText(SerialPlatform& platform, unsigned n) {
  ReportPortsInUse = false;
  const auto r = ProbeComPortDetail(platform, n);
  ReportPortsInUse = true;
  return r.Available ? "available" : FailureName(r.Failure);
}

// Runs fn as an ordinary user and returns its text. Root opens any device
// whatever its mode, so as root fn runs in a child process that has given
// root up for good (user nobody, group nogroup, no supplementary groups).
std::string AsOrdinaryUser(const std::function<std::string()>& fn) {
  if (::geteuid() != 0) return fn();
  const passwd* nobody = ::getpwnam("nobody");
  const uid_t uid = nobody ? nobody->pw_uid : 65534;
  const gid_t gid = nobody ? nobody->pw_gid : 65534;
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    std::string text;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0 ||
        ::geteuid() == 0)
      text = "could not give up root";
    else
      text = fn();
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(out[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

TEST(PosixPlatform, PermissionDeniedIsReportedWithTheSystemsText) {
  PtyLink link({1, 2, 3});
  // The folder and its links are open to everyone; the devices decide.
  ASSERT_EQ(::chmod(link.DataFolder().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(link.SlavePath(1).c_str(), 0), 0);  // nobody but root may open COM1
  ASSERT_EQ(::chmod(link.SlavePath(2).c_str(), 0666), 0);
  ASSERT_EQ(::chmod(link.SlavePath(3).c_str(), 0666), 0);
  // Another program holds COM3 the way a terminal program does.
  const int other = ::open(link.SlavePath(3).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  const std::string seen = AsOrdinaryUser([&] {
    PosixSerialPlatform platform(link.DataFolder());
    std::string text;
    try {
      platform.OpenDevice(1);
      text = "opened";
    } catch (const EInOutError& e) {
      text = std::to_string(e.ErrorCode()) + " " + e.what();
    } catch (const std::exception& e) {
      text = std::string("other error: ") + e.what();
    }
    for (unsigned n : {1u, 2u, 3u, 4u}) text += " | COM" + std::to_string(n) + " " + ProbeText(platform, n);
    return text;
  });
  ::close(other);
  EXPECT_EQ(seen, std::to_string(EACCES) +
                      " Permission denied | COM1 permission denied | COM2 available | COM3 in use | COM4 no device");
}

TEST(PosixPlatform, OpenFailuresTheUserCanActOn) {
  PosixSerialPlatform platform("/nowhere");
  EXPECT_EQ(platform.OpenFailureOf(EACCES), TOpenFailure::PermissionDenied);
  EXPECT_EQ(platform.OpenFailureOf(EPERM), TOpenFailure::PermissionDenied);
  EXPECT_EQ(platform.OpenFailureOf(EBUSY), TOpenFailure::InUse);
  EXPECT_EQ(platform.OpenFailureOf(EIO), TOpenFailure::Other);
}

TEST(PosixPlatform, EmptySerialSlotIsReadFromSysfsType) {
  PtyLink link(std::vector<unsigned>{});
  const std::string slot = link.DataFolder() + "ttyS9";
  ASSERT_EQ(::mkdir(slot.c_str(), 0755), 0);
  EXPECT_FALSE(PosixSerialPlatform::EmptySerialSlot(slot));  // no type: a pty, say
  auto writeType = [&](const char* text) {
    std::FILE* f = std::fopen((slot + "/type").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  };
  writeType("0\n");
  EXPECT_TRUE(PosixSerialPlatform::EmptySerialSlot(slot));
  writeType("4\n");  // a 16550A
  EXPECT_FALSE(PosixSerialPlatform::EmptySerialSlot(slot));
  ::unlink((slot + "/type").c_str());
  ::rmdir(slot.c_str());
}

TEST(PosixPlatform, ProbeAnswersAndLeavesNoHandle) {
  struct Restore {
    ~Restore() { ReportPortsInUse = true; }
  } restore;
  PtyLink link({1, 2});
  PosixSerialPlatform platform(link.DataFolder());
  // Another program holds COM2.
  const int other = ::open(link.SlavePath(2).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  const int before = OpenFds();
  EXPECT_FALSE(ProbeComPort(platform, 0));
  EXPECT_TRUE(ProbeComPort(platform, 1));
  EXPECT_TRUE(ProbeComPort(platform, 2));  // in use, but it exists
  EXPECT_FALSE(ProbeComPort(platform, 3));
  ReportPortsInUse = false;
  EXPECT_TRUE(ProbeComPort(platform, 1));
  EXPECT_FALSE(ProbeComPort(platform, 2));
  EXPECT_FALSE(ProbeComPort(platform, 3));
  EXPECT_EQ(ProbeComPortDetail(platform, 2).Failure, TOpenFailure::InUse);  // the lock holds for root too
  EXPECT_EQ(ProbeComPortDetail(platform, 3).Failure, TOpenFailure::NoDevice);
  EXPECT_EQ(OpenFds(), before);
  ::close(other);
  EXPECT_TRUE(ProbeComPort(platform, 2));
}

}  // namespace
}  // namespace mq::serial
