// LinkStateView: the pad link's state as the main window reads it. The real
// pad link (TMarqsForm and its module state) implements it; tests use a
// recorder with settable values. The window never writes through it: the
// two values it does write (Broadcast, EchoLoops) go through
// PadLinkCommands.
//
// Texts are UTF-8 (bytes received from the radio already converted from
// Windows-1252); lists are in the pad link's order (PadList and
// FirmwareList are sorted there).
//
// Threading: loop thread only.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace mq {

namespace padlink {
class TEchoRecord;
struct TEchoStat;
}  // namespace padlink

class LinkStateView {
 public:
  virtual ~LinkStateView() = default;

  virtual int BasePort() const = 0;                           // 0: no base station
  virtual std::vector<std::string> PadList() const = 0;       // one-character pad ids
  virtual std::vector<std::string> FirmwareList() const = 0;  // "0" = a pad without one
  virtual std::string BaseIdent() const = 0;
  virtual std::string PortText() const = 0;
  virtual std::string ChannelText() const = 0;
  virtual bool DCSAvailable() const = 0;
  virtual bool Broadcast() const = 0;
  virtual int CurJudge() const = 0;  // judge of the last entry
  // The last echo test, for its report: every step, and the four counters
  // of every judge (null where there is no pad link).
  virtual const padlink::TEchoRecord* EchoRecord() const { return nullptr; }
  virtual const std::array<padlink::TEchoStat, 12>* EchoStats() const { return nullptr; }
};

}  // namespace mq
