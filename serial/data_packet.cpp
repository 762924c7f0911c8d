#include "serial/data_packet.h"

#include "serial/apd_exception.h"
#include "serial/data_packet_manager.h"
#include "util/ascii_text.h"

namespace mq::serial {

TApdDataPacket::TApdDataPacket() = default;

TApdDataPacket::~TApdDataPacket() { SetComPort(nullptr); }

TApdComPort* TApdDataPacket::ComPort() const { return manager_ ? manager_->Port() : nullptr; }

void TApdDataPacket::SetComPort(TApdComPort* port) {
  if (manager_ && manager_->Port() == port) return;
  if (manager_) {
    manager_->Detach(*this);
    manager_.reset();
  }
  if (port) {
    manager_ = TApdDataPacketManager::ForPort(*port);
    manager_->Attach(*this);
  }
}

// ---------------------------------------------------------------- settings

template <class Fn>
void TApdDataPacket::ChangeRestarting(Fn change) {
  // Disable, store, and restore the previous Enabled state.
  if (!manager_) {
    change();
    return;
  }
  mq::AnnotatedMutex::Lock lock(manager_->mu_);
  const bool was = enabled_;
  if (was) DisableLocked();
  change();
  if (was) manager_->EnableFramerLocked(*this);
}

void TApdDataPacket::SetStartCond(TPacketStartCond v) {
  ChangeRestarting([&] { startCond_ = v; });
}
void TApdDataPacket::SetEndCond(TPacketEndSet v) {
  ChangeRestarting([&] { endCond_ = v; });
}
void TApdDataPacket::SetStartString(const std::string& v) {
  ChangeRestarting([&] { startString_ = v; });
}
void TApdDataPacket::SetEndString(const std::string& v) {
  ChangeRestarting([&] { endString_ = v; });
}
void TApdDataPacket::SetIgnoreCase(bool v) {
  ChangeRestarting([&] { ignoreCase_ = v; });
}

#define MQ_LOCKED_PROPERTY(Type, Name, field)     \
  Type TApdDataPacket::Name() const {             \
    if (!manager_) return field;                  \
    mq::AnnotatedMutex::Lock lock(manager_->mu_); \
    return field;                                 \
  }                                               \
  void TApdDataPacket::Set##Name(Type v) {        \
    if (!manager_) {                              \
      field = v;                                  \
      return;                                     \
    }                                             \
    mq::AnnotatedMutex::Lock lock(manager_->mu_); \
    field = v;                                    \
  }

MQ_LOCKED_PROPERTY(std::int32_t, PacketSize, packetSize_)
MQ_LOCKED_PROPERTY(std::int32_t, TimeOut, timeOut_)
MQ_LOCKED_PROPERTY(bool, IncludeStrings, includeStrings_)
MQ_LOCKED_PROPERTY(bool, AutoEnable, autoEnable_)
MQ_LOCKED_PROPERTY(bool, FlushOnTimeout, flushOnTimeout_)
MQ_LOCKED_PROPERTY(bool, SyncEvents, syncEvents_)
#undef MQ_LOCKED_PROPERTY

bool TApdDataPacket::Enabled() const {
  if (!manager_) return enabled_;
  mq::AnnotatedMutex::Lock lock(manager_->mu_);
  return enabled_;
}

void TApdDataPacket::SetEnabled(bool v) {
  if (!manager_) {
    if (v && !enabled_) ResetMatch();
    enabled_ = v;
    if (!v) {
      enablePending_ = willCollect_ = false;
      mode_ = TPacketMode::dpIdle;
    }
    return;
  }
  mq::AnnotatedMutex::Lock lock(manager_->mu_);
  if (v == enabled_) return;
  if (v)
    manager_->EnableFramerLocked(*this);
  else
    DisableLocked();
}

TPacketMode TApdDataPacket::Mode() const {
  if (!manager_) return mode_;
  mq::AnnotatedMutex::Lock lock(manager_->mu_);
  return mode_;
}

bool TApdDataPacket::HoldsCapture() const {
  if (!manager_) return false;
  mq::AnnotatedMutex::Lock lock(manager_->mu_);
  return manager_->capture_ == this;
}

// ---------------------------------------------------------------- matching

TApdDataPacket::Pattern TApdDataPacket::Prepare(const std::string& s, bool ignoreCase) {
  Pattern p;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\') {
      if (++i >= s.size()) break;  // a trailing backslash escapes nothing
      c = static_cast<unsigned char>(s[i]);
      p.bytes.push_back(ignoreCase ? AsciiText::ToUpper(static_cast<char>(c)) : static_cast<char>(c));
      p.wild.push_back(false);
    } else if (c == '?') {
      p.bytes.push_back('?');
      p.wild.push_back(true);
    } else {
      p.bytes.push_back(ignoreCase ? AsciiText::ToUpper(static_cast<char>(c)) : static_cast<char>(c));
      p.wild.push_back(false);
    }
  }
  return p;
}

bool TApdDataPacket::ByteMatches(const Pattern& pattern, std::size_t index, unsigned char b) const {
  if (index >= pattern.size()) return false;
  if (pattern.wild[index]) return true;
  if (ignoreCase_) b = static_cast<unsigned char>(AsciiText::ToUpper(static_cast<char>(b)));
  return static_cast<unsigned char>(pattern.bytes[index]) == b;
}

std::pair<std::ptrdiff_t, std::size_t> TApdDataPacket::RefindPartial(const Pattern& pattern, std::ptrdiff_t begin,
                                                                     std::ptrdiff_t p) const {
  const std::string& buf = manager_->buf_;
  for (std::ptrdiff_t nb = begin + 1; nb <= p; ++nb) {
    const auto len = static_cast<std::size_t>(p - nb + 1);
    if (len >= pattern.size()) continue;
    bool all = true;
    for (std::size_t k = 0; k < len && all; ++k)
      all = ByteMatches(pattern, k, static_cast<unsigned char>(buf[static_cast<std::size_t>(nb) + k]));
    if (all) return {nb, len};
  }
  return {-1, 0};
}

void TApdDataPacket::CheckSettings() const {
  const bool bySize = endCond_.Contains(TPacketEndCond::ecPacketSize);
  const bool byString = endCond_.Contains(TPacketEndCond::ecString);
  if (startCond_ == TPacketStartCond::scAnyData) {
    if (endCond_.Empty()) throw EInvalidProperty(ecNoEndCharCount);
  } else {
    const std::size_t startLength = Prepare(startString_, ignoreCase_).size();
    if (startLength == 0) throw EInvalidProperty(ecStartStringEmpty);
    if (bySize && packetSize_ < static_cast<std::int64_t>(startLength)) throw EInvalidProperty(ecPacketTooSmall);
  }
  if (byString && Prepare(endString_, ignoreCase_).size() == 0) throw EInvalidProperty(ecEmptyEndString);
  // A negative size would never make sense either; refuse it like zero.
  if (bySize && packetSize_ <= 0) throw EInvalidProperty(ecZeroSizePacket);
}

void TApdDataPacket::ResetMatch() {
  localPacketSize_ = packetSize_;
  startMatch_ = 1;
  beginPos_ = -1;
  endMatch_ = 0;
  endBegin_ = -1;
}

void TApdDataPacket::StartLocked() {
  CheckSettings();  // refuses the enabling as a whole
  enablePending_ = false;
  willCollect_ = false;
  ResetMatch();
  if (startCond_ == TPacketStartCond::scString) start_ = Prepare(startString_, ignoreCase_);
  if (endCond_.Contains(TPacketEndCond::ecString)) end_ = Prepare(endString_, ignoreCase_);
  if (startCond_ == TPacketStartCond::scAnyData) {
    if (manager_->capture_ && manager_->capture_ != this) {
      mode_ = TPacketMode::dpIdle;
      willCollect_ = true;
    } else {
      manager_->TakeCapture(*this);
    }
  } else {
    mode_ = TPacketMode::dpWaitStart;
  }
}

void TApdDataPacket::StopMatching() {
  if (manager_ && manager_->capture_ == this) manager_->ReleaseCapture();
  mode_ = TPacketMode::dpIdle;
  willCollect_ = false;
  startMatch_ = 1;
  beginPos_ = -1;
  endMatch_ = 0;
  endBegin_ = -1;
}

void TApdDataPacket::DisableLocked() {
  enabled_ = false;
  enablePending_ = false;
  StopMatching();
}

TApdDataPacket::MatchResult TApdDataPacket::Match(unsigned char b, std::ptrdiff_t p) {
  if (!enabled_ || enablePending_) return {};
  if (mode_ == TPacketMode::dpIdle) {
    if (!willCollect_) return {};
    manager_->TakeCapture(*this);
  }
  if (mode_ == TPacketMode::dpWaitStart) {
    if (ByteMatches(start_, startMatch_ - 1, b)) {
      if (beginPos_ < 0) beginPos_ = p;
      if (startMatch_ == start_.size()) {
        const bool bySize = endCond_.Contains(TPacketEndCond::ecPacketSize);
        if (endCond_.Empty() || (bySize && static_cast<std::size_t>(localPacketSize_) == start_.size()))
          return {true, beginPos_, start_.size(), false};
        manager_->TakeCapture(*this);
        return {};
      }
      ++startMatch_;
    } else if (startMatch_ > 1) {
      const auto [nb, len] = RefindPartial(start_, beginPos_, p);
      beginPos_ = nb;
      startMatch_ = len + 1;
    }
    return {};
  }
  // dpCollecting
  if (beginPos_ < 0) beginPos_ = p;
  if (endCond_.Contains(TPacketEndCond::ecPacketSize) &&
      p - beginPos_ + 1 >= static_cast<std::ptrdiff_t>(localPacketSize_))
    return {true, beginPos_, static_cast<std::size_t>(localPacketSize_), false};
  if (endCond_.Contains(TPacketEndCond::ecString)) {
    if (ByteMatches(end_, endMatch_, b)) {
      if (endMatch_ == 0) endBegin_ = p;
      if (++endMatch_ == end_.size()) return {true, beginPos_, static_cast<std::size_t>(p - beginPos_ + 1), true};
    } else if (endMatch_ > 0) {
      const auto [nb, len] = RefindPartial(end_, endBegin_, p);
      endBegin_ = nb;
      endMatch_ = len;
    }
  }
  return {};
}

}  // namespace mq::serial
