// marq-sim: a simulated ER400TRS base station and judge pads on a
// pseudo-terminal bound as COM<N> for the utility. One thread: a poll loop
// over the pty master, standard input, an optional control FIFO and a
// signal pipe, driving SimModel with milliseconds since start.
// Standard output carries only the ready line, control answers and (with
// --trace) trace lines; diagnostics go to standard error.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "sim/control_interpreter.h"
#include "sim/pty_binding.h"
#include "sim/sim_model.h"
#include "sim/sim_options.h"
#include "sim/trace_entry.h"

using namespace mqsim;

namespace {

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_stop = 0;

void onSignal(int) {
  g_stop = 1;
  const char b = 1;
  const ssize_t n = write(g_signalPipe[1], &b, 1);
  (void)n;
}

void installSignals() {
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) std::perror("marq-sim: pipe");
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Collects bytes into lines for the control interpreter.
struct LineReader {
  int fd = -1;
  std::string partial;
  bool eof = false;

  // Returns complete lines read now; sets eof when the writer is gone.
  std::vector<std::string> read() {
    std::vector<std::string> lines;
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) eof = true;
    if (n <= 0) return lines;
    partial.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
      lines.push_back(partial.substr(0, nl));
      partial.erase(0, nl + 1);
    }
    if (partial.size() > 4096) partial.clear();  // no sane command is that long
    return lines;
  }
};

// The control FIFO. Only a named pipe of this user, reached without
// following a link, is accepted: a regular file polls readable for ever
// (end of file on every read), and another user's pipe would let that user
// drive this simulator. A writer of the same pipe is held open here, so the
// reader never sees end of file when a client closes its end.
struct ControlFifo {
  std::string path;
  LineReader reader;
  int keepAlive = -1;
  bool created = false;

  bool open(const std::string& fifoPath, std::string& error) {
    path = fifoPath;
    if (mkfifo(path.c_str(), 0600) == 0)
      created = true;
    else if (errno != EEXIST)
      return fail("cannot create the control FIFO " + path + ": " + std::strerror(errno), error);
    reader.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (reader.fd < 0)
      return fail(errno == ELOOP ? "--control-fifo " + path +
                                       " is a symbolic link; marq-sim does not follow it (give the pipe's own path)"
                                 : "cannot open the control FIFO " + path + ": " + std::strerror(errno),
                  error);
    struct stat st {};
    if (fstat(reader.fd, &st) != 0 || !S_ISFIFO(st.st_mode))
      return fail("--control-fifo " + path + " exists and is " +
                      (S_ISREG(st.st_mode)   ? "a regular file"
                       : S_ISDIR(st.st_mode) ? "a folder"
                                             : "something else") +
                      ", not a named pipe; refused (remove it or choose another path)",
                  error);
    if (st.st_uid != geteuid())
      return fail("--control-fifo " + path + " belongs to another user (uid " + std::to_string(st.st_uid) +
                      "); refused, since its owner could drive this simulator",
                  error);
    keepAlive = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    struct stat ws {};
    if (keepAlive < 0 || fstat(keepAlive, &ws) != 0 || ws.st_dev != st.st_dev || ws.st_ino != st.st_ino)
      return fail("cannot open the control FIFO " + path + " for writing (it was replaced)", error);
    return true;
  }

  // Removes the pipe when it was made here and is still the same one.
  void close() {
    struct stat a {};
    struct stat b {};
    if (created && reader.fd >= 0 && fstat(reader.fd, &a) == 0 && lstat(path.c_str(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino)
      unlink(path.c_str());
    for (int* fd : {&reader.fd, &keepAlive}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    created = false;
  }

  bool fail(const std::string& message, std::string& error) {
    error = message;
    close();
    return false;
  }
};

void printNotes(PtyBinding& binding) {
  for (const std::string& note : binding.takeNotes()) std::cerr << "marq-sim: " << note << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  // Started with a standard descriptor closed, the next open would take
  // its number and be mistaken for it (the lock file read as commands).
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);

  SimOptions opts;
  std::string error;
  if (!opts.parse(std::vector<std::string>(argv + 1, argv + argc), error)) {
    std::cerr << "marq-sim: " << error << "\n" << SimOptions::usage();
    return 2;
  }
  if (opts.help) {
    std::cout << SimOptions::usage();
    return 0;
  }
  if (!opts.seedGiven) {
    opts.config.seed = (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
  }

  installSignals();

  ControlFifo fifo;
  if (!opts.controlFifo.empty() && !fifo.open(opts.controlFifo, error)) {
    std::cerr << "marq-sim: " << error << "\n";
    return 1;
  }

  PtyBinding binding;
  const bool bound = binding.bind(opts.dataFolder, opts.com, error);
  printNotes(binding);
  if (!bound) {
    std::cerr << "marq-sim: " << error << "\n";
    fifo.close();
    return 1;
  }
  std::cerr << "marq-sim: seed " << opts.config.seed << " (pass --seed to repeat this run)\n";

  SimModel model(opts.config);
  ControlInterpreter control(model);
  LineReader input{STDIN_FILENO, {}, false};

  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };

  printLine("marq-sim: COM" + std::to_string(opts.com) + " -> " + binding.slavePath());

  std::string pendingOut;  // bytes the pty could not take yet
  constexpr std::size_t kMaxPending = 65536;
  Millis masterQuietUntil = 0;  // back-off after an error on the master

  auto flushModel = [&] {
    for (HostOutput& out : model.takeHostOutput()) {
      if (pendingOut.size() + out.bytes.size() > kMaxPending) {
        std::cerr << "marq-sim: nobody reads the port; " << out.bytes.size() << " bytes discarded\n";
        continue;
      }
      pendingOut += out.bytes;
    }
    while (!pendingOut.empty()) {
      const ssize_t n = write(binding.masterFd(), pendingOut.data(), pendingOut.size());
      if (n <= 0) break;
      pendingOut.erase(0, static_cast<std::size_t>(n));
    }
    for (const TraceEntry& t : model.takeTrace())
      if (opts.trace) printLine(formatTraceLine(t));
  };

  auto runControl = [&](const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
      model.advanceTo(elapsed());
      flushModel();
      for (const std::string& answer : control.execute(line)) printLine(answer);
      flushModel();
    }
  };

  while (!g_stop && !control.quitRequested()) {
    const Millis now = elapsed();
    model.advanceTo(now);
    flushModel();

    int timeout = 1000;
    if (const auto next = model.nextEventTime()) timeout = static_cast<int>(std::clamp<Millis>(*next - now, 0, 1000));
    const bool masterUsable = now >= masterQuietUntil;
    if (!masterUsable) timeout = static_cast<int>(std::min<Millis>(timeout, masterQuietUntil - now));

    std::vector<pollfd> fds;
    fds.push_back({g_signalPipe[0], POLLIN, 0});
    const std::size_t masterIdx = fds.size();
    fds.push_back(
        {masterUsable ? binding.masterFd() : -1, static_cast<short>(POLLIN | (pendingOut.empty() ? 0 : POLLOUT)), 0});
    const std::size_t stdinIdx = fds.size();
    fds.push_back({input.eof ? -1 : STDIN_FILENO, POLLIN, 0});
    const std::size_t fifoIdx = fds.size();
    fds.push_back({fifo.reader.eof ? -1 : fifo.reader.fd, POLLIN, 0});
    const std::size_t watchIdx = fds.size();
    fds.push_back({binding.watchFd(), POLLIN, 0});

    const int rc = poll(fds.data(), fds.size(), timeout);
    if (rc < 0) {
      if (errno == EINTR) continue;
      std::perror("marq-sim: poll");
      break;
    }
    if (rc == 0) continue;

    if (fds[masterIdx].revents & (POLLIN | POLLERR | POLLHUP)) {
      char buf[4096];
      const ssize_t n = read(binding.masterFd(), buf, sizeof buf);
      if (n > 0) {
        model.feedHost(elapsed(), std::string_view(buf, static_cast<std::size_t>(n)));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // EIO when no slave is open; should not happen while the
        // slave is held, but never spin on it.
        masterQuietUntil = elapsed() + 50;
      }
    }
    if (fds[stdinIdx].revents & (POLLIN | POLLHUP | POLLERR)) runControl(input.read());
    if (fds[fifoIdx].revents & (POLLIN | POLLHUP | POLLERR)) runControl(fifo.reader.read());
    if (fds[watchIdx].revents & POLLIN) binding.onSlaveClosed();
    if (fds[stdinIdx].revents & POLLNVAL) input.eof = true;
  }

  binding.release();
  printNotes(binding);
  fifo.close();
  return 0;
}
