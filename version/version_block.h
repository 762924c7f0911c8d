// TVersionBlock: a read-only view of one version block in the Windows
// VS_VERSIONINFO layout (nodes of wLength, wValueLength, wType, a UTF-16 key,
// a value and child nodes, each aligned to 32 bits from the block's start).
//
// The block is outside input (it comes from any file the user names), so
// every length, offset and nesting level is checked against the bytes held:
// a damaged block makes a lookup fail, never read past the buffer, and every
// walk over child nodes advances by at least one node header, so no input
// can make it loop.
//
// Threading: a view over caller-owned bytes; const methods may run on any
// thread as long as the bytes outlive the view and do not change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace mq {

class TVersionBlock {
 public:
  // The key of the root node; the scanner looks for these UTF-16 bytes.
  static constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
  // Signature of the fixed file information that is the root's value.
  static constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
  static constexpr std::size_t kFixedInfoSize = 52;
  // Smallest root node: header, key with terminator, nothing else.
  static constexpr std::size_t kMinRootSize = 6 + 2 * (kRootKey.size() + 1);

  // One value found by Query. Length follows the Windows convention: UTF-16
  // units for text values, bytes for binary values and for the root.
  struct TValue {
    std::span<const std::byte> Bytes;
    bool Text = false;
    std::uint32_t Length = 0;
  };

  // Views the bytes as a block starting at their first byte.
  explicit TVersionBlock(std::span<const std::byte> data);

  // True when the bytes start with a well-formed root node "VS_VERSION_INFO"
  // whose length fits in them and whose value is a fixed file information
  // with the right signature.
  bool Valid() const;

  // The root node's length in bytes (0 when not Valid).
  std::size_t Size() const;

  // Length of the root node found at the start of `data` when it is a valid
  // root; nullopt otherwise. Reads only the bytes given.
  static std::optional<std::size_t> RootLength(std::span<const std::byte> data);

  // Looks up a value path such as "\VarFileInfo\Translation" or
  // "\StringFileInfo\080904E4\FileVersion"; "\" gives the fixed file
  // information. Keys compare without regard to ASCII case. Nullopt when the
  // block is not valid or the path does not exist.
  std::optional<TValue> Query(std::u16string_view path) const;

 private:
  std::span<const std::byte> FData;
};

}  // namespace mq
