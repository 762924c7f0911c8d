// Runs the built marq-sim on a real pseudo-terminal and talks to it the way
// the utility does: through the link <data folder>/ports/COM<N>.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous bounds: these only stop a broken run from hanging, they are not
// timing assertions.
constexpr int kWaitMs = 10000;

class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, bool stdinFromNull = false)
    {
        int out[2], err[2], in[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        pid_ = fork();
        if (pid_ == 0) {
            const int null = open("/dev/null", O_RDONLY);
            dup2(stdinFromNull ? null : in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(MARQ_SIM_PATH));
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(MARQ_SIM_PATH, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        close(in[0]);
        out_ = out[0];
        err_ = err[0];
        in_ = in[1];
    }

    ~SimProcess()
    {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (const int fd : {out_, err_, in_})
            if (fd >= 0)
                close(fd);
    }

    // One line of standard output, or nullopt when none comes in time.
    std::optional<std::string> readLine(int timeoutMs = kWaitMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = outBuf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = outBuf_.substr(0, nl);
                outBuf_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[512];
            const ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            outBuf_.append(buf, static_cast<std::size_t>(n));
        }
    }

    void send(const std::string& text) { ASSERT_EQ(write(in_, text.data(), text.size()), ssize_t(text.size())); }
    void signal(int sig) { kill(pid_, sig); }

    // Exit status once the process has ended, or nullopt after the bound.
    std::optional<int> waitExit(int timeoutMs = kWaitMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!status_) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(5ms);
        }
        return status_;
    }

    std::string stderrText()
    {
        std::string text;
        char buf[512];
        fcntl(err_, F_SETFL, O_NONBLOCK);
        ssize_t n;
        while ((n = read(err_, buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
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
    TempFolder()
    {
        std::string tmpl = (fs::temp_directory_path() / "marq-sim-test-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Reads exactly n bytes (or what arrives before the bound).
std::string readBytes(int fd, std::size_t n)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buf[256];
        const ssize_t r = read(fd, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0)
            got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
}

void writeAll(int fd, const std::string& s)
{
    ASSERT_EQ(write(fd, s.data(), s.size()), ssize_t(s.size()));
}

TEST(MarqSimPty, BindsAnswersRefusesASecondCopyAndCleansUp)
{
    TempFolder tmp;
    const fs::path ports = tmp.path() / "ports";
    const fs::path link = ports / "COM3";
    // A strict umask must not lock the data folder's other group members
    // out of ports/ (they bind their own numbers there).
    const mode_t oldMask = umask(077);
    SimProcess sim({"--com", "3", "--data-folder", tmp.path().string(), "--pads", "0,3", "--awards", "manual",
                    "--seed", "1"});
    umask(oldMask);
    const auto ready = sim.readLine();
    ASSERT_TRUE(ready) << sim.stderrText();
    ASSERT_EQ(ready->rfind("marq-sim: COM3 -> /dev/pts/", 0), 0u) << *ready;
    EXPECT_EQ(fs::read_symlink(link).string(), ready->substr(std::string("marq-sim: COM3 -> ").size()));
    struct stat st {};
    ASSERT_EQ(stat(ports.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 02775u);
    ASSERT_EQ(stat((ports / ".COM3.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);

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
        writeAll(fd, std::string("\x02" "3J3\x1b" "13\x04"));
        EXPECT_EQ(readBytes(fd, 7), std::string("\x02" "3\x06" "912\x04"));
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

TEST(MarqSimPty, StaleLinkIsReplacedForeignLinkIsKept)
{
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

TEST(MarqSimPty, KeepsRunningWithoutStandardInputAndTakesFifoCommands)
{
    TempFolder tmp;
    const fs::path fifo = tmp.path() / "control";
    SimProcess sim({"--com", "7", "--data-folder", tmp.path().string(), "--pads", "3", "--control-fifo",
                    fifo.string(), "--trace", "--seed", "9"},
                   /*stdinFromNull=*/true);
    ASSERT_TRUE(sim.readLine()) << sim.stderrText();
    const int ctl = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(ctl, 0);
    writeAll(ctl, "status\n");
    close(ctl);
    EXPECT_EQ(sim.readLine(), std::optional<std::string>(
                                  "status base channel 7 bandwidth 6 dcs off loss 0 entries auto ident "
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

}  // namespace
