// Fuzz target: arbitrary bytes as a file that may hold a version block, and
// as a block itself. Looks for the block with small and large chunks and runs
// the lookups TFileVersionInfo makes, plus one path taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "version/version_block.h"
#include "version/version_block_scanner.h"

namespace {

std::ptrdiff_t ReadFrom(const std::uint8_t* data, std::size_t size, std::uint64_t offset, std::span<std::byte> buffer,
                        std::size_t maxRead) {
  if (offset >= size) return 0;
  std::size_t n = size - static_cast<std::size_t>(offset);
  if (n > buffer.size()) n = buffer.size();
  if (n > maxRead) n = maxRead;
  std::memcpy(buffer.data(), data + offset, n);
  return static_cast<std::ptrdiff_t>(n);
}

void Lookups(std::span<const std::byte> bytes, std::u16string_view extra) {
  mq::TVersionBlock block(bytes);
  (void)block.Valid();
  (void)block.Query(u"\\");
  (void)block.Query(u"\\VarFileInfo\\Translation");
  (void)block.Query(u"\\StringFileInfo\\080904E4\\FileVersion");
  (void)block.Query(u"\\StringFileInfo\\080904E4\\ProductVersion");
  (void)block.Query(extra);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = std::as_bytes(std::span(data, size));
  // A path from the first bytes of the input, in whole UTF-16 units.
  std::u16string extra;
  for (std::size_t i = 0; i + 1 < size && i < 64; i += 2) {
    extra.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  Lookups(bytes, extra);

  for (std::size_t chunk : {std::size_t{32}, std::size_t{4096}}) {
    const auto found = mq::TVersionBlockScanner::Find(
        [&](std::uint64_t offset, std::span<std::byte> buffer) {
          return ReadFrom(data, size, offset, buffer, chunk == 32 ? 7 : SIZE_MAX);
        },
        chunk);
    if (found.Status == mq::TVersionBlockScanner::TStatus::Found) {
      if (mq::TVersionBlock(found.Block).Size() != found.Block.size()) __builtin_trap();
      Lookups(found.Block, extra);
    }
  }
  return 0;
}
