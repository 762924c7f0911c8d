// SimRandom: a small, seedable random stream whose values are the same on
// every compiler and standard library (the standard distributions are not),
// so a seed given to marq-sim reproduces exactly which frames are lost.
// Not thread-safe; each stream belongs to one owner.
#pragma once

#include <cstdint>
#include <random>

namespace mqsim {

class SimRandom {
 public:
  // One seed plus a stream number give an independent stream, so the loss
  // of frames to one pad does not depend on what happens to another pad.
  SimRandom(std::uint64_t seed, std::uint64_t stream);

  // Uniform in [0, 1).
  double unit();
  // Uniform integer in [lo, hi] (hi >= lo).
  std::int64_t between(std::int64_t lo, std::int64_t hi);
  // True with probability p (p <= 0 never, p >= 1 always; both still
  // consume one draw so the stream stays aligned).
  bool chance(double p);

 private:
  std::mt19937_64 engine_;
};

}  // namespace mqsim
