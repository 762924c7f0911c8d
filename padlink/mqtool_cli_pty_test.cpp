// mqtool-cli against marq-sim on real pseudo-terminals: the whole chain of
// port, framers, pad link and command line, with the simulator's own trace
// as the reference for the echo-test counters. POSIX only (like marq-sim).
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "util/user_account.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using mq::UserAccount;

// Bounds that only stop a broken run from hanging; not timing assertions.
constexpr int kReadyMs = 10'000;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "mqtool-cli-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A child process with standard output and error going to files, standard
// input from /dev/null. ordinaryUser: a child of root runs as user nobody
// (group nogroup, no other groups), since root may open any device.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args, fs::path out, fs::path err,
        bool ordinaryUser = false)
      : out_(std::move(out)), err_(std::move(err)) {
    const passwd* nobody = getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    pid_ = fork();
    if (pid_ == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, STDIN_FILENO);
      dup2(o, STDOUT_FILENO);
      dup2(e, STDERR_FILENO);
      if (ordinaryUser && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0))
        _exit(126);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::optional<int> Wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!status_) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      std::this_thread::sleep_for(10ms);
    }
    return status_;
  }
  void Signal(int sig) {
    if (pid_ > 0 && !status_) kill(pid_, sig);
  }
  void Stop() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGTERM);
      Wait(5000);
    }
  }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  pid_t pid_ = -1;
  fs::path out_, err_;
  std::optional<int> status_;
};

// marq-sim bound to COM `com` in the test's own data folder.
class Sim {
 public:
  Sim(const fs::path& folder, int com, std::vector<std::string> args)
      : child_(MARQ_SIM_PATH, WithBinding(folder, com, std::move(args)), folder / ("sim" + std::to_string(com) + ".out"),
               folder / ("sim" + std::to_string(com) + ".err")) {
    const std::string ready = "marq-sim: COM" + std::to_string(com) + " -> ";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyMs);
    while (child_.Out().find(ready) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || child_.Wait(0)) {
        ADD_FAILURE() << "marq-sim did not get ready: " << child_.Err();
        return;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  ~Sim() { child_.Stop(); }
  std::string Out() const { return child_.Out(); }

 private:
  static std::vector<std::string> WithBinding(const fs::path& folder, int com, std::vector<std::string> args) {
    args.insert(args.begin(), {"--com", std::to_string(com), "--data-folder", folder.string()});
    return args;
  }
  Child child_;
};

struct CliResult {
  int code = -1;
  std::string out, err;
};

CliResult RunCli(const fs::path& folder, std::vector<std::string> args, int timeoutMs = 120'000,
               bool ordinaryUser = false) {
  args.push_back("--data-folder");
  args.push_back(folder.string());
  std::string program = MQTOOL_CLI_PATH;
  if (ordinaryUser) {
    // The build folder may lie where an ordinary user cannot reach it.
    const fs::path copy = folder / "mqtool-cli";
    fs::copy_file(program, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms(0755));
    program = copy.string();
  }
  Child cli(program, args, folder / "cli.out", folder / "cli.err", ordinaryUser);
  CliResult r;
  const auto code = cli.Wait(timeoutMs);
  EXPECT_TRUE(code) << "mqtool-cli did not end";
  if (code) r.code = *code;
  r.out = cli.Out();
  r.err = cli.Err();
  return r;
}

// ---- marq-sim's trace ----

struct TraceLine {
  long time = 0;
  std::string dir, pad, fate, bytes;
};

// Maps the trace notation back to bytes.
std::string Unescape(const std::string& s) {
  static const std::map<std::string, char> names = {{"STX", '\x02'}, {"ETX", '\x03'}, {"EOT", '\x04'},
                                                    {"ACK", '\x06'}, {"SUB", '\x1a'}, {"ESC", '\x1b'}};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '<') {
      const auto end = s.find('>', i);
      const std::string name = s.substr(i + 1, end - i - 1);
      if (name.rfind("0x", 0) == 0)
        out += static_cast<char>(std::stoi(name.substr(2), nullptr, 16));
      else
        out += names.at(name);
      i = end + 1;
    } else {
      out += s[i++];
    }
  }
  return out;
}

std::vector<TraceLine> ParseTrace(const std::string& text) {
  std::vector<TraceLine> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] < '0' || line[0] > '9') continue;
    TraceLine t;
    std::size_t p = 0;
    auto field = [&] {
      const auto sp = line.find(' ', p);
      std::string f = line.substr(p, sp - p);
      p = sp + 1;
      return f;
    };
    t.time = std::stol(field());
    t.dir = field();
    t.pad = field();
    t.fate = field();
    t.bytes = Unescape(line.substr(p));
    lines.push_back(t);
  }
  return lines;
}

// The number the utility reads from an echo reply: after the first space,
// only the bytes of "0123456789ac", read as decimal (-1 when that fails).
long EchoNumber(const std::string& reply) {
  std::string payload = reply.substr(3, reply.size() - 4);  // STX id ACK ... EOT
  const auto space = payload.find(' ');
  if (space != std::string::npos) payload.erase(0, space + 1);
  std::string digits;
  for (char c : payload)
    if (std::string("0123456789ac").find(c) != std::string::npos) digits += c;
  if (digits.empty() || digits.find_first_of("ac") != std::string::npos) return -1;
  return std::stol(digits);
}

struct Counters {
  int replies = 0, resends = 0, missedReads = 0, missedSends = 0;
  bool operator==(const Counters&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Counters& c) {
  return o << "{" << c.replies << "," << c.resends << "," << c.missedReads << "," << c.missedSends << "}";
}

// Walks the echo test in the trace: every echo frame to a pad (request or
// resend) from the first one on, in order, with the reply it drew (the pad
// answers every echo frame it hears, in order) and whether that reply was
// delivered. `loop` is the loop number of the latest request to that pad.
template <typename OnFrame>
void WalkEchoFrames(const std::vector<TraceLine>& trace, OnFrame onFrame) {
  std::map<char, std::vector<const TraceLine*>> echoes, replies;
  long start = -1;
  for (const auto& t : trace) {
    const bool echoFrame = t.dir == "base>pad" && t.bytes.size() >= 5 && t.bytes.substr(t.bytes.size() - 3) ==
                                                                             std::string("\x1b" "4\x04");
    if (echoFrame && start < 0) start = t.time;
    if (start < 0) continue;
    if (echoFrame) echoes[t.pad[0]].push_back(&t);
    if (t.dir == "pad>base" && t.bytes.size() >= 4 && t.bytes[2] == '\x06') replies[t.pad[0]].push_back(&t);
  }
  for (auto& [pad, frames] : echoes) {
    std::size_t r = 0;
    int loop = 0;
    for (const TraceLine* f : frames) {
      const bool resend = f->bytes.size() == 5;
      const TraceLine* reply = nullptr;
      if (f->fate == "ok" && r < replies[pad].size()) reply = replies[pad][r++];
      const bool delivered = reply && reply->fate == "ok";
      if (!resend) loop = std::stoi(f->bytes.substr(f->bytes.rfind(' ') + 1));
      onFrame(pad, resend, loop, delivered, reply);
    }
  }
}

// Counters of every pad from what the radio did: a lost request or reply
// costs one resend; after a resend, a reply carrying the current loop number
// is a missed send, any other a missed read; each delivered reply counts once.
std::map<char, Counters> ExpectedCounters(const std::vector<TraceLine>& trace) {
  std::map<char, Counters> result;
  WalkEchoFrames(trace, [&](char pad, bool resend, int loop, bool delivered, const TraceLine* reply) {
    Counters& c = result[pad];
    if (delivered) ++c.replies;
    if (!resend) {
      if (!delivered) ++c.resends;  // lost on the way out or back
    } else if (delivered) {
      if (EchoNumber(reply->bytes) == loop)
        ++c.missedSends;
      else
        ++c.missedReads;
    }
  });
  return result;
}

// The outcome of every step (loop, pad) from what the radio did, in the
// tokens of the per-loop CSV: "at_once", "missed_send", "missed_read" or
// "no_answer", then ",1" when the step needed a resend, ",0" when not.
std::map<std::pair<int, char>, std::string> ExpectedSteps(const std::vector<TraceLine>& trace) {
  std::map<std::pair<int, char>, std::string> result;
  WalkEchoFrames(trace, [&](char pad, bool resend, int loop, bool delivered, const TraceLine* reply) {
    if (!resend)
      result[{loop, pad}] = delivered ? "at_once,0" : "no_answer,1";
    else if (delivered)
      result[{loop, pad}] = EchoNumber(reply->bytes) == loop ? "missed_send,1" : "missed_read,1";
  });
  return result;
}

std::vector<std::string> CsvCells(std::string row) {
  if (!row.empty() && row.back() == '\r') row.pop_back();
  std::vector<std::string> f;
  std::stringstream fs(row);
  std::string cell;
  while (std::getline(fs, cell, ',')) f.push_back(cell);
  if (!row.empty() && row.back() == ',') f.emplace_back();
  return f;
}

// The per-loop CSV against the trace, and the HTML report's numbers against
// both CSV files. Returns what differed.
std::string StepsAgainstTheTrace(const std::string& traceText, const std::string& totalsCsv,
                                 const std::string& loopsCsv, const std::string& html) {
  std::ostringstream diff;
  auto expected = ExpectedSteps(ParseTrace(traceText));
  std::istringstream rows(loopsCsv);
  std::string row;
  std::getline(rows, row);
  if (row != "loop,pad,judge,outcome,resent,reply_loop,late_replies\r") diff << "heading " << row << "\n";
  std::map<char, std::array<int, 5>> steps;  // at once, after a resend, no answer, late, all
  int cells = 0;
  while (std::getline(rows, row)) {
    const auto f = CsvCells(row);
    if (f.size() != 7u) {
      diff << "row " << row << "\n";
      continue;
    }
    ++cells;
    const std::pair<int, char> key{std::stoi(f[0]), f[1][0]};
    const std::string got = f[3] + "," + f[4];
    const auto want = expected.find(key);
    if (want == expected.end() || want->second != got)
      diff << "loop " << key.first << " pad " << key.second << ": CSV " << got << ", trace "
           << (want == expected.end() ? "-" : want->second) << "\n";
    if (f[6] != "0") diff << "loop " << key.first << " pad " << key.second << ": late replies " << f[6] << "\n";
    auto& s = steps[key.second];
    ++s[f[3] == "at_once" ? 0 : f[3] == "no_answer" ? 2 : 1];
    s[3] += std::stoi(f[6]);
    ++s[4];
  }
  if (cells != static_cast<int>(expected.size())) diff << cells << " steps, the trace shows " << expected.size() << "\n";
  // Every number of the report's table: the totals CSV, then the steps.
  std::istringstream totals(totalsCsv);
  std::getline(totals, row);
  while (std::getline(totals, row)) {
    const auto f = CsvCells(row);
    if (f.size() < 6u) continue;
    const auto& s = steps[f[0][0]];
    std::string tr = "<tr id=\"row-J" + f[1] + "\"";
    const auto at = html.find(tr);
    if (at == std::string::npos) {
      diff << "no report row for pad " << f[0] << "\n";
      continue;
    }
    std::string cellsText = html.substr(at, html.find("</tr>", at) - at);
    std::vector<std::string> nums;
    for (std::size_t p = 0; (p = cellsText.find("<td", p)) != std::string::npos;) {
      p = cellsText.find('>', p) + 1;
      nums.push_back(cellsText.substr(p, cellsText.find('<', p) - p));
    }
    const std::vector<std::string> want = {f[1], f[0], f[2], f[3], f[4], f[5], std::to_string(s[0]),
                                           std::to_string(s[1]), std::to_string(s[2]), std::to_string(s[3])};
    nums.resize(std::min(nums.size(), want.size()));
    if (nums != want) diff << "report row of pad " << f[0] << ": " << cellsText << "\n";
    if (html.find("id=\"bar-J" + f[1] + "\"") == std::string::npos ||
        html.find("id=\"timeline-J" + f[1] + "\"") == std::string::npos)
      diff << "no bar or timeline for pad " << f[0] << "\n";
  }
  return diff.str();
}

// ---- tests ----

TEST(MqToolCliPty, ScanFindsTheStationInPassOneAndItsPads) {
  TempFolder tmp;
  Sim sim(tmp.path(), 7,
          {"--pads", "0,3,a", "--firmware", "0=905,3=,a=912", "--ident", "ER400TRS-02V2.02.10", "--seed", "1"});
  const CliResult r = RunCli(tmp.path(), {"scan", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"port\":7,\"ident\":\"ER400TRS-02V2.02.10\",\"channel\":\"7\",\"bandwidth_index\":4,"
            "\"dcs_available\":true,\"pads\":[\"0\",\"3\",\"a\"],\"firmware\":[\"0\",\"905\",\"912\"]}\n")
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n') > 10, true);
  EXPECT_NE(r.err.find("Available port numbers: 7"), std::string::npos);
  EXPECT_NE(r.err.find("7 <-- ER_CMD#T3ER400TRS-02V2.02.10"), std::string::npos) << r.err;
}

TEST(MqToolCliPty, ScanFindsATwentySevenByteStationInPassTwoAmongTwoPorts) {
  TempFolder tmp;
  Sim other(tmp.path(), 2, {"--pads", "none", "--ident", "XX400TRS-02V2.01.7", "--seed", "2"});
  Sim sim(tmp.path(), 5, {"--pads", "1,c", "--channel", "4", "--bandwidth", "2", "--seed", "3"});
  const CliResult r = RunCli(tmp.path(), {"scan"});
  EXPECT_EQ(r.code, 0) << r.err;
  std::size_t passes = 0;
  for (std::size_t p = 0; (p = r.out.find("Available port numbers: 2, 5", p)) != std::string::npos; ++p) ++passes;
  EXPECT_EQ(passes, 2u) << r.out;
  EXPECT_NE(r.out.find("Base station: ER400TRS-02V2.01.7\nPort: 5\nChannel: 4\nBandwidth: 50 kHz (index 2)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Pads: 1, c\nFirmware: 912\n"), std::string::npos) << r.out;
}

TEST(MqToolCliPty, NoStationExitsOne) {
  TempFolder tmp;
  // A folder of links binds only what it names (never the machine's own
  // ports): COM1 is something that exists but is no serial port.
  fs::create_directory(tmp.path() / "ports");
  fs::create_symlink("/dev/null", tmp.path() / "ports" / "COM1");
  const CliResult r = RunCli(tmp.path(), {"scan", "--json"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("\"port\":0,\"ident\":\"\""), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("No available ports!"), std::string::npos);
}

// A pseudo-terminal bound to COM<com> in the folder's ports/, with the mode
// given; the far side stays open as long as the returned descriptor.
int BindPty(const fs::path& folder, int com, mode_t mode, std::string& slave) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  slave = ptsname(master);
  chmod(slave.c_str(), mode);
  fs::create_symlink(slave, folder / "ports" / ("COM" + std::to_string(com)));
  return master;
}

TEST(MqToolCliPty, PortsThatCannotBeOpenedAreNamedAndNoPortAtAllIsSaid) {
  TempFolder tmp;
  fs::permissions(tmp.path(), fs::perms(0755));  // the devices decide, not the folder
  fs::create_directory(tmp.path() / "ports");
  std::string denied, held;
  const int deniedMaster = BindPty(tmp.path(), 2, 0, denied);  // only root may open it
  const int heldMaster = BindPty(tmp.path(), 4, 0666, held);
  ASSERT_GE(deniedMaster, 0);
  ASSERT_GE(heldMaster, 0);
  // A second program has COM4 open, exclusively and locked.
  const int other = open(held.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  const CliResult r = RunCli(tmp.path(), {"scan"}, 120'000, /*ordinaryUser=*/true);
  struct stat st {};
  const int statted = stat(denied.c_str(), &st);
  close(other);
  close(heldMaster);
  close(deniedMaster);
  // No group would help with a device of mode 0000: the reason names its
  // owner instead. Who holds COM4 is not told to another user.
  ASSERT_EQ(statted, 0);
  const std::string why2 = "COM2: permission denied \u2014 " + denied + " belongs to " +
                           UserAccount::UserName(st.st_uid) + ":" + UserAccount::GroupName(st.st_gid) +
                           " with mode 0000";
  const std::string why4 = "COM4: in use by another program";
  const std::string from = "COM numbers are the links in " + (tmp.path() / "ports").string() +
                           "/; the machine's own serial ports are not scanned";
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("Start Full Scan\n" + from + "\n" + why2 + "\n" + why4 + "\nNo available ports!\n"),
            std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.err.find("No serial port could be opened:\n" + why2 + "\n" + why4 + "\n"), std::string::npos) << r.err;
}

// One seeded echo test: the CSV's counters against those the simulator's
// trace implies. Returns what differed (empty when all agree).
std::string EchoRunAgainstTheTrace(const fs::path& folder, int com) {
  Sim sim(folder, com, {"--loss", "0.1", "--seed", "4711", "--trace"});
  const fs::path csv = folder / "echo.csv", loopsCsv = folder / "loops.csv", report = folder / "echo.html";
  // The longest test delay (300 ms) leaves a reply about 250 ms of slack.
  const CliResult r = RunCli(folder,
                             {"echo", "--loops", "20", "--delay", "300", "--csv", csv.string(), "--loops-csv",
                              loopsCsv.string(), "--report", report.string()},
                             280'000);
  std::ostringstream diff;
  if (r.code == 2) return "usage error: " + r.err;
  const auto expected = ExpectedCounters(ParseTrace(sim.Out()));
  if (expected.size() != 12u) diff << "the trace shows " << expected.size() << " pads\n";
  std::istringstream rows(ReadFile(csv));
  std::string row;
  std::getline(rows, row);  // heading
  int pads = 0, losses = 0;
  bool allReplied = true;
  while (std::getline(rows, row)) {
    if (!row.empty() && row.back() == '\r') row.pop_back();
    std::vector<std::string> f;
    std::stringstream fs(row);
    std::string cell;
    while (std::getline(fs, cell, ',')) f.push_back(cell);
    if (f.size() < 7u) {
      diff << "short row: " << row << "\n";
      continue;
    }
    const Counters got{std::stoi(f[2]), std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5])};
    const auto want = expected.find(f[0][0]);
    if (want == expected.end() || !(got == want->second))
      diff << "pad " << f[0] << ": CSV " << got << ", trace "
           << (want == expected.end() ? Counters{-1, -1, -1, -1} : want->second) << "\n";
    if (f[6] != "20") diff << "pad " << f[0] << ": " << f[6] << " loops\n";
    losses += got.resends;
    if (got.replies < 20 || got.resends > got.missedReads + got.missedSends) allReplied = false;
    ++pads;
  }
  if (pads != 12) diff << pads << " rows\n";
  if (losses == 0) diff << "no resends at 10% loss each way over 240 requests\n";
  if (r.code != (allReplied ? 0 : 1)) diff << "exit code " << r.code << "\n";
  diff << StepsAgainstTheTrace(sim.Out(), ReadFile(csv), ReadFile(loopsCsv), ReadFile(report));
  return diff.str();
}

// The counters follow the trace. The run is on real time: a machine busy
// enough to stall the program beyond the 250 ms slack turns a prompt reply
// into a resend the trace cannot predict, so a mismatch gets one fresh run;
// a counting fault shows in both.
TEST(MqToolCliPty, EchoCountersMatchTheSimulatorsRecord) {
  std::string first;
  {
    TempFolder tmp;
    first = EchoRunAgainstTheTrace(tmp.path(), 4);
  }
  if (first.empty()) return;
  TempFolder tmp;
  const std::string second = EchoRunAgainstTheTrace(tmp.path(), 4);
  EXPECT_EQ(second, "") << "first run:\n" << first;
}

TEST(MqToolCliPty, DiveBringsBackOneAcknowledgedAwardPerPad) {
  TempFolder tmp;
  Sim sim(tmp.path(), 3, {"--pads", "0,1,2,3", "--awards", "auto", "--seed", "9", "--trace"});
  const CliResult r = RunCli(tmp.path(), {"dive", "--count", "4", "--timeout", "30"});
  EXPECT_EQ(r.code, 0) << r.err;
  for (int j = 0; j < 4; ++j) EXPECT_NE(r.out.find("J" + std::to_string(j) + " "), std::string::npos) << r.out;
  const auto trace = ParseTrace(sim.Out());
  std::map<char, int> acks;
  for (const auto& t : trace)
    if (t.dir == "base>pad" && t.fate == "ok" && t.bytes.find("\x06" "OK   ") != std::string::npos) ++acks[t.pad[0]];
  EXPECT_EQ(acks, (std::map<char, int>{{'0', 1}, {'1', 1}, {'2', 1}, {'3', 1}}));
}

TEST(MqToolCliPty, ALinkThatDiesDuringTheEchoTestEndsTheCommandWithExitOne) {
  TempFolder tmp;
  auto sim = std::make_unique<Sim>(tmp.path(), 3, std::vector<std::string>{"--pads", "0,1", "--seed", "5"});
  Child cli(MQTOOL_CLI_PATH, {"echo", "--loops", "10000", "--data-folder", tmp.path().string()}, tmp.path() / "cli.out",
            tmp.path() / "cli.err");
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  // The log (standard output) shows the requests of loop 2.
  while (cli.Out().find(" -->       2") == std::string::npos && std::chrono::steady_clock::now() < deadline &&
         !cli.Wait(0))
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(cli.Out().find(" -->       2"), std::string::npos) << cli.Err();
  sim.reset();  // the far side of the line is gone
  // Without noticing, the test would run on for hours.
  const auto code = cli.Wait(30'000);
  ASSERT_TRUE(code) << "mqtool-cli ran on after the line died";
  EXPECT_EQ(*code, 1);
  EXPECT_NE(cli.Err().find("error: COM3: "), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Err().find("Output buffer too small"), std::string::npos);
}

// Ctrl+C as soon as the first award is printed: every award that was
// printed is still acknowledged to its pad before the program ends, and a
// second Ctrl+C does not cut that short.
TEST(MqToolCliPty, CtrlCDuringDiveStillAcknowledgesTheAwards) {
  TempFolder tmp;
  Sim sim(tmp.path(), 3, {"--pads", "0,1,2,3", "--awards", "auto", "--seed", "9", "--trace"});
  Child cli(MQTOOL_CLI_PATH, {"dive", "--data-folder", tmp.path().string()}, tmp.path() / "cli.out",
            tmp.path() / "cli.err");
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (cli.Out().find("\nJ") == std::string::npos && cli.Out().rfind("J", 0) != 0 &&
         std::chrono::steady_clock::now() < deadline && !cli.Wait(0))
    std::this_thread::sleep_for(5ms);
  cli.Signal(SIGINT);
  cli.Signal(SIGINT);
  const auto code = cli.Wait(30'000);
  ASSERT_TRUE(code) << "mqtool-cli did not end after Ctrl+C";
  const std::string out = cli.Out();
  std::set<char> printed;
  for (std::size_t p = 0; (p = out.find('J', p)) != std::string::npos; ++p)
    if ((p == 0 || out[p - 1] == '\n') && p + 1 < out.size()) printed.insert(out[p + 1]);
  ASSERT_FALSE(printed.empty()) << out << cli.Err();
  std::set<char> acked;
  for (const auto& t : ParseTrace(sim.Out()))
    if (t.dir == "base>pad" && t.bytes.find("\x06" "OK   ") != std::string::npos) acked.insert(t.pad[0]);
  for (char j : printed) EXPECT_TRUE(acked.count(j)) << "the award of judge " << j << " was not acknowledged";
}

// The reply is printed by the handler on the loop thread after the framer
// has switched itself off on the serial thread: every run must wait for the
// handler, not for the framer.
TEST(MqToolCliPty, SendCmdPrintsTheReplyEveryTime) {
  TempFolder tmp;
  Sim sim(tmp.path(), 3, {"--pads", "none", "--bandwidth", "2", "--seed", "5"});
  for (int run = 0; run < 20; ++run) {
    const CliResult r = RunCli(tmp.path(), {"send-cmd", "ER_CMD#B?", "--no-scan", "--port", "3"});
    EXPECT_EQ(r.code, 0) << "run " << run << ": " << r.err;
    EXPECT_NE(r.out.find("3 <-- ER_CMD#B2"), std::string::npos) << "run " << run << ": " << r.out;
  }
}

// Without --data-folder the build's default folder is used, and it need not
// exist (the device table then applies). The CSV check refuses before any
// port is touched, so no device of the machine is opened here.
TEST(MqToolCliPty, RunsWithoutTheDefaultDataFolder) {
  TempFolder tmp;
  Child cli(MQTOOL_CLI_PATH, {"echo", "--loops", "1", "--csv", (tmp.path() / "no-such-folder" / "e.csv").string()},
            tmp.path() / "cli.out", tmp.path() / "cli.err");
  const auto code = cli.Wait(60'000);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 2);
  EXPECT_NE(cli.Err().find("cannot write"), std::string::npos) << cli.Err();
  EXPECT_EQ(cli.Err().find("data folder"), std::string::npos) << cli.Err();
}

}  // namespace
