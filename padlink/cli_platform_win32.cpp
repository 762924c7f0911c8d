#include "padlink/cli_platform.h"

#include "serial/serial_platform_win32.h"

namespace mq::padlink {

std::shared_ptr<mq::serial::SerialPlatform> CliPlatform::Make(const std::string&, std::string&) {
  return std::make_shared<mq::serial::Win32SerialPlatform>();
}

}  // namespace mq::padlink
