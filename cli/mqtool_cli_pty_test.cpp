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
      : child_(MARQ_SIM_PATH, WithBinding(folder, com, std::move(args)),
               folder / ("sim" + std::to_string(com) + ".out"), folder / ("sim" + std::to_string(com) + ".err")) {
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
  // SIGKILL: the simulator ends at once and its side of the line with it.
  void Kill() {
    child_.Signal(SIGKILL);
    child_.Wait(10'000);
  }

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

// One echo-test line of mqtool-cli's log, in the order the program handled
// them: a request (pad, loop), a resend (pad, loop) or a reply (pad, the
// number it carried). The base station's port must not be a one-character
// number, so that its own log lines never read as a pad's.
struct EchoEvent {
  enum Kind { Request, Resend, Reply } kind;
  char pad;
  long number;
  bool operator==(const EchoEvent&) const = default;
};

std::ostream& operator<<(std::ostream& o, const EchoEvent& e) {
  return o << (e.kind == EchoEvent::Request  ? "request "
               : e.kind == EchoEvent::Resend ? "resend "
                                             : "reply ")
           << e.pad << " " << e.number;
}

std::vector<EchoEvent> EchoLog(const std::string& log) {
  std::vector<EchoEvent> events;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 3 || line[1] != ' ' || std::string("0123456789ac").find(line[0]) == std::string::npos) continue;
    std::istringstream fields(line.substr(2));
    std::string arrow;
    long number = 0, ms = 0;
    std::string rest;
    if (!(fields >> arrow >> number >> ms) || (fields >> rest)) continue;
    if (arrow == "-->") events.push_back({EchoEvent::Request, line[0], number});
    if (arrow == "-->>") events.push_back({EchoEvent::Resend, line[0], number});
    if (arrow == "<--") events.push_back({EchoEvent::Reply, line[0], number});
  }
  return events;
}

// The echo frames the host wrote and the echo replies that reached it, as
// the simulator's trace saw them on the line, in the same terms.
std::vector<EchoEvent> EchoWire(const std::vector<TraceLine>& trace) {
  std::vector<EchoEvent> events;
  std::map<char, long> loops;
  bool started = false;
  for (const auto& t : trace) {
    const std::string& b = t.bytes;
    if (t.dir == "host>base" && b.size() >= 5 &&
        b.substr(b.size() - 3) == std::string("\x1b"
                                              "4\x04")) {
      started = true;
      if (b.size() == 5) {
        events.push_back({EchoEvent::Resend, b[1], loops[b[1]]});
      } else {
        loops[b[1]] = std::stol(b.substr(b.rfind(' ') + 1));
        events.push_back({EchoEvent::Request, b[1], loops[b[1]]});
      }
    }
    if (started && t.dir == "base>host" && b.size() >= 4 && b[2] == '\x06')
      events.push_back({EchoEvent::Reply, b[1], EchoNumber(b)});
  }
  return events;
}

// What the program saw against what the line carried: the same frames in
// the same order, and the same replies in the same order, of which only
// the last few may come after the test has ended and so be missing from
// its log. Returns what differed.
std::string LogAgainstTheWire(const std::vector<EchoEvent>& log, const std::vector<EchoEvent>& wire) {
  std::ostringstream diff;
  auto only = [](const std::vector<EchoEvent>& events, bool replies) {
    std::vector<EchoEvent> out;
    for (const auto& e : events)
      if ((e.kind == EchoEvent::Reply) == replies) out.push_back(e);
    return out;
  };
  auto firstDifference = [&](const std::vector<EchoEvent>& a, const std::vector<EchoEvent>& b) {
    const auto [x, y] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (x != a.end()) diff << "  logged: " << *x << "\n";
    if (y != b.end()) diff << "  on the line: " << *y << "\n";
  };
  const auto sentLog = only(log, false), sentWire = only(wire, false);
  if (sentLog != sentWire) {
    diff << sentLog.size() << " frames logged, " << sentWire.size() << " on the line\n";
    firstDifference(sentLog, sentWire);
  }
  const auto gotLog = only(log, true), gotWire = only(wire, true);
  if (gotLog.size() > gotWire.size() || gotWire.size() - gotLog.size() > 12 ||
      !std::equal(gotLog.begin(), gotLog.end(), gotWire.begin())) {
    diff << gotLog.size() << " replies logged, " << gotWire.size() << " on the line\n";
    firstDifference(gotLog, gotWire);
  }
  return diff.str();
}

// The counters of every pad from the events in the order the program saw
// them: a resend counts on the pad resent to; a reply counts on its own pad
// and, after a resend of the current step, as a missed send when it carries
// the current loop number and as a missed read when not.
std::map<char, Counters> CountersOf(const std::vector<EchoEvent>& events) {
  std::map<char, Counters> result;
  long loop = 0;
  bool resent = false;
  for (const auto& e : events) {
    Counters& c = result[e.pad];
    if (e.kind == EchoEvent::Request) {
      loop = e.number;
      resent = false;
    } else if (e.kind == EchoEvent::Resend) {
      resent = true;
      ++c.resends;
    } else {
      ++c.replies;
      if (resent) ++(e.number == loop ? c.missedSends : c.missedReads);
    }
  }
  return result;
}

struct Step {
  std::string outcome = "no_answer";
  bool resent = false;
  int late = 0;
};

// The outcome of every step (loop, pad) from the same events: a reply
// answers the current step when it is that step's pad's first and it came
// after the resend or carries the step's loop number; any other reply is
// late and belongs to the latest step of its pad that is not a step it
// could not answer.
std::map<std::pair<long, char>, Step> StepsOf(const std::vector<EchoEvent>& events) {
  std::map<std::pair<long, char>, Step> steps;
  std::vector<std::pair<long, char>> order;
  for (const auto& e : events) {
    if (e.kind == EchoEvent::Request) {
      order.emplace_back(e.number, e.pad);
      steps[order.back()];
      continue;
    }
    if (order.empty()) continue;
    Step& current = steps[order.back()];
    if (e.kind == EchoEvent::Resend) {
      current.resent = true;
      continue;
    }
    const auto [loop, pad] = order.back();
    if (pad == e.pad && current.outcome == "no_answer" && (current.resent || e.number == loop)) {
      current.outcome = !current.resent ? "at_once" : e.number == loop ? "missed_send" : "missed_read";
      continue;
    }
    if (pad == e.pad && (current.outcome != "no_answer" || e.number == loop)) {
      ++current.late;
      continue;
    }
    for (auto it = order.rbegin() + 1; it != order.rend(); ++it)
      if (it->second == e.pad) {
        ++steps[*it].late;
        break;
      }
  }
  return steps;
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

// The per-loop CSV against the steps expected, and the HTML report's
// numbers against both CSV files. Returns what differed.
std::string StepsAgainstTheFiles(const std::map<std::pair<long, char>, Step>& expected, const std::string& totalsCsv,
                                 const std::string& loopsCsv, const std::string& html) {
  std::ostringstream diff;
  std::istringstream rows(loopsCsv);
  std::string row;
  std::getline(rows, row);
  if (row != "loop,pad,judge,outcome,resent,reply_loop,late_replies,ended_early\r") diff << "heading " << row << "\n";
  std::map<char, std::array<int, 5>> steps;  // at once, after a resend, no answer, late, all
  int cells = 0;
  while (std::getline(rows, row)) {
    const auto f = CsvCells(row);
    if (f.size() != 8u) {
      diff << "row " << row << "\n";
      continue;
    }
    ++cells;
    const std::pair<long, char> key{std::stol(f[0]), f[1][0]};
    const std::string got = f[3] + "," + f[4] + "," + f[6];
    const auto want = expected.find(key);
    const std::string wanted = want == expected.end() ? "-"
                                                      : want->second.outcome + "," + (want->second.resent ? "1" : "0") +
                                                            "," + std::to_string(want->second.late);
    if (got != wanted)
      diff << "loop " << key.first << " pad " << key.second << ": CSV " << got << ", log " << wanted << "\n";
    auto& s = steps[key.second];
    ++s[f[3] == "at_once" ? 0 : f[3] == "no_answer" ? 2 : 1];
    s[3] += std::stoi(f[6]);
    ++s[4];
  }
  if (cells != static_cast<int>(expected.size())) diff << cells << " steps, the log shows " << expected.size() << "\n";
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
    const std::vector<std::string> want = {f[1],
                                           f[0],
                                           f[2],
                                           f[3],
                                           f[4],
                                           f[5],
                                           std::to_string(s[0]),
                                           std::to_string(s[1]),
                                           std::to_string(s[2]),
                                           std::to_string(s[3])};
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

// A seeded echo test over a lossy radio. What the program logged is checked
// against the line (the simulator's trace), and the counters, the steps and
// the report against what it logged, in the order it saw it: so the check
// holds however the machine schedules the program, whose timing decides
// whether a slow reply is prompt or late.
TEST(MqToolCliPty, EchoCountersMatchTheSimulatorsRecord) {
  TempFolder tmp;
  Sim sim(tmp.path(), 14, {"--loss", "0.1", "--seed", "4711", "--trace"});
  const fs::path csv = tmp.path() / "echo.csv", loopsCsv = tmp.path() / "loops.csv", report = tmp.path() / "echo.html";
  const CliResult r = RunCli(tmp.path(),
                             {"echo", "--loops", "20", "--delay", "130", "--csv", csv.string(), "--loops-csv",
                              loopsCsv.string(), "--report", report.string()},
                             280'000);
  ASSERT_NE(r.code, 2) << r.err;
  const auto log = EchoLog(r.out);
  EXPECT_EQ(LogAgainstTheWire(log, EchoWire(ParseTrace(sim.Out()))), "");
  const auto expected = CountersOf(log);
  ASSERT_EQ(expected.size(), 12u) << r.out << r.err;
  std::istringstream rows(ReadFile(csv));
  std::string row;
  std::getline(rows, row);  // heading
  int pads = 0, losses = 0;
  bool allReplied = true;
  while (std::getline(rows, row)) {
    const auto f = CsvCells(row);
    ASSERT_GE(f.size(), 7u) << row;
    const Counters got{std::stoi(f[2]), std::stoi(f[3]), std::stoi(f[4]), std::stoi(f[5])};
    const auto want = expected.find(f[0][0]);
    EXPECT_TRUE(want != expected.end() && got == want->second)
        << "pad " << f[0] << ": CSV " << got << ", log " << (want == expected.end() ? Counters{} : want->second);
    EXPECT_EQ(f[6], "20") << "pad " << f[0];
    losses += got.resends;
    if (got.replies < 20 || got.resends > got.missedReads + got.missedSends) allReplied = false;
    ++pads;
  }
  EXPECT_EQ(pads, 12);
  EXPECT_GT(losses, 0) << "no resends at 10% loss each way over 240 requests";
  EXPECT_EQ(r.code, allReplied ? 0 : 1);
  EXPECT_EQ(StepsAgainstTheFiles(StepsOf(log), ReadFile(csv), ReadFile(loopsCsv), ReadFile(report)), "");
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
    if (t.dir == "base>pad" && t.fate == "ok" &&
        t.bytes.find("\x06"
                     "OK   ") != std::string::npos)
      ++acks[t.pad[0]];
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

// marq-sim killed in the middle of an echo test: the printed report and all
// three files keep every loop that ran for every pad registered, and say
// that the test ended early and why.
TEST(MqToolCliPty, AnEchoTestWhoseStationIsKilledKeepsEveryLoopThatRan) {
  TempFolder tmp;
  Sim sim(tmp.path(), 12, {"--pads", "0,3,a", "--seed", "6"});
  const fs::path csv = tmp.path() / "r.csv", loopsCsv = tmp.path() / "loops.csv", report = tmp.path() / "r.html";
  Child cli(MQTOOL_CLI_PATH,
            {"echo", "--loops", "200", "--csv", csv.string(), "--loops-csv", loopsCsv.string(), "--report",
             report.string(), "--data-folder", tmp.path().string()},
            tmp.path() / "cli.out", tmp.path() / "cli.err");
  // The log (standard output) shows the requests of loop 6.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (cli.Out().find(" -->       6") == std::string::npos && std::chrono::steady_clock::now() < deadline &&
         !cli.Wait(0))
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(cli.Out().find(" -->       6"), std::string::npos) << cli.Err();
  sim.Kill();
  const auto code = cli.Wait(30'000);
  ASSERT_TRUE(code) << "mqtool-cli ran on after the simulator was killed";
  EXPECT_EQ(*code, 1);
  const std::string out = cli.Out(), err = cli.Err();
  EXPECT_NE(err.find("error: COM12: "), std::string::npos) << err;

  // What the program saw, from its log: requests, resends and replies.
  const auto log = EchoLog(out);
  const auto counters = CountersOf(log);
  ASSERT_EQ(counters.size(), 3u) << out;
  long loopsRun = 0;
  for (const auto& e : log)
    if (e.kind == EchoEvent::Request) loopsRun = std::max(loopsRun, e.number);
  ASSERT_GE(loopsRun, 6);
  ASSERT_LT(loopsRun, 200);
  const std::string why = "ended early: the link to the base station was lost \u2014 COM12: ";
  EXPECT_NE(out.find("Echo test " + std::to_string(loopsRun) + "/200 (" + why), std::string::npos) << out;

  // The printed report: a row with its counters for each pad, and the end.
  const std::string judgeOf = "0123456789ac";
  for (const auto& [pad, c] : counters) {
    char row[64];
    std::snprintf(row, sizeof row, "\n%d%8d%8d%8d%8d", static_cast<int>(judgeOf.find(pad)), c.replies, c.resends,
                  c.missedReads, c.missedSends);
    EXPECT_NE(out.find(row), std::string::npos) << "pad " << pad << ":\n" << out;
    EXPECT_GE(c.replies, loopsRun - 1) << "pad " << pad;
  }
  EXPECT_NE(out.find("\nLoops: " + std::to_string(loopsRun) + " of 200 (" + why), std::string::npos) << out;

  // The totals: one row a pad with the same counters, the loops that ran
  // and those asked, and why it ended.
  std::istringstream rows(ReadFile(csv));
  std::string row;
  std::getline(rows, row);
  EXPECT_EQ(row,
            "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,base_ident,"
            "date_time,loops_asked,ended_early\r");
  int pads = 0;
  while (std::getline(rows, row)) {
    const auto f = CsvCells(row);
    ASSERT_EQ(f.size(), 14u) << row;
    const Counters& c = counters.at(f[0][0]);
    EXPECT_EQ(f[2] + "," + f[3] + "," + f[4] + "," + f[5], std::to_string(c.replies) + "," + std::to_string(c.resends) +
                                                               "," + std::to_string(c.missedReads) + "," +
                                                               std::to_string(c.missedSends));
    EXPECT_EQ(f[6], std::to_string(loopsRun));
    EXPECT_EQ(f[8] + "," + f[10], "7,ER400TRS-02V2.01.7");  // the station the test ran against
    EXPECT_EQ(f[12], "200");
    EXPECT_EQ(f[13].rfind(why, 0), 0u) << f[13];
    ++pads;
  }
  EXPECT_EQ(pads, 3);

  // Every step that ran, the last one saying why the test ended there.
  const std::string steps = ReadFile(loopsCsv);
  EXPECT_EQ(StepsAgainstTheFiles(StepsOf(log), ReadFile(csv), steps, ReadFile(report)), "");
  const std::string last = steps.substr(steps.rfind("\r\n", steps.size() - 3) + 2);
  EXPECT_EQ(last.rfind(std::to_string(loopsRun) + ",", 0), 0u) << last;
  EXPECT_NE(last.find("," + why), std::string::npos) << last;

  // The report: the station as it was, and the early end with its reason.
  const std::string html = ReadFile(report);
  EXPECT_NE(html.find("<th>Port</th><td>COM12</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Base station</th><td>ER400TRS-02V2.01.7</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Loops</th><td>" + std::to_string(loopsRun) + " of 200 (" + why), std::string::npos);
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
    if (t.dir == "base>pad" && t.bytes.find("\x06"
                                            "OK   ") != std::string::npos)
      acked.insert(t.pad[0]);
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
