#include "pty_binding.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace mqsim {

namespace {

std::string sysError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool sameFile(int fd, const std::string& path)
{
    struct stat a {};
    struct stat b {};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string readLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

// The marker says marq-sim created ports/, so the last one out removes it.
constexpr const char* kMarker = ".created-by-marq-sim";

}  // namespace

PtyBinding::~PtyBinding()
{
    release();
}

// Opens ports/ (creating it when missing) and locks the folder itself, so
// that binding and releasing by several marq-sims never race with the
// removal of the folder.
bool PtyBinding::openPortsDir(std::string& error)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (mkdir(portsDir_.c_str(), 0775) == 0) {
            // Group-writable whatever the umask: in the shared data folder
            // every member of its group may bind and release numbers, and the
            // last simulator out (whoever started it) removes the folder.
            chmod(portsDir_.c_str(), 02775);
            const int m = open(markerPath_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0664);
            if (m >= 0) {
                fchmod(m, 0664);
                close(m);
            }
        } else if (errno != EEXIST) {
            error = sysError("cannot create", portsDir_);
            return false;
        }
        dirFd_ = open(portsDir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0) {
            if (errno == ENOENT)
                continue;  // removed by a marq-sim that just ended
            error = sysError("cannot open", portsDir_);
            return false;
        }
        if (flock(dirFd_, LOCK_EX) == 0 && sameFile(dirFd_, portsDir_))
            return true;
        close(dirFd_);
        dirFd_ = -1;
    }
    error = "cannot settle " + portsDir_ + " (it keeps being removed)";
    return false;
}

bool PtyBinding::lockNumber(int com, std::string& error)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        lockFd_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
        if (lockFd_ < 0) {
            error = sysError("cannot create", lockPath_);
            return false;
        }
        if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            char pid[32] = {0};
            const ssize_t n = read(lockFd_, pid, sizeof pid - 1);
            close(lockFd_);
            lockFd_ = -1;
            if (busy) {
                std::string owner = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : std::string();
                while (!owner.empty() && (owner.back() == '\n' || owner.back() == ' '))
                    owner.pop_back();
                error = "COM" + std::to_string(com) + " is already simulated by a running marq-sim" +
                        (owner.empty() ? std::string() : " (pid " + owner + ")") + "; stop it or choose another --com";
                return false;
            }
            error = sysError("cannot lock", lockPath_);
            return false;
        }
        if (sameFile(lockFd_, lockPath_)) {
            fchmod(lockFd_, 0664);  // another user of the group may take the number next
            const std::string pid = std::to_string(getpid()) + "\n";
            if (ftruncate(lockFd_, 0) == 0 && write(lockFd_, pid.data(), pid.size()) < 0) {
                // The pid is only a courtesy for the message of a second
                // marq-sim; the lock itself is what counts.
            }
            return true;
        }
        close(lockFd_);  // the file was replaced after we opened it
        lockFd_ = -1;
    }
    error = "cannot lock " + lockPath_;
    return false;
}

// Called with the number's lock held: any link there now is not owned by a
// running marq-sim. A link to a pseudo-terminal, or one whose target is
// gone, is left over and replaced; a link to a device that exists was made
// by someone else (for example to a real adapter) and is kept.
bool PtyBinding::checkExistingLink(std::string& error)
{
    struct stat st {};
    if (lstat(linkPath_.c_str(), &st) != 0)
        return true;
    if (!S_ISLNK(st.st_mode)) {
        error = linkPath_ + " exists and is not a link; remove it or choose another --com";
        return false;
    }
    const std::string target = readLink(linkPath_);
    struct stat ts {};
    const bool exists = stat(linkPath_.c_str(), &ts) == 0;
    if (exists && target.rfind("/dev/pts/", 0) != 0) {
        error = linkPath_ + " already binds " + target +
                ", which exists; remove the link or choose another --com";
        return false;
    }
    return true;
}

// With the folder lock held: removes the links and lock files of marq-sims
// that were killed (their lock is free), so a crash does not leave ports/
// around with dead COM numbers in it. Links to anything but a
// pseudo-terminal, or to nothing, are never touched.
void PtyBinding::sweepStale()
{
    DIR* d = opendir(portsDir_.c_str());
    if (d == nullptr)
        return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        names.emplace_back(e->d_name);
    closedir(d);
    for (const std::string& n : names) {
        std::string com;
        if (n.rfind("COM", 0) == 0)
            com = n;
        else if (n.size() > 8 && n.rfind(".COM", 0) == 0 && n.compare(n.size() - 5, 5, ".lock") == 0)
            com = n.substr(1, n.size() - 6);
        if (com.empty() || com == linkPath_.substr(portsDir_.size() + 1))
            continue;
        const std::string link = portsDir_ + "/" + com;
        const std::string lock = portsDir_ + "/." + com + ".lock";
        const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            continue;  // a live marq-sim
        }
        struct stat st {};
        const bool isLink = lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        const bool hadLockFile = fd >= 0;
        if (isLink && hadLockFile && readLink(link).rfind("/dev/pts/", 0) == 0)
            unlink(link.c_str());
        if (hadLockFile) {
            unlink(lock.c_str());
            close(fd);
        }
    }
}

bool PtyBinding::openPty(std::string& error)
{
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
    termios tio {};
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

bool PtyBinding::bind(const std::string& dataFolder, int com, std::string& error)
{
    struct stat st {};
    if (stat(dataFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "the data folder " + dataFolder + " does not exist; create it or pass --data-folder DIR";
        return false;
    }
    std::string folder = dataFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    portsDir_ = folder + "/ports";
    const std::string name = "COM" + std::to_string(com);
    linkPath_ = portsDir_ + "/" + name;
    lockPath_ = portsDir_ + "/." + name + ".lock";
    markerPath_ = portsDir_ + "/" + kMarker;

    bool ok = openPortsDir(error);
    if (ok)
        sweepStale();
    ok = ok && lockNumber(com, error) && checkExistingLink(error) && openPty(error);
    if (ok) {
        const std::string tmp = portsDir_ + "/." + name + ".tmp." + std::to_string(getpid());
        unlink(tmp.c_str());
        if (symlink(slavePath_.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), linkPath_.c_str()) != 0) {
            error = sysError("cannot create the link", linkPath_);
            unlink(tmp.c_str());
            ok = false;
        } else {
            linked_ = true;
        }
    }
    if (dirFd_ >= 0)
        flock(dirFd_, LOCK_UN);
    if (!ok)
        release();
    return ok;
}

void PtyBinding::onSlaveClosed()
{
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    while (read(watch_, buf, sizeof buf) > 0)
        closed = true;
    if (closed && slave_ >= 0)
        ioctl(slave_, TIOCNXCL);
}

void PtyBinding::release()
{
    if (dirFd_ < 0 && lockFd_ < 0 && master_ < 0 && slave_ < 0)
        return;
    if (dirFd_ >= 0)
        flock(dirFd_, LOCK_EX);
    if (linked_ && readLink(linkPath_) == slavePath_)
        unlink(linkPath_.c_str());
    linked_ = false;
    if (lockFd_ >= 0) {
        // Unlink before unlocking: a marq-sim that opened the old file
        // finds it replaced and tries again.
        unlink(lockPath_.c_str());
        close(lockFd_);
        lockFd_ = -1;
    }
    if (dirFd_ >= 0) {
        sweepStale();
        // Remove ports/ when a marq-sim made it and nothing but the marker
        // is left, so the utility goes back to its fixed port table.
        bool onlyMarker = access(markerPath_.c_str(), F_OK) == 0;
        if (onlyMarker) {
            if (DIR* d = opendir(portsDir_.c_str())) {
                while (dirent* e = readdir(d)) {
                    const std::string n = e->d_name;
                    if (n != "." && n != ".." && n != kMarker)
                        onlyMarker = false;
                }
                closedir(d);
            }
        }
        if (onlyMarker) {
            unlink(markerPath_.c_str());
            rmdir(portsDir_.c_str());
        }
        flock(dirFd_, LOCK_UN);
        close(dirFd_);
        dirFd_ = -1;
    }
    for (int* fd : {&watch_, &slave_, &master_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

}  // namespace mqsim
