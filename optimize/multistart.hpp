#pragma once
// Multi-start maximization: a local search run from several starting points,
// the best end point kept. Knows nothing of the objective or of the local
// search, which is any routine that moves a point to a local maximum.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace bravik {

// Moves the point (in place) to where a local search ends and returns the
// value there.
using LocalSearch = std::function<double(std::span<double> point)>;

// The best and the worst end value over the starts, and which start gave the best.
struct StartsOutcome {
  double best;
  double worst;
  std::size_t best_start;
  double spread() const { return best - worst; }
};

// Runs the search from every start (at least one) and leaves the best end
// point in best_point. Values that are not numbers rank below every number;
// among equal values the earlier start wins.
StartsOutcome best_of_starts(const LocalSearch& search, const std::vector<std::vector<double>>& starts,
                             std::vector<double>& best_point);

// `count` points spread over the open box (lower, upper), reproducibly from
// the seed: a Latin hypercube, so that each coordinate has one point in each
// of `count` equal slices of its interval.
std::vector<std::vector<double>> spread_over_box(std::span<const double> lower, std::span<const double> upper,
                                                 int count, std::uint64_t seed);

}  // namespace bravik
