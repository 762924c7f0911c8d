#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "shell/single_instance.h"
#include "util/user_account.h"

namespace mq {
namespace {

// A folder only this user can write: a real folder (no link), ours, with
// no access for group or others. Anyone else able to write there could
// hold, replace or remove our lock. Empty when fit, else why not.
std::string UnfitLockFolder(const std::string& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (st.st_uid != geteuid()) return folder + " belongs to user " + UserAccount::UserName(st.st_uid);
  if ((st.st_mode & 077) != 0) return folder + " may be written by other users";
  return {};
}

}  // namespace

struct SingleInstance::Handle {
  int fd = -1;
};

std::string SingleInstance::DefaultLockFolder(std::string* problem) {
  // One copy per user session: the session's own runtime folder, as the
  // desktop sets it up (owned by the user, mode 0700).
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
    if (UnfitLockFolder(runtime).empty()) return runtime;
  }
  // Without one (a console log-in, su): a folder of our own under /tmp,
  // made 0700 when missing and checked before use, since /tmp is everyone's.
  const std::string folder = "/tmp/mqtool-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (problem != nullptr) *problem = folder + ": " + std::strerror(errno);
    return {};
  }
  const std::string unfit = UnfitLockFolder(folder);
  if (!unfit.empty()) {
    if (problem != nullptr) *problem = unfit;
    return {};
  }
  return folder;
}

SingleInstance::SingleInstance(const std::string& name, const std::string& lockFolder)
    : handle_(std::make_unique<Handle>()) {
  const std::string folder = lockFolder.empty() ? DefaultLockFolder(&problem_) : lockFolder;
  if (folder.empty()) return;
  const std::string path = folder + "/" + name + ".lock";
  // O_NOFOLLOW and the checks after the open: the folder is ours, but the
  // lock must never end up on something else.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem_ = path + ": " + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    problem_ = path + " is not a lock file of this user";
    close(fd);
    return;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) problem_ = path + ": " + std::strerror(errno);
    close(fd);
    return;
  }
  handle_->fd = fd;
  acquired_ = true;
}

SingleInstance::~SingleInstance() {
  // The lock file stays: removing it would let a third copy lock a new file
  // while a second one still waits on the old one.
  if (handle_ && handle_->fd >= 0) close(handle_->fd);
}

}  // namespace mq
