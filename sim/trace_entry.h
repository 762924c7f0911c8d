// TraceEntry: one line of marq-sim's traffic record (one frame, one
// direction) and its stable text form. The text form is parsed by tests that
// recompute the utility's echo-test counters, so it must not change lightly;
// docs/marq-sim.md describes it. Plain value type, no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mqsim {

using Millis = std::int64_t;

enum class TraceDir {
  HostToBase,  // bytes the host wrote to the base station, cut into units
  BaseToHost,  // a reply or pad frame the base put on the serial line
  BaseToPad,   // a frame the base transmitted by radio, one line per pad
  PadToBase,   // a frame a pad transmitted by radio
};

enum class TraceFate {
  Ok,            // accepted (host units) or delivered (radio frames)
  Ignored,       // host bytes that are no command, no "ACK" and no frame
  Dropped,       // lost by the simulated radio
  Off,           // the pad is switched off
  OtherChannel,  // pad and base are on different channels
  NoPad,         // no simulated pad has this address
};

struct TraceEntry {
  Millis at = 0;
  TraceDir dir = TraceDir::HostToBase;
  char pad = 0;  // pad id, 0 where no pad is involved
  TraceFate fate = TraceFate::Ok;
  std::string bytes;
};

// "<at> <dir> <pad> <fate> <bytes>" with single spaces; see docs/marq-sim.md.
std::string formatTraceLine(const TraceEntry& entry);

// Printable ASCII stays as it is except "<"; STX, ETX, EOT, ACK, SUB and ESC
// become <STX> and so on, every other byte <0xNN>. The result can be mapped
// back to the exact bytes.
std::string readableBytes(std::string_view bytes);

const char* traceDirName(TraceDir dir);
const char* traceFateName(TraceFate fate);

}  // namespace mqsim
