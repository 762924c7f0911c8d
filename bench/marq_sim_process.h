// MarqSimProcess: the built marq-sim started for a benchmark, with its
// output in a file of the benchmark's data folder, waited for until it has
// bound its COM number, and stopped (SIGTERM) when the object goes.
//
// Threading: create and destroy on one thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace mqbench {

class MarqSimProcess {
 public:
  MarqSimProcess(const std::filesystem::path& dataFolder, int com, std::vector<std::string> extraArgs) {
    const std::filesystem::path out = dataFolder / ("sim-COM" + std::to_string(com) + ".out");
    std::vector<std::string> args = {MARQ_SIM_PATH, "--com", std::to_string(com), "--data-folder", dataFolder.string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(o, STDOUT_FILENO);
      dup2(in, STDIN_FILENO);
      dup2(o, STDERR_FILENO);
      execv(MARQ_SIM_PATH, argv.data());
      _exit(127);
    }
    const std::string ready = "marq-sim: COM" + std::to_string(com);
    for (int i = 0; i < 1000; ++i) {
      std::ifstream in(out);
      std::stringstream s;
      s << in.rdbuf();
      if (s.str().find(ready) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~MarqSimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  MarqSimProcess(const MarqSimProcess&) = delete;
  MarqSimProcess& operator=(const MarqSimProcess&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace mqbench
