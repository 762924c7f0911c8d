// ByteRing: a fixed-size first-in first-out byte buffer, the storage of the
// dispatcher's output ring and of its dispatch buffer. A write is taken
// whole or refused whole; reads copy from the oldest byte (or from a given
// distance behind it) and are refused whole when fewer bytes are held, so a
// caller never sees part of a block.
//
// Threading: none of its own; the owner's lock guards every call.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mq::serial {

class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity);

  std::size_t Capacity() const { return data_.size(); }
  std::size_t Used() const { return used_; }
  std::size_t Free() const { return data_.size() - used_; }
  bool Empty() const { return used_ == 0; }

  // Appends every byte of bytes, or nothing (false) when fewer are free.
  bool Write(std::string_view bytes);
  // Copies count bytes, starting offset bytes behind the oldest, without
  // removing them; false (nothing copied) when fewer than offset + count
  // bytes are held.
  bool Peek(std::size_t offset, char* dest, std::size_t count) const;
  // Copies and removes the count oldest bytes; false (nothing copied or
  // removed) when fewer are held.
  bool Read(char* dest, std::size_t count);
  // Removes the count oldest bytes, or every byte when fewer are held.
  void Consume(std::size_t count);
  // Removes and returns every byte, oldest first.
  std::string TakeAll();
  // Removes every byte.
  void Clear();

 private:
  std::vector<char> data_;
  std::size_t tail_ = 0;  // index of the oldest byte
  std::size_t used_ = 0;
};

}  // namespace mq::serial
