#include "serial/serial_platform_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "serial/apd_exception.h"
#include "util/user_account.h"

namespace mq::serial {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

[[noreturn]] void ThrowIo(int err) { throw EInOutError(err, ErrnoText(err)); }

speed_t SpeedFor(std::uint32_t baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

// One open serial device: an fd and a pipe whose read end becomes readable
// once Interrupt() is called, ending every wait.
class PosixSerialDevice : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {
    if (::pipe(wake_) != 0 || ::pipe(dispatchWake_) != 0) {
      const int err = errno;
      ::close(fd_);
      for (int p : {wake_[0], wake_[1], dispatchWake_[0], dispatchWake_[1]})
        if (p >= 0) ::close(p);
      ThrowIo(err);
    }
    for (int p : {wake_[0], wake_[1], dispatchWake_[0], dispatchWake_[1]}) ::fcntl(p, F_SETFD, FD_CLOEXEC);
    for (int p : dispatchWake_) ::fcntl(p, F_SETFL, ::fcntl(p, F_GETFL) | O_NONBLOCK);
  }
  ~PosixSerialDevice() override {
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the lock
    for (int p : {wake_[0], wake_[1], dispatchWake_[0], dispatchWake_[1]}) ::close(p);
  }

  void SetupQueues(std::uint16_t, std::uint16_t) override {
    // The tty layer sizes its own queues.
  }

  void Configure(const LineSettings& s) override {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) ThrowIo(errno);
    ::cfmakeraw(&t);
    const speed_t speed = SpeedFor(s.baud);
    if (speed == 0) ThrowIo(EINVAL);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    switch (s.dataBits) {
      case 5: t.c_cflag |= CS5; break;
      case 6: t.c_cflag |= CS6; break;
      case 7: t.c_cflag |= CS7; break;
      default: t.c_cflag |= CS8; break;
    }
    if (s.parity == TParity::pOdd) t.c_cflag |= PARENB | PARODD;
    if (s.parity == TParity::pEven) t.c_cflag |= PARENB;
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    if ((s.hwFlow & hwfRequireCTS) && (s.hwFlow & hwfUseRTS)) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (s.swFlow == TSWFlowOptions::swfTransmit || s.swFlow == TSWFlowOptions::swfBoth) t.c_iflag |= IXON;
    if (s.swFlow == TSWFlowOptions::swfReceive || s.swFlow == TSWFlowOptions::swfBoth) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    // VMIN 1: with O_NONBLOCK an empty queue reads as EAGAIN, so a 0-byte
    // read means the line has really ended (VMIN 0 would return 0 then).
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) ThrowIo(errno);
    SetDTR(s.dtr);
    SetRTS(s.rts);
  }

  // A device without modem lines (a pseudo-terminal) has none to set.
  void SetDTR(bool on) override { SetModemBit(TIOCM_DTR, on); }
  void SetRTS(bool on) override { SetModemBit(TIOCM_RTS, on); }

  IoResult Read(char* dest, std::size_t max) override {
    for (;;) {
      const ssize_t n = ::read(fd_, dest, max);
      if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n), 0};
      if (n == 0) return {IoStatus::End, 0, ENODEV};  // hang-up: the end, not "no data"
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
      if (errno == EIO || errno == ENXIO || errno == ENODEV) return {IoStatus::End, 0, errno};
      return {IoStatus::Failed, 0, errno};
    }
  }

  IoResult Write(const char* src, std::size_t count) override {
    for (;;) {
      const ssize_t n = ::write(fd_, src, count);
      if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n), 0};
      if (n == 0) return {IoStatus::WouldBlock, 0, 0};
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
      if (errno == EIO || errno == ENXIO || errno == ENODEV) return {IoStatus::End, 0, errno};
      return {IoStatus::Failed, 0, errno};
    }
  }

  void PurgeInput() override { ::tcflush(fd_, TCIFLUSH); }
  void PurgeOutput() override { ::tcflush(fd_, TCOFLUSH); }
  bool UsesWorkerThreads() const override { return true; }
  WaitResult WaitReadable(int timeoutMs) override { return Wait(POLLIN, timeoutMs); }
  WaitResult WaitWritable(int timeoutMs) override { return Wait(POLLOUT, timeoutMs); }

  WaitResult WaitDispatch(bool watchDevice, int timeoutMs) override {
    pollfd fds[2] = {{dispatchWake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
    for (;;) {
      const int r = ::poll(fds, watchDevice ? 2 : 1, timeoutMs);
      if (r < 0) {
        if (errno == EINTR) continue;
        return WaitResult::Failed;
      }
      if (r == 0) return WaitResult::TimedOut;
      if (fds[0].revents != 0) {
        char sink[64];
        while (::read(dispatchWake_[0], sink, sizeof sink) > 0) {
        }
        return WaitResult::Woken;
      }
      if (fds[1].revents & POLLIN) return WaitResult::Ready;
      return WaitResult::HungUp;  // POLLHUP/POLLERR/POLLNVAL: the reader deals with it
    }
  }

  void WakeDispatcher() override {
    const char c = 1;
    // A full pipe already holds a wake-up.
    while (::write(dispatchWake_[1], &c, 1) < 0 && errno == EINTR) {
    }
  }

  void Interrupt() override {
    const char c = 1;
    // Left unread, so every later wait returns at once as well.
    while (::write(wake_[1], &c, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  void SetModemBit(int bit, bool on) { ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit); }

  WaitResult Wait(short events, int timeoutMs) {
    pollfd fds[2] = {{fd_, events, 0}, {wake_[0], POLLIN, 0}};
    for (;;) {
      const int r = ::poll(fds, 2, timeoutMs);
      if (r < 0) {
        if (errno == EINTR) continue;
        return WaitResult::Failed;
      }
      if (r == 0) return WaitResult::TimedOut;
      if (fds[1].revents != 0) return WaitResult::Interrupted;
      if (fds[0].revents & events) return WaitResult::Ready;
      if (fds[0].revents & POLLNVAL) return WaitResult::Failed;
      if (fds[0].revents & (POLLHUP | POLLERR)) return WaitResult::HungUp;
      return WaitResult::Ready;
    }
  }

  int fd_;
  int wake_[2] = {-1, -1};
  int dispatchWake_[2] = {-1, -1};
};

// COM numbers that ports/ may bind: the full scan's range.
constexpr unsigned kMaxMappedCom = 50;

// ports/ and its links count when this user or root made them: anyone else
// in the data folder's group could otherwise hide the real adapters or
// answer as a base station on a terminal of theirs.
bool Trusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

// The first other process that has device open, found through /proc where
// its descriptors are readable (our own processes; all of them for root).
std::optional<std::pair<int, std::string>> HolderOf(const std::string& device) {
  char* real = ::realpath(device.c_str(), nullptr);
  if (real == nullptr) return std::nullopt;
  const std::string target(real);
  std::free(real);
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return std::nullopt;
  std::optional<std::pair<int, std::string>> holder;
  const int self = ::getpid();
  while (!holder) {
    const dirent* e = ::readdir(proc);
    if (e == nullptr) break;
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == self) continue;
    const std::string fds = std::string("/proc/") + e->d_name + "/fd";
    DIR* d = ::opendir(fds.c_str());
    if (d == nullptr) continue;
    while (const dirent* f = ::readdir(d)) {
      char buf[4096];
      const ssize_t len = ::readlinkat(::dirfd(d), f->d_name, buf, sizeof buf - 1);
      if (len <= 0 || target.compare(0, std::string::npos, buf, static_cast<std::size_t>(len)) != 0) continue;
      std::string name;
      if (std::FILE* comm = std::fopen((std::string("/proc/") + e->d_name + "/comm").c_str(), "r")) {
        char line[64] = {0};
        if (std::fgets(line, sizeof line, comm) != nullptr) name = line;
        std::fclose(comm);
      }
      while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
      holder = std::make_pair(static_cast<int>(pid), name.empty() ? std::string("?") : name);
      break;
    }
    ::closedir(d);
  }
  ::closedir(proc);
  return holder;
}

std::string WithSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

// A kernel serial port without hardware behind it (an empty /dev/ttyS slot).
bool IsPhantomSerialPort(int fd) {
#ifdef __linux__
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) == 0) return info.type == PORT_UNKNOWN;
#else
  (void)fd;
#endif
  return false;
}

// A device that could not be opened for lack of permission but is an
// empty kernel serial slot, which those who may open it see as no device.
bool EmptySlotBehind(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  const std::string device(real);
  std::free(real);
  const auto slash = device.rfind('/');
  return PosixSerialPlatform::EmptySerialSlot("/sys/class/tty/" + device.substr(slash + 1));
}

}  // namespace

bool PosixSerialPlatform::EmptySerialSlot(const std::string& sysfsTty) {
  std::FILE* f = std::fopen((WithSlash(sysfsTty) + "type").c_str(), "r");
  if (f == nullptr) return false;
  int type = -1;
  const bool read = std::fscanf(f, "%d", &type) == 1;
  std::fclose(f);
  return read && type == 0;  // PORT_UNKNOWN
}

TOpenFailure PosixSerialPlatform::OpenFailureOf(int err) const {
  switch (err) {
    case EACCES:
    case EPERM: return TOpenFailure::PermissionDenied;
    case EBUSY: return TOpenFailure::InUse;
    default: return TOpenFailure::Other;
  }
}

PosixSerialPlatform::PosixSerialPlatform(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

std::optional<std::string> PosixSerialPlatform::FixedDevicePath(unsigned n) {
  if (n == 0) return std::nullopt;
  if (n <= 16) return "/dev/ttyS" + std::to_string(n - 1);
  if (n <= 32) return "/dev/ttyUSB" + std::to_string(n - 17);
  if (n <= 48) return "/dev/ttyACM" + std::to_string(n - 33);
  return std::nullopt;
}

PosixSerialPlatform::PortMap PosixSerialPlatform::MapPorts() const {
  PortMap map;
  const std::string folder = WithSlash(dataFolder_) + "ports";
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return map;  // no ports/ (or none we may see): the fixed table
  auto ignore = [&](TPortMapNote::Kind kind, const std::string& owner = {}) {
    map.notes.push_back({kind, folder + "/", owner});
    return map;
  };
  if (!S_ISDIR(st.st_mode)) return ignore(TPortMapNote::Kind::PortsFolderNotAFolder);
  if (!Trusted(st.st_uid)) return ignore(TPortMapNote::Kind::PortsFolderForeign, UserAccount::UserName(st.st_uid));
  // The folder itself, not whatever may be renamed into its place now.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return ignore(TPortMapNote::Kind::PortsFolderNotAFolder);
  struct stat opened {};
  if (::fstat(dir, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino ||
      !Trusted(opened.st_uid)) {
    ::close(dir);
    return ignore(TPortMapNote::Kind::PortsFolderForeign, UserAccount::UserName(opened.st_uid));
  }
  map.devices.assign(kMaxMappedCom + 1, std::nullopt);
  bool anyDevice = false;
  for (unsigned n = 1; n <= kMaxMappedCom; ++n) {
    const std::string name = "COM" + std::to_string(n);
    struct stat link {};
    if (::fstatat(dir, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!Trusted(link.st_uid)) {
      map.notes.push_back({TPortMapNote::Kind::LinkForeign, folder + "/" + name, UserAccount::UserName(link.st_uid)});
      continue;
    }
    std::string target;
    if (S_ISLNK(link.st_mode)) {
      char buf[4096];
      const ssize_t len = ::readlinkat(dir, name.c_str(), buf, sizeof buf - 1);
      if (len <= 0) continue;
      target.assign(buf, static_cast<std::size_t>(len));
      if (target[0] != '/') target = folder + "/" + target;
    } else if (S_ISCHR(link.st_mode)) {
      target = folder + "/" + name;  // a device node made there by root
    } else {
      continue;
    }
    struct stat device {};
    if (::stat(target.c_str(), &device) == 0 && S_ISCHR(device.st_mode)) anyDevice = true;
    map.devices[n] = target;
  }
  ::close(dir);
  if (!anyDevice) {
    map.devices.clear();
    map.notes.insert(map.notes.begin(), {TPortMapNote::Kind::PortsFolderNoDevice, folder + "/", {}});
    return map;
  }
  map.portsFolderUsed = true;
  map.notes.insert(map.notes.begin(), {TPortMapNote::Kind::PortsFolderUsed, folder + "/", {}});
  return map;
}

std::optional<std::string> PosixSerialPlatform::DevicePath(unsigned n) const {
  const PortMap map = MapPorts();
  if (!map.portsFolderUsed) return FixedDevicePath(n);
  if (n >= map.devices.size()) return std::nullopt;
  return map.devices[n];
}

std::vector<TPortMapNote> PosixSerialPlatform::PortMapNotes() { return MapPorts().notes; }

TOpenAdvice PosixSerialPlatform::AdviceForDevice(const std::string& path, TOpenFailure failure) {
  TOpenAdvice advice;
  advice.device = path;
  if (failure == TOpenFailure::InUse) {
    if (const auto holder = HolderOf(path)) {
      advice.kind = TOpenAdvice::Kind::HeldBy;
      advice.pid = holder->first;
      advice.program = holder->second;
    }
    return advice;
  }
  if (failure != TOpenFailure::PermissionDenied) return advice;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return advice;
  const std::string groupName = UserAccount::GroupName(st.st_gid);
  // Joining the group helps only where the group may read and write the
  // device, and only for a group of its own (root's group is no group a
  // user joins to use a port).
  if ((st.st_mode & 060) == 060 && st.st_gid != 0 && !UserAccount::ProcessInGroup(st.st_gid)) {
    advice.kind = UserAccount::AccountInGroup(st.st_gid) ? TOpenAdvice::Kind::LogInAgain : TOpenAdvice::Kind::JoinGroup;
    advice.group = groupName;
    return advice;
  }
  advice.kind = TOpenAdvice::Kind::DeviceOwner;
  advice.owner = UserAccount::UserName(st.st_uid);
  advice.group = groupName;
  advice.mode = UserAccount::ModeText(st.st_mode);
  return advice;
}

TOpenAdvice PosixSerialPlatform::AdviceFor(unsigned n, TOpenFailure failure) {
  const auto path = DevicePath(n);
  if (!path) return {};
  return AdviceForDevice(*path, failure);
}

void PosixSerialPlatform::RaiseOpenError(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case ELOOP: throw EBadId();
    case EBUSY:
    case EWOULDBLOCK: throw EAlreadyOpen();
    case ENOMEM: throw std::bad_alloc();
    default: ThrowIo(err);
  }
}

std::unique_ptr<SerialDevice> PosixSerialPlatform::OpenDevice(unsigned n) {
  const auto path = DevicePath(n);
  if (!path) throw EBadId();
  // Only a character device is opened: a FIFO, a file or a folder that a
  // link leads to is no serial port (and a FIFO could block the open).
  struct stat st {};
  if (::stat(path->c_str(), &st) != 0) RaiseOpenError(errno);
  if (!S_ISCHR(st.st_mode)) throw EBadId();
  const int fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if ((err == EACCES || err == EPERM) && EmptySlotBehind(*path)) throw EBadId();
    RaiseOpenError(err);
  }
  auto fail = [fd](int err) {
    ::close(fd);
    RaiseOpenError(err);
  };
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode)) fail(ENODEV);  // swapped after the check
  if (!::isatty(fd)) fail(ENODEV);  // a link to something that is no serial device
  // The lock is what keeps a second opener out even for root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) fail(errno == EWOULDBLOCK ? EBUSY : errno);
  if (::ioctl(fd, TIOCEXCL) != 0) fail(errno);
  if (IsPhantomSerialPort(fd)) fail(ENODEV);
  return std::make_unique<PosixSerialDevice>(fd);
}

bool PosixSerialPlatform::DeviceKnown(unsigned n) {
  const auto path = DevicePath(n);
  if (!path) return false;
  struct stat st {};
  if (::stat(path->c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const int fd = ::open(path->c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if ((err == EACCES || err == EPERM) && EmptySlotBehind(*path)) return false;
    return err != ENOENT && err != ENXIO && err != ENODEV;  // exists, in use
  }
  const bool phantom = IsPhantomSerialPort(fd);
  ::close(fd);
  return !phantom;
}

std::shared_ptr<SerialPlatform> MakeMachineSerialPlatform(const std::string& dataFolder) {
  return std::make_shared<PosixSerialPlatform>(dataFolder.empty() ? std::string(MQ_DEFAULT_DATA_FOLDER) : dataFolder);
}

}  // namespace mq::serial
