#include "sim/sim_config.h"

#include <cstring>

namespace mqsim {

SimConfig SimConfig::withAllPads() {
  SimConfig cfg;
  for (const char* p = kPadIdAlphabet; *p != 0; ++p) cfg.pads.push_back(PadConfig{*p, "912", cfg.channel});
  return cfg;
}

int judgeIndexOf(char id) {
  if (id == 0) return -1;
  const char* hit = std::strchr(kPadIdAlphabet, id);
  return hit == nullptr ? -1 : static_cast<int>(hit - kPadIdAlphabet);
}

}  // namespace mqsim
