#include "serial/serial_platform_posix.h"

#include <dirent.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

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

TEST(PosixPlatform, PermissionDeniedIsReportedWithTheSystemsText) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens everything";
  PtyLink link({1});
  ::chmod(link.SlavePath(1).c_str(), 0);
  PosixSerialPlatform platform(link.DataFolder());
  try {
    platform.OpenDevice(1);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), EACCES);
  }
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
  EXPECT_EQ(OpenFds(), before);
  ::close(other);
  EXPECT_TRUE(ProbeComPort(platform, 2));
}

}  // namespace
}  // namespace mq::serial
