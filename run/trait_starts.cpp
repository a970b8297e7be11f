#include "run/trait_starts.hpp"

#include <cmath>

namespace bravik {
namespace {

double mean_of(std::span<const double> values) {
  double sum = 0.0;
  for (const double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

double squares_about(std::span<const double> values, double centre) {
  double sum = 0.0;
  for (const double v : values) sum += (v - centre) * (v - centre);
  return sum;
}

// The three blocks of the sorted traits for q: 22, 12, 11 from the lowest.
TraitStart split_at(std::span<const double> sorted, double q, double overall) {
  const double n = static_cast<double>(sorted.size());
  const auto end_22 = static_cast<std::size_t>(std::lround(n * (1.0 - q) * (1.0 - q)));
  const auto end_12 = static_cast<std::size_t>(std::lround(n * (1.0 - q * q)));
  const std::span<const double> blocks[3] = {sorted.subspan(end_12), sorted.subspan(end_22, end_12 - end_22),
                                             sorted.subspan(0, end_22)};
  TraitStart start{q, {overall, overall, overall}, 0.0};
  for (int g = 0; g < 3; ++g) {
    if (!blocks[g].empty()) start.means[g] = mean_of(blocks[g]);
  }
  // An empty homozygote block takes the heterozygotes' mean; an empty
  // heterozygote block the middle of the homozygotes'.
  if (blocks[1].empty()) start.means[1] = 0.5 * (start.means[0] + start.means[2]);
  if (blocks[0].empty()) start.means[0] = start.means[1];
  if (blocks[2].empty()) start.means[2] = start.means[1];
  double within = 0.0;
  for (int g = 0; g < 3; ++g) within += squares_about(blocks[g], start.means[g]);
  start.variance = within / n;
  return start;
}

// The heterozygotes' block at the low (or high) end of the sorted traits, the
// homozygotes sharing the rest and its mean.
TraitStart heterozygotes_apart(std::span<const double> sorted, double q, bool low) {
  const double n = static_cast<double>(sorted.size());
  const auto count_12 = static_cast<std::size_t>(std::lround(n * 2.0 * q * (1.0 - q)));
  const std::span<const double> hets = low ? sorted.subspan(0, count_12) : sorted.subspan(sorted.size() - count_12);
  const std::span<const double> homs = low ? sorted.subspan(count_12) : sorted.subspan(0, sorted.size() - count_12);
  const double hom_mean = homs.empty() ? mean_of(sorted) : mean_of(homs);
  const double het_mean = hets.empty() ? hom_mean : mean_of(hets);
  return {q, {hom_mean, het_mean, hom_mean}, (squares_about(hets, het_mean) + squares_about(homs, hom_mean)) / n};
}

}  // namespace

std::vector<TraitStart> trait_starts(std::span<const double> sorted_traits, std::span<const double> frequencies) {
  std::vector<TraitStart> starts;
  if (sorted_traits.size() < 2) return starts;
  const double overall = mean_of(sorted_traits);
  for (const double q : frequencies) starts.push_back(split_at(sorted_traits, q, overall));
  for (const double q : frequencies) {
    starts.push_back(heterozygotes_apart(sorted_traits, q, true));
    starts.push_back(heterozygotes_apart(sorted_traits, q, false));
  }
  const double total = squares_about(sorted_traits, overall) / static_cast<double>(sorted_traits.size());
  starts.push_back({0.5, {overall, overall, overall}, total});
  return starts;
}

}  // namespace bravik
