// Plain types shared by the serial layer: line settings, port state,
// callback kinds, notification kinds and the tick constants.
//
// Threading: value types only.
#pragma once

#include <cstdint>

namespace mq::serial {

enum class TParity { pNone, pOdd, pEven, pMark, pSpace };

// Hardware flow options as a bit set.
enum THWFlowOption : unsigned {
  hwfUseDTR = 1u << 0,
  hwfUseRTS = 1u << 1,
  hwfRequireDSR = 1u << 2,
  hwfRequireCTS = 1u << 3,
};
using THWFlowOptionSet = unsigned;

enum class TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };

enum class TPortState { psClosed, psOpen, psShuttingDown };

enum class TApdCallbackType { ctOpen, ctClosing, ctClosed };

// Kinds of notification a dispatcher sends to its handlers.
enum class TTriggerKind { Avail, Timer, Status };

// Kinds of status trigger.
enum class TStatusKind {
  stLine,         // a line event (error, hang-up) was seen by the status watcher
  stOutBuffFree,  // at least `value` bytes free in the output ring
  stOutBuffUsed,  // at most `value` bytes used in the output ring
  stOutSent,      // PutString has written into the output ring
};

// Everything the driver needs to set up the line when a port opens.
struct LineSettings {
  std::uint32_t baud = 19200;
  TParity parity = TParity::pNone;
  std::uint16_t dataBits = 8;
  std::uint16_t stopBits = 1;
  THWFlowOptionSet hwFlow = 0;
  TSWFlowOptions swFlow = TSWFlowOptions::swfNone;
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  bool dtr = true;
  bool rts = true;
};

// One tick is 55 ms of the 32-bit millisecond counter.
inline constexpr std::uint32_t kMsPerTick = 55;
// Longest timer, in ticks: half the counter's range.
inline constexpr std::uint32_t kMaxTimerTicks = 39045157;

}  // namespace mq::serial
