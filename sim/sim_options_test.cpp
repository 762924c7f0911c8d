#include "sim/sim_options.h"

#include <gtest/gtest.h>

namespace mqsim {
namespace {

bool parse(SimOptions& o, std::vector<std::string> args, std::string& error) { return o.parse(args, error); }

TEST(SimOptions, DefaultsDescribeAFullInstallation) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(parse(o, {"--com", "3"}, error)) << error;
  EXPECT_EQ(o.com, 3);
  EXPECT_EQ(o.dataFolder, MQ_DEFAULT_DATA_FOLDER);
  EXPECT_EQ(o.config.pads.size(), 12u);
  EXPECT_EQ(o.config.pads.back().id, 'c');
  EXPECT_EQ(o.config.pads.back().firmware, "912");
  EXPECT_EQ(o.config.ident, "ER400TRS-02V2.01.7");
  EXPECT_EQ(o.config.channel, 7);
  EXPECT_EQ(o.config.bandwidth, '6');
  EXPECT_EQ(o.config.latencyMs, 20);
  EXPECT_TRUE(o.config.autoEntries);
  EXPECT_FALSE(o.trace);
  EXPECT_FALSE(o.seedGiven);
}

TEST(SimOptions, PadsFirmwareAndChannels) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(parse(o,
                    {"--com=12",
                     "--pads",
                     "0,1,3,a",
                     "--firmware",
                     "0=905,3=,a=912",
                     "--channel",
                     "4",
                     "--pad-channel",
                     "a=2",
                     "--bandwidth",
                     "2",
                     "--loss",
                     "0.1",
                     "--latency-ms",
                     "0",
                     "--awards",
                     "manual",
                     "--seed",
                     "77",
                     "--trace",
                     "--ident",
                     "ER400TRS-02V2.01.17",
                     "--data-folder",
                     "/tmp/x",
                     "--control-fifo",
                     "/tmp/x/ctl"},
                    error))
      << error;
  ASSERT_EQ(o.config.pads.size(), 4u);
  EXPECT_EQ(o.config.pads[0].firmware, "905");
  EXPECT_EQ(o.config.pads[1].firmware, "912");
  EXPECT_EQ(o.config.pads[2].firmware, "");
  EXPECT_EQ(o.config.pads[3].firmware, "912");
  EXPECT_EQ(o.config.pads[0].channel, 4);  // pads follow --channel by default
  EXPECT_EQ(o.config.pads[3].channel, 2);
  EXPECT_EQ(o.com, 12);
  EXPECT_EQ(o.config.bandwidth, '2');
  EXPECT_DOUBLE_EQ(o.config.loss, 0.1);
  EXPECT_EQ(o.config.latencyMs, 0);
  EXPECT_FALSE(o.config.autoEntries);
  EXPECT_EQ(o.config.seed, 77u);
  EXPECT_TRUE(o.seedGiven);
  EXPECT_TRUE(o.trace);
  EXPECT_EQ(o.controlFifo, "/tmp/x/ctl");

  SimOptions all;
  ASSERT_TRUE(parse(all, {"--com", "1", "--firmware", "1000", "--pads", "none"}, error)) << error;
  EXPECT_TRUE(all.config.pads.empty());
}

TEST(SimOptions, BadValuesAreRefusedByName) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--com", "0"},
      {"--com", "51"},
      {"--com", "3x"},
      {"--com"},
      {"--com", "3", "--pads", "0,b"},
      {"--com", "3", "--pads", "0,0"},
      {"--com", "3", "--pads", "0,1", "--firmware", "3=905"},
      {"--com", "3", "--firmware", "x=905"},
      {"--com", "3", "--channel", "10"},
      {"--com", "3", "--bandwidth", "4"},
      {"--com", "3", "--loss", "1.5"},
      {"--com", "3", "--loss", "abc"},
      {"--com", "3", "--latency-ms", "-1"},
      {"--com", "3", "--awards", "sometimes"},
      {"--com", "3", "--seed", "-4"},
      {"--com", "3", "--ident", ""},
      {"--com", "3", "--pad-channel", "3=x"},
      {"--com", "3", "--frobnicate", "1"},
      {"--com", "3", "stray"},
  };
  for (const auto& args : bad) {
    SimOptions o;
    std::string error;
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_FALSE(o.parse(args, error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
  }
}

}  // namespace
}  // namespace mqsim
