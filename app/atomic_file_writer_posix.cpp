#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/atomic_file_writer.h"

namespace mq {
namespace {

[[noreturn]] void Fail(const std::string& path, const char* what, int err) {
  throw FileWriteError("Cannot write \"" + path + "\" (" + what + "): " + std::strerror(err));
}

constexpr mode_t kNewFileMode = 0664;

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void AtomicFileWriter::Write(const std::string& path, const std::string& content) {
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
  // its permission bits (after the group: a change of group clears the
  // set-id bits); a new file is readable and writable by its group,
  // whatever the umask.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
      // Not allowed when we are not in that group (and not root): the file
      // keeps the group it was created with, which the folder's
      // set-group-ID bit makes the folder's own.
    }
    if (fchmod(fd, st.st_mode & 07777) != 0) abandon("set permissions");
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
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(tmp.c_str());
    Fail(path, "rename", err);
  }
  // Make the rename itself durable.
  const int dfd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

}  // namespace mq
