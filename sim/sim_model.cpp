#include "sim/sim_model.h"

#include <algorithm>

namespace mqsim {

namespace {
constexpr char kStx = 0x02;
constexpr std::string_view kPrefix = "ER_CMD#";
constexpr char kBroadcast = 'F';

bool isBandwidthCode(char ch) { return (ch >= '0' && ch <= '3') || ch == '6'; }
bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Commands the module knows and that take effect when their "ACK" arrives.
bool isConfirmable(std::string_view cmd) {
  if (cmd.size() == 9 && cmd.substr(0, 7) == kPrefix) {
    const char letter = cmd[7];
    const char arg = cmd[8];
    return (letter == 'T' && arg == '3') || (letter == 'C' && isDigit(arg)) ||
           (letter == 'B' && isBandwidthCode(arg)) || (letter == 'R' && arg == '1');
  }
  return cmd == "ER_CMD#A00" || cmd == "ER_CMD#A01";
}
}  // namespace

SimModel::SimModel(SimConfig config)
    : config_(std::move(config)), channel_(config_.channel), bandwidth_(config_.bandwidth), dcs_(config_.dcs) {
  for (const PadConfig& pc : config_.pads) {
    pads_.emplace_back(pc);
    stats_.emplace_back();
    // Stream numbers depend on the pad id only, so adding or removing a
    // pad does not change the fate of another pad's frames.
    const auto base = static_cast<std::uint64_t>(static_cast<unsigned char>(pc.id)) * 8;
    downLoss_.emplace_back(config_.seed, base + 0);
    upLoss_.emplace_back(config_.seed, base + 1);
    entries_.emplace_back(config_.seed, base + 2);
    garbles_.emplace_back(config_.seed, base + 3);
  }
}

Millis SimModel::lineTime(std::size_t n) {
  const auto bits = static_cast<Millis>(n) * 10 * 1000;
  return (bits + kBaud - 1) / kBaud;
}

std::optional<std::size_t> SimModel::indexOf(char id) const {
  for (std::size_t i = 0; i < pads_.size(); ++i)
    if (pads_[i].id() == id) return i;
  return std::nullopt;
}

const SimPad* SimModel::findPad(char id) const {
  const auto i = indexOf(id);
  return i ? &pads_[*i] : nullptr;
}

const PadStats* SimModel::padStats(char id) const {
  const auto i = indexOf(id);
  return i ? &stats_[*i] : nullptr;
}

void SimModel::schedule(Millis at, std::function<void()> fn) {
  events_.emplace(std::make_pair(std::max(at, now_), nextSeq_++), std::move(fn));
}

std::optional<Millis> SimModel::nextEventTime() const {
  std::optional<Millis> next = parser_.deadline();
  if (!events_.empty()) {
    const Millis at = events_.begin()->first.first;
    if (!next || at < *next) next = at;
  }
  return next;
}

void SimModel::advanceTo(Millis t) {
  for (;;) {
    const auto deadline = parser_.deadline();
    const bool haveEvent = !events_.empty();
    const Millis eventAt = haveEvent ? events_.begin()->first.first : 0;
    if (deadline && *deadline <= t && (!haveEvent || *deadline <= eventAt)) {
      now_ = std::max(now_, *deadline);
      if (auto unit = parser_.expire(now_)) handleUnit(*unit);
      continue;
    }
    if (!haveEvent || eventAt > t) break;
    auto node = events_.extract(events_.begin());
    now_ = std::max(now_, eventAt);
    node.mapped()();
  }
  now_ = std::max(now_, t);
}

void SimModel::feedHost(Millis at, std::string_view bytes) {
  advanceTo(at);
  for (const HostUnit& unit : parser_.feed(now_, bytes)) handleUnit(unit);
}

std::vector<HostOutput> SimModel::takeHostOutput() {
  std::vector<HostOutput> out;
  out.swap(output_);
  return out;
}

std::vector<TraceEntry> SimModel::takeTrace() {
  std::vector<TraceEntry> out;
  out.swap(trace_);
  return out;
}

void SimModel::trace(TraceDir dir, char pad, TraceFate fate, std::string bytes) {
  trace_.push_back(TraceEntry{now_, dir, pad, fate, std::move(bytes)});
}

void SimModel::handleUnit(const HostUnit& unit) {
  switch (unit.kind) {
    case HostUnit::Kind::Command: handleCommand(unit.bytes); return;
    case HostUnit::Kind::Ack: handleAck(unit.bytes); return;
    case HostUnit::Kind::Frame:
      ++baseStats_.frames;
      trace(TraceDir::HostToBase, 0, TraceFate::Ok, unit.bytes);
      transmitToPads(unit.bytes);
      return;
    case HostUnit::Kind::Junk:
      ++baseStats_.ignored;
      trace(TraceDir::HostToBase, 0, TraceFate::Ignored, unit.bytes);
      return;
  }
}

void SimModel::handleCommand(const std::string& cmd) {
  if (cmd == "ER_CMD#C?" || cmd == "ER_CMD#B?") {
    // The two queries are answered at once, without an "ACK".
    ++baseStats_.commands;
    trace(TraceDir::HostToBase, 0, TraceFate::Ok, cmd);
    std::string reply(cmd, 0, 8);
    reply += cmd[7] == 'C' ? static_cast<char>('0' + channel_) : bandwidth_;
    sendToHost(now_ + kBaseTurnaroundMs, std::move(reply));
    return;
  }
  if (!isConfirmable(cmd)) {
    ++baseStats_.ignored;
    trace(TraceDir::HostToBase, 0, TraceFate::Ignored, cmd);
    return;
  }
  ++baseStats_.commands;
  trace(TraceDir::HostToBase, 0, TraceFate::Ok, cmd);
  // A newer command replaces one whose "ACK" never came.
  pending_ = std::make_pair(cmd, now_);
}

void SimModel::handleAck(const std::string& bytes) {
  if (!pending_ || now_ - pending_->second > kAckWindowMs) {
    pending_.reset();
    ++baseStats_.ignored;
    trace(TraceDir::HostToBase, 0, TraceFate::Ignored, bytes);
    return;
  }
  ++baseStats_.acks;
  trace(TraceDir::HostToBase, 0, TraceFate::Ok, bytes);
  const std::string cmd = pending_->first;
  pending_.reset();
  const char letter = cmd.size() > 7 ? cmd[7] : '\0';
  std::string reply = cmd;  // configuration commands are echoed
  switch (letter) {
    case 'T': reply += config_.ident; break;
    case 'C': channel_ = cmd[8] - '0'; break;
    case 'B': bandwidth_ = cmd[8]; break;
    case 'A': dcs_ = cmd[9] == '1'; break;
    case 'R': channel_ = 7; break;
    default: return;
  }
  sendToHost(now_ + kBaseTurnaroundMs, std::move(reply));
}

void SimModel::transmitToPads(const std::string& frame) {
  const char addr = frame.size() > 2 ? frame[1] : 0;
  bool anyone = false;
  for (std::size_t i = 0; i < pads_.size(); ++i) {
    SimPad& pad = pads_[i];
    if (addr != pad.id() && addr != kBroadcast) continue;
    anyone = true;
    PadStats& st = stats_[i];
    ++st.down.sent;
    // The draw is made for every frame addressed to the pad, so a pad
    // switched off for a while does not shift its later fates.
    const bool lost = downLoss_[i].chance(config_.loss);
    TraceFate fate = TraceFate::Ok;
    if (!pad.isOn())
      fate = TraceFate::Off;
    else if (pad.channel() != channel_)
      fate = TraceFate::OtherChannel;
    else if (lost)
      fate = TraceFate::Dropped;
    trace(TraceDir::BaseToPad, pad.id(), fate, frame);
    if (fate == TraceFate::Ok) {
      schedule(now_ + config_.latencyMs, [this, i, frame] { deliverToPad(i, frame); });
    } else if (fate == TraceFate::Dropped) {
      ++st.down.dropped;
    } else {
      ++st.down.missed;
    }
  }
  if (!anyone) trace(TraceDir::BaseToPad, addr, TraceFate::NoPad, frame);
}

void SimModel::deliverToPad(std::size_t index, const std::string& frame) {
  SimPad& pad = pads_[index];
  if (!pad.isOn()) {
    ++stats_[index].down.missed;  // switched off while the frame was in the air
    return;
  }
  ++stats_[index].down.received;
  SimPad::Reaction r = pad.receive(frame);
  if (r.reply)
    schedule(now_ + kPadTurnaroundMs, [this, index, reply = std::move(*r.reply)] { padTransmit(index, reply); });
  if (r.prompt != SimPad::Prompt::None && config_.autoEntries) promptEntry(index, r.prompt);
}

void SimModel::promptEntry(std::size_t index, SimPad::Prompt prompt) {
  SimPad& pad = pads_[index];
  SimRandom& rnd = entries_[index];
  const Millis delay = rnd.between(500, 3000);
  std::string text;
  if (prompt == SimPad::Prompt::Award) {
    const auto halves = rnd.between(0, 20);
    text = std::to_string(halves / 2) + (halves % 2 != 0 ? ".5" : ".0");
  } else {
    text = "J" + std::to_string(pad.judgeIndex());
  }
  const std::uint64_t generation = pad.generation();
  schedule(now_ + delay, [this, index, generation, text] {
    SimPad& p = pads_[index];
    if (p.generation() != generation || !p.isOn() || p.isLocked())
      return;  // overtaken by a newer prompt, a lock or a power-off
    p.entryKeyed();
    padTransmit(index, p.entryFrame(text));
  });
}

void SimModel::padTransmit(std::size_t index, const std::string& frame) {
  SimPad& pad = pads_[index];
  if (!pad.isOn()) return;  // a pad switched off meanwhile sends nothing
  PadStats& st = stats_[index];
  ++st.up.sent;
  const bool lost = upLoss_[index].chance(config_.loss);
  TraceFate fate = TraceFate::Ok;
  if (pad.channel() != channel_)
    fate = TraceFate::OtherChannel;
  else if (lost)
    fate = TraceFate::Dropped;
  trace(TraceDir::PadToBase, pad.id(), fate, frame);
  if (fate == TraceFate::Ok) {
    schedule(now_ + config_.latencyMs, [this, index, frame] {
      ++stats_[index].up.received;
      sendToHost(now_, frame, pads_[index].id());
    });
  } else if (fate == TraceFate::Dropped) {
    ++st.up.dropped;
  } else {
    ++st.up.missed;
  }
}

void SimModel::sendToHost(Millis readyAt, std::string bytes, char pad) {
  // One serial line: replies queue behind each other at 19200 baud.
  const Millis start = std::max(readyAt, lineFreeAt_);
  const Millis done = start + lineTime(bytes.size());
  lineFreeAt_ = done;
  schedule(done, [this, pad, bytes = std::move(bytes)] {
    ++baseStats_.toHost;
    trace(TraceDir::BaseToHost, pad, TraceFate::Ok, bytes);
    output_.push_back(HostOutput{now_, bytes});
  });
}

SimModel::KeyResult SimModel::keyEntry(char id, std::string_view text) {
  const auto i = indexOf(id);
  if (!i) return KeyResult::NoSuchPad;
  SimPad& pad = pads_[*i];
  if (!pad.isOn()) return KeyResult::Off;
  if (pad.isLocked()) return KeyResult::Locked;
  const bool printable = std::all_of(text.begin(), text.end(),
                                     [](char ch) { return static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F; });
  if (text.empty() || text.size() > SimPad::kDisplaySize / 2 || !printable) return KeyResult::BadText;
  pad.entryKeyed();
  padTransmit(*i, pad.entryFrame(text));
  return KeyResult::Sent;
}

bool SimModel::switchPad(char id, bool on) {
  const auto i = indexOf(id);
  if (!i) return false;
  if (on)
    pads_[*i].switchOn();
  else
    pads_[*i].switchOff();
  return true;
}

bool SimModel::setPadChannel(char id, int channel) {
  const auto i = indexOf(id);
  if (!i || channel < 0 || channel > 9) return false;
  pads_[*i].setChannel(channel);
  return true;
}

bool SimModel::garble(char id) {
  const auto i = indexOf(id);
  if (!i || !pads_[*i].isOn()) return false;
  std::string frame;
  frame += kStx;
  frame += id;
  const auto n = garbles_[*i].between(2, 4);
  for (std::int64_t k = 0; k < n; ++k) frame += static_cast<char>(garbles_[*i].between(0x20, 0x7E));
  padTransmit(*i, frame);
  return true;
}

}  // namespace mqsim
