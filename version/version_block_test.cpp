// Version blocks: the bytes the writer produces, lookups in them, the scan
// for a block inside arbitrary bytes, and damaged blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "version/version_block.h"
#include "version/version_block_scanner.h"
#include "version/version_block_writer.h"

namespace mq {
namespace {

using Bytes = std::vector<std::byte>;
using Writer = TVersionBlockWriter;

Bytes FromInts(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

Writer::TVersionData ProgramData() {
  Writer::TVersionData data;
  data.FileVersion = {3, 5, 0, 0};
  data.ProductVersion = {3, 5, 0, 0};
  data.StringTables.push_back(
      {u"080904E4", {{u"Comments", u""}, {u"FileVersion", u"3.5.0.0"}, {u"ProductVersion", u"3500"}}});
  data.Translations = {{0x0809, 0x04E4}};
  return data;
}

std::u16string TextOf(const TVersionBlock::TValue& value) {
  std::u16string text;
  for (std::uint32_t i = 0; i < value.Length; ++i) {
    text.push_back(static_cast<char16_t>(std::to_integer<unsigned>(value.Bytes[2 * i]) |
                                         (std::to_integer<unsigned>(value.Bytes[2 * i + 1]) << 8)));
  }
  return text;
}

std::uint16_t At16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(std::to_integer<unsigned>(b[at]) | (std::to_integer<unsigned>(b[at + 1]) << 8));
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::byte>(v & 0xFF);
  b[at + 1] = static_cast<std::byte>(v >> 8);
}

TEST(VersionBlockWriter, TextNodeBytesAreExact) {
  // wLength 16, wValueLength 2 units ("x" and its terminator), wType 1, key
  // "A" + terminator, two bytes of padding, value, no trailing padding.
  EXPECT_EQ(Writer::Write(Writer::Text(u"A", u"x")), FromInts({16, 0, 2, 0, 1, 0, 'A', 0, 0, 0, 0, 0, 'x', 0, 0, 0}));
  // A parent pads between children but not after the last one.
  Writer::TNode parent;
  parent.Key = u"P";
  parent.Children = {Writer::Words(u"B", {0x0809}), Writer::Words(u"C", {0x04E4})};
  EXPECT_EQ(Writer::Write(parent), FromInts({42, 0, 0, 0, 1, 0, 'P', 0, 0, 0, 0, 0,                 //
                                             14, 0, 2, 0, 0, 0, 'B', 0, 0, 0, 0, 0, 9,    8, 0, 0,  //
                                             14, 0, 2, 0, 0, 0, 'C', 0, 0, 0, 0, 0, 0xE4, 4}));
}

TEST(VersionBlockWriter, ProgramBlockLayout) {
  const Bytes block = Writer::Write(ProgramData());
  EXPECT_EQ(At16(block, 0), block.size());
  EXPECT_EQ(At16(block, 2), 52);  // fixed file information
  EXPECT_EQ(At16(block, 4), 0);
  EXPECT_EQ(std::memcmp(block.data() + 6, u"VS_VERSION_INFO", 32), 0);
  // Fixed information at 40: signature, structure 1.0, 3.5 / 0.0 twice.
  EXPECT_EQ(Bytes(block.begin() + 40, block.begin() + 64),
            FromInts({0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 5, 0, 3, 0, 0, 0, 0, 0, 5, 0, 3, 0, 0, 0, 0, 0}));
  TVersionBlock view(block);
  ASSERT_TRUE(view.Valid());
  EXPECT_EQ(view.Size(), block.size());
  EXPECT_THROW(Writer::Write(Writer::Text(u"big", std::u16string(40000, u'x'))), std::length_error);
}

TEST(VersionBlock, QueriesAnswerLikeTheSystem) {
  const Bytes block = Writer::Write(ProgramData());
  TVersionBlock view(block);

  auto fixed = view.Query(u"\\");
  ASSERT_TRUE(fixed);
  EXPECT_FALSE(fixed->Text);
  EXPECT_EQ(fixed->Length, 52u);
  EXPECT_EQ(fixed->Bytes.data(), block.data() + 40);

  auto translation = view.Query(u"\\VarFileInfo\\Translation");
  ASSERT_TRUE(translation);
  EXPECT_EQ(translation->Length, 4u);  // bytes
  EXPECT_EQ(Bytes(translation->Bytes.begin(), translation->Bytes.end()), FromInts({0x09, 0x08, 0xE4, 0x04}));

  auto version = view.Query(u"\\StringFileInfo\\080904E4\\FileVersion");
  ASSERT_TRUE(version);
  EXPECT_TRUE(version->Text);
  EXPECT_EQ(version->Length, 8u);  // units, terminator included
  EXPECT_EQ(TextOf(*version), std::u16string(u"3.5.0.0\0", 8));

  // Keys compare without regard to case; repeated separators are skipped.
  auto product = view.Query(u"\\stringfileinfo\\080904e4\\\\PRODUCTVERSION");
  ASSERT_TRUE(product);
  EXPECT_EQ(TextOf(*product), std::u16string(u"3500\0", 5));

  auto empty = view.Query(u"\\StringFileInfo\\080904E4\\Comments");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Length, 1u);

  EXPECT_FALSE(view.Query(u"\\StringFileInfo\\040904B0\\FileVersion"));
  EXPECT_FALSE(view.Query(u"\\StringFileInfo\\080904E4\\PrivateBuild"));
  EXPECT_FALSE(view.Query(u"\\StringFileInfo\\080904E4\\FileVersion\\Deeper"));
  EXPECT_FALSE(view.Query(u"\\StringFileInfo\\080904E"));
}

TEST(VersionBlock, RootMustBeWellFormed) {
  const Bytes good = Writer::Write(ProgramData());
  {
    Bytes bad = good;
    bad[6 + 2] = std::byte{'s'};  // "Vs_VERSION_INFO"
    EXPECT_FALSE(TVersionBlock(bad).Valid());
  }
  {
    Bytes bad = good;
    bad[40] = std::byte{0};  // fixed information signature
    EXPECT_FALSE(TVersionBlock(bad).Valid());
    EXPECT_FALSE(TVersionBlock(bad).Query(u"\\VarFileInfo\\Translation"));
  }
  {
    Bytes bad = good;
    Put16(bad, 2, 40);  // fixed information shorter than its structure
    EXPECT_FALSE(TVersionBlock(bad).Valid());
    Put16(bad, 2, 0);  // none at all: bare key text, not a block
    EXPECT_FALSE(TVersionBlock(bad).Valid());
  }
  EXPECT_FALSE(TVersionBlock(Bytes{}).Valid());
  EXPECT_FALSE(TVersionBlock(Bytes(5)).Valid());
}

TEST(VersionBlock, TruncatedBlocksNeverReadPastTheirBytes) {
  const Bytes good = Writer::Write(ProgramData());
  for (std::size_t size = 0; size < good.size(); ++size) {
    // A copy of exactly `size` bytes, so the sanitizers see any over-read.
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    TVersionBlock view(cut);
    EXPECT_FALSE(view.Valid()) << size;
    EXPECT_FALSE(view.Query(u"\\StringFileInfo\\080904E4\\FileVersion")) << size;
  }
}

TEST(VersionBlock, DamagedLengthsFailOrClampButNeverLoop) {
  const Bytes good = Writer::Write(ProgramData());
  const std::size_t stringFileInfo = 92;  // first child of the root
  ASSERT_EQ(std::memcmp(good.data() + stringFileInfo + 6, u"StringFileInfo", 28), 0);

  Bytes zero = good;
  Put16(zero, stringFileInfo, 0);  // a child of length 0 ends the walk
  EXPECT_TRUE(TVersionBlock(zero).Valid());
  EXPECT_FALSE(TVersionBlock(zero).Query(u"\\StringFileInfo\\080904E4\\FileVersion"));

  Bytes past = good;
  Put16(past, stringFileInfo, 0xFFF0);  // child longer than its parent
  EXPECT_FALSE(TVersionBlock(past).Query(u"\\StringFileInfo\\080904E4\\FileVersion"));
  EXPECT_FALSE(TVersionBlock(past).Query(u"\\VarFileInfo\\Translation"));

  Bytes rootPast = good;
  Put16(rootPast, 0, static_cast<std::uint16_t>(good.size() + 4));
  EXPECT_FALSE(TVersionBlock(rootPast).Valid());

  // A text value claiming more units than its node holds is cut at the node.
  Writer::TVersionData data = ProgramData();
  Writer::TNode root = Writer::Build(data);
  root.Children[0].Children[0].Children[1].ValueLength = 5000;
  const Bytes longValue = Writer::Write(root);
  auto value = TVersionBlock(longValue).Query(u"\\StringFileInfo\\080904E4\\FileVersion");
  ASSERT_TRUE(value);
  EXPECT_EQ(TextOf(*value).substr(0, 7), u"3.5.0.0");
  EXPECT_LE(value->Length, 10u);

  // Every byte set to 0x00 or 0xFF in turn: lookups finish and stay inside.
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (auto fill : {std::byte{0x00}, std::byte{0xFF}}) {
      Bytes damaged = good;
      damaged[at] = fill;
      TVersionBlock view(damaged);
      (void)view.Query(u"\\VarFileInfo\\Translation");
      (void)view.Query(u"\\StringFileInfo\\080904E4\\ProductVersion");
    }
  }
}

TEST(VersionBlock, DeepNestingIsWalkedWithoutRecursion) {
  Writer::TNode root = Writer::Build(ProgramData());
  Writer::TNode* at = &root;
  constexpr int kDepth = 4000;  // close to what 16-bit lengths allow
  for (int i = 0; i < kDepth; ++i) {
    at->Children.push_back(Writer::TNode{u"N", Writer::kText, {}, -1, {}});
    at = &at->Children.back();
  }
  *at = Writer::Text(u"N", u"deep");
  const Bytes block = Writer::Write(root);
  std::u16string path;
  for (int i = 0; i < kDepth; ++i) path += u"\\N";
  auto value = TVersionBlock(block).Query(path);
  ASSERT_TRUE(value);
  EXPECT_EQ(TextOf(*value), std::u16string(u"deep\0", 5));

  std::u16string tooDeep;
  for (int i = 0; i < 100000; ++i) tooDeep += u"\\N";
  EXPECT_FALSE(TVersionBlock(block).Query(tooDeep));
}

// Scanner over bytes in memory, optionally handing out at most `maxRead`
// bytes per call and failing the read that starts at `failAt`.
TVersionBlockScanner::TResult Scan(const Bytes& file, std::size_t chunk, std::size_t maxRead = SIZE_MAX,
                                   std::uint64_t failAt = UINT64_MAX) {
  return TVersionBlockScanner::Find(
      [&](std::uint64_t offset, std::span<std::byte> buffer) -> std::ptrdiff_t {
        if (offset == failAt) return -1;
        if (offset >= file.size()) return 0;
        const std::size_t n = std::min({buffer.size(), file.size() - offset, maxRead});
        std::memcpy(buffer.data(), file.data() + offset, n);
        return static_cast<std::ptrdiff_t>(n);
      },
      chunk);
}

TEST(VersionBlockScanner, FindsTheFirstWellFormedBlockAnywhere) {
  const Bytes block = Writer::Write(ProgramData());
  // A decoy key (invalid header before it) comes first, then the real block
  // at an odd offset, then a second block that must not be chosen.
  Bytes file(101, std::byte{0x5A});
  const Bytes decoy = Bytes(reinterpret_cast<const std::byte*>(u"VS_VERSION_INFO"),
                            reinterpret_cast<const std::byte*>(u"VS_VERSION_INFO") + 32);
  file.insert(file.begin() + 3, decoy.begin(), decoy.end());   // key at offset 3 (< 6)
  file.insert(file.begin() + 60, decoy.begin(), decoy.end());  // key with a bad header
  // Bare key text behind a plausible header (length 40, no value), as a
  // program's constants may hold it: not a block without fixed information.
  const Bytes header = FromInts({40, 0, 0, 0, 0, 0});
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), decoy.begin(), decoy.end());
  file.insert(file.end(), {std::byte{0}, std::byte{0}, std::byte{0}, std::byte{0}});
  const std::size_t blockAt = file.size();
  file.insert(file.end(), block.begin(), block.end());
  Writer::TVersionData other = ProgramData();
  other.FileVersion = {9, 9, 9, 9};
  const Bytes second = Writer::Write(other);
  file.insert(file.end(), 7, std::byte{1});
  file.insert(file.end(), second.begin(), second.end());

  for (std::size_t chunk : {std::size_t{32}, std::size_t{33}, std::size_t{47}, std::size_t{64}, std::size_t{1} << 20}) {
    auto found = Scan(file, chunk);
    ASSERT_EQ(found.Status, TVersionBlockScanner::TStatus::Found) << chunk;
    EXPECT_EQ(found.Offset, blockAt) << chunk;
    EXPECT_EQ(found.Block, block) << chunk;
  }
  // Short reads are completed; the result is the same.
  EXPECT_EQ(Scan(file, 64, 7).Block, block);
}

TEST(VersionBlockScanner, ReportsMissingBlocksAndReadErrors) {
  const Bytes block = Writer::Write(ProgramData());
  EXPECT_EQ(Scan(Bytes{}, 64).Status, TVersionBlockScanner::TStatus::NotFound);
  EXPECT_EQ(Scan(Bytes(1000, std::byte{0}), 64).Status, TVersionBlockScanner::TStatus::NotFound);
  // A block cut short by the end of the file is no block.
  Bytes cut(block.begin(), block.end() - 1);
  EXPECT_EQ(Scan(cut, 64).Status, TVersionBlockScanner::TStatus::NotFound);

  Bytes file(5000, std::byte{0});
  file.insert(file.end(), block.begin(), block.end());
  EXPECT_EQ(Scan(file, 1 << 20).Status, TVersionBlockScanner::TStatus::Found);
  EXPECT_EQ(Scan(file, 1024, SIZE_MAX, 2048).Status, TVersionBlockScanner::TStatus::ReadError);
  // A read error while the candidate block itself is read.
  auto failed = Scan(file, 1 << 20, SIZE_MAX, 5000);
  EXPECT_EQ(failed.Status, TVersionBlockScanner::TStatus::ReadError);
  EXPECT_TRUE(failed.Block.empty());
}

}  // namespace
}  // namespace mq
