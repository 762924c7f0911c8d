// HostInputParser: cuts the byte stream the host writes to the base station
// into units: an "ER_CMD#" command, the confirming "ACK", a pad frame
// STX ... EOT, or junk (anything else, reported so it can be traced and then
// forgotten). Junk never swallows a following valid unit: a unit that does
// not fit is closed as junk and the byte that broke it is looked at again.
// A unit left incomplete for kStaleMs is closed as junk. Single-threaded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/trace_entry.h"

namespace mqsim {

struct HostUnit {
  enum class Kind { Command, Ack, Frame, Junk };
  Kind kind = Kind::Junk;
  std::string bytes;
};

class HostInputParser {
 public:
  static constexpr Millis kStaleMs = 50;
  static constexpr std::size_t kMaxFrame = 512;

  // Bytes received at time `at`. Returns the units completed by them.
  std::vector<HostUnit> feed(Millis at, std::string_view bytes);
  // Closes a partial unit whose last byte is older than kStaleMs.
  std::optional<HostUnit> expire(Millis now);
  // When the partial unit will expire, if there is one.
  std::optional<Millis> deadline() const;

 private:
  enum class State { Idle, Command, Ack, Frame, Junk };
  void step(char ch, std::vector<HostUnit>& out);
  void close(HostUnit::Kind kind, std::vector<HostUnit>& out);
  void startFrom(char ch);
  bool commandComplete() const;
  bool commandByteFits(char ch) const;

  State state_ = State::Idle;
  std::string buf_;
  Millis lastByteAt_ = 0;
};

}  // namespace mqsim
