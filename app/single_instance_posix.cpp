#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/single_instance.h"

namespace mq {

struct SingleInstance::Handle {
  int fd = -1;
};

SingleInstance::SingleInstance(const std::string& name, const std::string& lockFolder)
    : handle_(std::make_unique<Handle>()) {
  const std::string folder = lockFolder.empty() ? std::string("/tmp") : lockFolder;
  const std::string path = folder + "/" + name + ".lock";
  // O_NOFOLLOW: the folder may be world-writable; never follow a planted link.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);  // another user's file
  if (fd < 0) return;
  fchmod(fd, 0666);  // let other users' copies take the lock too (fails harmlessly if not ours)
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
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
