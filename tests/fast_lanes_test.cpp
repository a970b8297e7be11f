// The eight lanes of every machine path against plain arithmetic lane by
// lane: each operation on one vector of eight, two of four or four of two
// lanes gives every lane the bits of the same operation on two numbers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "model/fast/fast_lanes.hpp"

namespace bravik::testing {
namespace {

using fast::FourLanes;
using fast::SplitLanes;
using fast::TwoLanes;

using Values = double[8];

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Lane values that make each operation's rounding, signed zeros, infinities,
// NaN and subnormals show.
void draw(std::mt19937_64& random, Values& v) {
  const double special[] = {0.0, -0.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::denorm_min(), 1e308, -1e-300, 1.0};
  std::uniform_real_distribution<double> uniform(-4.0, 4.0);
  for (double& x : v) x = random() % 5 == 0 ? special[random() % 8] : std::ldexp(uniform(random), int(random() % 41) - 20);
}

// Every operation on lanes L, compared lane by lane with the operation on
// numbers; what names the lanes in messages.
template <class L>
void expect_lane_by_lane(const Values& a, const Values& b, double s, const std::string& what) {
  const L la = fast::lanes_from<L>(a);
  const L lb = fast::lanes_from<L>(b);
  const L results[] = {la + lb, la - lb, la * lb, la / lb, la * s, s * la, s + la, la - s, la / s, fast::largest_of(la, lb)};
  const char* names[] = {"a+b", "a-b", "a*b", "a/b", "a*s", "s*a", "s+a", "a-s", "a/s", "largest"};
  bool finite = true;
  for (int l = 0; l < 8; ++l) {
    const double expected[] = {a[l] + b[l], a[l] - b[l], a[l] * b[l], a[l] / b[l], a[l] * s,
                               s * a[l],    s + a[l],    a[l] - s,    a[l] / s,    a[l] > b[l] ? a[l] : b[l]};
    for (int op = 0; op < 10; ++op) {
      EXPECT_TRUE(same_bits(fast::lane(results[op], l), expected[op]) ||
                  (std::isnan(fast::lane(results[op], l)) && std::isnan(expected[op])))
          << what << " " << names[op] << " lane " << l << ": " << fast::lane(results[op], l) << " vs " << expected[op];
    }
    finite = finite && std::isfinite(a[l]);
  }
  EXPECT_EQ(fast::all_finite(la), finite) << what;
  EXPECT_TRUE(same_bits(fast::lane(fast::splat<L>(s), 5), s)) << what;
  L changed = la;
  fast::set_lane(changed, 6, s);
  for (int l = 0; l < 8; ++l) EXPECT_TRUE(same_bits(fast::lane(changed, l), l == 6 ? s : a[l])) << what << " set lane " << l;
}

TEST(FastLanes, EveryPathsLanesComputeLaneByLane) {
  std::mt19937_64 random(8);
  for (int draw_number = 0; draw_number < 400; ++draw_number) {
    Values a;
    Values b;
    Values scalar;
    draw(random, a);
    draw(random, b);
    draw(random, scalar);
    const std::string what = "draw " + std::to_string(draw_number);
    expect_lane_by_lane<ClassLanes>(a, b, scalar[0], what + ", one vector of eight");
    expect_lane_by_lane<SplitLanes<FourLanes, 2>>(a, b, scalar[0], what + ", two of four");
    expect_lane_by_lane<SplitLanes<TwoLanes, 4>>(a, b, scalar[0], what + ", four of two");
  }
}

// Stored eight lanes read as split lanes see the same lanes, part by part.
TEST(FastLanes, StoredLanesReadAsPartsOfThePath) {
  ClassVector stored;
  for (int l = 0; l < 8; ++l) stored.lanes[l] = 1.5 * l - 2.0;
  const auto& four = fast::lanes_at<SplitLanes<FourLanes, 2>>(stored.lanes);
  const auto& two = fast::lanes_at<SplitLanes<TwoLanes, 4>>(stored.lanes);
  for (int l = 0; l < 8; ++l) {
    EXPECT_EQ(fast::part_of(four, l / 4)[l % 4], stored.lanes[l]) << l;
    EXPECT_EQ(fast::part_of(two, l / 2)[l % 2], stored.lanes[l]) << l;
  }
  auto& writable = fast::lanes_at<SplitLanes<TwoLanes, 4>>(stored.lanes);
  fast::set_part(writable, 3, TwoLanes{10.0, 11.0});
  EXPECT_EQ(stored.lanes[6], 10.0);
  EXPECT_EQ(stored.lanes[7], 11.0);
  EXPECT_EQ(stored.lanes[5], 1.5 * 5 - 2.0);
}

}  // namespace
}  // namespace bravik::testing
