#pragma once
// Gene dropping: marker genotypes simulated through the pedigrees without any
// link to the trait. Founders draw their alleles from the marker's allele
// frequency; every child receives one allele of each parent, the grandparental
// origin of the transmitted allele changing between neighbouring markers of a
// chromosome at the crossovers of a Poisson process along the map (Haldane's
// map function: two markers d Morgans apart recombine with probability
// (1 - exp(-2d)) / 2).
//
// Every random draw is a function of (seed, replicate, what it is for), never
// of the order of the draws before it: a marker's genotypes do not depend on
// which markers a chunk holds, and a chunk needs nothing of the genome beyond
// the map of its chromosomes.
#include <cstdint>
#include <vector>

#include "pedfile/structure.hpp"
#include "scan/marker_table.hpp"

namespace bravik::scan {

inline constexpr int no_parent = -1;

// Persons in pedigree order (the order of IWAY.DAT and genotypes.bin), each
// with its parents' numbers in that order, and an order in which parents come
// before their children.
struct DropPedigree {
  std::vector<int> father, mother;  // no_parent for a founder
  std::vector<int> parents_first;
  std::size_t persons() const { return father.size(); }
};
DropPedigree drop_pedigree(const tools::PreparedPedigree& ped);

// The map of the selected markers: each marker's position in Morgans from the
// first marker of its chromosome, and the row (from 0) of that first marker.
// A chromosome takes its cM when any of its markers has a nonzero cM, else its
// base pairs at 1 cM per Mb; markers of a chromosome without either, or of
// chromosome 0 (unplaced), are unlinked to each other.
struct GeneticMap {
  std::vector<double> morgans;
  std::vector<long> chromosome_start;
};
GeneticMap genetic_map(const std::vector<MarkerRow>& markers);

// The recombination fraction of Haldane's map function at d Morgans.
double haldane_recombination(double morgans);

struct ReplicateSeed {
  std::uint64_t seed = 1;
  int replicate = 1;
};

// The genotypes of one replicate, chunk by chunk.
class GeneDropper {
 public:
  // allele1_frequency: per marker of the map (empty: nobody typed, taken as 0.5).
  GeneDropper(const DropPedigree& pedigree, const GeneticMap& map, std::vector<double> allele1_frequency,
              ReplicateSeed key);

  // Codes 0-3 of markers first..first+count-1 (rows from 0), person i of
  // marker m at codes[(m - first) * persons + i]; a person is untyped where
  // `typed` (same layout) is 0, typed everywhere else.
  void drop(long first, long count, const std::vector<std::uint8_t>& typed, std::vector<std::uint8_t>& codes);

 private:
  // One meiosis (a child's paternal or maternal allele): which of the
  // parent's two haplotypes it carries at the current position.
  struct Meiosis {
    double next_crossover = 0;  // Morgans from the chromosome's first marker
    std::uint32_t crossovers = 0;
    std::uint8_t origin = 0;    // 0: the parent's paternal haplotype, 1: maternal
  };
  void start_chromosome(long start_row);
  void move_to(double morgans);
  void founder_alleles(long marker, std::size_t person);

  const DropPedigree& pedigree_;
  const GeneticMap& map_;
  std::vector<double> frequency_;
  ReplicateSeed key_;
  std::vector<Meiosis> meioses_;          // 2 per person: paternal, maternal
  std::vector<std::uint8_t> haplotypes_;  // 2 per person at the current marker: alleles 1 or 2
  long chromosome_ = -1;                  // start row of the chromosome the meioses are on
};

// The marker code of an ordered genotype (alleles 1 or 2).
inline std::uint8_t genotype_code(std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a + b - 1); }

}  // namespace bravik::scan
