#include "serial/serial_platform_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "serial/apd_exception.h"
#include "serial/port_probe.h"
#include "serial/testing/pty_link.h"
#include "util/user_account.h"

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
  EXPECT_EQ(PosixSerialPlatform::FixedDevicePath(0), std::nullopt);
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(16), "/dev/ttyS15");
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(17), "/dev/ttyUSB0");
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(32), "/dev/ttyUSB15");
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(33), "/dev/ttyACM0");
  EXPECT_EQ(*PosixSerialPlatform::FixedDevicePath(48), "/dev/ttyACM15");
  EXPECT_EQ(PosixSerialPlatform::FixedDevicePath(49), std::nullopt);
  EXPECT_EQ(PosixSerialPlatform::FixedDevicePath(50), std::nullopt);
}

using NoteKind = TPortMapNote::Kind;

std::vector<NoteKind> Kinds(const std::vector<TPortMapNote>& notes) {
  std::vector<NoteKind> kinds;
  for (const auto& n : notes) kinds.push_back(n.kind);
  return kinds;
}

// The ports folder decides alone while it binds a live device of the user's
// own; a folder whose links all lead nowhere (a simulator that was killed),
// an empty one, or a link in its place leaves the fixed table in charge,
// and the notes say why.
TEST(PosixPortMap, ThePortsFolderCountsOnlyWithALiveLinkOfItsOwn) {
  PtyLink link({2});
  const std::string ports = link.DataFolder() + "ports";
  PosixSerialPlatform platform(link.DataFolder());
  EXPECT_EQ(*platform.DevicePath(2), link.SlavePath(2));  // the link's target, read once
  EXPECT_EQ(platform.DevicePath(1), std::nullopt);        // /dev/ttyS0 is never tried
  EXPECT_EQ(Kinds(platform.PortMapNotes()), std::vector<NoteKind>{NoteKind::PortsFolderUsed});
  EXPECT_EQ(platform.PortMapNotes()[0].path, ports + "/");

  link.BindPath(2, link.DataFolder() + "gone");  // only a dead link left
  EXPECT_EQ(*platform.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(Kinds(platform.PortMapNotes()), std::vector<NoteKind>{NoteKind::PortsFolderNoDevice});

  ASSERT_EQ(::unlink((ports + "/COM2").c_str()), 0);  // empty
  EXPECT_EQ(*platform.DevicePath(17), "/dev/ttyUSB0");
  EXPECT_EQ(Kinds(platform.PortMapNotes()), std::vector<NoteKind>{NoteKind::PortsFolderNoDevice});

  const std::string real = link.DataFolder() + "elsewhere";
  ASSERT_EQ(::rename(ports.c_str(), real.c_str()), 0);
  ASSERT_EQ(::symlink(real.c_str(), ports.c_str()), 0);  // a link in the folder's place
  EXPECT_EQ(*platform.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(Kinds(platform.PortMapNotes()), std::vector<NoteKind>{NoteKind::PortsFolderNotAFolder});
  ::unlink(ports.c_str());
  ::rename(real.c_str(), ports.c_str());
}

// Anyone in the data folder's group may create ports/ or a link in it: a
// folder or link of another user must neither hide the machine's adapters
// nor put a terminal of theirs in the place of a base station.
TEST(PosixPortMap, PortsAndLinksOfAnotherUserAreIgnored) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user (CI runs as root)";
  PtyLink link({2, 3});
  const std::string ports = link.DataFolder() + "ports";
  PosixSerialPlatform platform(link.DataFolder());
  ASSERT_EQ(::lchown((ports + "/COM3").c_str(), 65534, 65534), 0);
  EXPECT_EQ(*platform.DevicePath(2), link.SlavePath(2));
  EXPECT_EQ(platform.DevicePath(3), std::nullopt);
  const auto notes = platform.PortMapNotes();
  ASSERT_EQ(Kinds(notes), (std::vector<NoteKind>{NoteKind::PortsFolderUsed, NoteKind::LinkForeign}));
  EXPECT_EQ(notes[1].path, ports + "/COM3");
  EXPECT_EQ(notes[1].owner, UserAccount::UserName(65534));

  ASSERT_EQ(::chown(ports.c_str(), 65534, 65534), 0);
  EXPECT_EQ(*platform.DevicePath(2), "/dev/ttyS1");
  const auto foreign = platform.PortMapNotes();
  ASSERT_EQ(Kinds(foreign), std::vector<NoteKind>{NoteKind::PortsFolderForeign});
  EXPECT_EQ(foreign[0].owner, UserAccount::UserName(65534));
  ::chown(ports.c_str(), 0, 0);
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
  EXPECT_THROW(platform.OpenDevice(1), EBadId);  // /dev/ttyS0 is never tried
  const int before = OpenFds();
  { auto device = platform.OpenDevice(2); }
  EXPECT_EQ(OpenFds(), before);
  // A link to something that is not a serial device.
  link.BindPath(5, "/dev/null");
  EXPECT_THROW(platform.OpenDevice(5), EBadId);
  // A FIFO would block an open with no writer: refused before opening.
  const std::string fifo = link.DataFolder() + "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  link.BindPath(6, fifo);
  EXPECT_THROW(platform.OpenDevice(6), EBadId);
  EXPECT_EQ(OpenFds(), before);
  ::unlink(fifo.c_str());
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

// The advice for a device the user may not open fits the device: joining
// its group helps only where that group may read and write it.
TEST(PosixPlatform, PermissionAdviceNamesTheGroupOnlyWhereJoiningHelps) {
  PtyLink link({1, 2});
  ASSERT_EQ(::chmod(link.DataFolder().c_str(), 0755), 0);
  const gid_t dialout = 20;  // Debian's dialout; nobody is not a member
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(link.SlavePath(1).c_str(), 0, dialout), 0);
    ASSERT_EQ(::chown(link.SlavePath(2).c_str(), 0, 0), 0);
  }
  ASSERT_EQ(::chmod(link.SlavePath(1).c_str(), 0660), 0);
  ASSERT_EQ(::chmod(link.SlavePath(2).c_str(), 0600), 0);
  const std::string seen = AsOrdinaryUser([&] {
    PosixSerialPlatform platform(link.DataFolder());
    std::string text;
    for (unsigned n : {1u, 2u}) {
      const TOpenAdvice a = platform.AdviceFor(n, TOpenFailure::PermissionDenied);
      const char* kind = a.kind == TOpenAdvice::Kind::JoinGroup     ? "join"
                         : a.kind == TOpenAdvice::Kind::DeviceOwner ? "owner"
                         : a.kind == TOpenAdvice::Kind::LogInAgain  ? "log in"
                                                                    : "none";
      text += std::string(kind) + " " + a.group + " " + a.owner + " " + a.mode + "|";
    }
    return text;
  });
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the devices to root (CI runs as root): " << seen;
  EXPECT_EQ(seen, "join " + UserAccount::GroupName(dialout) + "  |owner root root 0600|");
}

// "In use" names the program that holds the device where /proc tells.
TEST(PosixPlatform, InUseAdviceNamesTheProgramHoldingTheDevice) {
  PtyLink link({1});
  int ready[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int fd = ::open(link.SlavePath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) ::_exit(1);
    ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));  // keeps fd open
    ::_exit(2);
  }
  ::close(ready[1]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 0);  // end of file once exec has closed the pipe
  ::close(ready[0]);
  PosixSerialPlatform platform(link.DataFolder());
  ReportPortsInUse = false;
  const TPortProbeResult r = ProbeComPortDetail(platform, 1);
  ReportPortsInUse = true;
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(r.Failure, TOpenFailure::InUse);
  EXPECT_EQ(r.Advice.kind, TOpenAdvice::Kind::HeldBy);
  EXPECT_EQ(r.Advice.program, "sleep");
  EXPECT_EQ(r.Advice.pid, holder);
}

}  // namespace
}  // namespace mq::serial
