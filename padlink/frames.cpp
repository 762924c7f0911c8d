#include "padlink/frames.h"

namespace mq::padlink {

int JudgeIndex(char id) {
  const auto pos = PadIdAlphabet.find(id);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

char PadId(int judge) { return PadIdAlphabet.at(static_cast<std::size_t>(judge)); }

namespace {
std::string Frame(char address, std::string_view text, std::string_view command) {
  std::string f;
  f.reserve(text.size() + command.size() + 4);
  f += STX;
  f += address;
  f += text;
  f += ESC;
  f += command;
  f += EOT;
  return f;
}
}  // namespace

std::string RegisterPoll(char id) { return Frame(id, "J" + std::to_string(JudgeIndex(id)), "13"); }

std::string SilentPoll(char id) { return Frame(id, {}, "3"); }

std::string DiveFrame(char id, std::string_view diveText) {
  std::string text = "J";
  text += static_cast<char>(0x2F + JudgeIndex(id) + 1);
  text += "   ";
  text += diveText;
  return Frame(id, text, "0");
}

std::string BroadcastDiveFrame(std::string_view diveText) {
  std::string text = "J";
  text += SUB;
  text += "   ";
  text += diveText;
  return Frame(BroadcastAddress, text, "0");
}

std::string LockFrame(char id, bool lock) { return Frame(id, {}, lock ? "1" : "0"); }

std::string JudgeIdRequest(char id) {
  std::string f;
  f += STX;
  f += id;
  f += JudgeIdPrompt;
  return f;
}

std::string EntryAck(char id, std::string_view entry, bool judgeIdMode) {
  std::string text(1, ACK);
  text += judgeIdMode ? "OK  " : "OK   ";
  text += entry;
  text += judgeIdMode ? "      MqTool" : "       MqTool";
  return Frame(id, text, "1");
}

std::string EchoRequest(char id, int loop) {
  return Frame(id, "J" + std::to_string(JudgeIndex(id)) + "  " + std::to_string(loop), "4");
}

std::string EchoResend(char id) { return Frame(id, {}, "4"); }

}  // namespace mq::padlink
