// SimOptions: marq-sim's command line, checked and turned into a SimConfig
// plus the settings of the executable (COM number, data folder, trace,
// control FIFO). Every bad value is refused with a message naming the
// option, so a mistyped demo setup does not start half-right.
// Plain value type, no shared state.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_config.h"

namespace mqsim {

class SimOptions {
 public:
  int com = 0;
  std::string dataFolder;
  SimConfig config;
  bool trace = false;
  bool seedGiven = false;
  std::string controlFifo;
  bool help = false;

  SimOptions();

  // `args` without the program name. False with `error` set on bad input.
  bool parse(const std::vector<std::string>& args, std::string& error);
  static std::string usage();
};

}  // namespace mqsim
