#include "sim/control_interpreter.h"

#include <cstdio>
#include <cstdlib>

namespace mqsim {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Splits off the first word; `rest` keeps the remainder, trimmed.
std::string_view nextWord(std::string_view& rest) {
  rest = trim(rest);
  const auto sp = rest.find_first_of(" \t");
  const std::string_view word = rest.substr(0, sp);
  rest = sp == std::string_view::npos ? std::string_view() : trim(rest.substr(sp));
  return word;
}

const char* kHelp[] = {
    "help award <pad> <text>    the judge on <pad> keys an award (e.g. award 3 8.5)",
    "help judgeid <pad> <text>  the judge on <pad> keys a judge ID",
    "help off <pad> | on <pad>  switch a pad off or on",
    "help channel <pad|all> <n> put pads on radio channel n (0-9)",
    "help loss <p>              radio loss probability per frame and direction",
    "help garble <pad>          the pad sends STX and a few bytes without EOT",
    "help status | stats | quit",
};

}  // namespace

std::vector<std::string> ControlInterpreter::execute(std::string_view line) {
  std::string_view rest = line;
  const std::string cmd(nextWord(rest));
  if (cmd.empty()) return {};

  auto padArg = [&](std::string& error) -> char {
    const std::string_view word = nextWord(rest);
    if (word.size() != 1 || model_.findPad(word[0]) == nullptr) {
      error = "error: " + cmd + ": '" + std::string(word) + "' is not a simulated pad";
      return 0;
    }
    return word[0];
  };

  if (cmd == "award" || cmd == "judgeid") {
    std::string error;
    const char id = padArg(error);
    if (id == 0) return {error};
    switch (model_.keyEntry(id, rest)) {
      case SimModel::KeyResult::Sent: return {cmd + " " + id + " sent " + std::string(rest)};
      case SimModel::KeyResult::Off: return {"error: " + cmd + ": pad " + id + " is switched off"};
      case SimModel::KeyResult::Locked: return {"error: " + cmd + ": the keyboard of pad " + id + " is locked"};
      case SimModel::KeyResult::BadText: return {"error: " + cmd + ": the entry must be 1 to 16 printable characters"};
      case SimModel::KeyResult::NoSuchPad: break;
    }
    return {"error: " + cmd + ": no pad " + id};
  }
  if (cmd == "off" || cmd == "on") {
    std::string error;
    const char id = padArg(error);
    if (id == 0) return {error};
    model_.switchPad(id, cmd == "on");
    return {cmd + " " + id};
  }
  if (cmd == "channel") {
    const std::string who(nextWord(rest));
    char* end = nullptr;
    const std::string num(rest);
    const long ch = std::strtol(num.c_str(), &end, 10);
    if (num.empty() || *end != 0 || ch < 0 || ch > 9)
      return {"error: channel: '" + num + "' is not a channel from 0 to 9"};
    if (who == "all") {
      for (const SimPad& p : model_.pads()) model_.setPadChannel(p.id(), static_cast<int>(ch));
    } else if (who.size() != 1 || !model_.setPadChannel(who[0], static_cast<int>(ch))) {
      return {"error: channel: '" + who + "' is not a simulated pad"};
    }
    return {"channel " + who + " " + std::to_string(ch)};
  }
  if (cmd == "loss") {
    const std::string num(rest);
    char* end = nullptr;
    const double p = std::strtod(num.c_str(), &end);
    if (num.empty() || *end != 0 || !(p >= 0.0 && p <= 1.0))
      return {"error: loss: '" + num + "' is not a probability from 0 to 1"};
    model_.setLoss(p);
    return {"loss " + num};
  }
  if (cmd == "garble") {
    std::string error;
    const char id = padArg(error);
    if (id == 0) return {error};
    if (!model_.garble(id)) return {"error: garble: pad " + std::string(1, id) + " is switched off"};
    return {"garble " + std::string(1, id) + " sent"};
  }
  if (cmd == "status") return status();
  if (cmd == "stats") return stats();
  if (cmd == "help") return std::vector<std::string>(std::begin(kHelp), std::end(kHelp));
  if (cmd == "quit") {
    quit_ = true;
    return {"quit"};
  }
  return {"error: unknown command '" + cmd + "' (try help)"};
}

std::vector<std::string> ControlInterpreter::status() const {
  std::vector<std::string> out;
  char loss[32];
  std::snprintf(loss, sizeof loss, "%g", model_.loss());
  out.push_back("status base channel " + std::to_string(model_.channel()) + " bandwidth " +
                std::string(1, model_.bandwidth()) + " dcs " + (model_.dcs() ? "on" : "off") + " loss " + loss +
                " entries " + (model_.autoEntries() ? "auto" : "manual") + " ident " + readableBytes(model_.ident()));
  for (const SimPad& p : model_.pads()) {
    out.push_back("status pad " + std::string(1, p.id()) + " " + (p.isOn() ? "on" : "off") + " channel " +
                  std::to_string(p.channel()) + " " + (p.isLocked() ? "locked" : "unlocked") + " acked " +
                  std::to_string(p.acknowledged()) + " firmware '" + readableBytes(p.firmware()) + "' display '" +
                  readableBytes(p.displayLine(0)) + "|" + readableBytes(p.displayLine(1)) + "'");
  }
  out.push_back("status end");
  return out;
}

std::vector<std::string> ControlInterpreter::stats() const {
  std::vector<std::string> out;
  const BaseStats& b = model_.baseStats();
  out.push_back("stats base commands " + std::to_string(b.commands) + " acks " + std::to_string(b.acks) + " frames " +
                std::to_string(b.frames) + " ignored " + std::to_string(b.ignored) + " to-host " +
                std::to_string(b.toHost));
  auto counts = [](const RadioCounts& c) {
    return "sent " + std::to_string(c.sent) + " received " + std::to_string(c.received) + " dropped " +
           std::to_string(c.dropped) + " missed " + std::to_string(c.missed);
  };
  for (const SimPad& p : model_.pads()) {
    const PadStats* s = model_.padStats(p.id());
    out.push_back("stats pad " + std::string(1, p.id()) + " down " + counts(s->down) + " up " + counts(s->up));
  }
  out.push_back("stats end");
  return out;
}

}  // namespace mqsim
