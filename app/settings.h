// Settings: the three keys of section "General" in "MqTool.ini" — the
// language made active at start, the mask that enables the language menu
// items, and developer mode. Read once when the main window is created and
// written once when it closes; missing or bad values take the defaults.
//
// Threading: plain value type.
#pragma once

#include <string>

#include "app/ini_file.h"

namespace mq {

struct Settings {
  static constexpr const char* kSection = "General";
  static constexpr const char* kFileName = "MqTool.ini";

  int Language = 1;
  std::string Languages = "1110100000";
  bool Developer = false;

  static Settings Load(const IniFile& file);
  // Writes all three keys; throws FileWriteError when the file cannot be
  // written (for example when the data folder is missing).
  void Save(IniFile& file) const;
};

}  // namespace mq
