// ShellState: the window program's own counters and settings that live for
// the whole run and that the pad link reads or writes: the bandwidth choice
// (written by the pad link after a bandwidth reply or command), whether pads
// were found and how many (set by Refresh, read by the pad link), developer
// mode, the active language and the language-item mask from the settings,
// and the index of the next test dive.
//
// Threading: loop thread only.
#pragma once

#include <string>

namespace mq {

struct ShellState {
  int Language = 1;                    // active language number 1..10
  std::string Languages = "1110100000";  // enabling mask of the language items
  bool Developer = false;              // shows the developer controls
  bool PadsFound = false;              // PadList was non-empty at the last Refresh
  int PadCount = 0;                    // entries of PadList at the last Refresh
  int BandwidthIndex = 4;              // 0..4 into "12.5", "25", "50", "100", "300"
  int NextDiveIndex = 0;               // test dive that Next Dive sends next
};

}  // namespace mq
