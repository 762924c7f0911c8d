#include "version/version_block.h"

#include <algorithm>

#include "util/ascii_text.h"

namespace mq {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::uint16_t kTextType = 1;

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

std::uint16_t Read16(std::span<const std::byte> data, std::size_t offset) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(data[offset]) |
                                    (std::to_integer<unsigned>(data[offset + 1]) << 8));
}

std::uint32_t Read32(std::span<const std::byte> data, std::size_t offset) {
  return Read16(data, offset) | (std::uint32_t{Read16(data, offset + 2)} << 16);
}

// One node, all offsets relative to the block's first byte and inside it.
struct TNode {
  std::size_t Begin = 0;
  std::size_t End = 0;  // Begin + wLength
  std::size_t KeyBegin = 0;
  std::size_t KeyUnits = 0;  // without the terminator
  std::size_t ValueBegin = 0;
  std::size_t ValueBytes = 0;
  std::size_t ChildrenBegin = 0;
  std::uint16_t ValueLength = 0;
  std::uint16_t Type = 0;
};

// Parses the node at `begin`, which must end at or before `limit`. A node
// shorter than a header plus a key terminator is rejected, which also
// guarantees that walking siblings always moves forward.
std::optional<TNode> ParseNode(std::span<const std::byte> data, std::size_t begin, std::size_t limit) {
  if (limit > data.size() || begin > limit || limit - begin < kHeaderSize) return std::nullopt;
  TNode node;
  node.Begin = begin;
  const std::size_t length = Read16(data, begin);
  if (length < kHeaderSize + 2 || length > limit - begin) return std::nullopt;
  node.End = begin + length;
  node.ValueLength = Read16(data, begin + 2);
  node.Type = Read16(data, begin + 4);
  node.KeyBegin = begin + kHeaderSize;
  std::size_t pos = node.KeyBegin;
  for (;;) {
    if (node.End - pos < 2) return std::nullopt;  // key without terminator
    if (Read16(data, pos) == 0) break;
    pos += 2;
  }
  node.KeyUnits = (pos - node.KeyBegin) / 2;
  // A value that claims more bytes than its node holds is cut at the node's
  // end (text to whole units) rather than read from the next node.
  node.ValueBegin = std::min(Align4(pos + 2), node.End);
  const std::size_t claimed = node.Type == kTextType ? std::size_t{node.ValueLength} * 2 : node.ValueLength;
  node.ValueBytes = std::min(claimed, node.End - node.ValueBegin);
  if (node.Type == kTextType) node.ValueBytes &= ~std::size_t{1};
  node.ChildrenBegin = std::min(Align4(node.ValueBegin + node.ValueBytes), node.End);
  return node;
}

bool KeyEquals(std::span<const std::byte> data, const TNode& node, std::u16string_view key) {
  if (node.KeyUnits != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (AsciiText::ToUpper(char16_t(Read16(data, node.KeyBegin + 2 * i))) != AsciiText::ToUpper(key[i])) return false;
  }
  return true;
}

std::optional<TNode> FindChild(std::span<const std::byte> data, const TNode& parent, std::u16string_view key) {
  std::size_t pos = parent.ChildrenBegin;
  while (pos < parent.End) {
    const auto child = ParseNode(data, pos, parent.End);
    if (!child) return std::nullopt;  // the rest of this level is unreadable
    if (KeyEquals(data, *child, key)) return child;
    pos = Align4(child->End);
  }
  return std::nullopt;
}

std::optional<TNode> ParseRoot(std::span<const std::byte> data) {
  auto root = ParseNode(data, 0, data.size());
  if (!root || !KeyEquals(data, *root, TVersionBlock::kRootKey)) return std::nullopt;
  // Exact key, not just a case-insensitive match.
  for (std::size_t i = 0; i < TVersionBlock::kRootKey.size(); ++i) {
    if (Read16(data, root->KeyBegin + 2 * i) != TVersionBlock::kRootKey[i]) return std::nullopt;
  }
  // The fixed file information with its signature is required: resource
  // compilers always write it, and it tells a real block from the bare key
  // text that any program reading version data holds among its constants.
  if (root->Type > kTextType || root->ValueBytes < TVersionBlock::kFixedInfoSize ||
      Read32(data, root->ValueBegin) != TVersionBlock::kFixedInfoSignature) {
    return std::nullopt;
  }
  return root;
}

TVersionBlock::TValue ValueOf(std::span<const std::byte> data, const TNode& node) {
  TVersionBlock::TValue value;
  value.Bytes = data.subspan(node.ValueBegin, node.ValueBytes);
  value.Text = node.Type == kTextType;
  value.Length = static_cast<std::uint32_t>(value.Text ? node.ValueBytes / 2 : node.ValueBytes);
  return value;
}

}  // namespace

TVersionBlock::TVersionBlock(std::span<const std::byte> data) : FData(data) {}

bool TVersionBlock::Valid() const { return ParseRoot(FData).has_value(); }

std::size_t TVersionBlock::Size() const {
  const auto root = ParseRoot(FData);
  return root ? root->End : 0;
}

std::optional<std::size_t> TVersionBlock::RootLength(std::span<const std::byte> data) {
  const auto root = ParseRoot(data);
  if (!root) return std::nullopt;
  return root->End;
}

std::optional<TVersionBlock::TValue> TVersionBlock::Query(std::u16string_view path) const {
  auto node = ParseRoot(FData);
  if (!node) return std::nullopt;
  std::size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == u'\\') {
      ++pos;
      continue;
    }
    std::size_t end = path.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = path.size();
    node = FindChild(FData, *node, path.substr(pos, end - pos));
    if (!node) return std::nullopt;
    pos = end;
  }
  return ValueOf(FData, *node);
}

}  // namespace mq
