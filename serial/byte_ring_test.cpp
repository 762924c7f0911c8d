#include "serial/byte_ring.h"

#include <gtest/gtest.h>

#include <string>

namespace mq::serial {
namespace {

// Text of n distinct bytes starting at `first`, so a misplaced byte shows.
std::string Bytes(std::size_t n, char first = 'a') {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i));
  return s;
}

std::string PeekText(const ByteRing& ring, std::size_t offset, std::size_t count) {
  std::string out(count, '#');
  if (!ring.Peek(offset, out.data(), count)) return "refused";
  return out;
}

TEST(ByteRing, EmptyRingRefusesEveryReadButTheEmptyOne) {
  ByteRing ring(8);
  EXPECT_EQ(ring.Capacity(), 8u);
  EXPECT_TRUE(ring.Empty());
  EXPECT_EQ(ring.Used(), 0u);
  EXPECT_EQ(ring.Free(), 8u);
  char c = '#';
  EXPECT_FALSE(ring.Read(&c, 1));
  EXPECT_FALSE(ring.Peek(0, &c, 1));
  EXPECT_EQ(c, '#');
  EXPECT_TRUE(ring.Read(&c, 0));
  EXPECT_TRUE(ring.Peek(0, &c, 0));
  EXPECT_FALSE(ring.Peek(1, &c, 0));  // an offset past the held bytes
  EXPECT_EQ(ring.TakeAll(), "");
  ring.Consume(5);
  EXPECT_EQ(ring.Used(), 0u);
}

TEST(ByteRing, AFullRingRefusesAnyMoreAndGivesItsBytesBackInOrder) {
  ByteRing ring(8);
  EXPECT_TRUE(ring.Write("abc"));
  EXPECT_TRUE(ring.Write("defgh"));
  EXPECT_EQ(ring.Used(), 8u);
  EXPECT_EQ(ring.Free(), 0u);
  EXPECT_FALSE(ring.Write("x"));
  EXPECT_TRUE(ring.Write(""));
  EXPECT_EQ(PeekText(ring, 0, 8), "abcdefgh");
  EXPECT_EQ(ring.TakeAll(), "abcdefgh");
  EXPECT_TRUE(ring.Empty());
  EXPECT_TRUE(ring.Write("12345678"));  // the whole capacity again
  EXPECT_EQ(ring.TakeAll(), "12345678");
}

TEST(ByteRing, AWriteLongerThanTheFreeSpaceIsRefusedWhole) {
  ByteRing ring(8);
  ASSERT_TRUE(ring.Write("abcde"));
  EXPECT_FALSE(ring.Write("wxyz"));  // 3 free
  EXPECT_EQ(ring.Used(), 5u);
  EXPECT_EQ(ring.TakeAll(), "abcde");
  EXPECT_FALSE(ring.Write(Bytes(9)));
  EXPECT_TRUE(ring.Empty());
  ByteRing none(0);
  EXPECT_FALSE(none.Write("a"));
  EXPECT_TRUE(none.Write(""));
  EXPECT_EQ(none.TakeAll(), "");
}

// Every start position of the oldest byte, and every way of splitting what
// is held between the end of the storage and its start.
TEST(ByteRing, BlocksWrapAroundTheEndAtEveryOffset) {
  constexpr std::size_t kCap = 7;
  for (std::size_t start = 0; start < kCap; ++start) {
    for (std::size_t len = 1; len <= kCap; ++len) {
      SCOPED_TRACE("start " + std::to_string(start) + " length " + std::to_string(len));
      ByteRing ring(kCap);
      ASSERT_TRUE(ring.Write(Bytes(start, '0')));
      ring.Consume(start);
      ASSERT_TRUE(ring.Empty());
      const std::string block = Bytes(len);
      ASSERT_TRUE(ring.Write(block));
      EXPECT_EQ(ring.Free(), kCap - len);
      for (std::size_t off = 0; off < len; ++off) EXPECT_EQ(PeekText(ring, off, len - off), block.substr(off));
      EXPECT_EQ(PeekText(ring, 0, len + 1), "refused");
      EXPECT_EQ(PeekText(ring, 1, len), "refused");
      // Read in two parts, then fill the freed space behind the rest.
      std::string head(len / 2, '#');
      ASSERT_TRUE(ring.Read(head.data(), head.size()));
      EXPECT_EQ(head, block.substr(0, len / 2));
      const std::string more = Bytes(kCap - ring.Used(), 'A');
      ASSERT_TRUE(ring.Write(more));
      EXPECT_EQ(ring.Free(), 0u);
      EXPECT_EQ(ring.TakeAll(), block.substr(len / 2) + more);
    }
  }
}

TEST(ByteRing, ConsumeDropsTheOldestAndClearDropsAll) {
  ByteRing ring(6);
  ASSERT_TRUE(ring.Write("abcdef"));
  ring.Consume(2);
  EXPECT_EQ(ring.Used(), 4u);
  EXPECT_EQ(PeekText(ring, 0, 4), "cdef");
  ASSERT_TRUE(ring.Write("gh"));
  ring.Consume(0);
  EXPECT_EQ(PeekText(ring, 2, 4), "efgh");
  ring.Consume(100);  // more than held: empties the ring
  EXPECT_TRUE(ring.Empty());
  ASSERT_TRUE(ring.Write("xyz"));
  ring.Clear();
  EXPECT_EQ(ring.Free(), 6u);
  ASSERT_TRUE(ring.Write("123456"));
  EXPECT_EQ(ring.TakeAll(), "123456");
}

}  // namespace
}  // namespace mq::serial
