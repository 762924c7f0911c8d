// Settings: the three keys of section "General" in "MqTool.ini" — the
// language made active at start, the mask that enables the language menu
// items, and developer mode. Read once when the main window is created and
// written once when it closes; missing or bad values take the defaults.
//
// Threading: plain value type.
#pragma once

#include <string>

#include "shell/ini_file.h"

namespace mq {

struct Settings {
  static constexpr const char* kSection = "General";
  static constexpr const char* kFileName = "MqTool.ini";

  int Language = 1;
  std::string Languages = "1110100000";
  bool Developer = false;

  // Reads the file once; outcome (when given) says what the read found, so
  // that a file that exists but could not be read is reported and its
  // settings are known not to be in use.
  static Settings Load(IniFile& file, FileReadResult* outcome = nullptr);
  // Writes all three keys in one replacement of the file; throws
  // FileWriteError when the file cannot be written (for example when the
  // data folder is missing), and the file is then unchanged.
  void Save(IniFile& file) const;
};

}  // namespace mq
