// mqtool-cli: the pad link on the console (see mqtool_cli.h).
#include <atomic>
#include <clocale>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "loop/realtime_loop.h"
#include "cli/cli_platform.h"
#include "cli/mqtool_cli.h"

namespace {

std::atomic<mq::padlink::TMqToolCli*> gCli{nullptr};

extern "C" void OnSignal(int sig) {
  // Windows resets the handler on each signal: a second Ctrl+C must not
  // kill the program while it sends the last acknowledgements.
  std::signal(sig, OnSignal);
  if (auto* cli = gCli.load()) cli->Interrupt();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = mq::padlink::CliPlatform::Arguments(argc, argv);
  std::string error;
  auto options = mq::padlink::TCliOptions::Parse(args, error);
  if (!options) {
    std::cerr << "mqtool-cli: " << error << "\nRun 'mqtool-cli --help' for the commands and their options.\n";
    return 2;
  }
  if (options->command.empty()) {
    std::cout << options->help;
    return 0;
  }
  auto platform = mq::padlink::CliPlatform::Make(options->dataFolder, error);
  if (!platform) {
    std::cerr << "mqtool-cli: " << error << "\n";
    return 2;
  }
  // Awards are shown with the user's decimal separator (one byte).
  std::setlocale(LC_NUMERIC, "");
  if (const std::lconv* lc = std::localeconv(); lc && lc->decimal_point && lc->decimal_point[0] &&
                                                !lc->decimal_point[1] &&
                                                static_cast<unsigned char>(lc->decimal_point[0]) < 0x80)
    options->decimalSeparator = lc->decimal_point[0];
  std::setlocale(LC_NUMERIC, "C");

  mq::RealtimeLoop loop;
  mq::padlink::TMqToolCli cli(loop, platform, std::cout, std::cerr);
  gCli = &cli;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const int code = cli.Run(*options);
  gCli = nullptr;
  return code;
}
