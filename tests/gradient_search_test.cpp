// The gradient search inside a box on closed-form objectives, with each
// method, and the starts read off a trait distribution.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "optimize/gradient_search.hpp"
#include "run/trait_starts.hpp"

namespace {

using bravik::GradientEnd;
using bravik::GradientMethod;
using bravik::GradientSearchSettings;
using bravik::maximize_with_gradient;

// A concave quadratic with a cross term, maximum 3 at (centre0, centre1), in
// coordinates whose natural scales differ by `stretch`.
struct Bowl {
  double centre0, centre1, stretch;
  double operator()(std::span<const double> x, std::span<double> g) const {
    const double u = x[0] - centre0;
    const double v = (x[1] - centre1) / stretch;
    g[0] = -2.0 * u - v;
    g[1] = (-4.0 * v - u) / stretch;
    return 3.0 - u * u - 2.0 * v * v - u * v;
  }
};

struct SearchCase {
  const char* name;
  GradientMethod method;
  Bowl bowl;
  double expect0, expect1;  // where the search must end
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class GradientSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(GradientSearch, EndsAtTheMaximumInsideTheClosedBox) {
  const SearchCase c = GetParam();
  const std::vector<double> lower{-1.0, -100.0}, upper{1.0, 200.0}, scale{0.1, 10.0};
  std::vector<double> x{5.0, -90.0};  // moved into the box first
  int calls = 0;
  const auto f = [&](std::span<const double> p, std::span<double> g) {
    ++calls;
    EXPECT_TRUE(p[0] >= -1.0 && p[0] <= 1.0 && p[1] >= -100.0 && p[1] <= 200.0) << p[0] << " " << p[1];
    return c.bowl(p, g);
  };
  GradientSearchSettings settings;
  settings.method = c.method;
  const GradientEnd end = maximize_with_gradient(f, x, lower, upper, scale, settings);
  EXPECT_NEAR(x[0], c.expect0, 1e-4);
  EXPECT_NEAR(x[1], c.expect1, 1e-2);
  std::vector<double> g(2);
  EXPECT_EQ(end.value, c.bowl(x, g)) << "the value is that of the point left";
  EXPECT_EQ(end.evaluations, calls);
  EXPECT_FALSE(end.at_limit);
  EXPECT_LT(calls, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GradientSearch,
    ::testing::Values(SearchCase{"lbfgs_inside", GradientMethod::lbfgs, {0.25, 50.0, 10.0}, 0.25, 50.0},
                      SearchCase{"slsqp_inside", GradientMethod::slsqp, {0.25, 50.0, 10.0}, 0.25, 50.0},
                      SearchCase{"mma_inside", GradientMethod::mma, {0.25, 50.0, 10.0}, 0.25, 50.0},
                      // beyond the upper bound of x0: on it, x1 at its best given x0 = 1 (v = 0.5)
                      SearchCase{"lbfgs_on_a_bound", GradientMethod::lbfgs, {3.0, 0.0, 10.0}, 1.0, 5.0},
                      SearchCase{"slsqp_on_a_bound", GradientMethod::slsqp, {3.0, 0.0, 10.0}, 1.0, 5.0}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

// Values that are not numbers rank below every number: the search keeps the
// best point it evaluated and never reports a value that is not a number.
TEST(GradientSearchEdges, NotNumbersAreNeverTheBestPoint) {
  const std::vector<double> lower{-2.0}, upper{2.0}, scale{1.0};
  std::vector<double> x{-1.5};
  const auto f = [](std::span<const double> p, std::span<double> g) {
    g[0] = -2.0 * (p[0] - 1.0);
    return p[0] > 1.5 ? std::numeric_limits<double>::quiet_NaN() : -(p[0] - 1.0) * (p[0] - 1.0);
  };
  const GradientEnd end = maximize_with_gradient(f, x, lower, upper, scale, {});
  EXPECT_FALSE(std::isnan(end.value));
  EXPECT_NEAR(x[0], 1.0, 1e-4);
}

TEST(GradientSearchEdges, LimitOfNoEvaluationEvaluatesTheStartOnce) {
  const std::vector<double> lower{-1.0}, upper{1.0}, scale{1.0};
  std::vector<double> x{0.5};
  int calls = 0;
  const auto f = [&](std::span<const double> p, std::span<double> g) {
    ++calls;
    g[0] = -p[0];
    return -p[0] * p[0];
  };
  GradientSearchSettings settings;
  settings.evaluation_limit = 0;
  const GradientEnd end = maximize_with_gradient(f, x, lower, upper, scale, settings);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(end.at_limit);
  EXPECT_EQ(x[0], 0.5);
  EXPECT_EQ(end.value, -0.25);
}

// Two bumps, maxima near -1 and near +1 (the higher): a search that comes within
// the join radius of a known maximum, at a value not above it, stops and ends
// there; one in the other basin, or rising above the known value, does not.
struct JoinCase {
  const char* name;
  double start, known_value_shift;  // the known maximum's value: its true value plus the shift
  int expect_joined;
  double expect_end;
};

void PrintTo(const JoinCase& c, std::ostream* out) { *out << c.name; }

class GradientSearchJoin : public ::testing::TestWithParam<JoinCase> {};

TEST_P(GradientSearchJoin, StopsAtAKnownMaximumOfTheBasin) {
  const JoinCase c = GetParam();
  const auto f = [](std::span<const double> p, std::span<double> g) {
    const double high = std::exp(-2.0 * (p[0] - 1.0) * (p[0] - 1.0));
    const double low = 0.8 * std::exp(-2.0 * (p[0] + 1.0) * (p[0] + 1.0));
    g[0] = -4.0 * (p[0] - 1.0) * high - 4.0 * (p[0] + 1.0) * low;
    return high + low;
  };
  const std::vector<double> lower{-3.0}, upper{3.0}, scale{1.0};
  std::vector<double> top{1.0125}, g(1);  // close to the maximum, not on it
  bravik::KnownMaxima known{{top}, {f(top, g) + c.known_value_shift}};
  GradientSearchSettings settings;
  settings.join_radius = 0.5;
  std::vector<double> x{c.start}, alone{c.start};
  const GradientEnd end = maximize_with_gradient(f, x, lower, upper, scale, settings, &known);
  const GradientEnd unaided = maximize_with_gradient(f, alone, lower, upper, scale, settings);
  EXPECT_EQ(end.joined, c.expect_joined);
  EXPECT_NEAR(x[0], c.expect_end, 1e-3);
  if (c.expect_joined >= 0) {
    EXPECT_EQ(x[0], top[0]) << "the known point itself";
    EXPECT_EQ(end.value, known.values[0]);
    EXPECT_LT(end.evaluations, unaided.evaluations);
  } else {
    EXPECT_EQ(end.evaluations, unaided.evaluations) << "the same search as without known maxima";
    EXPECT_EQ(x[0], alone[0]);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GradientSearchJoin,
                         ::testing::Values(JoinCase{"joins_from_its_basin", 1.8, 0.0, 0, 1.0125},
                                           JoinCase{"other_basin_searched_on", -1.8, 0.0, -1, -1.0},
                                           JoinCase{"rising_above_the_known_value", 1.8, -0.5, -1, 1.0}),
                         [](const ::testing::TestParamInfo<JoinCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Starts from the trait distribution.

// The starts expected for one q: the split in the genotype order, then the
// heterozygotes' block at the low end and at the high end of the traits.
struct SplitCase {
  const char* name;
  std::vector<double> traits;  // sorted
  double q;
  bravik::TraitStart expected[3];
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.name; }

class TraitStarts : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TraitStarts, SplitTheSortedTraitsInTheGenotypeProportions) {
  const SplitCase c = GetParam();
  const std::vector<double> frequencies{c.q};
  const std::vector<bravik::TraitStart> starts = bravik::trait_starts(c.traits, frequencies);
  ASSERT_EQ(starts.size(), 4U);
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(starts[s].q, c.q);
    for (int g = 0; g < 3; ++g) EXPECT_DOUBLE_EQ(starts[s].means[g], c.expected[s].means[g]) << s << ", genotype " << g;
    EXPECT_DOUBLE_EQ(starts[s].variance, c.expected[s].variance) << s;
  }
  // The start with no major gene: the overall mean, the total variance.
  double mean = 0.0;
  for (const double y : c.traits) mean += y;
  mean /= static_cast<double>(c.traits.size());
  double total = 0.0;
  for (const double y : c.traits) total += (y - mean) * (y - mean);
  EXPECT_EQ(starts[3].q, 0.5);
  for (int g = 0; g < 3; ++g) EXPECT_DOUBLE_EQ(starts[3].means[g], mean);
  EXPECT_DOUBLE_EQ(starts[3].variance, total / static_cast<double>(c.traits.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraitStarts,
    ::testing::Values(
        // q = 0.5 on eight traits: 2 of genotype 22, 4 of 12, 2 of 11; the
        // four heterozygotes below or above the four homozygotes.
        SplitCase{"half",
                  {1, 2, 3, 4, 5, 6, 7, 8},
                  0.5,
                  {{0.5, {7.5, 4.5, 1.5}, (0.5 + 5.0 + 0.5) / 8.0},
                   {0.5, {6.5, 2.5, 6.5}, 10.0 / 8.0},
                   {0.5, {2.5, 6.5, 2.5}, 10.0 / 8.0}}},
        // q = 0.1 on ten traits: 8 of 22, 2 of 12, none of 11 (which takes the
        // 12 mean); two heterozygotes at either end.
        SplitCase{"rare allele 1",
                  {0, 0, 0, 0, 0, 0, 0, 0, 10, 12},
                  0.1,
                  {{0.1, {11, 11, 0}, 2.0 / 10.0},
                   {0.1, {2.75, 0, 2.75}, (6 * 2.75 * 2.75 + 7.25 * 7.25 + 9.25 * 9.25) / 10.0},
                   {0.1, {0, 11, 0}, 2.0 / 10.0}}},
        // q = 0.9 on ten traits: none of 22 (which takes the 12 mean), 2 of 12,
        // 8 of 11.
        SplitCase{"common allele 1",
                  {0, 2, 5, 5, 5, 5, 5, 5, 5, 5},
                  0.9,
                  {{0.9, {5, 1, 1}, 2.0 / 10.0}, {0.9, {5, 1, 5}, 2.0 / 10.0}, {0.9, {4, 5, 4}, 26.0 / 10.0}}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) ch = ch == ' ' ? '_' : ch;
      return name;
    });

TEST(TraitStartsEdges, NoStartWithoutTwoTraits) {
  const std::vector<double> one{4.0};
  const std::vector<double> frequencies{0.5};
  EXPECT_TRUE(bravik::trait_starts(one, frequencies).empty());
}

}  // namespace
