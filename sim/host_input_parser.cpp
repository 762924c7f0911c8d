#include "sim/host_input_parser.h"

namespace mqsim {

namespace {
constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr std::string_view kPrefix = "ER_CMD#";
constexpr std::string_view kAck = "ACK";

bool isCommandLetter(char ch) { return ch >= 'A' && ch <= 'Z'; }
bool isArgument(char ch) { return ch > 0x20 && ch < 0x7F; }
}  // namespace

std::vector<HostUnit> HostInputParser::feed(Millis at, std::string_view bytes) {
  std::vector<HostUnit> out;
  if (auto stale = expire(at)) out.push_back(std::move(*stale));
  for (const char ch : bytes) step(ch, out);
  lastByteAt_ = at;
  // Junk is reported as soon as the bytes at hand are used up, so one
  // burst of noise is one trace line and does not wait for a timeout.
  if (state_ == State::Junk) close(HostUnit::Kind::Junk, out);
  return out;
}

std::optional<HostUnit> HostInputParser::expire(Millis now) {
  if (state_ == State::Idle || now - lastByteAt_ < kStaleMs) return std::nullopt;
  HostUnit unit{HostUnit::Kind::Junk, std::move(buf_)};
  buf_.clear();
  state_ = State::Idle;
  return unit;
}

std::optional<Millis> HostInputParser::deadline() const {
  if (state_ == State::Idle) return std::nullopt;
  return lastByteAt_ + kStaleMs;
}

void HostInputParser::close(HostUnit::Kind kind, std::vector<HostUnit>& out) {
  if (!buf_.empty()) out.push_back(HostUnit{kind, std::move(buf_)});
  buf_.clear();
  state_ = State::Idle;
}

// A command is "ER_CMD#", one capital letter and its argument: two bytes
// for "A" (separation), one byte for every other letter.
bool HostInputParser::commandComplete() const {
  if (buf_.size() < kPrefix.size() + 2) return false;
  const char letter = buf_[kPrefix.size()];
  const std::size_t args = letter == 'A' ? 2 : 1;
  return buf_.size() == kPrefix.size() + 1 + args;
}

bool HostInputParser::commandByteFits(char ch) const {
  const std::size_t pos = buf_.size();
  if (pos < kPrefix.size()) return ch == kPrefix[pos];
  if (pos == kPrefix.size()) return isCommandLetter(ch);
  return isArgument(ch);
}

void HostInputParser::startFrom(char ch) {
  if (ch == kStx) {
    state_ = State::Frame;
    buf_.assign(1, ch);
  } else if (ch == kPrefix[0]) {
    state_ = State::Command;
    buf_.assign(1, ch);
  } else if (ch == kAck[0]) {
    state_ = State::Ack;
    buf_.assign(1, ch);
  } else {
    if (state_ != State::Junk) {
      state_ = State::Junk;
      buf_.clear();
    }
    buf_ += ch;
  }
}

void HostInputParser::step(char ch, std::vector<HostUnit>& out) {
  switch (state_) {
    case State::Idle: startFrom(ch); return;
    case State::Junk:
      if (ch == kStx || ch == kPrefix[0] || ch == kAck[0]) {
        close(HostUnit::Kind::Junk, out);
        startFrom(ch);
      } else {
        buf_ += ch;
      }
      return;
    case State::Ack:
      if (ch == kAck[buf_.size()]) {
        buf_ += ch;
        if (buf_.size() == kAck.size()) close(HostUnit::Kind::Ack, out);
      } else {
        close(HostUnit::Kind::Junk, out);
        startFrom(ch);
      }
      return;
    case State::Command:
      if (commandByteFits(ch)) {
        buf_ += ch;
        if (commandComplete()) close(HostUnit::Kind::Command, out);
      } else {
        close(HostUnit::Kind::Junk, out);
        startFrom(ch);
      }
      return;
    case State::Frame:
      if (ch == kStx) {
        // STX inside a frame: what came before can never be completed.
        close(HostUnit::Kind::Junk, out);
        startFrom(ch);
        return;
      }
      buf_ += ch;
      if (ch == kEot) {
        close(HostUnit::Kind::Frame, out);
      } else if (buf_.size() >= kMaxFrame) {
        close(HostUnit::Kind::Junk, out);
      } else if (buf_.size() > kPrefix.size() &&
                 std::string_view(buf_).substr(buf_.size() - kPrefix.size()) == kPrefix) {
        // A base command inside an unfinished frame: the frame lost its
        // EOT; keep the command rather than the broken frame.
        buf_.resize(buf_.size() - kPrefix.size());
        close(HostUnit::Kind::Junk, out);
        state_ = State::Command;
        buf_.assign(kPrefix);
      }
      return;
  }
}

}  // namespace mqsim
