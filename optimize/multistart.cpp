#include "optimize/multistart.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <utility>

namespace bravik {
namespace {

double ranked(double value) { return std::isnan(value) ? -std::numeric_limits<double>::infinity() : value; }

// The numbers 0..count-1 in a random order (Fisher-Yates with our own draws).
std::vector<int> shuffled(int count, std::mt19937_64& bits) {
  std::vector<int> order(static_cast<std::size_t>(count));
  std::iota(order.begin(), order.end(), 0);
  for (int i = count - 1; i > 0; --i) {
    const auto j = static_cast<int>(bits() % static_cast<std::uint64_t>(i + 1));
    std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
  }
  return order;
}

}  // namespace

double open_unit(std::mt19937_64& bits) { return (static_cast<double>(bits() >> 11) + 0.5) * 0x1p-53; }

StartsOutcome best_of_starts(const LocalSearch& search, const std::vector<std::vector<double>>& starts) {
  StartsOutcome outcome;
  for (std::size_t s = 0; s < starts.size(); ++s) {
    std::vector<double> point = starts[s];
    const double value = ranked(search(point));
    outcome.ends.push_back({std::move(point), value, s});
  }
  std::stable_sort(outcome.ends.begin(), outcome.ends.end(),
                   [](const StartEnd& a, const StartEnd& b) { return a.value > b.value; });
  return outcome;
}

std::vector<std::vector<double>> spread_over_box(std::span<const double> lower, std::span<const double> upper,
                                                 int count, std::uint64_t seed) {
  std::mt19937_64 bits(seed);
  std::vector<std::vector<double>> points(static_cast<std::size_t>(count), std::vector<double>(lower.size()));
  for (std::size_t j = 0; j < lower.size(); ++j) {
    const std::vector<int> slice = shuffled(count, bits);
    const double width = upper[j] - lower[j];
    for (int s = 0; s < count; ++s) {
      const double within = (slice[static_cast<std::size_t>(s)] + open_unit(bits)) / count;
      const double x = lower[j] + width * within;  // rounding may reach a bound
      points[static_cast<std::size_t>(s)][j] =
          x <= lower[j] ? std::nextafter(lower[j], upper[j]) : x >= upper[j] ? std::nextafter(upper[j], lower[j]) : x;
    }
  }
  return points;
}

}  // namespace bravik
