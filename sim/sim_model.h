// SimModel: the simulated installation — one ER400TRS base station on a
// serial line and the judge pads it reaches by radio — driven by an explicit
// millisecond clock, with no file descriptors and no wall-clock time, so a
// test can feed host bytes at chosen times and read back exactly what the
// base sends and when. All randomness (radio loss, automatic entries) comes
// from per-pad streams of the seed, so the n-th frame to or from a pad has
// the same fate in every run with the same seed, whatever else happens.
// Single-threaded: the caller serialises every call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/host_input_parser.h"
#include "sim/sim_config.h"
#include "sim/sim_pad.h"
#include "sim/sim_random.h"
#include "sim/trace_entry.h"

namespace mqsim {

struct HostOutput {
  Millis at = 0;  // when the last byte is on the serial line
  std::string bytes;
};

struct RadioCounts {
  std::uint64_t sent = 0;      // frames put on the air
  std::uint64_t received = 0;  // frames that arrived
  std::uint64_t dropped = 0;   // lost by the radio
  std::uint64_t missed = 0;    // not heard: pad off or on another channel
};

struct PadStats {
  RadioCounts down;  // base -> pad
  RadioCounts up;    // pad -> base
};

struct BaseStats {
  std::uint64_t commands = 0;  // "ER_CMD#" commands received
  std::uint64_t acks = 0;      // "ACK"s that confirmed a command
  std::uint64_t frames = 0;    // pad frames received from the host
  std::uint64_t ignored = 0;   // host units ignored
  std::uint64_t toHost = 0;    // replies and pad frames sent to the host
};

class SimModel {
 public:
  static constexpr Millis kBaseTurnaroundMs = 5;  // command to first reply byte
  static constexpr Millis kPadTurnaroundMs = 5;   // frame heard to reply sent
  static constexpr Millis kAckWindowMs = 1000;    // a command waits this long for "ACK"
  static constexpr int kBaud = 19200;             // 8N1: 10 bits a byte

  explicit SimModel(SimConfig config);

  Millis now() const { return now_; }
  // Runs everything due at or before `t`; the clock never goes back.
  void advanceTo(Millis t);
  // Bytes the host wrote, arriving at `at` (the clock advances first).
  void feedHost(Millis at, std::string_view bytes);
  // The time of the next thing that will happen without new input.
  std::optional<Millis> nextEventTime() const;
  // Bytes the base has finished sending to the host so far (drained).
  std::vector<HostOutput> takeHostOutput();
  // Trace entries recorded so far (drained), in time order.
  std::vector<TraceEntry> takeTrace();

  enum class KeyResult { Sent, NoSuchPad, Off, Locked, BadText };
  // The judge on pad `id` keys `text` (an award or a judge ID) now.
  KeyResult keyEntry(char id, std::string_view text);
  // Switches a pad off or on; false when there is no such pad.
  bool switchPad(char id, bool on);
  bool setPadChannel(char id, int channel);
  // The pad sends STX, its id and a few bytes, but no EOT.
  bool garble(char id);
  void setLoss(double p) { config_.loss = p; }

  double loss() const { return config_.loss; }
  int channel() const { return channel_; }
  char bandwidth() const { return bandwidth_; }
  bool dcs() const { return dcs_; }
  const std::string& ident() const { return config_.ident; }
  bool autoEntries() const { return config_.autoEntries; }
  const std::vector<SimPad>& pads() const { return pads_; }
  const SimPad* findPad(char id) const;
  const PadStats* padStats(char id) const;
  const BaseStats& baseStats() const { return baseStats_; }

  // Milliseconds the serial line needs for n bytes at 19200 baud, 8N1.
  static Millis lineTime(std::size_t n);

 private:
  void schedule(Millis at, std::function<void()> fn);
  void handleUnit(const HostUnit& unit);
  void handleCommand(const std::string& cmd);
  void handleAck(const std::string& bytes);
  void transmitToPads(const std::string& frame);
  void deliverToPad(std::size_t index, const std::string& frame);
  void padTransmit(std::size_t index, const std::string& frame);
  void sendToHost(Millis readyAt, std::string bytes, char pad = 0);
  void promptEntry(std::size_t index, SimPad::Prompt prompt);
  void trace(TraceDir dir, char pad, TraceFate fate, std::string bytes);
  std::optional<std::size_t> indexOf(char id) const;

  SimConfig config_;
  Millis now_ = 0;
  int channel_;
  char bandwidth_;
  bool dcs_;
  std::vector<SimPad> pads_;
  std::vector<PadStats> stats_;
  std::vector<SimRandom> downLoss_, upLoss_, entries_, garbles_;
  BaseStats baseStats_;
  HostInputParser parser_;
  std::optional<std::pair<std::string, Millis>> pending_;  // command awaiting "ACK"
  Millis lineFreeAt_ = 0;
  std::map<std::pair<Millis, std::uint64_t>, std::function<void()>> events_;
  std::uint64_t nextSeq_ = 0;
  std::vector<HostOutput> output_;
  std::vector<TraceEntry> trace_;
};

}  // namespace mqsim
