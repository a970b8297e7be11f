#pragma once
// A local search that uses the gradient (NLopt's quasi-Newton and related
// methods) inside a box. Like the other searches it knows nothing of the
// model: the objective is any function that gives its value and gradient.
#include <functional>
#include <span>
#include <vector>

namespace bravik {

// The value of the objective at x; writes the gradient into `gradient`.
using ValueAndGradient = std::function<double(std::span<const double> x, std::span<double> gradient)>;

enum class GradientMethod {
  lbfgs,  // limited-memory BFGS with bounds
  slsqp,  // sequential quadratic programming
  mma,    // method of moving asymptotes
};

struct GradientSearchSettings {
  GradientMethod method = GradientMethod::lbfgs;
  double value_tolerance = 1e-10;  // relative change of the value that ends the search
  double step_tolerance = 1e-8;    // relative step (in scaled coordinates) that ends it
  int evaluation_limit = 300;      // value-and-gradient evaluations per search
  // A search that comes within this distance of a known maximum (in scaled
  // coordinates, the largest coordinate difference) at a value not above it
  // stops there and joins it; 0: never.
  double join_radius = 0.0;
};

// Maxima that earlier searches reached, in the search's coordinates.
struct KnownMaxima {
  std::vector<std::vector<double>> points;
  std::vector<double> values;
};

// Where a search ended: the best value it evaluated, how many evaluations it
// made, and whether it stopped at the evaluation limit.
struct GradientEnd {
  double value;
  int evaluations;
  bool at_limit;
  int joined = -1;  // the known maximum the search joined, -1 when none
};

// Maximizes f from x (moved into the box first), in coordinates divided by
// `scale` (positive), so that the search sees coordinates of similar size.
// Leaves in x the best point evaluated, whatever the method reports at its
// end (a stop on round-off near a maximum is an ordinary end); values that
// are not numbers rank below every number. With an evaluation limit of 0 or
// less it evaluates x once and reports the limit reached. A search that joins
// one of the `known` maxima leaves that maximum in x and reports its value;
// one that joins none adds its own end to them.
GradientEnd maximize_with_gradient(const ValueAndGradient& f, std::span<double> x, std::span<const double> lower,
                                   std::span<const double> upper, std::span<const double> scale,
                                   const GradientSearchSettings& settings, KnownMaxima* known = nullptr);

}  // namespace bravik
