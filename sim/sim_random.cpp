#include "sim/sim_random.h"

namespace mqsim {

namespace {
// splitmix64 finaliser: spreads nearby seeds and stream numbers apart.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}
}  // namespace

SimRandom::SimRandom(std::uint64_t seed, std::uint64_t stream) : engine_(mix(mix(seed) ^ mix(stream + 1))) {}

double SimRandom::unit() {
  // The engine's output sequence is fixed by the standard; the mapping to
  // [0, 1) is done here so it is fixed too.
  return static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0);
}

std::int64_t SimRandom::between(std::int64_t lo, std::int64_t hi) {
  const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
  return lo + static_cast<std::int64_t>(engine_() % span);
}

bool SimRandom::chance(double p) {
  const double u = unit();
  return u < p;
}

}  // namespace mqsim
