#include "sim/pty_binding.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

namespace mqsim {

namespace {

// Every open in ports/ and of ports/ itself: never through a link, never
// waiting (a FIFO or a device planted there must not stall marq-sim, least
// of all while it holds the folder lock), never taking a controlling tty.
constexpr int kSafeOpen = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

constexpr const char* kPorts = "ports";
// The marker says a marq-sim created ports/, so the last one out removes it.
constexpr const char* kMarker = ".created-by-marq-sim";

// A marq-sim holds the folder lock for milliseconds; anybody who can read
// ports/ can also flock it and never let go, so the wait has a bound.
constexpr auto kFolderLockWait = std::chrono::seconds(5);

std::string sysError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string typeName(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "a special file";
}

std::string ownerName(uid_t uid) {
  passwd pw{};
  passwd* found = nullptr;
  char buf[1024];
  if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr)
    return std::string("user ") + found->pw_name;
  return "uid " + std::to_string(uid);
}

// Text another user wrote (a link's target) as it may go into a message:
// control bytes would reach the user's terminal, so they become '?'.
std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return text;
}

bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when `name` in the folder `dirFd` is, right now, the file open as fd.
bool isEntryOf(int dirFd, const std::string& name, int fd) {
  struct stat a {};
  struct stat b {};
  return fstat(fd, &a) == 0 && fstatat(dirFd, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(a, b);
}

std::string readLinkAt(int dirFd, const std::string& name) {
  char buf[4096];
  const ssize_t n = readlinkat(dirFd, name.c_str(), buf, sizeof buf - 1);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

bool isComName(const std::string& n) {
  return n.size() > 3 && n.size() < 8 && n.compare(0, 3, "COM") == 0 &&
         std::all_of(n.begin() + 3, n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Creates `name` in `dirFd` as a new, empty regular file of this user with
// exactly `mode`. O_CREAT|O_EXCL|O_NOFOLLOW fails on anything already there,
// a dangling link included, so the only file marq-sim ever writes or
// changes the mode of in ports/ is one it has just made; fstat confirms
// that before the mode is set. -1 with errno on failure.
int createOwnFile(int dirFd, const std::string& name, mode_t mode) {
  const int fd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | kSafeOpen, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    close(fd);
    errno = EEXIST;
    return -1;
  }
  fchmod(fd, mode);  // whatever the umask: others must be able to open it to flock it
  return fd;
}

bool lockFolder(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kFolderLockWait;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The process number in a lock file, when it holds nothing else. It is
// another user's text on its way into a message, so only digits pass.
std::string pidIn(int fd) {
  char buf[16];
  const ssize_t n = pread(fd, buf, sizeof buf, 0);
  std::string pid;
  for (ssize_t i = 0; i < n; ++i) {
    if (std::isdigit(static_cast<unsigned char>(buf[i])))
      pid += buf[i];
    else if (buf[i] == '\n' && i + 1 == n)
      break;
    else
      return {};
  }
  return pid.size() <= 10 ? pid : std::string();
}

// The entries of the folder open as dirFd, read through a duplicate of the
// descriptor from the first entry on (the duplicate shares its position with
// dirFd, so a listing before must not shorten this one); nullptr when the
// duplicate or the listing cannot be had. The caller closes it (closedir).
DIR* OpenListing(int dirFd) {
  const int listFd = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  DIR* d = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (d == nullptr) {
    if (listFd >= 0) close(listFd);
    return nullptr;
  }
  rewinddir(d);
  return d;
}

}  // namespace

PtyBinding::~PtyBinding() { release(); }

std::vector<std::string> PtyBinding::takeNotes() { return std::exchange(notes_, {}); }

void PtyBinding::note(const std::string& name, const std::string& text) {
  if (std::find(noted_.begin(), noted_.end(), name) != noted_.end()) return;
  noted_.push_back(name);
  notes_.push_back(portsDir_ + "/" + name + " " + text);
}

// Makes ports/ with its marker already inside: the folder is built under a
// private name with mode 0700, where nobody else can plant anything, and is
// opened to the group and renamed into place only then, never over an
// existing ports/. True when ports/ exists now, whoever made it.
bool PtyBinding::createPortsDir(std::string& error) {
  std::string tmp;
  for (int n = 0; n < 10; ++n) {
    tmp = ".ports.new." + std::to_string(getpid()) + "." + std::to_string(n);
    if (mkdirat(dataFd_, tmp.c_str(), 0700) == 0) break;
    if (errno != EEXIST) {
      error = sysError("cannot create", portsDir_);
      return false;
    }
    tmp.clear();
  }
  if (tmp.empty()) {
    error = "cannot create " + portsDir_ + ": the temporary names .ports.new." + std::to_string(getpid()) +
            ".* are all taken";
    return false;
  }
  const int fd = openat(dataFd_, tmp.c_str(), O_RDONLY | O_DIRECTORY | kSafeOpen);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    if (fd >= 0) close(fd);
    error = "cannot create " + portsDir_ + ": its new folder was taken away while it was made; try again";
    return false;
  }
  fchmod(fd, 0700);  // the umask may have left even the owner out
  const int marker = createOwnFile(fd, kMarker, 0644);
  if (marker >= 0) close(marker);
  // Group-writable whatever the umask: in the shared data folder every
  // member of its group may bind and release numbers, and the last
  // simulator out (whoever started it) removes the folder. Set-group-ID so
  // that what is made inside keeps the folder's group.
  fchmod(fd, 02775);
  int rc = renameat2(dataFd_, tmp.c_str(), dataFd_, kPorts, RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL)  // a file system without it: a folder is never renamed over a non-empty one
    rc = renameat(dataFd_, tmp.c_str(), dataFd_, kPorts);
  const int err = errno;
  if (rc != 0) {
    unlinkat(fd, kMarker, 0);
    unlinkat(dataFd_, tmp.c_str(), AT_REMOVEDIR);
  }
  close(fd);
  if (rc != 0 && err != EEXIST && err != ENOTEMPTY) {
    errno = err;
    error = sysError("cannot create", portsDir_);
    return false;
  }
  return true;  // made here, or by another marq-sim in the same instant
}

// Opens ports/ (creating it when missing) and locks the folder itself, so
// that binding and releasing by several marq-sims never race with the
// removal of the folder. ports/ may belong to any member of the group (they
// all bind numbers there); a link in its place is refused, never followed.
bool PtyBinding::openPortsDir(std::string& error) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = openat(dataFd_, kPorts, O_RDONLY | O_DIRECTORY | kSafeOpen);
    if (fd < 0) {
      if (errno == ENOENT) {
        if (!createPortsDir(error)) return false;
        continue;
      }
      if (errno == ELOOP || errno == ENOTDIR) {
        struct stat st {};
        const std::string what = fstatat(dataFd_, kPorts, &st, AT_SYMLINK_NOFOLLOW) == 0 ? typeName(st.st_mode)
                                                                                         : "something else";
        error = portsDir_ + " is " + what +
                ", not a folder; marq-sim follows no link in the shared data folder and left it alone — "
                "remove it";
        return false;
      }
      error = sysError("cannot open", portsDir_);
      return false;
    }
    if (!lockFolder(fd)) {
      close(fd);
      error = portsDir_ + " stays locked by another process (a marq-sim locks it for a moment only); try again";
      return false;
    }
    if (isEntryOf(dataFd_, kPorts, fd)) {
      dirFd_ = fd;
      struct stat st {};
      if (fstat(fd, &st) == 0 && st.st_uid != geteuid() && st.st_uid != 0)
        notes_.push_back(portsDir_ + " belongs to " + ownerName(st.st_uid) +
                         ": the utility takes COM numbers only from a ports folder of its own user or root, "
                         "so yours does not see this simulator until that folder is gone");
      return true;
    }
    close(fd);  // removed by a marq-sim that just ended
  }
  error = "cannot settle " + portsDir_ + " (it keeps being removed)";
  return false;
}

// Takes the number's lock. A lock file is written only when it has just
// been created here: an existing one is opened read-only, which is all that
// flock needs, and when nobody holds its lock it is stale and is unlinked
// while locked, then made anew. Unlinking a stale lock file of another user
// is sound: ports/ is writable by the whole group on purpose, unlink removes
// the name only (it follows no link and changes no file), and the lock held
// meanwhile proves that no running marq-sim uses it (a running one holds its
// lock for its whole life, and one that opened the old file finds it gone
// and tries again). A lock file that is not a regular file, or that cannot
// be opened to check it, is no marq-sim's: it is left alone, the number
// refused.
bool PtyBinding::lockNumber(std::string& error) {
  const std::string lockPath = portsDir_ + "/" + lockName_;
  const std::string refuse = "; it was left alone — remove it or choose another --com";
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int fd = createOwnFile(dirFd_, lockName_, 0644);
    if (fd >= 0) {
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Somebody opened and locked the new file in that instant.
        if (isEntryOf(dirFd_, lockName_, fd)) unlinkat(dirFd_, lockName_.c_str(), 0);
        close(fd);
        continue;
      }
      const std::string pid = std::to_string(getpid()) + "\n";
      if (write(fd, pid.data(), pid.size()) < 0) {
        // The pid is only a courtesy for the message of a second
        // marq-sim; the lock itself is what counts.
      }
      lockFd_ = fd;
      return true;
    }
    if (errno != EEXIST) {
      error = comName_ + ": " + sysError("cannot create", lockPath);
      return false;
    }
    const int old = openat(dirFd_, lockName_.c_str(), O_RDONLY | kSafeOpen);
    if (old < 0) {
      if (errno == ENOENT) continue;  // removed in the meantime
      error = comName_ + ": " +
              (errno == ELOOP ? lockPath + " is a symbolic link, not a lock file of marq-sim, and was not followed"
                              : "cannot check whether the number is in use: " + sysError("cannot open", lockPath)) +
              refuse;
      return false;
    }
    struct stat st {};
    if (fstat(old, &st) != 0 || !S_ISREG(st.st_mode)) {
      error = comName_ + ": " + lockPath + " is " + typeName(st.st_mode) + ", not a lock file of marq-sim" + refuse;
      close(old);
      return false;
    }
    if (flock(old, LOCK_EX | LOCK_NB) != 0) {
      const bool busy = errno == EWOULDBLOCK;
      error = sysError("cannot lock", lockPath);
      const std::string pid = pidIn(old);
      close(old);
      if (busy)
        error = comName_ + " is already simulated by a running marq-sim" +
                (st.st_uid != geteuid() ? " of " + ownerName(st.st_uid) : std::string()) +
                (pid.empty() ? std::string() : " (pid " + pid + ")") + "; stop it or choose another --com";
      else
        error = comName_ + ": " + error;
      return false;
    }
    if (isEntryOf(dirFd_, lockName_, old) && unlinkat(dirFd_, lockName_.c_str(), 0) != 0) {
      error = comName_ + ": " + sysError("cannot remove the stale lock file", lockPath);
      close(old);
      return false;
    }
    close(old);
  }
  error = comName_ + ": cannot lock " + lockPath;
  return false;
}

// Called with the number's lock held: any link there now is not owned by a
// running marq-sim. A link to a pseudo-terminal, or one whose target is
// gone, is left over and replaced; a link to a device that exists was made
// by someone else (for example to a real adapter) and is kept. Nothing is
// opened: the target is only looked at with stat.
bool PtyBinding::checkExistingLink(std::string& error) {
  struct stat st {};
  if (fstatat(dirFd_, linkName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (!S_ISLNK(st.st_mode)) {
    error = linkPath_ + " exists and is " + typeName(st.st_mode) +
            ", not a link; it was left alone — remove it or choose another --com";
    return false;
  }
  const std::string target = readLinkAt(dirFd_, linkName_);
  struct stat ts {};
  const bool exists = fstatat(dirFd_, linkName_.c_str(), &ts, 0) == 0;
  if (exists && target.rfind("/dev/pts/", 0) != 0) {
    error = linkPath_ + " already binds " + printable(target) +
            ", which exists; remove the link or choose another --com";
    return false;
  }
  return true;
}

// The link is made under a temporary name and renamed over COM<N>, so the
// utility never finds the number half made. symlinkat, renameat and unlinkat
// follow no link: whatever else is at either name is replaced, never written.
bool PtyBinding::makeLink(std::string& error) {
  const std::string tmp = "." + comName_ + ".tmp." + std::to_string(getpid());
  unlinkat(dirFd_, tmp.c_str(), 0);
  if (symlinkat(slavePath_.c_str(), dirFd_, tmp.c_str()) != 0 ||
      renameat(dirFd_, tmp.c_str(), dirFd_, linkName_.c_str()) != 0) {
    error = sysError("cannot create the link", linkPath_);
    unlinkat(dirFd_, tmp.c_str(), 0);
    return false;
  }
  linked_ = true;
  return true;
}

// With the folder lock held: removes the links and lock files of marq-sims
// that were killed (their lock is free), whoever ran them, so a crash does
// not leave ports/ around with dead COM numbers in it. A lock file is opened
// read-only, without following a link and without waiting, and counts only
// as a regular file; anything else under a lock file's name is left alone
// and noted. Links to anything but a pseudo-terminal are never touched.
void PtyBinding::sweepStale() {
  DIR* d = OpenListing(dirFd_);
  if (d == nullptr) return;
  std::set<std::string> coms;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (isComName(n))
      coms.insert(n);
    else if (n.size() > 6 && n[0] == '.' && n.compare(n.size() - 5, 5, ".lock") == 0 &&
             isComName(n.substr(1, n.size() - 6)))
      coms.insert(n.substr(1, n.size() - 6));
  }
  closedir(d);
  for (const std::string& com : coms) {
    if (com == linkName_) continue;
    const std::string lock = "." + com + ".lock";
    const int fd = openat(dirFd_, lock.c_str(), O_RDONLY | kSafeOpen);
    if (fd < 0) {
      if (errno == ELOOP)
        note(lock, "is a symbolic link, not a lock file of marq-sim; it was left alone and not followed");
      else if (errno != ENOENT)
        note(lock, std::string("cannot be checked (") + std::strerror(errno) + "); it was left alone");
      continue;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      note(lock, "is " + typeName(st.st_mode) + ", not a lock file of marq-sim; it was left alone");
      close(fd);
      continue;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      close(fd);
      continue;  // a live marq-sim
    }
    struct stat ls {};
    if (fstatat(dirFd_, com.c_str(), &ls, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(ls.st_mode) &&
        readLinkAt(dirFd_, com).rfind("/dev/pts/", 0) == 0)
      unlinkat(dirFd_, com.c_str(), 0);
    if (isEntryOf(dirFd_, lock, fd)) unlinkat(dirFd_, lock.c_str(), 0);
    close(fd);
  }
}

// Removes ports/ when a marq-sim made it and nothing but the marker is left,
// so the utility goes back to its fixed port table. The marker counts only
// as a regular file of the folder's owner: one that somebody else put into
// a folder an installer made does not make marq-sim remove that folder.
void PtyBinding::removePortsDirIfOnlyMarker() {
  struct stat ds {};
  struct stat ms {};
  if (fstat(dirFd_, &ds) != 0 || fstatat(dirFd_, kMarker, &ms, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(ms.st_mode) ||
      ms.st_uid != ds.st_uid)
    return;
  DIR* d = OpenListing(dirFd_);
  if (d == nullptr) return;
  bool onlyMarker = true;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != ".." && n != kMarker) onlyMarker = false;
  }
  closedir(d);
  if (!onlyMarker) return;
  unlinkat(dirFd_, kMarker, 0);
  if (isEntryOf(dataFd_, kPorts, dirFd_))
    unlinkat(dataFd_, kPorts, AT_REMOVEDIR);  // removes an empty folder only, follows no link
}

bool PtyBinding::openPty(std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  char name[256];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = sysError("cannot open", slavePath_);
    return false;
  }
  termios tio{};
  if (tcgetattr(slave_, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tcsetattr(slave_, TCSANOW, &tio);
  }
  // Non-blocking master: the main loop polls it and must never stall.
  const int flags = fcntl(master_, F_GETFL);
  fcntl(master_, F_SETFL, flags | O_NONBLOCK);

  // The utility may claim the port with TIOCEXCL; because this process
  // keeps the slave open, the kernel would keep that claim after the
  // utility closes the port and refuse its next open. Watching for closes
  // lets marq-sim lift the claim once the utility has let go.
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(watch_);
    watch_ = -1;
  }
  return true;
}

bool PtyBinding::bind(const std::string& dataFolder, int com, std::string& error) {
  std::string folder = dataFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // The data folder is the user's own choice (or the installed one, which
  // root owns), so its path is followed like any argument; inside it,
  // nothing is.
  dataFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (dataFd_ < 0) {
    error = errno == ENOENT || errno == ENOTDIR
                ? "the data folder " + dataFolder + " does not exist; create it or pass --data-folder DIR"
                : sysError("cannot open the data folder", dataFolder);
    return false;
  }
  portsDir_ = folder + "/" + kPorts;
  comName_ = "COM" + std::to_string(com);
  linkName_ = comName_;
  lockName_ = "." + comName_ + ".lock";
  linkPath_ = portsDir_ + "/" + linkName_;

  bool ok = openPortsDir(error);
  if (ok) sweepStale();
  ok = ok && lockNumber(error) && checkExistingLink(error) && openPty(error) && makeLink(error);
  if (dirFd_ >= 0) flock(dirFd_, LOCK_UN);
  if (!ok) release();
  return ok;
}

void PtyBinding::onSlaveClosed() {
  alignas(inotify_event) char buf[4096];
  bool closed = false;
  while (read(watch_, buf, sizeof buf) > 0) closed = true;
  if (closed && slave_ >= 0) ioctl(slave_, TIOCNXCL);
}

void PtyBinding::release() {
  if (dataFd_ < 0 && dirFd_ < 0 && lockFd_ < 0 && master_ < 0 && slave_ < 0) return;
  const bool locked = dirFd_ >= 0 && lockFolder(dirFd_);
  if (dirFd_ >= 0 && !locked)
    notes_.push_back(portsDir_ + " stayed locked by another process; only " + comName_ +
                     "'s own link and lock file were removed");
  if (dirFd_ >= 0 && linked_ && readLinkAt(dirFd_, linkName_) == slavePath_) unlinkat(dirFd_, linkName_.c_str(), 0);
  linked_ = false;
  if (lockFd_ >= 0) {
    // Unlink before unlocking: a marq-sim that opened the old file
    // finds it replaced and tries again.
    if (dirFd_ >= 0 && isEntryOf(dirFd_, lockName_, lockFd_)) unlinkat(dirFd_, lockName_.c_str(), 0);
    close(lockFd_);
    lockFd_ = -1;
  }
  if (locked) {
    sweepStale();
    removePortsDirIfOnlyMarker();
    flock(dirFd_, LOCK_UN);
  }
  for (int* fd : {&dirFd_, &dataFd_, &watch_, &slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace mqsim
