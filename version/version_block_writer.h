// TVersionBlockWriter: writes a version block in the Windows VS_VERSIONINFO
// layout, the same bytes a resource compiler puts into a Windows program.
//
// The build uses it to produce the version data that our program files carry
// (see mq_add_version_resource in this folder's CMakeLists.txt); tests use its
// node form to build blocks of any shape, including damaged ones.
//
// Threading: stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <vector>

namespace mq {

class TVersionBlockWriter {
 public:
  static constexpr std::uint16_t kBinary = 0;
  static constexpr std::uint16_t kText = 1;

  // One node: its key, value and children. ValueLength is the wValueLength
  // field; when negative it is derived from Value (UTF-16 units for text,
  // bytes for binary), which is what well-formed blocks hold.
  struct TNode {
    std::u16string Key;
    std::uint16_t Type = kText;
    std::vector<std::byte> Value;
    std::int32_t ValueLength = -1;
    std::vector<TNode> Children;
  };

  // The content of a program's version data.
  struct TStringTable {
    std::u16string Key;  // language and code page, e.g. u"080904E4"
    std::vector<std::pair<std::u16string, std::u16string>> Strings;
  };
  struct TVersionData {
    std::array<std::uint16_t, 4> FileVersion{};
    std::array<std::uint16_t, 4> ProductVersion{};
    std::uint32_t FileFlagsMask = 0x3F;
    std::uint32_t FileFlags = 0;
    std::uint32_t FileOS = 0x40004;  // 32-bit Windows on NT
    std::uint32_t FileType = 1;      // application
    std::uint32_t FileSubtype = 0;
    std::vector<TStringTable> StringTables;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;  // (language, code page)
    bool WithVarFileInfo = true;
  };

  // A text node whose value is `text` with its terminator.
  static TNode Text(std::u16string key, std::u16string_view text);
  // A binary node holding the 16-bit values little-endian.
  static TNode Words(std::u16string key, const std::vector<std::uint16_t>& words);

  // The node tree of a whole version block.
  static TNode Build(const TVersionData& data);

  // Serialises a node and its children. Throws std::length_error when a node
  // would exceed the 16-bit length field.
  static std::vector<std::byte> Write(const TNode& node);
  static std::vector<std::byte> Write(const TVersionData& data) { return Write(Build(data)); }
};

}  // namespace mq
