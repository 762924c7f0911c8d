// PadLinkCommands: the one seam through which the main window's command
// handlers reach the pad link. Each method is the pad-link operation of the
// same name; none waits for the radio. The real pad link implements it
// directly; tests use a recorder.
//
// Byte strings are 8-bit text (Windows-1252), exactly as sent on the line.
// A pad id is one byte, '0'..'9', 'a' or 'c'.
//
// Threading: loop thread only.
#pragma once

#include <string>

namespace mq {

class PadLinkCommands {
 public:
  virtual ~PadLinkCommands() = default;

  virtual void FullScan() = 0;
  virtual void ScanPortForPads() = 0;
  virtual void SilentScanAll() = 0;
  virtual void SilentScan(char padId) = 0;
  virtual void SendDive(const std::string& diveBytes) = 0;
  virtual void KbdLocked(bool lock) = 0;
  virtual void RequestJudgeIDs() = 0;
  virtual void SetChannel(int channel) = 0;
  virtual void BaseStationReset() = 0;
  virtual void SendCustomCmd(const std::string& cmdBytes) = 0;
  virtual void SetBandwidth(int index) = 0;
  virtual void DCS(bool active) = 0;
  virtual void TestEcho(int loops) = 0;
  virtual void EchoOneJudge(char padId) = 0;

  // The two link-state values the window writes.
  virtual void SetBroadcast(bool on) = 0;
  virtual void SetEchoLoops(int loops) = 0;

  // Closes ComPort when it is open (the window's close).
  virtual void CloseComPort() = 0;
};

}  // namespace mq
