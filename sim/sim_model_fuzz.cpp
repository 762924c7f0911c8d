// Fuzz target: arbitrary host bytes, cut into reads at arbitrary times and
// with radio loss on, must run through the model and its pads without a
// crash or undefined behaviour (build with the sanitizers).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/sim_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mqsim::SimConfig cfg = mqsim::SimConfig::withAllPads();
  cfg.loss = 0.1;
  mqsim::SimModel model(cfg);
  mqsim::Millis t = 0;
  std::size_t i = 0;
  while (i < size) {
    // First byte of each chunk: a time step and a chunk length.
    const std::uint8_t head = data[i++];
    t += head & 0x3F;
    const std::size_t len = std::min<std::size_t>(size - i, 1 + (head >> 6) * 8);
    model.feedHost(t, std::string_view(reinterpret_cast<const char*>(data + i), len));
    i += len;
    model.takeHostOutput();
    model.takeTrace();
  }
  model.advanceTo(t + 10000);
  model.takeHostOutput();
  return 0;
}
