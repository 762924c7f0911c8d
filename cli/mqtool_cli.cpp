#include "cli/mqtool_cli.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "cli/cli_output.h"
#include "cli/console_window.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/text_codec.h"
#include "padlink/pad_link.h"
#include "padlink/shell_state.h"

namespace mq::padlink {

TMqToolCli::TMqToolCli(mq::RealtimeLoop& loop, std::shared_ptr<mq::serial::SerialPlatform> platform, std::ostream& out,
                       std::ostream& err)
    : TMqToolCli(
          loop, [&loop](const std::function<bool()>& done, int timeoutMs) { return loop.runUntil(done, timeoutMs); },
          std::move(platform), out, err) {}

TMqToolCli::TMqToolCli(mq::Loop& loop, RunUntil runUntil, std::shared_ptr<mq::serial::SerialPlatform> platform,
                       std::ostream& out, std::ostream& err)
    : loop_(loop), runUntil_(std::move(runUntil)), platform_(std::move(platform)), out_(out), err_(err) {}

int TMqToolCli::Run(const TCliOptions& o) {
  int errors = 0;
  loop_.setErrorHandler([&](std::exception_ptr e) {
    err_ << "error: " << TConsoleWindow::Visible(CliOutput::ErrorText(e)) << '\n' << std::flush;
    ++errors;
  });

  // A file that cannot be written is refused before anything is sent.
  TEchoFiles files;
  for (auto [path, stream] :
       {std::pair{&o.csv, &files.csv}, std::pair{&o.loopsCsv, &files.loopsCsv}, std::pair{&o.report, &files.report}}) {
    if (path->empty()) continue;
    errno = 0;
    stream->open(mq::i18n::TTextCodec::PathFromUtf8(*path), std::ios::binary | std::ios::trunc);
    if (!*stream) {
      const int e = errno;
      err_ << "mqtool-cli: cannot write " << *path << ": " << (e ? std::strerror(e) : "cannot be opened") << '\n';
      return 2;
    }
  }

  TShellState shell;
  shell.TestDelay = o.delay;
  shell.DecimalSeparator = o.decimalSeparator;
  TConsoleWindow win(o.json ? err_ : out_, err_);
  mq::i18n::TsiLangDispatcher dispatcher;
  TMarqsForm form(loop_, platform_, win, shell, &dispatcher);
  // A port that dies ends the command at once (the error is already shown).
  linkLost_ = false;
  form.OnLinkLost = [this] { linkLost_ = true; };
  TCliCommand command(o, loop_, runUntil_, interrupted_, linkLost_, form, win, shell, files, errors, out_, err_);
  int result = command.Run();
  command.ClosePort();
  if (result == 0 && errors > 0) result = 1;
  return result;
}

}  // namespace mq::padlink
