#pragma once
// Multi-start maximization: a local search run from several starting points,
// the best end point kept. Knows nothing of the objective or of the local
// search, which is any routine that moves a point to a local maximum.
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <vector>

namespace bravik {

// Moves the point (in place) to where a local search ends and returns the
// value there.
using LocalSearch = std::function<double(std::span<double> point)>;

// Where the local search from one start ended.
struct StartEnd {
  std::vector<double> point;
  double value;       // values that are not numbers are stored as minus infinity
  std::size_t start;  // index in the list of starts
};

// The end points of all starts, best first.
struct StartsOutcome {
  std::vector<StartEnd> ends;
  const StartEnd& best() const { return ends.front(); }
  double spread() const { return ends.front().value - ends.back().value; }
};

// Runs the search from every start (at least one) and orders the end points
// by value, best first; among equal values the earlier start comes first.
StartsOutcome best_of_starts(const LocalSearch& search, const std::vector<std::vector<double>>& starts);

// `count` points spread over the open box (lower, upper), reproducibly from
// the seed: a Latin hypercube, so that each coordinate has one point in each
// of `count` equal slices of its interval.
std::vector<std::vector<double>> spread_over_box(std::span<const double> lower, std::span<const double> upper,
                                                 int count, std::uint64_t seed);

// A number in the open interval (0, 1) from 53 random bits; unlike the
// standard distributions the same on every library.
double open_unit(std::mt19937_64& bits);

}  // namespace bravik
