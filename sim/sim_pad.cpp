#include "sim/sim_pad.h"

namespace mqsim {

namespace {
constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kSub = 0x1A;
constexpr char kEsc = 0x1B;
constexpr char kBroadcast = 'F';
}  // namespace

SimPad::SimPad(const PadConfig& config) : id_(config.id), firmware_(config.firmware), channel_(config.channel) {}

std::string SimPad::displayLine(int line) const {
  const std::size_t from = line == 0 ? 0 : kDisplaySize / 2;
  std::string text = from < display_.size() ? display_.substr(from, kDisplaySize / 2) : std::string();
  text.resize(kDisplaySize / 2, ' ');
  return text;
}

void SimPad::show(std::string_view text) { display_.assign(text.substr(0, kDisplaySize)); }

std::string SimPad::ackFrame(std::string_view payload) const {
  std::string frame;
  frame += kStx;
  frame += id_;
  frame += kAck;
  frame += payload;
  frame += kEot;
  return frame;
}

std::string SimPad::entryFrame(std::string_view text) const {
  std::string frame;
  frame += kStx;
  frame += id_;
  frame += text;
  frame += kEot;
  return frame;
}

SimPad::Reaction SimPad::receive(std::string_view frame) {
  Reaction r;
  if (!on_ || frame.size() < 4 || frame.front() != kStx || frame.back() != kEot) return r;
  const bool broadcast = frame[1] == kBroadcast;
  const std::string_view body = frame.substr(2, frame.size() - 3);
  const auto esc = body.rfind(kEsc);
  if (esc == std::string_view::npos) return r;  // not a command frame; a pad ignores it
  const std::string_view text = body.substr(0, esc);
  const std::string_view cmd = body.substr(esc + 1);

  // A pad never answers a frame addressed to all pads: twelve answers at
  // once would only collide on the air.
  if (cmd == "13") {  // registration poll, shows the judge number
    show(text);
    if (!broadcast) r.reply = ackFrame(firmware_);
  } else if (cmd == "3") {  // silent poll
    if (!broadcast) r.reply = ackFrame(firmware_);
  } else if (cmd == "4") {  // echo; with a text the pad takes it first
    if (!text.empty()) show(text);
    if (!broadcast) r.reply = ackFrame(display_);
  } else if (cmd == "0") {
    if (text.empty()) {
      locked_ = false;
    } else {
      // A broadcast dive carries SUB where the judge byte goes; each
      // pad shows its own judge character there.
      std::string shown(text);
      for (char& ch : shown)
        if (ch == kSub) ch = static_cast<char>(0x2F + judgeIndex() + 1);
      show(shown);
      ++generation_;
      prompt_ = Prompt::Award;
      if (!locked_) r.prompt = Prompt::Award;
    }
  } else if (cmd == "1") {
    if (text.empty()) {
      locked_ = true;
      ++generation_;
    } else if (text.front() == kAck) {
      show(text.substr(1));
      ++acknowledged_;
      prompt_ = Prompt::None;
    } else {
      show(text);
    }
  } else if (cmd == "02") {  // judge-ID prompt
    show(text);
    ++generation_;
    prompt_ = Prompt::JudgeId;
    if (!locked_) r.prompt = Prompt::JudgeId;
  }
  return r;
}

void SimPad::entryKeyed() { ++generation_; }

void SimPad::switchOff() {
  on_ = false;
  ++generation_;
}

void SimPad::switchOn() {
  if (on_) return;
  // Power-up: blank display, keyboard free, nothing asked.
  on_ = true;
  locked_ = false;
  display_.clear();
  prompt_ = Prompt::None;
  ++generation_;
}

}  // namespace mqsim
