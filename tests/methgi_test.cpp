// The pattern search on small closed-form objectives. The exact counts and
// points below come from tracing the search by hand; the objectives and
// steps are chosen so that every trial point is exact in binary.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "optimize/methgi.hpp"
#include "test_support.hpp"

namespace {

using bravik::methgi;
using bravik::Objective;
using bravik::optpar1_block;
using bravik::testing::read_file;
using bravik::testing::ScratchDir;

constexpr int n_model = 7;  // parameter positions the main flows pass
constexpr double rejection = -999999984306749440.0;
constexpr double untouched = 12345.0;  // flnl before the call
const double nan_value = std::numeric_limits<double>::quiet_NaN();

struct Settings {
  double epsf = 1e-6;
  double rlx = 0.5;
  double epsx = 1e-4;
  int maxit = 50;
};

// A parameter record with every position fixed at 0 and flnl preset.
optpar1_block fixed_record() {
  optpar1_block o;
  for (int i = 1; i <= bravik::N_PAR; ++i) {
    o.par(i) = 0.0;
    o.dpar(i) = 0.1;
    o.ifree(i) = 0;
    o.parlo(i) = -10.0;
    o.parhi(i) = 10.0;
  }
  o.flnl = untouched;
  o.niter = -1;
  o.nfun = -1;
  return o;
}

void set_free(optpar1_block& o, int i, double start, double step, int flag = 1) {
  o.par(i) = start;
  o.dpar(i) = step;
  o.ifree(i) = flag;
}

bravik::SearchEnd run(optpar1_block& o, const Settings& s, const Objective& fcn, int n = n_model) {
  textio::Channels channels;
  return methgi(n, s.epsf, s.rlx, s.epsx, s.maxit, 0, fcn, o, channels);
}

// -(x - 1)^2 in parameter 1.
double parabola(double x) { return -(x - 1.0) * (x - 1.0); }

Objective parabola_of(const optpar1_block& o) {
  return [&o](double& value) { value = parabola(o.par(1)); };
}

// The notices of channel 25 in the scratch directory, empty when none was written.
std::string written_notices() { return read_file("fort.25"); }

// Start 0, step -0.25 on the parabola. Iteration 1: trial 0.25 succeeds
// (step -0.375), pattern point 0.5 succeeds. Iteration 2: trial 0.875
// succeeds (step -0.5625); pattern 1.5 and its first pull 1.1875 fail, the
// second pull 1.03125 succeeds. Iteration 3: trials 1.59375 and 0.46875 fail
// (step 0.28125); the pattern 1.1875 and its ten pulls towards 1.03125 all
// fail; halving goes on and the extra evaluation at 1.03125 + 0.15625/1024 is
// taken as F although it is lower. Iteration 4: the halved step 0.140625
// fails both ways (step -0.0703125); the pattern and its pulls fail again.
// The best point of the trace is 1.03125, value -0.0009765625.
class ParabolaTrace : public ::testing::Test {
 protected:
  optpar1_block o = fixed_record();
  Settings s;
  void SetUp() override { set_free(o, 1, 0.0, -0.25); }
};

TEST_F(ParabolaTrace, GainBelowEpsfEndsAtThePatternPoint) {
  s.epsf = 0.5;  // iteration 2 gains 0.249 over F_prev = -0.25
  run(o, s, parabola_of(o));
  EXPECT_EQ(o.niter, 2);
  EXPECT_EQ(o.nfun, 7);
  EXPECT_EQ(o.par(1), 1.03125);
  EXPECT_EQ(o.dpar(1), -0.5625);
  EXPECT_EQ(o.flnl, -0.0009765625);
}

TEST_F(ParabolaTrace, SmallStepEndsTheFirstIteration) {
  s.epsx = 1.0;  // |-0.375| <= |0.5 * 1|
  run(o, s, parabola_of(o));
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 3);
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.dpar(1), -0.375);
  EXPECT_EQ(o.flnl, -0.25);
}

TEST_F(ParabolaTrace, GainThatIsNotANumberEndsEvenTheFirstIteration) {
  s.epsf = nan_value;
  run(o, s, parabola_of(o));
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 3);
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.flnl, -0.25);
}

TEST_F(ParabolaTrace, TenFailedTriesEndWithTheBestPointNotTheExtraEvaluation) {
  s.epsx = 0.3;  // the step 0.28125 of iteration 3 is small next to 1.0317
  run(o, s, parabola_of(o));
  EXPECT_EQ(o.niter, 3);
  EXPECT_EQ(o.nfun, 20);
  EXPECT_EQ(o.par(1), 1.03125);  // not the extra evaluation's 1.03125 + 0.15625/1024
  EXPECT_EQ(o.dpar(1), 0.28125);
  EXPECT_EQ(o.flnl, -0.0009765625);
}

// The iteration limit leaves the halved step of the last iteration, the best
// point of the whole search, its value and the notice.
TEST_F(ParabolaTrace, IterationLimitReportsTheBestPointFound) {
  ScratchDir dir;
  s.maxit = 3;
  const bravik::SearchEnd end = run(o, s, parabola_of(o));
  EXPECT_EQ(end, bravik::SearchEnd::iteration_limit);
  EXPECT_EQ(o.niter, 4);
  EXPECT_EQ(o.nfun, 33);  // 20 after iteration 3, then 2 trials, 10 tries, 1 extra
  EXPECT_EQ(o.par(1), 1.03125);
  EXPECT_EQ(o.dpar(1), -0.0703125);
  EXPECT_EQ(o.flnl, -0.0009765625);
  EXPECT_EQ(written_notices(), " MAXIMUM NOT FOUND\n");
}

TEST_F(ParabolaTrace, ZeroIterationLimitStopsAfterTheFirstIteration) {
  ScratchDir dir;
  s.maxit = 0;
  EXPECT_EQ(run(o, s, parabola_of(o)), bravik::SearchEnd::iteration_limit);
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 3);
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.dpar(1), -0.375);
  EXPECT_EQ(o.flnl, -0.25);
  EXPECT_EQ(written_notices(), " MAXIMUM NOT FOUND\n");
}

TEST_F(ParabolaTrace, FlagTwoCountsTwiceSoOnlyTheLimitEndsIt) {
  ScratchDir dir;
  o.ifree(1) = 2;
  s.epsx = 1.0;  // met at once with flag 1 (see SmallStepEndsTheFirstIteration)
  s.maxit = 3;
  EXPECT_EQ(run(o, s, parabola_of(o)), bravik::SearchEnd::iteration_limit);
  EXPECT_EQ(o.niter, 4);
  EXPECT_EQ(o.nfun, 33);
  EXPECT_EQ(o.flnl, -0.0009765625);
  EXPECT_EQ(written_notices(), " MAXIMUM NOT FOUND\n");
}

TEST_F(ParabolaTrace, FlagTwoEndsByTheGainTest) {
  o.ifree(1) = 2;
  s.epsx = 1.0;
  s.epsf = 0.5;
  run(o, s, parabola_of(o));
  EXPECT_EQ(o.niter, 2);
  EXPECT_EQ(o.nfun, 7);
  EXPECT_EQ(o.flnl, -0.0009765625);
}

// Objective of two parameters with a cross term; optimum at (1, -0.5).
double bowl(double x, double y) {
  const double u = x - 1.0;
  const double v = y + 0.5;
  return -(u * u) - 2.0 * (v * v) - u * v;
}

TEST(MethgiConvergence, ConcaveQuadraticEndsNearItsOptimum) {
  optpar1_block o = fixed_record();
  set_free(o, 2, 0.0, 0.1);
  set_free(o, 4, 0.0, 0.1);
  o.par(3) = 7.0;  // fixed: never moved
  Settings s;
  s.epsf = 1e-12;
  s.epsx = 1e-6;
  s.maxit = 500;
  run(o, s, [&o](double& value) { value = bowl(o.par(2), o.par(4)); });
  ASSERT_NE(o.flnl, untouched) << "the search did not converge";
  EXPECT_GT(o.niter, 1);
  EXPECT_LE(o.niter, s.maxit);
  EXPECT_EQ(o.flnl, bowl(o.par(2), o.par(4)));
  EXPECT_NEAR(o.par(2), 1.0, 1e-3);
  EXPECT_NEAR(o.par(4), -0.5, 1e-3);
  EXPECT_EQ(o.par(3), 7.0);
  EXPECT_EQ(o.dpar(3), 0.1);
}

TEST(MethgiConvergence, TiedParameterIsReadAfterEachCall) {
  // The objective ties parameter 3 to parameter 1, as tied model parameters are.
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, 0.1);
  o.par(3) = -4.0;
  Settings s;
  s.epsf = 1e-12;
  s.epsx = 1e-6;
  s.maxit = 500;
  run(o, s, [&o](double& value) {
    o.par(3) = o.par(1);
    value = parabola(o.par(1)) + parabola(o.par(3));
  });
  ASSERT_NE(o.flnl, untouched);
  EXPECT_EQ(o.par(3), o.par(1));
  EXPECT_NEAR(o.par(1), 1.0, 1e-3);
  EXPECT_EQ(o.flnl, 2.0 * parabola(o.par(1)));
}

TEST(MethgiNoFreeParameter, TenTriesAndOneMoreAtTheStart) {
  optpar1_block o = fixed_record();
  o.par(1) = 0.25;
  int calls = 0;
  run(o, Settings{}, [&](double& value) {
    ++calls;
    value = parabola(o.par(1));
  });
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 12);
  EXPECT_EQ(calls, 12);
  EXPECT_EQ(o.flnl, -0.5625);
  EXPECT_EQ(o.par(1), 0.25);
}

TEST(MethgiNoFreeParameter, OppositeFlagsSumToZero) {
  // Flags 1 and -1: both are explored, but m = 0 meets the step test at once.
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, -0.25, 1);
  set_free(o, 2, 0.0, -0.25, -1);
  run(o, Settings{}, [&o](double& value) { value = parabola(o.par(1)) + parabola(o.par(2)); });
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 4);  // start, one success each, the pattern point (0.5, 0.5)
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.par(2), 0.5);
  EXPECT_EQ(o.flnl, -0.5);
}

// Rejected starts: one evaluation, no iteration, flnl as the caller left it.
class MethgiStart : public ::testing::TestWithParam<double> {};

TEST_P(MethgiStart, RejectedStartEndsAtOnce) {
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.5, 0.1);
  int calls = 0;
  const double start = GetParam();
  run(o, Settings{}, [&](double& value) {
    ++calls;
    value = start;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(o.niter, 0);
  EXPECT_EQ(o.nfun, 1);
  EXPECT_EQ(o.flnl, untouched);
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.dpar(1), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Values, MethgiStart,
                         ::testing::Values(rejection, -1e17, -std::numeric_limits<double>::infinity(),
                                           nan_value));

TEST(MethgiStartAccepted, ValueJustAboveTheRejectionLimitIsSearched) {
  optpar1_block o = fixed_record();
  int calls = 0;
  run(o, Settings{}, [&](double& value) {
    ++calls;
    value = -9.9e16;
  });
  EXPECT_EQ(calls, 12);  // no free parameter: see MethgiNoFreeParameter
  EXPECT_EQ(o.flnl, -9.9e16);
}

TEST(MethgiArguments, OutOfRangeCountEvaluatesNothing) {
  ScratchDir dir;
  for (int n : {0, -3, bravik::N_PAR + 1}) {
    optpar1_block o = fixed_record();
    int calls = 0;
    run(o, Settings{}, [&](double& value) {
      ++calls;
      value = 0.0;
    }, n);
    EXPECT_EQ(calls, 0) << n;
    EXPECT_EQ(o.niter, -1) << n;
    EXPECT_EQ(o.nfun, -1) << n;
  }
  const std::string notices = written_notices();
  EXPECT_FALSE(notices.empty());
  EXPECT_EQ(notices.find('\n'), notices.size() - 1) << "one notice, for n > 15 only";
}

// Objective x on the open interval (-|bound|, |bound|), the rejection value on
// and outside it; side +1 drives the search to the upper bound, -1 to the lower.
struct BoundCase {
  double bound;  // > 0
  int side;
};

void PrintTo(const BoundCase& c, std::ostream* out) { *out << "bound " << c.bound << " side " << c.side; }

class MethgiBound : public ::testing::TestWithParam<BoundCase> {
 protected:
  optpar1_block o = fixed_record();
  Objective towards_bound() {
    const BoundCase c = GetParam();
    o.parlo(1) = -c.bound;
    o.parhi(1) = c.bound;
    return [this, c](double& value) {
      const double x = o.par(1);
      value = (x <= -c.bound || x >= c.bound) ? rejection : c.side * x;
    };
  }
  // Starts so that the first trial lands on `first` (2^-30 away), and the
  // pattern point 2 * first - start lies beyond the bound.
  void start_before(double first) {
    const double step = std::ldexp(1.0, -30);
    set_free(o, 1, first - GetParam().side * step, -GetParam().side * step);
  }
};

// Bounds of magnitude up to 0.125, where 1e-17 is at least half a unit in the last place.
class MethgiSmallBound : public MethgiBound {};
// Bounds above 0.125, where the offset 1e-17 is lost in rounding.
class MethgiLargeBound : public MethgiBound {};

TEST_P(MethgiSmallBound, ClippedPatternPointStaysInside) {
  const int side = GetParam().side;
  const double bound = side * GetParam().bound;
  Objective fcn = towards_bound();
  start_before(bound - side * std::ldexp(1.0, -40));
  run(o, Settings{}, fcn);
  // Trial, then the pattern point clipped to bound -+ 1e-17 (one unit in the
  // last place inside), which succeeds; the step 1.5 * 2^-30 is below 1e-6.
  const double clipped = side > 0 ? bound - 1e-17 : bound + 1e-17;
  EXPECT_EQ(clipped, std::nextafter(bound, 0.0));
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 3);
  EXPECT_EQ(o.par(1), clipped);
  EXPECT_EQ(o.dpar(1), -side * 1.5 * std::ldexp(1.0, -30));
  EXPECT_EQ(o.flnl, side * clipped);
}

TEST_P(MethgiLargeBound, LostOffsetEndsAtTheBestPointInside) {
  const int side = GetParam().side;
  const double bound = side * GetParam().bound;
  Objective fcn = towards_bound();
  const double inside = std::nextafter(bound, 0.0);
  start_before(inside);
  EXPECT_EQ(run(o, Settings{}, fcn), bravik::SearchEnd::converged);
  // The clipped pattern point is the bound itself; each pull halfway to the
  // base one unit inside rounds (to even) back onto the bound, so all ten
  // tries and the extra evaluation are rejected; the small step then ends
  // the search, which reports the first trial, one unit inside the bound.
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 13);
  EXPECT_EQ(o.par(1), inside);
  EXPECT_EQ(o.flnl, side * inside);
}

INSTANTIATE_TEST_SUITE_P(Bounds, MethgiSmallBound,
                         ::testing::Values(BoundCase{0.1, 1}, BoundCase{0.1, -1}, BoundCase{0.125, 1}));
INSTANTIATE_TEST_SUITE_P(Bounds, MethgiLargeBound,
                         ::testing::Values(BoundCase{0.5, 1}, BoundCase{0.5, -1}));

// Objective values that are not numbers rank below every number.
TEST(MethgiNotANumber, ExploratoryTrialFailsLikeAWorseValue) {
  // NaN below 0: the first trial -0.25 fails, the second 0.25 succeeds with
  // step 1.5 * -0.125, the pattern point 0.5 succeeds, and |-0.1875| <= 0.5.
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, 0.25);
  Settings s;
  s.epsx = 1.0;
  run(o, s, [&o](double& value) { value = o.par(1) < 0.0 ? nan_value : parabola(o.par(1)); });
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 4);
  EXPECT_EQ(o.par(1), 0.5);
  EXPECT_EQ(o.dpar(1), -0.1875);
  EXPECT_EQ(o.flnl, -0.25);
}

// The parabola with NaN on [0.4, 0.6), where the first pattern point falls.
Objective parabola_with_gap(const optpar1_block& o) {
  return [&o](double& value) {
    const double x = o.par(1);
    value = (x >= 0.4 && x < 0.6) ? nan_value : parabola(x);
  };
}

TEST(MethgiNotANumber, PatternTryFailsAndIsPulledBack) {
  // Trial 0.25 succeeds (step -0.375); the pattern point 0.5 is NaN, a failed
  // try; its pull 0.375 succeeds and |-0.375| <= |0.375 * 1| ends the search.
  // Counted as a success, the NaN would end it at the base 0.25 instead.
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, -0.25);
  Settings s;
  s.epsx = 1.0;
  run(o, s, parabola_with_gap(o));
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 4);
  EXPECT_EQ(o.par(1), 0.375);
  EXPECT_EQ(o.flnl, -0.390625);
}

TEST(MethgiNotANumber, SearchGoesOnPastAPatternGap) {
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, -0.25);
  Settings s;
  s.epsx = 1e-6;
  s.maxit = 500;
  run(o, s, parabola_with_gap(o));
  ASSERT_NE(o.flnl, untouched);
  EXPECT_NEAR(o.par(1), 1.0, 1e-3);
  EXPECT_EQ(o.flnl, parabola(o.par(1)));
  EXPECT_GT(o.flnl, -1e-6);  // the literal rule stops at -0.5625
}

TEST(MethgiNotANumber, ExtraEvaluationIsNotTakenAsTheBestValue) {
  // Call 20 is the extra evaluation after ten failed tries in iteration 3 of
  // the parabola trace. Taken as F, a NaN would fail every later comparison
  // and end the search in iteration 4 near -0.001.
  optpar1_block o = fixed_record();
  set_free(o, 1, 0.0, -0.25);
  Settings s;
  s.epsx = 1e-6;
  s.maxit = 500;
  int calls = 0;
  run(o, s, [&](double& value) { value = ++calls == 20 ? nan_value : parabola(o.par(1)); });
  ASSERT_NE(o.flnl, untouched);
  EXPECT_GT(o.niter, 4);
  EXPECT_EQ(o.flnl, parabola(o.par(1)));
  EXPECT_GT(o.flnl, -1e-6);
}

TEST(MethgiNotANumber, LastValueNaNLeavesTheStartAsTheBest) {
  // No free parameter; every value after the start is NaN. The ten tries fail,
  // the extra evaluation is NaN, and the end reports the start, the best point.
  optpar1_block o = fixed_record();
  o.par(1) = 0.25;
  int calls = 0;
  run(o, Settings{}, [&](double& value) { value = ++calls == 1 ? -2.0 : nan_value; });
  EXPECT_EQ(o.niter, 1);
  EXPECT_EQ(o.nfun, 12);
  EXPECT_EQ(o.flnl, -2.0);
  EXPECT_EQ(o.par(1), 0.25);
}

}  // namespace
