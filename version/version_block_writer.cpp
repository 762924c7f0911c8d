#include "version/version_block_writer.h"

#include <stdexcept>

#include "version/version_block.h"

namespace mq {
namespace {

void Put16(std::vector<std::byte>& out, std::uint16_t value) {
  out.push_back(static_cast<std::byte>(value & 0xFF));
  out.push_back(static_cast<std::byte>(value >> 8));
}

void Put32(std::vector<std::byte>& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void PadTo4(std::vector<std::byte>& out) {
  while (out.size() % 4 != 0) out.push_back(std::byte{0});
}

void Set16(std::vector<std::byte>& out, std::size_t offset, std::uint16_t value) {
  out[offset] = static_cast<std::byte>(value & 0xFF);
  out[offset + 1] = static_cast<std::byte>(value >> 8);
}

}  // namespace

TVersionBlockWriter::TNode TVersionBlockWriter::Text(std::u16string key, std::u16string_view text) {
  TNode node;
  node.Key = std::move(key);
  node.Type = kText;
  for (char16_t c : text) Put16(node.Value, c);
  Put16(node.Value, 0);
  return node;
}

TVersionBlockWriter::TNode TVersionBlockWriter::Words(std::u16string key, const std::vector<std::uint16_t>& words) {
  TNode node;
  node.Key = std::move(key);
  node.Type = kBinary;
  for (auto w : words) Put16(node.Value, w);
  return node;
}

TVersionBlockWriter::TNode TVersionBlockWriter::Build(const TVersionData& data) {
  TNode root;
  root.Key = std::u16string(TVersionBlock::kRootKey);
  root.Type = kBinary;
  Put32(root.Value, TVersionBlock::kFixedInfoSignature);
  Put32(root.Value, 0x00010000);  // structure version 1.0
  Put32(root.Value, (std::uint32_t{data.FileVersion[0]} << 16) | data.FileVersion[1]);
  Put32(root.Value, (std::uint32_t{data.FileVersion[2]} << 16) | data.FileVersion[3]);
  Put32(root.Value, (std::uint32_t{data.ProductVersion[0]} << 16) | data.ProductVersion[1]);
  Put32(root.Value, (std::uint32_t{data.ProductVersion[2]} << 16) | data.ProductVersion[3]);
  Put32(root.Value, data.FileFlagsMask);
  Put32(root.Value, data.FileFlags);
  Put32(root.Value, data.FileOS);
  Put32(root.Value, data.FileType);
  Put32(root.Value, data.FileSubtype);
  Put32(root.Value, 0);  // file date, most significant part
  Put32(root.Value, 0);  // file date, least significant part

  if (!data.StringTables.empty()) {
    TNode stringFileInfo;
    stringFileInfo.Key = u"StringFileInfo";
    for (const auto& table : data.StringTables) {
      TNode tableNode;
      tableNode.Key = table.Key;
      for (const auto& [name, value] : table.Strings) tableNode.Children.push_back(Text(name, value));
      stringFileInfo.Children.push_back(std::move(tableNode));
    }
    root.Children.push_back(std::move(stringFileInfo));
  }
  if (data.WithVarFileInfo) {
    TNode varFileInfo;
    varFileInfo.Key = u"VarFileInfo";
    std::vector<std::uint16_t> pairs;
    for (const auto& [lang, cp] : data.Translations) {
      pairs.push_back(lang);
      pairs.push_back(cp);
    }
    varFileInfo.Children.push_back(Words(u"Translation", pairs));
    root.Children.push_back(std::move(varFileInfo));
  }
  return root;
}

std::vector<std::byte> TVersionBlockWriter::Write(const TNode& node) {
  std::vector<std::byte> out;
  Put16(out, 0);  // wLength, set below
  const std::size_t valueLength = node.ValueLength >= 0
                                      ? static_cast<std::size_t>(node.ValueLength)
                                      : (node.Type == kText ? node.Value.size() / 2 : node.Value.size());
  if (valueLength > 0xFFFF) throw std::length_error("version block value too long");
  Put16(out, static_cast<std::uint16_t>(valueLength));
  Put16(out, node.Type);
  for (char16_t c : node.Key) Put16(out, c);
  Put16(out, 0);
  PadTo4(out);
  out.insert(out.end(), node.Value.begin(), node.Value.end());
  for (const auto& child : node.Children) {
    PadTo4(out);
    const auto bytes = Write(child);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  if (out.size() > 0xFFFF) throw std::length_error("version block node too long");
  Set16(out, 0, static_cast<std::uint16_t>(out.size()));
  return out;
}

}  // namespace mq
