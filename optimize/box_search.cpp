#include "optimize/box_search.hpp"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace bravik {
namespace {

// Tracks the best point evaluated, whatever NLopt reports at its end (it may
// stop on a rounding limit or the evaluation limit).
struct Tracked {
  const PointObjective& f;
  std::span<double> best_point;
  double best = -std::numeric_limits<double>::infinity();
  int evaluations = 0;
  double operator()(std::span<const double> x) {
    const double value = f(x);
    ++evaluations;
    if (value > best) {  // false for a value that is not a number
      best = value;
      std::copy(x.begin(), x.end(), best_point.begin());
    }
    return std::isnan(value) ? -std::numeric_limits<double>::max() : value;
  }
};

double nlopt_objective(unsigned n, const double* x, double* /*gradient*/, void* data) {
  return (*static_cast<Tracked*>(data))(std::span<const double>(x, n));
}

using NloptHandle = std::unique_ptr<nlopt_opt_s, decltype(&nlopt_destroy)>;

// BOBYQA needs a positive first step no wider than the box.
std::vector<double> first_steps(std::span<const double> lower, std::span<const double> upper,
                                std::span<const double> step) {
  std::vector<double> steps(step.size());
  for (std::size_t j = 0; j < step.size(); ++j) {
    const double width = upper[j] - lower[j];
    const double wanted = std::fabs(step[j]);
    steps[j] = (wanted > 0.0 && wanted < 0.5 * width) ? wanted : 0.25 * width;
  }
  return steps;
}

}  // namespace

LocalEnd maximize_in_box(const PointObjective& f, std::span<double> x, std::span<const double> lower,
                         std::span<const double> upper, std::span<const double> step,
                         const BoxSearchTolerances& tolerances) {
  const std::size_t n = x.size();
  for (std::size_t j = 0; j < n; ++j) x[j] = std::clamp(x[j], lower[j], upper[j]);
  std::vector<double> start(x.begin(), x.end());
  Tracked tracked{f, x};
  if (n == 0) {
    tracked(x);
    return {tracked.best, tracked.evaluations};
  }
  const NloptHandle opt(nlopt_create(NLOPT_LN_BOBYQA, static_cast<unsigned>(n)), &nlopt_destroy);
  nlopt_set_lower_bounds(opt.get(), lower.data());
  nlopt_set_upper_bounds(opt.get(), upper.data());
  const std::vector<double> steps = first_steps(lower, upper, step);
  std::vector<double> smallest(n);
  for (std::size_t j = 0; j < n; ++j) smallest[j] = tolerances.relative_step * steps[j];
  nlopt_set_initial_step(opt.get(), steps.data());
  nlopt_set_xtol_abs(opt.get(), smallest.data());
  nlopt_set_xtol_rel(opt.get(), tolerances.relative_step);
  nlopt_set_maxeval(opt.get(), tolerances.evaluation_limit);
  nlopt_set_max_objective(opt.get(), &nlopt_objective, &tracked);
  double value = 0.0;
  nlopt_optimize(opt.get(), start.data(), &value);
  return {tracked.best, tracked.evaluations};
}

}  // namespace bravik
