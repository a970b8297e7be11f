#include "scan/gene_drop.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace bravik::scan {
namespace {

// What a draw is for; part of its key.
enum class Draw : std::uint64_t { founder_allele = 1, meiosis_origin = 2, crossover = 3 };

std::uint64_t mix(std::uint64_t x) {  // the finalizer of splitmix64
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// A uniform number in [0, 1) that depends on the key alone.
double uniform(std::initializer_list<std::uint64_t> key) {
  std::uint64_t h = 0;
  for (const std::uint64_t part : key) h = mix(h ^ part);
  return static_cast<double>(h >> 11) * 0x1.0p-53;
}

std::uint64_t as_key(long value) { return static_cast<std::uint64_t>(value); }

// Base pairs of a marker at 1 cM per Mb, in Morgans.
constexpr double morgans_per_base_pair = 1e-8;

bool any_of_chromosome(const std::vector<MarkerRow>& markers, std::size_t first, std::size_t end, bool (*has)(const MarkerRow&)) {
  return std::any_of(markers.begin() + static_cast<long>(first), markers.begin() + static_cast<long>(end), has);
}

bool has_centimorgans(const MarkerRow& m) { return m.centimorgans && *m.centimorgans != 0.0; }
bool has_position(const MarkerRow& m) { return m.position && *m.position != 0; }

// The map position of one chromosome's markers first..end-1: distances
// between neighbours add up, so a map that steps back still grows.
void place_chromosome(const std::vector<MarkerRow>& markers, std::size_t first, std::size_t end, GeneticMap& map) {
  const bool by_cm = any_of_chromosome(markers, first, end, has_centimorgans);
  const bool by_bp = !by_cm && any_of_chromosome(markers, first, end, has_position);
  const bool unplaced = markers[first].chromosome == "0" || (!by_cm && !by_bp);
  const auto place = [&](const MarkerRow& m) {
    return by_cm ? m.centimorgans.value_or(0.0) / 100.0 : static_cast<double>(m.position.value_or(0)) * morgans_per_base_pair;
  };
  for (std::size_t m = first; m < end; ++m) {
    map.chromosome_start.push_back(unplaced ? static_cast<long>(m) : static_cast<long>(first));
    map.morgans.push_back(unplaced || m == first ? 0.0 : map.morgans.back() + std::fabs(place(markers[m]) - place(markers[m - 1])));
  }
}

}  // namespace

DropPedigree drop_pedigree(const tools::PreparedPedigree& ped) {
  DropPedigree d;
  std::size_t offset = 0;
  for (const tools::Family& fam : ped.families) {
    d.father.resize(offset + fam.rows.size(), no_parent);
    d.mother.resize(offset + fam.rows.size(), no_parent);
    for (const tools::NuclearFamily& nuc : fam.nuclear)
      for (const int child : nuc.children) {
        d.father[offset + static_cast<std::size_t>(child)] = static_cast<int>(offset) + nuc.father;
        d.mother[offset + static_cast<std::size_t>(child)] = static_cast<int>(offset) + nuc.mother;
      }
    offset += fam.rows.size();
  }
  // Generations: a founder is 0, a child one more than its older parent.
  std::vector<int> generation(d.persons(), 0);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = 0; i < d.persons(); ++i) {
      if (d.father[i] == no_parent) continue;
      const int g = 1 + std::max(generation[static_cast<std::size_t>(d.father[i])], generation[static_cast<std::size_t>(d.mother[i])]);
      changed = changed || g != generation[i];
      generation[i] = g;
    }
  }
  d.parents_first.resize(d.persons());
  for (std::size_t i = 0; i < d.persons(); ++i) d.parents_first[i] = static_cast<int>(i);
  std::stable_sort(d.parents_first.begin(), d.parents_first.end(),
                   [&](int a, int b) { return generation[static_cast<std::size_t>(a)] < generation[static_cast<std::size_t>(b)]; });
  return d;
}

GeneticMap genetic_map(const std::vector<MarkerRow>& markers) {
  GeneticMap map;
  for (std::size_t first = 0; first < markers.size();) {
    std::size_t end = first + 1;
    while (end < markers.size() && markers[end].chromosome == markers[first].chromosome) ++end;
    place_chromosome(markers, first, end, map);
    first = end;
  }
  return map;
}

double haldane_recombination(double morgans) { return 0.5 * (1.0 - std::exp(-2.0 * morgans)); }

GeneDropper::GeneDropper(const DropPedigree& pedigree, const GeneticMap& map, std::vector<double> allele1_frequency,
                         ReplicateSeed key)
    : pedigree_(pedigree),
      map_(map),
      frequency_(std::move(allele1_frequency)),
      key_(key),
      meioses_(2 * pedigree.persons()),
      haplotypes_(2 * pedigree.persons(), 1) {}

// Each meiosis starts on a haplotype drawn with probability 1/2 at the
// chromosome's first marker; its crossovers follow at exponential distances
// (mean 1 Morgan), each drawn from its own key.
void GeneDropper::start_chromosome(long start_row) {
  chromosome_ = start_row;
  for (std::size_t j = 0; j < meioses_.size(); ++j) {
    Meiosis& m = meioses_[j];
    m.origin = uniform({key_.seed, as_key(key_.replicate), static_cast<std::uint64_t>(Draw::meiosis_origin),
                        as_key(start_row), j}) < 0.5;
    m.crossovers = 0;
    m.next_crossover = -std::log1p(-uniform({key_.seed, as_key(key_.replicate), static_cast<std::uint64_t>(Draw::crossover),
                                             as_key(start_row), j, 0}));
  }
}

void GeneDropper::move_to(double morgans) {
  for (std::size_t j = 0; j < meioses_.size(); ++j) {
    Meiosis& m = meioses_[j];
    while (m.next_crossover <= morgans) {
      m.origin ^= 1u;
      ++m.crossovers;
      m.next_crossover -= std::log1p(-uniform({key_.seed, as_key(key_.replicate), static_cast<std::uint64_t>(Draw::crossover),
                                                as_key(chromosome_), j, m.crossovers}));
    }
  }
}

void GeneDropper::founder_alleles(long marker, std::size_t person) {
  const double p = frequency_[static_cast<std::size_t>(marker)];
  for (std::size_t h = 0; h < 2; ++h)
    haplotypes_[2 * person + h] =
        uniform({key_.seed, as_key(key_.replicate), static_cast<std::uint64_t>(Draw::founder_allele), as_key(marker), person, h}) < p ? 1 : 2;
}

void GeneDropper::drop(long first, long count, const std::vector<std::uint8_t>& typed, std::vector<std::uint8_t>& codes) {
  const std::size_t n = pedigree_.persons();
  codes.assign(static_cast<std::size_t>(count) * n, 0);
  chromosome_ = -1;
  for (long m = first; m < first + count; ++m) {
    const std::size_t at = static_cast<std::size_t>(m);
    if (map_.chromosome_start[at] != chromosome_) start_chromosome(map_.chromosome_start[at]);
    move_to(map_.morgans[at]);
    for (const int person : pedigree_.parents_first) {
      const std::size_t i = static_cast<std::size_t>(person);
      if (pedigree_.father[i] == no_parent) {
        founder_alleles(m, i);
        continue;
      }
      const std::size_t parents[2] = {static_cast<std::size_t>(pedigree_.father[i]), static_cast<std::size_t>(pedigree_.mother[i])};
      for (std::size_t side = 0; side < 2; ++side)
        haplotypes_[2 * i + side] = haplotypes_[2 * parents[side] + meioses_[2 * i + side].origin];
    }
    const std::size_t row = static_cast<std::size_t>(m - first) * n;
    for (std::size_t i = 0; i < n; ++i)
      if (typed[row + i] != 0) codes[row + i] = genotype_code(haplotypes_[2 * i], haplotypes_[2 * i + 1]);
  }
}

}  // namespace bravik::scan
