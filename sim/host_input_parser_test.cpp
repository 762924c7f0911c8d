#include "sim/host_input_parser.h"

#include <gtest/gtest.h>

namespace mqsim {
namespace {

using Kind = HostUnit::Kind;

std::vector<std::pair<Kind, std::string>> flat(const std::vector<HostUnit>& units) {
  std::vector<std::pair<Kind, std::string>> out;
  for (const auto& u : units) out.emplace_back(u.kind, u.bytes);
  return out;
}

TEST(HostInputParser, CutsCommandsAcksAndFrames) {
  HostInputParser p;
  const auto units = flat(p.feed(0, std::string("ER_CMD#T3ACKER_CMD#A01\x02"
                                                "3J3\x1b"
                                                "13\x04")));
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[0], std::make_pair(Kind::Command, std::string("ER_CMD#T3")));
  EXPECT_EQ(units[1], std::make_pair(Kind::Ack, std::string("ACK")));
  EXPECT_EQ(units[2], std::make_pair(Kind::Command, std::string("ER_CMD#A01")));
  EXPECT_EQ(units[3], std::make_pair(Kind::Frame, std::string("\x02"
                                                              "3J3\x1b"
                                                              "13\x04")));
  EXPECT_FALSE(p.deadline());
}

TEST(HostInputParser, UnitsSplitOverSeveralReadsAreJoined) {
  HostInputParser p;
  EXPECT_TRUE(p.feed(0, "ER_CM").empty());
  EXPECT_EQ(p.deadline(), HostInputParser::kStaleMs);
  EXPECT_TRUE(p.feed(3, "D#C").empty());
  const auto units = flat(p.feed(5,
                                 "?\x02"
                                 "1\x1b"));
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].second, "ER_CMD#C?");
  const auto more = flat(p.feed(6, std::string("3\x04", 2)));
  ASSERT_EQ(more.size(), 1u);
  EXPECT_EQ(more[0], std::make_pair(Kind::Frame, std::string("\x02"
                                                             "1\x1b"
                                                             "3\x04")));
}

TEST(HostInputParser, GarbageNeverSwallowsTheNextUnit) {
  HostInputParser p;
  // Noise, a broken prefix, a half "ACK", a frame cut by a second STX and
  // a frame without EOT followed by a command: every valid unit survives.
  const std::string in = std::string("\x01\xffzz") + "ER_CMX" + "AC" +
                         "\x02"
                         "3J" +
                         "\x02"
                         "3\x1b"
                         "3\x04" +
                         "\x02"
                         "5J5" +
                         "ER_CMD#B?";
  const auto units = flat(p.feed(0, in));
  std::vector<std::pair<Kind, std::string>> good;
  for (const auto& u : units)
    if (u.first != Kind::Junk) good.push_back(u);
  ASSERT_EQ(good.size(), 2u);
  EXPECT_EQ(good[0], std::make_pair(Kind::Frame, std::string("\x02"
                                                             "3\x1b"
                                                             "3\x04")));
  EXPECT_EQ(good[1], std::make_pair(Kind::Command, std::string("ER_CMD#B?")));
  std::string junk;
  for (const auto& u : units)
    if (u.first == Kind::Junk) junk += u.second;
  EXPECT_EQ(junk, std::string("\x01\xffzz") + "ER_CMX" + "AC" +
                      "\x02"
                      "3J" +
                      "\x02"
                      "5J5");
}

TEST(HostInputParser, IncompleteUnitExpiresAsJunk) {
  HostInputParser p;
  p.feed(100,
         "\x02"
         "3J3");
  EXPECT_FALSE(p.expire(149));
  const auto stale = p.expire(150);
  ASSERT_TRUE(stale);
  EXPECT_EQ(stale->kind, Kind::Junk);
  EXPECT_EQ(stale->bytes,
            "\x02"
            "3J3");
  EXPECT_FALSE(p.deadline());
  // A late feed closes the stale unit first, then parses normally.
  p.feed(200, "ER_CMD#");
  const auto units = flat(p.feed(300, "T3"));
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], std::make_pair(Kind::Junk, std::string("ER_CMD#")));
  EXPECT_EQ(units[1], std::make_pair(Kind::Junk, std::string("T3")));
}

TEST(HostInputParser, OverlongFrameIsDropped) {
  HostInputParser p;
  const auto units = flat(p.feed(0, "\x02" + std::string(HostInputParser::kMaxFrame + 10, 'x') + "\x04"));
  ASSERT_FALSE(units.empty());
  for (const auto& u : units) EXPECT_EQ(u.first, Kind::Junk);
}

}  // namespace
}  // namespace mqsim
