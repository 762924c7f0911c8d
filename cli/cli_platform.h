// CliPlatform: the machine-specific part of mqtool-cli's start, the serial
// platform its ports come from.
//
// POSIX: the data folder is --data-folder, which must exist, else the
// build's default, which need not; its ports/ folder, when present, binds
// COM numbers to devices, and without it the fixed device table applies.
// Windows: ports are the system's COM numbers; the data folder plays no
// part in finding them and is not required.
// The command-line arguments come as UTF-8 on every platform.
//
// Threading: called once on the main thread before the loop runs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/serial_platform.h"

namespace mq::padlink {

class CliPlatform {
 public:
  // The platform, or none with the reason in `error`.
  static std::shared_ptr<mq::serial::SerialPlatform> Make(const std::string& dataFolder, std::string& error);
  // The arguments after the program name, as UTF-8.
  static std::vector<std::string> Arguments(int argc, char** argv);
};

}  // namespace mq::padlink
