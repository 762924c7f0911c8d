// TShellState: the part of the application shell's state that the pad link
// shares. The shell owns it and keeps it current; the pad link writes
// BandwidthIndex and reads the rest.
//
// Threading: loop thread only.
#pragma once

#include <functional>

namespace mq::padlink {

struct TShellState {
  // Selected bandwidth, index 0..4 into "12.5", "25", "50", "100", "300".
  int BandwidthIndex = 4;
  // PadList was non-empty at the last Refresh (the window's Refresh sets it).
  bool PadsFound = false;
  // Value of TestDelaySpinEdit in milliseconds, read when an echo test starts.
  int TestDelay = 180;
  // The user's decimal separator as one byte of the 8-bit code page.
  char DecimalSeparator = '.';
  // Milliseconds within the current minute of the local time (0..59999).
  // Empty: the system clock.
  std::function<int()> MillisecondsOfMinute;
};

}  // namespace mq::padlink
