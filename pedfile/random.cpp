#include "pedfile/random.hpp"

#include <cmath>
#include <numbers>

namespace bravik::tools {

double Random::uniform() {
  return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

int Random::integer(int lo, int hi) {
  const std::uint64_t range = static_cast<std::uint64_t>(hi - lo) + 1;
  // Reject the top partial block of the 64-bit range so every value is equally likely.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % range;
  std::uint64_t draw = engine_();
  while (draw >= limit) draw = engine_();
  return lo + static_cast<int>(draw % range);
}

double Random::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  const double u1 = 1.0 - uniform();  // in (0, 1], so the logarithm is finite
  const double u2 = uniform();
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 2.0 * std::numbers::pi * u2;
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

}  // namespace bravik::tools
