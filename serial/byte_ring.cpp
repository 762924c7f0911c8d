#include "serial/byte_ring.h"

#include <algorithm>
#include <cstring>

namespace mq::serial {

ByteRing::ByteRing(std::size_t capacity) : data_(capacity) {}

bool ByteRing::Write(std::string_view bytes) {
  if (bytes.size() > Free()) return false;
  if (bytes.empty()) return true;
  const std::size_t head = (tail_ + used_) % data_.size();
  // At most two pieces: up to the end of the storage, then from its start.
  const std::size_t first = std::min(bytes.size(), data_.size() - head);
  std::memcpy(data_.data() + head, bytes.data(), first);
  std::memcpy(data_.data(), bytes.data() + first, bytes.size() - first);
  used_ += bytes.size();
  return true;
}

bool ByteRing::Peek(std::size_t offset, char* dest, std::size_t count) const {
  if (offset > used_ || count > used_ - offset) return false;
  if (count == 0) return true;
  const std::size_t start = (tail_ + offset) % data_.size();
  const std::size_t first = std::min(count, data_.size() - start);
  std::memcpy(dest, data_.data() + start, first);
  std::memcpy(dest + first, data_.data(), count - first);
  return true;
}

bool ByteRing::Read(char* dest, std::size_t count) {
  if (!Peek(0, dest, count)) return false;
  Consume(count);
  return true;
}

void ByteRing::Consume(std::size_t count) {
  count = std::min(count, used_);
  if (count == 0) return;
  tail_ = (tail_ + count) % data_.size();
  used_ -= count;
}

std::string ByteRing::TakeAll() {
  std::string out(used_, '\0');
  Peek(0, out.data(), used_);
  Clear();
  return out;
}

void ByteRing::Clear() {
  tail_ = 0;
  used_ = 0;
}

}  // namespace mq::serial
