// SimPad: one simulated judge keypad. It holds what the pad shows (two lines
// of 16 characters), whether its keyboard is locked, whether it is switched
// on, its radio channel and firmware text, and decides how the pad reacts to
// a frame it has received. Timing and radio are the model's business.
// Not thread-safe; owned by SimModel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/sim_config.h"

namespace mqsim {

class SimPad {
 public:
  static constexpr std::size_t kDisplaySize = 32;  // two lines of 16

  // What the judge is being asked to key in after the last frame.
  enum class Prompt { None, Award, JudgeId };

  struct Reaction {
    std::optional<std::string> reply;  // whole frame to transmit
    Prompt prompt = Prompt::None;      // a new entry is wanted
  };

  explicit SimPad(const PadConfig& config);

  char id() const { return id_; }
  int judgeIndex() const { return judgeIndexOf(id_); }
  const std::string& firmware() const { return firmware_; }
  int channel() const { return channel_; }
  void setChannel(int channel) { channel_ = channel; }
  bool isOn() const { return on_; }
  bool isLocked() const { return locked_; }
  const std::string& display() const { return display_; }
  std::string displayLine(int line) const;  // 0 or 1, padded to 16
  std::uint64_t acknowledged() const { return acknowledged_; }
  Prompt pendingPrompt() const { return prompt_; }
  // Changes whenever an entry scheduled earlier must no longer be sent
  // (a new prompt, a lock, the pad switched off).
  std::uint64_t generation() const { return generation_; }

  // A frame STX, address, text, ESC, command, EOT heard by this pad (the
  // caller has checked the address is this pad or "F").
  Reaction receive(std::string_view frame);

  // The frame a keyed-in entry goes out as: STX, id, text, EOT.
  std::string entryFrame(std::string_view text) const;
  // The judge keyed an entry; the prompt is answered.
  void entryKeyed();

  void switchOff();
  void switchOn();

 private:
  void show(std::string_view text);
  std::string ackFrame(std::string_view payload) const;

  char id_;
  std::string firmware_;
  int channel_;
  bool on_ = true;
  bool locked_ = false;
  std::string display_;
  std::uint64_t acknowledged_ = 0;
  Prompt prompt_ = Prompt::None;
  std::uint64_t generation_ = 0;
};

}  // namespace mqsim
