// ControlInterpreter: the control commands typed on marq-sim's standard
// input (or written to its control FIFO), one a line, applied to a SimModel.
// Every answer line starts with the command's name or with "error:", so a
// test reading stdout can tell answers from trace lines (which start with a
// digit). Single-threaded, like the model it drives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_model.h"

namespace mqsim {

class ControlInterpreter {
 public:
  explicit ControlInterpreter(SimModel& model) : model_(model) {}

  // Runs one line at the model's current time; returns the answer lines.
  std::vector<std::string> execute(std::string_view line);
  bool quitRequested() const { return quit_; }

 private:
  std::vector<std::string> status() const;
  std::vector<std::string> stats() const;

  SimModel& model_;
  bool quit_ = false;
};

}  // namespace mqsim
