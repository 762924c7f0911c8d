#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/safe_file_reader.h"
#include "util/user_account.h"

namespace mq {
namespace {

void Describe(const struct stat& st, FileReadResult& r) {
  r.owner = UserAccount::UserName(st.st_uid);
  r.mode = UserAccount::ModeText(st.st_mode);
}

FileReadResult Failed(int err) {
  FileReadResult r;
  r.status = FileReadStatus::Failed;
  r.systemError = err;
  r.systemText = std::strerror(err);
  return r;
}

}  // namespace

FileReadResult SafeFileReader::Read(const std::filesystem::path& file, std::uintmax_t maxBytes) {
  // O_NONBLOCK: a FIFO or a terminal in the file's place must not stop the
  // caller (the window's start) for good; O_NOFOLLOW: a link is refused,
  // whatever it points at.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      FileReadResult r;
      r.status = FileReadStatus::Missing;
      return r;
    }
    FileReadResult r = Failed(err);
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0) {
      Describe(st, r);
      if (S_ISLNK(st.st_mode)) r.status = FileReadStatus::Link;
    }
    return r;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return Failed(err);
  }
  FileReadResult r;
  Describe(st, r);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    r.status = FileReadStatus::NotRegular;
    return r;
  }
  if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
    ::close(fd);
    r.status = FileReadStatus::TooLarge;
    return r;
  }
  // The size can change while we read (another writer): never take more
  // than the cap, whatever fstat said.
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      FileReadResult f = Failed(err);
      f.owner = r.owner;
      f.mode = r.mode;
      return f;
    }
    if (n == 0) break;
    if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      r.status = FileReadStatus::TooLarge;
      return r;
    }
    data.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  r.status = FileReadStatus::Read;
  r.bytes = std::move(data);
  return r;
}

}  // namespace mq
