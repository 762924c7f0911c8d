// TVersionBlockScanner: finds the version block inside the bytes of any file.
//
// The scanner looks for the UTF-16 key "VS_VERSION_INFO" and accepts the
// first place where a whole, well-formed root node surrounds it (see
// TVersionBlock). This finds the block embedded in our own executables as
// well as the one in a Windows executable's resources, without depending on
// the container format. The file is read in chunks through a callback, so a
// large file is never held in memory and the search itself is independent of
// the platform's file calls.
//
// Threading: stateless; Find may run on any thread with its own callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace mq {

class TVersionBlockScanner {
 public:
  // Reads up to buffer.size() bytes at `offset`; returns the count read (0 at
  // the end of the file) or a negative value on a read error.
  using TReadAt = std::function<std::ptrdiff_t(std::uint64_t offset, std::span<std::byte> buffer)>;

  enum class TStatus { Found, NotFound, ReadError };

  struct TResult {
    TStatus Status = TStatus::NotFound;
    std::uint64_t Offset = 0;      // where the block starts in the file
    std::vector<std::byte> Block;  // exactly the root node's bytes
  };

  static constexpr std::size_t kDefaultChunkSize = 1 << 20;

  static TResult Find(const TReadAt& read, std::size_t chunkSize = kDefaultChunkSize);
};

}  // namespace mq
