// The local search inside a box and the multi-start driver, on closed-form
// objectives.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "optimize/box_search.hpp"
#include "optimize/multistart.hpp"
#include "run/robust.hpp"

namespace {

using bravik::best_of_starts;
using bravik::BoxSearchTolerances;
using bravik::maximize_in_box;
using bravik::spread_over_box;

const double nan_value = std::numeric_limits<double>::quiet_NaN();

// A concave quadratic with a cross term, maximum 3 at (centre0, centre1).
double bowl(std::span<const double> x, double centre0, double centre1) {
  const double u = x[0] - centre0;
  const double v = x[1] - centre1;
  return 3.0 - u * u - 2.0 * v * v - u * v;
}

struct BoxCase {
  const char* name;
  double centre0, centre1;   // the unconstrained maximum
  double expect0, expect1;   // where the search must end
};

void PrintTo(const BoxCase& c, std::ostream* out) { *out << c.name; }

class BoxSearch : public ::testing::TestWithParam<BoxCase> {};

TEST_P(BoxSearch, EndsAtTheMaximumInsideTheClosedBox) {
  const BoxCase c = GetParam();
  const std::vector<double> lower{-1.0, -1.0}, upper{1.0, 2.0}, step{0.1, 0.1};
  std::vector<double> x{0.9, -0.9};
  int calls = 0;
  const auto f = [&](std::span<const double> p) {
    ++calls;
    EXPECT_TRUE(p[0] >= -1.0 && p[0] <= 1.0 && p[1] >= -1.0 && p[1] <= 2.0) << p[0] << " " << p[1];
    return bowl(p, c.centre0, c.centre1);
  };
  const bravik::LocalEnd end = maximize_in_box(f, x, lower, upper, step, BoxSearchTolerances{});
  EXPECT_NEAR(x[0], c.expect0, 1e-4);
  EXPECT_NEAR(x[1], c.expect1, 1e-4);
  EXPECT_EQ(end.value, bowl(x, c.centre0, c.centre1)) << "the value is that of the point left";
  EXPECT_EQ(end.evaluations, calls);
  EXPECT_LT(calls, 500);
}

INSTANTIATE_TEST_SUITE_P(Cases, BoxSearch,
                         ::testing::Values(BoxCase{"inside", 0.25, 0.5, 0.25, 0.5},
                                           // beyond the upper bound of x0: on it, x1 at its best given x0 = 1
                                           BoxCase{"on_a_bound", 3.0, 0.0, 1.0, 0.5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BoxSearchNotANumber, ValuesThatAreNotNumbersAreNeverTheBest) {
  // NaN where x0 > 0.5: the maximum 3 at (0.75, 0) is out of reach; the best
  // lies on the edge of the NaN region.
  const std::vector<double> lower{-1.0, -1.0}, upper{1.0, 1.0}, step{0.2, 0.2};
  std::vector<double> x{-0.5, 0.5};
  const auto f = [](std::span<const double> p) { return p[0] > 0.5 ? nan_value : bowl(p, 0.75, 0.0); };
  const bravik::LocalEnd end = maximize_in_box(f, x, lower, upper, step, BoxSearchTolerances{});
  EXPECT_FALSE(std::isnan(end.value));
  EXPECT_LE(x[0], 0.5);
  EXPECT_EQ(end.value, f(x));
  EXPECT_GT(end.value, bowl(std::vector<double>{-0.5, 0.5}, 0.75, 0.0));
}

TEST(BoxSearchNoCoordinate, EvaluatesOnce) {
  std::vector<double> x;
  int calls = 0;
  const auto f = [&](std::span<const double>) {
    ++calls;
    return -2.5;
  };
  const bravik::LocalEnd end = maximize_in_box(f, x, {}, {}, {}, BoxSearchTolerances{});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(end.evaluations, 1);
  EXPECT_EQ(end.value, -2.5);
}

// A fake local search: climbs to the nearer of two peaks, 1 at -1 and 2 at +2,
// and a start at exactly 0 ends where the value is not a number.
double climb(std::span<double> x) {
  if (x[0] == 0.0) return nan_value;
  x[0] = x[0] < 0.0 ? -1.0 : 2.0;
  return x[0] < 0.0 ? 1.0 : 2.0;
}

TEST(MultiStart, OrdersTheEndPointsBestFirstAndReportsTheSpread) {
  const auto outcome = best_of_starts(climb, {{-3.0}, {0.5}, {-0.2}});
  ASSERT_EQ(outcome.ends.size(), 3U);
  EXPECT_EQ(outcome.best().point, std::vector<double>{2.0});
  EXPECT_EQ(outcome.best().value, 2.0);
  EXPECT_EQ(outcome.best().start, 1U);
  EXPECT_EQ(outcome.ends[1].start, 0U);  // equal values: the earlier start first
  EXPECT_EQ(outcome.ends[2].start, 2U);
  EXPECT_EQ(outcome.ends[2].point, std::vector<double>{-1.0});
  EXPECT_EQ(outcome.spread(), 1.0);
}

TEST(MultiStart, AnEndThatIsNotANumberRanksLowest) {
  const auto outcome = best_of_starts(climb, {{0.0}, {-5.0}});
  EXPECT_EQ(outcome.best().value, 1.0);
  EXPECT_EQ(outcome.best().start, 1U);
  EXPECT_EQ(outcome.ends.back().value, -std::numeric_limits<double>::infinity());
  EXPECT_FALSE(outcome.spread() <= 0.01) << "a failed start is reported as a spread";
}

TEST(SpreadOverBox, OnePointInEverySliceOfEveryCoordinateStrictlyInside) {
  const std::vector<double> lower{0.0, -10.0, 0.25}, upper{1.0, 10.0, 0.5};
  const int count = 8;
  const auto points = spread_over_box(lower, upper, count, 42);
  ASSERT_EQ(points.size(), static_cast<std::size_t>(count));
  for (std::size_t j = 0; j < lower.size(); ++j) {
    std::set<int> slices;
    for (const auto& p : points) {
      ASSERT_EQ(p.size(), lower.size());
      EXPECT_GT(p[j], lower[j]);
      EXPECT_LT(p[j], upper[j]);
      slices.insert(static_cast<int>((p[j] - lower[j]) / (upper[j] - lower[j]) * count));
    }
    EXPECT_EQ(slices.size(), static_cast<std::size_t>(count)) << "coordinate " << j;
  }
}

TEST(SpreadOverBox, TheSeedDecides) {
  const std::vector<double> lower{0.0, 0.0}, upper{1.0, 1.0};
  EXPECT_EQ(spread_over_box(lower, upper, 5, 7), spread_over_box(lower, upper, 5, 7));
  EXPECT_NE(spread_over_box(lower, upper, 5, 7), spread_over_box(lower, upper, 5, 8));
}

TEST(SpreadOverBox, AnIntervalOfOneRepresentableValueGivesPointsInsideIt) {
  // No value lies strictly between the bounds' neighbours: rounding must not
  // give the bounds themselves.
  const double low = 1.0;
  const double high = std::nextafter(std::nextafter(1.0, 2.0), 2.0);
  const auto points = spread_over_box(std::vector<double>{low}, std::vector<double>{high}, 4, 3);
  for (const auto& p : points) {
    EXPECT_GT(p[0], low);
    EXPECT_LT(p[0], high);
  }
}

}  // namespace

namespace {

// The robust mode's note on a pass's starts: only when the best end was
// reached from one start alone, and never with the rejection value in it.
TEST(RobustStartsNote, OnlyWhenTheBestWasReachedFromOneStartAlone) {
  const double rejected = static_cast<double>(-1.0E18f);
  struct Case {
    const char* what;
    std::vector<double> values;  // the ends, best first
    const char* note;            // "" for none
  };
  const std::vector<Case> cases = {
      {"one start", {-10.0}, ""},
      {"two starts at the best", {-10.0, -10.0, -14.0}, ""},
      {"the next within a LOD change of 0.01", {-10.0, -10.02, -30.0}, ""},
      {"the next 1.15 lower", {-10.0, -11.15, -12.0},
       "the best maximum was reached from one of 3 starts only; the next best ended 1.15 lower in log-likelihood (a "
       "LOD change of 0.5); other starts may find a higher maximum"},
      {"the next lower, two rejected", {-10.0, -10.5, rejected, rejected},
       "the best maximum was reached from one of 4 starts only; the next best ended 0.5 lower in log-likelihood (a LOD "
       "change of 0.2174), 2 starts were rejected; other starts may find a higher maximum"},
      {"all others rejected", {-10.0, rejected, rejected},
       "the best maximum was reached from one of 3 starts only; the other starts were rejected; other starts may find "
       "a higher maximum"},
      {"every start rejected", {rejected, rejected}, ""},
  };
  for (const Case& c : cases) {
    bravik::StartsOutcome outcome;
    for (const double v : c.values) outcome.ends.push_back(bravik::StartEnd{{0.5}, v, outcome.ends.size()});
    EXPECT_EQ(bravik::single_best_note(outcome), c.note) << c.what;
  }
}

}  // namespace
