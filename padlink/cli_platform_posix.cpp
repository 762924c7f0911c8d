#include "padlink/cli_platform.h"

#include <filesystem>
#include <system_error>

#include "serial/serial_platform_posix.h"

namespace mq::padlink {

std::shared_ptr<mq::serial::SerialPlatform> CliPlatform::Make(const std::string& dataFolder, std::string& error) {
  const std::string folder = dataFolder.empty() ? std::string(MQ_DEFAULT_DATA_FOLDER) : dataFolder;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    error = "the data folder " + folder + " does not exist";
    return nullptr;
  }
  return std::make_shared<mq::serial::PosixSerialPlatform>(folder);
}

}  // namespace mq::padlink
