// TApdDataPacket: a packet framer. It watches the bytes received on its port
// and cuts one packet out of them by a start condition (a start string, or
// any data) and an end condition (an end string and/or a packet size), then
// hands the packet over in one event on the loop thread. All framers of a
// port share the port's TApdDataPacketManager, which collects the bytes and
// offers each one once; a framer that is collecting holds the capture and
// alone sees the bytes until its packet is complete or its time-out expires.
//
// Enabled semantics: writing true to an enabled framer changes nothing (the
// running collection, its packet size and time-out go on); it becomes false
// by itself when a packet has been delivered (true again at once with
// AutoEnable) or when the time-out expires (whatever AutoEnable says). It
// stays true across a close and re-open of the port. Enabling while the port
// is open checks the settings (EInvalidProperty 5501 to 5505; the framer then
// stays disabled).
//
// Threading: properties are set on the loop thread; matching runs on the
// port's dispatcher thread. Both take the manager's lock, which is released
// while an event runs on the loop thread. Assign the events before enabling
// the framer (the dispatcher thread reads them). A framer must not be
// destroyed from inside its own event; destroyed while its event waits for
// the loop thread, it is simply not called.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "util/thread_annotations.h"

namespace mq::serial {

class TApdComPort;
class TApdDataPacketManager;

enum class TPacketStartCond { scString, scAnyData };
enum class TPacketEndCond { ecString, ecPacketSize };
enum class TPacketMode { dpIdle, dpWaitStart, dpCollecting };

// A set of end conditions.
class TPacketEndSet {
 public:
  TPacketEndSet() = default;
  TPacketEndSet(std::initializer_list<TPacketEndCond> conds) {
    for (auto c : conds) bits_ |= Bit(c);
  }
  bool Contains(TPacketEndCond c) const { return (bits_ & Bit(c)) != 0; }
  bool Empty() const { return bits_ == 0; }
  bool operator==(const TPacketEndSet&) const = default;

 private:
  static unsigned Bit(TPacketEndCond c) { return 1u << static_cast<unsigned>(c); }
  unsigned bits_ = 0;
};

class TApdDataPacket {
 public:
  using StringPacketEvent = std::function<void(TApdDataPacket& sender, const std::string& data)>;
  using PacketEvent = std::function<void(TApdDataPacket& sender, const char* data, std::size_t size)>;
  using TimeoutEvent = std::function<void(TApdDataPacket& sender)>;

  TApdDataPacket();
  ~TApdDataPacket();
  TApdDataPacket(const TApdDataPacket&) = delete;
  TApdDataPacket& operator=(const TApdDataPacket&) = delete;

  // The port whose bytes this framer watches (nullptr: none).
  TApdComPort* ComPort() const;
  void SetComPort(TApdComPort* port);

  TPacketStartCond StartCond() const { return startCond_; }
  void SetStartCond(TPacketStartCond v);
  TPacketEndSet EndCond() const { return endCond_; }
  void SetEndCond(TPacketEndSet v);
  // Byte strings: "?" matches any byte, a backslash makes the next byte literal.
  const std::string& StartString() const { return startString_; }
  void SetStartString(const std::string& v);
  const std::string& EndString() const { return endString_; }
  void SetEndString(const std::string& v);
  // Read at the next enabling.
  std::int32_t PacketSize() const;
  void SetPacketSize(std::int32_t v);
  // Ticks of 55 ms from taking the capture; 0: no time-out.
  std::int32_t TimeOut() const;
  void SetTimeOut(std::int32_t v);
  bool IncludeStrings() const;
  void SetIncludeStrings(bool v);
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool v);
  bool Enabled() const;
  void SetEnabled(bool v);
  // Read at the next delivered packet.
  bool AutoEnable() const;
  void SetAutoEnable(bool v);
  bool FlushOnTimeout() const;
  void SetFlushOnTimeout(bool v);
  // Events run on the loop thread (run-and-wait) when the port has a
  // dispatcher thread, else directly; always true in this program.
  bool SyncEvents() const;
  void SetSyncEvents(bool v);
  std::int32_t EnableTimeout() const { return enableTimeout_; }
  void SetEnableTimeout(std::int32_t v) { enableTimeout_ = v; }

  StringPacketEvent OnStringPacket;
  PacketEvent OnPacket;
  TimeoutEvent OnTimeout;

  // Inspection for tests and diagnostics.
  TPacketMode Mode() const;
  bool HoldsCapture() const;

 private:
  friend class TApdDataPacketManager;

  // A start or end string prepared for matching.
  struct Pattern {
    std::string bytes;
    std::vector<bool> wild;
    std::size_t size() const { return bytes.size(); }
  };
  // What matching one byte asks the manager to do.
  struct MatchResult {
    bool complete = false;
    std::ptrdiff_t begin = 0;
    std::size_t length = 0;
    bool byEndString = false;
  };

  static Pattern Prepare(const std::string& s, bool ignoreCase);
  bool ByteMatches(const Pattern& pattern, std::size_t index, unsigned char b) const;
  // Disables, applies change and enables again under the manager's lock.
  template <class Fn>
  void ChangeRestarting(Fn change);

  // All of the following run with the manager's lock held. Those that
  // reach into the manager are exempt from the compile-time lock check:
  // the manager calls them on a framer of its list, and the analysis
  // cannot tell that the framer's manager is the one holding the lock.
  // The first beginning after `begin` from which the bytes up to p match the
  // pattern's front; {-1, 0} when none does.
  std::pair<std::ptrdiff_t, std::size_t> RefindPartial(const Pattern& pattern, std::ptrdiff_t begin,
                                                       std::ptrdiff_t p) const MQ_NO_THREAD_SAFETY_ANALYSIS;
  void CheckSettings() const;
  void ResetMatch();
  // With the port open: checks the settings (throws EInvalidProperty) and
  // starts matching: waits for the start string, or with any-data start
  // takes the capture (or waits for the one holding it to let go).
  void StartLocked() MQ_NO_THREAD_SAFETY_ANALYSIS;
  void DisableLocked();                              // Enabled off, nothing pending, matching stopped
  void StopMatching() MQ_NO_THREAD_SAFETY_ANALYSIS;  // dpIdle, capture released; Enabled unchanged
  MatchResult Match(unsigned char b, std::ptrdiff_t p) MQ_NO_THREAD_SAFETY_ANALYSIS;
  bool PacketBegun() const { return beginPos_ >= 0; }

  std::shared_ptr<TApdDataPacketManager> manager_;

  // Settings.
  TPacketStartCond startCond_ = TPacketStartCond::scString;
  TPacketEndSet endCond_;
  std::string startString_;
  std::string endString_;
  std::int32_t packetSize_ = 0;
  std::int32_t timeOut_ = 2184;
  bool includeStrings_ = true;
  bool ignoreCase_ = true;
  bool enabled_ = false;
  bool autoEnable_ = true;
  bool flushOnTimeout_ = true;
  bool syncEvents_ = true;
  std::int32_t enableTimeout_ = 0;

  // Match state.
  TPacketMode mode_ = TPacketMode::dpIdle;
  std::ptrdiff_t beginPos_ = -1;
  std::size_t startMatch_ = 1;  // 1-based next start byte to match
  std::size_t endMatch_ = 0;    // end bytes matched so far
  std::ptrdiff_t endBegin_ = -1;
  std::int32_t localPacketSize_ = 0;
  Pattern start_;
  Pattern end_;
  bool willCollect_ = false;
  bool enablePending_ = false;
};

}  // namespace mq::serial
