#include "cli/cli_platform.h"

#include <windows.h>
#include <shellapi.h>

namespace mq::padlink {

std::shared_ptr<mq::serial::SerialPlatform> CliPlatform::Make(const std::string&, std::string&) {
  return mq::serial::MakeMachineSerialPlatform({});
}

std::vector<std::string> CliPlatform::Arguments(int argc, char** argv) {
  // argv is in the ANSI code page, which cannot hold every character: take
  // the wide command line and make it UTF-8.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
    s.resize(s.size() - 1);  // the terminating null
    args.push_back(std::move(s));
  }
  LocalFree(wide);
  return args;
}

}  // namespace mq::padlink
