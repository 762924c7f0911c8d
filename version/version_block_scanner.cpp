#include "version/version_block_scanner.h"

#include <algorithm>
#include <array>
#include <functional>

#include "version/version_block.h"

namespace mq {
namespace {

constexpr std::size_t kKeyOffset = 6;  // the key follows three 16-bit fields

// "VS_VERSION_INFO" and its terminator as UTF-16LE bytes.
constexpr auto kPattern = [] {
  std::array<unsigned char, 2 * (TVersionBlock::kRootKey.size() + 1)> bytes{};
  for (std::size_t i = 0; i < TVersionBlock::kRootKey.size(); ++i) {
    bytes[2 * i] = static_cast<unsigned char>(TVersionBlock::kRootKey[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<unsigned char>(TVersionBlock::kRootKey[i] >> 8);
  }
  return bytes;
}();

// Reads exactly buffer.size() bytes unless the file ends first; returns the
// count read or a negative value on error.
std::ptrdiff_t ReadFully(const TVersionBlockScanner::TReadAt& read, std::uint64_t offset, std::span<std::byte> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::ptrdiff_t got = read(offset + done, buffer.subspan(done));
    if (got < 0) return got;
    if (got == 0) break;
    done += std::min(static_cast<std::size_t>(got), buffer.size() - done);
  }
  return static_cast<std::ptrdiff_t>(done);
}

enum class TCandidate { Block, NoBlock, ReadError };

// Checks the candidate root starting at `start`; fills `block` when valid.
TCandidate CheckCandidate(const TVersionBlockScanner::TReadAt& read, std::uint64_t start,
                          std::vector<std::byte>& block) {
  std::array<std::byte, 2> header{};
  std::ptrdiff_t got = ReadFully(read, start, header);
  if (got < 0) return TCandidate::ReadError;
  if (got < 2) return TCandidate::NoBlock;
  const std::size_t length = std::to_integer<std::size_t>(header[0]) | (std::to_integer<std::size_t>(header[1]) << 8);
  if (length < TVersionBlock::kMinRootSize) return TCandidate::NoBlock;
  block.assign(length, std::byte{0});
  got = ReadFully(read, start, block);
  if (got < 0) return TCandidate::ReadError;
  if (static_cast<std::size_t>(got) < length) return TCandidate::NoBlock;
  const auto rootLength = TVersionBlock::RootLength(block);
  return rootLength && *rootLength == length ? TCandidate::Block : TCandidate::NoBlock;
}

}  // namespace

TVersionBlockScanner::TResult TVersionBlockScanner::Find(const TReadAt& read, std::size_t chunkSize) {
  TResult result;
  chunkSize = std::max(chunkSize, kPattern.size());
  const std::boyer_moore_horspool_searcher searcher(kPattern.begin(), kPattern.end());

  // window holds the tail of the previous chunk (one byte short of a pattern)
  // followed by the new chunk, so a key split across chunks is still found.
  std::vector<unsigned char> window;
  std::uint64_t windowStart = 0;  // file offset of window[0]
  std::uint64_t next = 0;         // file offset of the next chunk
  std::vector<std::byte> chunk(chunkSize);
  for (;;) {
    const std::ptrdiff_t got = ReadFully(read, next, chunk);
    if (got < 0) {
      result.Status = TStatus::ReadError;
      return result;
    }
    if (got == 0) break;
    const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
    window.insert(window.end(), bytes, bytes + got);
    next += static_cast<std::uint64_t>(got);

    auto from = window.cbegin();
    for (;;) {
      const auto hit = std::search(from, window.cend(), searcher);
      if (hit == window.cend()) break;
      const std::uint64_t keyAt = windowStart + static_cast<std::uint64_t>(hit - window.cbegin());
      if (keyAt >= kKeyOffset) {
        switch (CheckCandidate(read, keyAt - kKeyOffset, result.Block)) {
          case TCandidate::Block:
            result.Status = TStatus::Found;
            result.Offset = keyAt - kKeyOffset;
            return result;
          case TCandidate::ReadError:
            result.Block.clear();
            result.Status = TStatus::ReadError;
            return result;
          case TCandidate::NoBlock: break;
        }
      }
      from = hit + 1;
    }
    const std::size_t keep = std::min(window.size(), kPattern.size() - 1);
    windowStart += window.size() - keep;
    window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(keep));
    if (static_cast<std::size_t>(got) < chunk.size()) break;  // end of file
  }
  result.Block.clear();
  result.Status = TStatus::NotFound;
  return result;
}

}  // namespace mq
