// Runs the built marq-sim on a real pseudo-terminal and talks to it the way
// the utility does: through the link <data folder>/ports/COM<N>. The last
// group plays two members of the data folder's group against each other.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous bounds: these only stop a broken run from hanging, they are not
// timing assertions.
constexpr int kWaitMs = 10000;

// A user the tests run a step as. CI runs as root and makes two members of
// one shared group (numeric ids, no accounts needed); run as anybody else,
// both are that one user, which still shows that nothing is followed,
// blocked on or spun on.
struct Account {
  uid_t uid;
  gid_t gid;
};
constexpr gid_t kSharedGroup = 60000;
const Account kRoot{0, 0};

bool isRoot() { return geteuid() == 0; }
Account victimUser() { return isRoot() ? Account{60001, 60001} : Account{getuid(), getgid()}; }
Account attackerUser() { return isRoot() ? Account{60002, 60002} : Account{getuid(), getgid()}; }

// In a forked child: becomes `who`, with the shared group as its one other
// group. Root staying root needs nothing.
bool become(const Account& who) {
  if (geteuid() == who.uid) return true;
  const gid_t groups[] = {kSharedGroup};
  return setgroups(1, groups) == 0 && setresgid(who.gid, who.gid, who.gid) == 0 &&
         setresuid(who.uid, who.uid, who.uid) == 0;
}

// Runs a short, non-blocking step as `who` in a child; true when it held.
bool runAs(const Account& who, const std::function<bool()>& step) {
  const pid_t pid = fork();
  if (pid == 0) _exit(become(who) && step() ? 0 : 1);
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

struct RunOptions {
  bool stdinFromNull = false;
  std::optional<Account> as;
  std::string program = MARQ_SIM_PATH;
};

class SimProcess {
 public:
  SimProcess(const std::vector<std::string>& args, const RunOptions& o = {}) {
    int out[2], err[2], in[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDONLY);
      dup2(o.stdinFromNull ? null : in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      if (o.as && !become(*o.as)) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(o.program.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(o.program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    close(in[0]);
    out_ = out[0];
    err_ = err[0];
    in_ = in[1];
  }

  ~SimProcess() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {out_, err_, in_})
      if (fd >= 0) close(fd);
  }

  // One line of standard output, or nullopt when none comes in time.
  std::optional<std::string> readLine(int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto nl = outBuf_.find('\n');
      if (nl != std::string::npos) {
        std::string line = outBuf_.substr(0, nl);
        outBuf_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[512];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      outBuf_.append(buf, static_cast<std::size_t>(n));
    }
  }

  void send(const std::string& text) { ASSERT_EQ(write(in_, text.data(), text.size()), ssize_t(text.size())); }
  void signal(int sig) { kill(pid_, sig); }

  // True once the process is seen asleep in three looks in a row: one
  // that spins (polls a descriptor that is always ready) never is.
  bool settlesAsleep() {
    const std::string stat = "/proc/" + std::to_string(pid_) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (int asleep = 0; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(5ms)) {
      std::ifstream in(stat);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto close = text.rfind(") ");
      asleep = close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'S' ? asleep + 1 : 0;
      if (asleep == 3) return true;
    }
    return false;
  }

  // Exit status once the process has ended, or nullopt after the bound.
  std::optional<int> waitExit(int timeoutMs = kWaitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!status_) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(5ms);
    }
    return status_;
  }

  std::string stderrText() {
    std::string text;
    char buf[512];
    fcntl(err_, F_SETFL, O_NONBLOCK);
    ssize_t n;
    while ((n = read(err_, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1, in_ = -1;
  std::string outBuf_;
  std::optional<int> status_;
};

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "marq-sim-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Reads exactly n bytes (or what arrives before the bound).
std::string readBytes(int fd, std::size_t n) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buf[256];
    const ssize_t r = read(fd, buf, std::min(sizeof buf, n - got.size()));
    if (r > 0) got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

void writeAll(int fd, const std::string& s) { ASSERT_EQ(write(fd, s.data(), s.size()), ssize_t(s.size())); }

TEST(MarqSimPty, BindsAnswersRefusesASecondCopyAndCleansUp) {
  TempFolder tmp;
  const fs::path ports = tmp.path() / "ports";
  const fs::path link = ports / "COM3";
  // A strict umask must not lock the data folder's other group members
  // out of ports/ (they bind their own numbers there).
  const mode_t oldMask = umask(077);
  SimProcess sim(
      {"--com", "3", "--data-folder", tmp.path().string(), "--pads", "0,3", "--awards", "manual", "--seed", "1"});
  umask(oldMask);
  const auto ready = sim.readLine();
  ASSERT_TRUE(ready) << sim.stderrText();
  ASSERT_EQ(ready->rfind("marq-sim: COM3 -> /dev/pts/", 0), 0u) << *ready;
  EXPECT_EQ(fs::read_symlink(link).string(), ready->substr(std::string("marq-sim: COM3 -> ").size()));
  struct stat st {};
  ASSERT_EQ(stat(ports.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 02775u);
  ASSERT_EQ(stat((ports / ".COM3.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);  // others may flock it, nobody else may write it

  // The port opens as a plain file, already raw; the utility opens it
  // anew in every scan.
  for (int round = 0; round < 2; ++round) {
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    writeAll(fd, "ER_CMD#T3");
    std::this_thread::sleep_for(20ms);
    writeAll(fd, "ACK");
    const std::string ident = readBytes(fd, 27);
    EXPECT_EQ(ident.size(), 27u);
    EXPECT_NE(ident.find("ER400TRS"), std::string::npos) << ident;
    writeAll(fd, std::string("\x02"
                             "3J3\x1b"
                             "13\x04"));
    EXPECT_EQ(readBytes(fd, 7), std::string("\x02"
                                            "3\x06"
                                            "912\x04"));
    close(fd);
  }

  // A control command is answered on standard output.
  sim.send("award 0 9.5\n");
  EXPECT_EQ(sim.readLine(), std::optional<std::string>("award 0 sent 9.5"));

  // A second simulator for the same COM number refuses while this one runs.
  {
    SimProcess second({"--com", "3", "--data-folder", tmp.path().string()});
    EXPECT_EQ(second.waitExit(), std::optional<int>(1));
    EXPECT_NE(second.stderrText().find("COM3 is already simulated by a running marq-sim"), std::string::npos);
  }
  EXPECT_TRUE(fs::is_symlink(link));

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.waitExit(), std::optional<int>(0));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_FALSE(fs::exists(ports));  // it made ports/, so it removed it
}

TEST(MarqSimPty, StaleLinkIsReplacedForeignLinkIsKept) {
  TempFolder tmp;
  const fs::path ports = tmp.path() / "ports";
  fs::create_directory(ports);
  fs::create_symlink("/dev/pts/9999", ports / "COM4");  // left by a crashed run
  fs::create_symlink("/dev/pts/9998", ports / "COM6");  // another crashed run, with its lock file
  { std::ofstream(ports / ".COM6.lock") << "1\n"; }
  {
    SimProcess sim({"--com", "4", "--data-folder", tmp.path().string(), "--pads", "0"});
    const auto ready = sim.readLine();
    ASSERT_TRUE(ready) << sim.stderrText();
    EXPECT_NE(fs::read_symlink(ports / "COM4").string(), "/dev/pts/9999");
    sim.send("quit\n");
    EXPECT_EQ(sim.readLine(), std::optional<std::string>("quit"));
    EXPECT_EQ(sim.waitExit(), std::optional<int>(0));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM4")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports / "COM6")));
  EXPECT_FALSE(fs::exists(ports / ".COM6.lock"));
  EXPECT_TRUE(fs::is_directory(ports));  // it was there before: kept

  fs::create_symlink("/dev/null", ports / "COM5");  // bound by someone else
  SimProcess sim({"--com", "5", "--data-folder", tmp.path().string()});
  EXPECT_EQ(sim.waitExit(), std::optional<int>(1));
  EXPECT_NE(sim.stderrText().find("already binds /dev/null"), std::string::npos);
  EXPECT_EQ(fs::read_symlink(ports / "COM5").string(), "/dev/null");
}

TEST(MarqSimPty, KeepsRunningWithoutStandardInputAndTakesFifoCommands) {
  TempFolder tmp;
  const fs::path fifo = tmp.path() / "control";
  SimProcess sim({"--com", "7", "--data-folder", tmp.path().string(), "--pads", "3", "--control-fifo", fifo.string(),
                  "--trace", "--seed", "9"},
                 RunOptions{true, std::nullopt, MARQ_SIM_PATH});
  ASSERT_TRUE(sim.readLine()) << sim.stderrText();
  const int ctl = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(ctl, 0);
  writeAll(ctl, "status\n");
  close(ctl);
  EXPECT_EQ(sim.readLine(),
            std::optional<std::string>("status base channel 7 bandwidth 6 dcs off loss 0 entries auto ident "
                                       "ER400TRS-02V2.01.7"));

  // Trace lines for a query and its answer.
  const int fd = open((tmp.path() / "ports" / "COM7").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  writeAll(fd, "ER_CMD#C?");
  EXPECT_EQ(readBytes(fd, 9), "ER_CMD#C7");
  close(fd);
  std::vector<std::string> lines;
  while (lines.empty() || lines.back().find(" base>host ") == std::string::npos) {
    auto line = sim.readLine();
    ASSERT_TRUE(line);
    if (!line->empty() && std::isdigit(static_cast<unsigned char>(line->front())))
      lines.push_back(*line);  // trace lines start with the time
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" host>base - ok ER_CMD#C?"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" base>host - ok ER_CMD#C7"), std::string::npos) << lines[1];

  sim.signal(SIGINT);
  EXPECT_EQ(sim.waitExit(), std::optional<int>(0));
  EXPECT_FALSE(fs::exists(fifo));
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Two members of the data folder's group: the attacker plants links, pipes
// and files, the victim runs marq-sim. What the victim owns, and what was
// planted, must come through unchanged, and marq-sim must answer or refuse
// without hanging or spinning.
class SharedPortsFolder : public ::testing::Test {
 protected:
  // A file that marq-sim must never write: an ordinary user's private
  // key file, or root's set-user-ID program (root keeps set-ID bits when
  // it writes, so root is a victim of its own).
  struct Secret {
    fs::path home;
    fs::path path;
    std::string content;
    mode_t mode;
    uid_t uid;
  };

  void SetUp() override {
    fs::permissions(tmp_.path(), fs::perms(0755));
    program_ = tmp_.path() / "marq-sim";  // reachable by both users wherever the build is
    fs::copy_file(MARQ_SIM_PATH, program_);
    fs::permissions(program_, fs::perms(0755));
    data_ = tmp_.path() / "data";
    ports_ = data_ / "ports";
    makeDir(data_, 02775, kRoot);  // as installed: root, the shared group, 2775
    attackerHome_ = tmp_.path() / "attacker";
    makeDir(attackerHome_, 0755, attacker_);
  }

  static void makeDir(const fs::path& p, mode_t mode, const Account& owner) {
    ASSERT_EQ(mkdir(p.c_str(), mode), 0) << p;
    if (isRoot()) {
      ASSERT_EQ(chown(p.c_str(), owner.uid, owner.uid == 0 ? kSharedGroup : owner.gid), 0);
    }
    ASSERT_EQ(chmod(p.c_str(), mode), 0);
  }

  Secret plantSecret(const Account& owner) {
    Secret s{tmp_.path() / ("home-" + std::to_string(owner.uid)),
             {},
             "ssh-ed25519 AAAAC3Nz victim@desk\n",
             static_cast<mode_t>(owner.uid == 0 ? 04755 : 0600),
             owner.uid};
    s.path = s.home / "authorized_keys";
    makeDir(s.home, 0700, owner);
    std::ofstream(s.path) << s.content;
    if (isRoot()) {
      EXPECT_EQ(chown(s.path.c_str(), owner.uid, owner.gid), 0);
    }
    EXPECT_EQ(chmod(s.path.c_str(), s.mode), 0);
    return s;
  }

  static void expectUnchanged(const Secret& s) {
    struct stat st {};
    ASSERT_EQ(lstat(s.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, s.mode);
    EXPECT_EQ(st.st_uid, s.uid);
    EXPECT_EQ(readFile(s.path), s.content);
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(s.home)) entries.push_back(e.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"authorized_keys"});
  }

  // No file in the data folder carries a set-ID bit. (Folders there are
  // set-group-ID as the data folder is: that only hands the group on.)
  void expectNoSetIdFiles() const {
    for (const auto& e : fs::recursive_directory_iterator(data_)) {
      struct stat st {};
      ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
      if (!S_ISDIR(st.st_mode)) {
        EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID), 0u) << e.path();
      }
    }
  }

  std::vector<std::string> simArgs(int com) const {
    return {"--com", std::to_string(com), "--data-folder", data_.string(), "--pads", "none", "--awards", "manual"};
  }
  RunOptions as(const Account& who) const { return RunOptions{false, who, program_.string()}; }

  static std::vector<Account> victims() {
    std::vector<Account> v{victimUser()};
    if (isRoot()) v.push_back(kRoot);
    return v;
  }

  TempFolder tmp_;
  fs::path program_, data_, ports_, attackerHome_;
  const Account attacker_ = attackerUser();
};

TEST_F(SharedPortsFolder, PlantedLinksPipesAndFilesAreNeitherFollowedNorBlockedOn) {
  for (const Account& victim : victims()) {
    SCOPED_TRACE("victim uid " + std::to_string(victim.uid));
    const Secret secret = plantSecret(victim);
    const fs::path pipe = attackerHome_ / "pipe";
    // A pipe opens only once a writer comes, like a serial device
    // waiting for its carrier: the stand-in for a tty in the way.
    ASSERT_TRUE(runAs(attacker_, [&] {
      auto in = [&](const char* name) { return (ports_ / name).string(); };
      const char* key = secret.path.c_str();
      const int stale = mkdir(ports_.c_str(), 02775) == 0 && chmod(ports_.c_str(), 02775) == 0
                            ? open(in(".COM8.lock").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)
                            : -1;
      return stale >= 0 && write(stale, "1\n", 2) == 2 && mkfifo(pipe.c_str(), 0644) == 0 &&
             symlink(key, in(".COM3.lock").c_str()) == 0 &&  // the victim's own number
             symlink(key, in(".COM5.lock").c_str()) == 0 &&  // the sweep's way, from here on
             mkfifo(in(".COM6.lock").c_str(), 0644) == 0 && symlink(pipe.c_str(), in(".COM7.lock").c_str()) == 0 &&
             symlink(key, in("COM8").c_str()) == 0 &&  // with a stale lock file of the attacker
             symlink(key, in(".created-by-marq-sim").c_str()) == 0;
    }));
    {
      SimProcess sim(simArgs(3), as(victim));
      EXPECT_EQ(sim.waitExit(), std::optional<int>(1));
      const std::string err = sim.stderrText();
      EXPECT_NE(err.find("COM3: " + (ports_ / ".COM3.lock").string() + " is a symbolic link"), std::string::npos)
          << err;
    }
    {
      SimProcess sim(simArgs(4), as(victim));
      ASSERT_TRUE(sim.readLine()) << sim.stderrText();
      EXPECT_TRUE(sim.settlesAsleep());
      sim.send("quit\n");
      EXPECT_EQ(sim.waitExit(), std::optional<int>(0));
      const std::string err = sim.stderrText();
      for (const char* reported :
           {".COM5.lock is a symbolic link", ".COM6.lock is a named pipe", ".COM7.lock is a symbolic link"})
        EXPECT_NE(err.find(reported), std::string::npos) << err;
    }
    expectUnchanged(secret);
    for (const char* name : {".COM3.lock", ".COM5.lock", "COM8", ".created-by-marq-sim"})
      EXPECT_EQ(fs::read_symlink(ports_ / name), secret.path) << name;
    EXPECT_EQ(fs::read_symlink(ports_ / ".COM7.lock"), pipe);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(ports_ / ".COM6.lock")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports_ / ".COM8.lock")));  // stale: swept
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports_ / "COM4")));
    expectNoSetIdFiles();
    fs::remove_all(ports_);
    fs::remove(pipe);
  }
}

TEST_F(SharedPortsFolder, PortsPlantedAsALinkIsRefused) {
  const Account victim = victimUser();
  const Secret secret = plantSecret(victim);
  ASSERT_TRUE(runAs(attacker_, [&] { return symlink(secret.home.c_str(), ports_.c_str()) == 0; }));
  SimProcess sim(simArgs(3), as(victim));
  EXPECT_EQ(sim.waitExit(), std::optional<int>(1));
  const std::string err = sim.stderrText();
  EXPECT_NE(err.find(ports_.string() + " is a symbolic link, not a folder"), std::string::npos) << err;
  expectUnchanged(secret);
  struct stat st {};
  ASSERT_EQ(stat(secret.home.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(SharedPortsFolder, PortsLockedForeverMakesMarqSimGiveUpNotHang) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    if (!become(attacker_) || mkdir(ports_.c_str(), 02775) != 0) _exit(1);
    const int fd = open(ports_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  {
    SimProcess sim(simArgs(3), as(victimUser()));
    EXPECT_EQ(sim.waitExit(), std::optional<int>(1));
    const std::string err = sim.stderrText();
    EXPECT_NE(err.find(ports_.string() + " stays locked by another process"), std::string::npos) << err;
  }
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(ports_), {}), std::vector<fs::path>{});
}

TEST_F(SharedPortsFolder, AnotherUsersSimulatorIsRespectedAndItsLeftoversAreSwept) {
  if (!isRoot()) GTEST_SKIP() << "needs a second user; as root (CI) the test makes one";
  SimProcess theirs(simArgs(3), as(attacker_));
  ASSERT_TRUE(theirs.readLine()) << theirs.stderrText();
  const fs::path theirLock = ports_ / ".COM3.lock";
  struct stat before {};
  ASSERT_EQ(lstat(theirLock.c_str(), &before), 0);
  EXPECT_EQ(before.st_mode & 07777, 0644u);
  const std::string theirPid = readFile(theirLock);
  {
    SimProcess mine(simArgs(3), as(victimUser()));
    EXPECT_EQ(mine.waitExit(), std::optional<int>(1));
    const std::string err = mine.stderrText();
    EXPECT_NE(err.find("COM3 is already simulated by a running marq-sim of "), std::string::npos) << err;
    EXPECT_NE(err.find("(pid " + theirPid.substr(0, theirPid.size() - 1) + ")"), std::string::npos) << err;
  }
  struct stat after {};
  ASSERT_EQ(lstat(theirLock.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, attacker_.uid);
  EXPECT_EQ(readFile(theirLock), theirPid);

  // Both users' simulators in one ports/; theirs is killed, mine is the
  // last out: their leftovers go, and so does the ports/ their run made.
  SimProcess mine(simArgs(4), as(victimUser()));
  ASSERT_TRUE(mine.readLine()) << mine.stderrText();
  EXPECT_TRUE(fs::is_symlink(ports_ / "COM3"));
  EXPECT_TRUE(fs::is_symlink(ports_ / "COM4"));
  theirs.signal(SIGKILL);
  EXPECT_TRUE(theirs.waitExit());
  mine.send("quit\n");
  EXPECT_EQ(mine.waitExit(), std::optional<int>(0));
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports_)));
  const std::string err = mine.stderrText();  // my window would not see COM4 in their ports/
  EXPECT_NE(err.find(ports_.string() + " belongs to "), std::string::npos) << err;
}

TEST_F(SharedPortsFolder, ControlFifoMustBeAPipeOfTheUser) {
  const Account victim = victimUser();
  const fs::path shared = tmp_.path() / "shared";  // like /tmp: sticky, anybody may create
  makeDir(shared, 01777, kRoot);
  const fs::path file = shared / "victim-notes";
  const fs::path theirPipe = shared / "attacker-pipe";
  const fs::path link = shared / "ctl";
  ASSERT_TRUE(runAs(victim, [&] { return std::ofstream(file) << "status\n" && true; }));
  ASSERT_TRUE(runAs(attacker_, [&] {
    return mkfifo(theirPipe.c_str(), 0666) == 0 && chmod(theirPipe.c_str(), 0666) == 0 &&
           symlink(theirPipe.c_str(), link.c_str()) == 0;
  }));
  std::vector<std::pair<fs::path, std::string>> cases{
      {file, file.string() + " exists and is a regular file, not a named pipe; refused"},
      {link, link.string() + " is a symbolic link"}};
  if (isRoot()) cases.push_back({theirPipe, theirPipe.string() + " belongs to another user"});
  for (const auto& [path, message] : cases) {
    std::vector<std::string> args = simArgs(3);
    args.insert(args.end(), {"--control-fifo", path.string()});
    SimProcess sim(args, as(victim));
    EXPECT_EQ(sim.waitExit(), std::optional<int>(1)) << path;
    const std::string err = sim.stderrText();
    EXPECT_NE(err.find(message), std::string::npos) << err;
  }
  EXPECT_EQ(readFile(file), "status\n");
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(theirPipe)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports_)));  // refused before anything was bound
}

}  // namespace
