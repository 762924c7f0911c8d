#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "shell/atomic_file_writer.h"

namespace mq {
namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int err) {
  throw FileWriteError("Cannot write \"" + path + "\" (" + what + "): " + std::strerror(err));
}

[[noreturn]] void Refuse(const std::string& path, const char* why) {
  throw FileWriteError("Cannot write \"" + path + "\": " + why + ", so it is left as it is");
}

constexpr mode_t kNewFileMode = 0664;
constexpr mode_t kKeptModeBits = 0666;

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void AtomicFileWriter::Write(const std::string& path, const std::string& content) {
  // What is in the target's place now, from the thing itself: a link is
  // never written through (nor its target's attributes copied), and a
  // folder, FIFO or device in the file's place is another user's, not ours
  // to replace. O_NONBLOCK: a FIFO must not stop us here.
  struct stat st {};
  bool replacing = false;
  const int old = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (old >= 0) {
    const bool got = fstat(old, &st) == 0;
    const int err = errno;
    close(old);
    if (!got) Fail(path, "examine the existing file", err);
    replacing = true;
  } else if (errno == ELOOP || errno == EMLINK) {
    Refuse(path, "it is a symbolic link");
  } else if (errno != ENOENT) {
    // We may not open it (a file of another user's, mode 0600): its type
    // and attributes from the name itself, without following a link.
    if (lstat(path.c_str(), &st) != 0) Fail(path, "examine the existing file", errno);
    if (S_ISLNK(st.st_mode)) Refuse(path, "it is a symbolic link");
    replacing = true;
  }
  if (replacing && !S_ISREG(st.st_mode)) Refuse(path, "it is not a regular file");

  std::string tmp = path + ".tmpXXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) Fail(path, "create temporary file", errno);
  auto abandon = [&](const char* what) {
    const int err = errno;
    close(fd);
    unlink(tmp.c_str());
    Fail(path, what, err);
  };
  // mkstemp creates 0600 with the writer's group. The data folder is shared
  // by everyone who may use the serial ports (a group-writable folder), so
  // the replacement keeps the old file's group where we may set it, then
  // its read and write bits (after the group: a change of group clears the
  // set-ID bits). It never takes the set-user-ID, set-group-ID, sticky or
  // execute bits: a file another user planted here must not come back as a
  // set-ID program of ours. A new file is readable and writable by its
  // group, whatever the umask.
  if (replacing) {
    if (fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not allowed when we are not in that group (and not root): the file
      // keeps the group it was created with, which the folder's
      // set-group-ID bit makes the folder's own.
    }
    if (fchmod(fd, st.st_mode & kKeptModeBits) != 0) abandon("set permissions");
  } else {
    if (fchmod(fd, kNewFileMode) != 0) abandon("set permissions");
  }
  const char* p = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      abandon("write");
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) abandon("flush");
  if (close(fd) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    Fail(path, "close", err);
  }
  // rename replaces the name, never what a link there points at.
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    Fail(path, "rename", err);
  }
  // Make the rename itself durable.
  const int dfd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

}  // namespace mq
