// SimConfig: everything that describes a simulated installation (base
// station and pads) at start. Plain value type; the command line fills it,
// tests build it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mqsim {

// Pad ids in judge order; judge index = position in this text.
inline constexpr const char* kPadIdAlphabet = "0123456789ac";

struct PadConfig {
  char id = '0';
  std::string firmware = "912";  // may be empty: the pad then reports none
  int channel = 7;
};

struct SimConfig {
  std::string ident = "ER400TRS-02V2.01.7";
  int channel = 7;       // 0 to 9
  char bandwidth = '6';  // '0', '1', '2', '3' or '6'
  bool dcs = false;
  std::vector<PadConfig> pads;
  double loss = 0.0;        // probability per frame and direction
  int latencyMs = 20;       // radio delay per frame
  bool autoEntries = true;  // pads key awards and judge IDs by themselves
  std::uint64_t seed = 1;

  // Pads "0" to "9", "a", "c" on channel 7 with firmware "912".
  static SimConfig withAllPads();
};

// Judge index 0..11 of a pad id, or -1 for anything else.
int judgeIndexOf(char id);

}  // namespace mqsim
