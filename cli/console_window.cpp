#include "cli/console_window.h"

#include "util/utf16_convert.h"

namespace mq::padlink {

std::string TConsoleWindow::Visible(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20)
      Utf16Convert::AppendUtf8(out, static_cast<char32_t>(0x2400 + b));
    else if (b == 0x7F)
      Utf16Convert::AppendUtf8(out, U'\u2421');
    else
      out += c;
  }
  return out;
}

void TConsoleWindow::AddLogLine(const std::string& text) {
  log_ << Visible(text) << '\n' << std::flush;
  if (OnLogLine) OnLogLine(text);
}

void TConsoleWindow::ProgressSetMax(int max) {
  progressMax_ = max;
  progressPos_ = 0;
  progressShown_ = -1;
}

void TConsoleWindow::ProgressStep() {
  ++progressPos_;
  if (progressMax_ <= 0) return;
  // One line per tenth, so a long test shows it is alive without flooding.
  const int tenth = progressPos_ * 10 / progressMax_;
  if (tenth == progressShown_) return;
  progressShown_ = tenth;
  progress_ << "echo test: " << progressPos_ << '/' << progressMax_ << " requests\n" << std::flush;
}

void TConsoleWindow::SetReportRow(int row, const std::string& text, TReportColour colour) {
  if (row < 0 || row >= 12) return;
  rows_[static_cast<std::size_t>(row)] = text;
  colours_[static_cast<std::size_t>(row)] = colour;
}

void TConsoleWindow::SetReportRowText(int row, const std::string& text) {
  if (row < 0 || row >= 12) return;
  rows_[static_cast<std::size_t>(row)] = text;
}

void TConsoleWindow::SetBusyCursor(bool busy) {
  if (!busy) ++scansEnded_;
}

}  // namespace mq::padlink
