#include "serial/testing/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace mq::serial {

PtyLink::PtyLink(std::vector<unsigned> comNumbers) {
  char tmpl[] = "/tmp/mq-serial-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  folder_ = std::string(tmpl) + "/";
  if (::mkdir((folder_ + "ports").c_str(), 0755) != 0) throw std::runtime_error("mkdir ports failed");
  for (unsigned n : comNumbers) {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    // Raw from the start, so nothing the test writes is echoed or edited.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    const std::string name = ::ttyname(slave);
    ::close(slave);  // the port under test opens it by name
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ptys_.push_back(Pty{n, master, name});
    BindPath(n, name);
  }
}

PtyLink::~PtyLink() {
  for (auto& p : ptys_)
    if (p.master >= 0) ::close(p.master);
  for (const auto& l : links_) ::unlink(l.c_str());
  ::rmdir((folder_ + "ports").c_str());
  ::rmdir(folder_.c_str());
}

void PtyLink::BindPath(unsigned n, const std::string& target) {
  const std::string link = folder_ + "ports/COM" + std::to_string(n);
  ::unlink(link.c_str());
  if (::symlink(target.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink failed");
  links_.push_back(link);
}

const PtyLink::Pty& PtyLink::Find(unsigned n) const {
  for (const auto& p : ptys_)
    if (p.com == n) return p;
  throw std::runtime_error("no pty for COM" + std::to_string(n));
}

int PtyLink::Master(unsigned n) const { return Find(n).master; }

std::string PtyLink::SlavePath(unsigned n) const { return Find(n).slave; }

void PtyLink::Write(unsigned n, std::string_view bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) off += WriteSome(n, bytes.substr(off), 1000);
}

std::size_t PtyLink::WriteSome(unsigned n, std::string_view bytes, int timeoutMs) {
  const int fd = Master(n);
  std::size_t off = 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (off < bytes.size()) {
    const ssize_t w = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (w > 0) {
      off += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno != EINTR && errno != EAGAIN)
      throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return off;
}

std::string PtyLink::Read(unsigned n, std::size_t count, int timeoutMs) {
  const int fd = Master(n);
  std::string out;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    const ssize_t r = ::read(fd, buf, std::min(sizeof buf, count - out.size()));
    if (r > 0)
      out.append(buf, static_cast<std::size_t>(r));
    else if (r == 0 || (errno != EINTR && errno != EAGAIN))
      break;
  }
  return out;
}

void PtyLink::CloseMaster(unsigned n) {
  for (auto& p : ptys_)
    if (p.com == n && p.master >= 0) {
      ::close(p.master);
      p.master = -1;
    }
}

}  // namespace mq::serial
