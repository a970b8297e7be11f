#include "optimize/gradient_search.hpp"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace bravik {
namespace {

// The search in scaled coordinates y = x / scale, tracking the best point;
// it stops where it joins a known maximum.
struct Scaled {
  const ValueAndGradient& f;
  std::span<const double> scale;
  std::span<double> best_point;
  std::vector<double> x;
  std::vector<double> gradient;
  double best = -std::numeric_limits<double>::infinity();
  int evaluations = 0;
  const KnownMaxima* known = nullptr;  // none when the search joins no maximum
  double join_radius = 0.0;
  nlopt_opt opt = nullptr;
  int joined = -1;

  // The first known maximum within the join radius of x whose value is not
  // below `value`, or -1.
  int maximum_joined(double value) const {
    if (known == nullptr) return -1;
    for (std::size_t k = 0; k < known->points.size(); ++k) {
      if (!(value <= known->values[k])) continue;
      double distance = 0.0;
      for (std::size_t j = 0; j < x.size(); ++j) {
        distance = std::fmax(distance, std::fabs(x[j] - known->points[k][j]) / scale[j]);
      }
      if (distance < join_radius) return static_cast<int>(k);
    }
    return -1;
  }

  double operator()(const double* y, double* scaled_gradient) {
    for (std::size_t j = 0; j < x.size(); ++j) x[j] = y[j] * scale[j];
    const double value = f(x, gradient);
    ++evaluations;
    if (value > best) {  // false for a value that is not a number
      best = value;
      std::copy(x.begin(), x.end(), best_point.begin());
    }
    const bool usable = std::isfinite(value);
    if (usable && opt != nullptr) {
      joined = maximum_joined(value);
      if (joined >= 0) nlopt_force_stop(opt);
    }
    if (scaled_gradient != nullptr) {
      for (std::size_t j = 0; j < x.size(); ++j) scaled_gradient[j] = usable ? gradient[j] * scale[j] : 0.0;
    }
    return usable ? value : -std::numeric_limits<double>::max();
  }
};

double nlopt_objective(unsigned, const double* y, double* gradient, void* data) {
  return (*static_cast<Scaled*>(data))(y, gradient);
}

nlopt_algorithm algorithm_of(GradientMethod method) {
  switch (method) {
    case GradientMethod::slsqp: return NLOPT_LD_SLSQP;
    case GradientMethod::mma: return NLOPT_LD_MMA;
    case GradientMethod::lbfgs: break;
  }
  return NLOPT_LD_LBFGS;
}

using NloptHandle = std::unique_ptr<nlopt_opt_s, decltype(&nlopt_destroy)>;

}  // namespace

GradientEnd maximize_with_gradient(const ValueAndGradient& f, std::span<double> x, std::span<const double> lower,
                                   std::span<const double> upper, std::span<const double> scale,
                                   const GradientSearchSettings& settings, KnownMaxima* known) {
  const std::size_t n = x.size();
  for (std::size_t j = 0; j < n; ++j) x[j] = std::clamp(x[j], lower[j], upper[j]);
  Scaled scaled{f, scale, x, std::vector<double>(x.begin(), x.end()), std::vector<double>(n, 0.0)};
  if (settings.join_radius > 0.0) scaled.known = known;
  scaled.join_radius = settings.join_radius;
  std::vector<double> y(n), low(n), high(n);
  for (std::size_t j = 0; j < n; ++j) {
    y[j] = x[j] / scale[j];
    low[j] = lower[j] / scale[j];
    high[j] = upper[j] / scale[j];
  }
  if (n == 0 || settings.evaluation_limit <= 0) {
    scaled(y.data(), nullptr);
    return {scaled.best, scaled.evaluations, settings.evaluation_limit <= 0};
  }
  const NloptHandle opt(nlopt_create(algorithm_of(settings.method), static_cast<unsigned>(n)), &nlopt_destroy);
  nlopt_set_lower_bounds(opt.get(), low.data());
  nlopt_set_upper_bounds(opt.get(), high.data());
  nlopt_set_ftol_rel(opt.get(), settings.value_tolerance);
  nlopt_set_xtol_rel(opt.get(), settings.step_tolerance);
  nlopt_set_maxeval(opt.get(), settings.evaluation_limit);
  nlopt_set_max_objective(opt.get(), &nlopt_objective, &scaled);
  scaled.opt = opt.get();
  double value = 0.0;
  const nlopt_result result = nlopt_optimize(opt.get(), y.data(), &value);
  if (scaled.joined >= 0) {
    const auto k = static_cast<std::size_t>(scaled.joined);
    std::copy(known->points[k].begin(), known->points[k].end(), x.begin());
    return {known->values[k], scaled.evaluations, false, scaled.joined};
  }
  if (scaled.known != nullptr && std::isfinite(scaled.best)) {
    known->points.emplace_back(x.begin(), x.end());
    known->values.push_back(scaled.best);
  }
  return {scaled.best, scaled.evaluations, result == NLOPT_MAXEVAL_REACHED};
}

}  // namespace bravik
