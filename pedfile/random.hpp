#pragma once
// The random numbers of the tools: std::mt19937_64 as the source, with the
// distributions written out here so that a seed gives the same data with any
// standard library.
#include <cstdint>
#include <random>

namespace bravik::tools {

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  // Uniform on [0, 1), 53 random bits.
  double uniform();
  // Uniform integer in [lo, hi], without modulo bias.
  int integer(int lo, int hi);
  // True with probability p.
  bool chance(double p) { return uniform() < p; }
  // Standard normal deviate (Box-Muller, both values of a pair used).
  double normal();

 private:
  std::mt19937_64 engine_;
  bool has_spare_ = false;
  double spare_ = 0.0;
};

}  // namespace bravik::tools
