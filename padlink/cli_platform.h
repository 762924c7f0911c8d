// CliPlatform: the machine-specific part of mqtool-cli's start, the serial
// platform its ports come from.
//
// POSIX: the data folder (from --data-folder, else the build's default)
// must exist; its ports/ folder, when present, binds COM numbers to
// devices. Windows: ports are the system's COM numbers; the data folder
// plays no part in finding them and is not required.
//
// Threading: called once on the main thread before the loop runs.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_platform.h"

namespace mq::padlink {

class CliPlatform {
 public:
  // The platform, or none with the reason in `error`.
  static std::shared_ptr<mq::serial::SerialPlatform> Make(const std::string& dataFolder, std::string& error);
};

}  // namespace mq::padlink
