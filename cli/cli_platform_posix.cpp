#include "cli/cli_platform.h"

#include <filesystem>
#include <system_error>

namespace mq::padlink {

std::shared_ptr<mq::serial::SerialPlatform> CliPlatform::Make(const std::string& dataFolder, std::string& error) {
  // A folder the user names must exist (a typing mistake would otherwise
  // silently switch to the device table). The default one need not: without
  // it there are no ports/ links, and the device table applies.
  if (!dataFolder.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dataFolder, ec)) {
      error = "the data folder " + dataFolder + " does not exist";
      return nullptr;
    }
  }
  return mq::serial::MakeMachineSerialPlatform(dataFolder);
}

std::vector<std::string> CliPlatform::Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);  // UTF-8 in every usual locale
}

}  // namespace mq::padlink
