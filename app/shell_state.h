// ShellState: the window program's own counters and settings that live for
// the whole run. It is the pad link's TShellState itself (one object, so
// the window and the pad link never hold two copies): BandwidthIndex is
// written by the pad link after a bandwidth reply or command, PadsFound is
// set by Refresh and read by the pad link, TestDelay follows the test-delay
// spin edit, DecimalSeparator comes from the user's locale and
// MillisecondsOfMinute from the local time of day. The window's own part:
// developer mode, the active language and the language-item mask from the
// settings, the pad count of the last Refresh and the next test dive.
//
// Threading: loop thread only.
#pragma once

#include <string>

#include "padlink/shell_state.h"

namespace mq {

struct ShellState : padlink::TShellState {
  int Language = 1;                      // active language number 1..10
  std::string Languages = "1110100000";  // enabling mask of the language items
  bool Developer = false;                // shows the developer controls
  int PadCount = 0;                      // entries of PadList at the last Refresh
  int NextDiveIndex = 0;                 // test dive that Next Dive sends next
};

}  // namespace mq
