#pragma once
// A local search that uses the gradient (NLopt's quasi-Newton and related
// methods) inside a box. Like the other searches it knows nothing of the
// model: the objective is any function that gives its value and gradient.
#include <functional>
#include <span>

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
};

// Where a search ended: the best value it evaluated, how many evaluations it
// made, and whether it stopped at the evaluation limit.
struct GradientEnd {
  double value;
  int evaluations;
  bool at_limit;
};

// Maximizes f from x (moved into the box first), in coordinates divided by
// `scale` (positive), so that the search sees coordinates of similar size.
// Leaves in x the best point evaluated, whatever the method reports at its
// end (a stop on round-off near a maximum is an ordinary end); values that
// are not numbers rank below every number. With an evaluation limit of 0 or
// less it evaluates x once and reports the limit reached.
GradientEnd maximize_with_gradient(const ValueAndGradient& f, std::span<double> x, std::span<const double> lower,
                                   std::span<const double> upper, std::span<const double> scale,
                                   const GradientSearchSettings& settings);

}  // namespace bravik
