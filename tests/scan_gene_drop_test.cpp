// Gene dropping: Mendelian genotypes, founders' allele frequencies, the
// data's untyped persons, recombination by Haldane's map function, and
// genotypes that depend on the seed and the replicate only, not on the chunks.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>

#include "pedfile/mendel.hpp"
#include "scan/gene_drop.hpp"
#include "scan/packed_genotypes.hpp"
#include "tools/sim/simulate.hpp"

namespace {

using namespace bravik;
using namespace bravik::scan;

MarkerRow marker_at(const std::string& chromosome, long long bp, std::optional<double> cm, double frequency) {
  return MarkerRow{chromosome, bp, cm, std::string("m").append(std::to_string(bp)), "1", "2", frequency, 1};
}

std::vector<double> frequencies_of(const std::vector<MarkerRow>& markers) {
  std::vector<double> f;
  for (const MarkerRow& m : markers) f.push_back(*m.frequency);
  return f;
}

// Simulated families of every structure, with their pedigree order.
struct Families {
  tools::PedigreeFile file;
  tools::PreparedPedigree ped;
  std::vector<std::size_t> order;
};

Families simulated_families(tools::Structure structure, int markers) {
  tools::SimulationModel model;
  model.theta.assign(static_cast<std::size_t>(markers), 0.5);
  tools::SimulationDesign design;
  design.structure = structure;
  design.families = 12;
  Families f{tools::simulate(model, design, 5), {}, {}};
  f.ped = tools::prepare_structure(f.file, {tools::RootChoice::random, 3});
  f.order = pedigree_order(f.ped);
  return f;
}

std::vector<std::uint8_t> all_typed(std::size_t persons, long markers) {
  return std::vector<std::uint8_t>(persons * static_cast<std::size_t>(markers), 1);
}

TEST(GeneDrop, GenotypesFollowMendelsLawsInEveryStructure) {
  for (const tools::Structure structure : {tools::Structure::nuclear, tools::Structure::large, tools::Structure::threegen,
                                           tools::Structure::fourgen, tools::Structure::mixed}) {
    constexpr int markers = 40;
    Families f = simulated_families(structure, markers);
    std::vector<MarkerRow> rows;
    for (int m = 0; m < markers; ++m) rows.push_back(marker_at(m < 20 ? "1" : "2", 1'000'000LL * (m % 20 + 1), std::nullopt, 0.3 + 0.01 * m));
    const GeneticMap map = genetic_map(rows);
    const DropPedigree pedigree = drop_pedigree(f.ped);
    std::vector<std::uint8_t> codes;
    GeneDropper(pedigree, map, frequencies_of(rows), {17, 2}).drop(0, markers, all_typed(pedigree.persons(), markers), codes);
    for (std::size_t i = 0; i < pedigree.persons(); ++i)
      for (int m = 0; m < markers; ++m) f.file.code(f.order[i], m) = codes[static_cast<std::size_t>(m) * pedigree.persons() + i];
    std::vector<int> resets;
    tools::check_mendelian(f.file, f.ped, true, &resets);
    EXPECT_EQ(resets, std::vector<int>(markers, 0)) << tools::structure_name(structure);
    long heterozygous = 0;
    for (const std::uint8_t c : codes) heterozygous += c == 2;
    EXPECT_GT(heterozygous, 0) << tools::structure_name(structure);
  }
}

// Pedigrees built by hand, of any size: founders first, each family's
// persons after its own founders.
struct HandPedigree {
  DropPedigree pedigree;
  int add(int father, int mother) {
    pedigree.father.push_back(father);
    pedigree.mother.push_back(mother);
    pedigree.parents_first.push_back(static_cast<int>(pedigree.father.size()) - 1);
    return static_cast<int>(pedigree.father.size()) - 1;
  }
};

TEST(GeneDrop, FoundersDrawTheDataFrequencyAndUntypedPersonsStayUntyped) {
  HandPedigree hand;
  for (int f = 0; f < 3000; ++f) {
    const int father = hand.add(no_parent, no_parent);
    const int mother = hand.add(no_parent, no_parent);
    hand.add(father, mother);
  }
  const DropPedigree& pedigree = hand.pedigree;
  const std::vector<MarkerRow> rows = {marker_at("1", 1'000'000, 0.0, 0.1), marker_at("1", 2'000'000, 30.0, 0.5),
                                       marker_at("3", 5'000'000, 0.0, 0.85)};
  std::vector<std::uint8_t> typed = all_typed(pedigree.persons(), 3);
  for (std::size_t k = 0; k < typed.size(); k += 7) typed[k] = 0;  // every seventh genotype untyped in the data
  std::vector<std::uint8_t> codes;
  GeneDropper(pedigree, genetic_map(rows), frequencies_of(rows), {3, 1}).drop(0, 3, typed, codes);
  for (std::size_t m = 0; m < rows.size(); ++m) {
    double allele1 = 0, alleles = 0;
    for (std::size_t i = 0; i < pedigree.persons(); ++i) {
      const std::uint8_t c = codes[m * pedigree.persons() + i];
      ASSERT_EQ(c == 0, typed[m * pedigree.persons() + i] == 0) << "marker " << m << " person " << i;
      if (c == 0 || pedigree.father[i] != no_parent) continue;
      allele1 += c == 1 ? 2 : c == 2 ? 1 : 0;
      alleles += 2;
    }
    const double p = *rows[m].frequency;
    const double se = std::sqrt(p * (1 - p) / alleles);
    EXPECT_NEAR(allele1 / alleles, p, 4 * se) << "marker " << m;
  }
}

// The parent's allele that a child received from it, when the genotypes tell
// (the other parent homozygous, or the child homozygous).
std::optional<int> transmitted_allele(int child, int other_parent) {
  if (child == 1 || child == 3) return child == 1 ? 1 : 2;
  if (other_parent == 1 || other_parent == 3) return other_parent == 1 ? 2 : 1;
  return std::nullopt;
}

// The allele that a heterozygous person has from its father, when its
// parents' genotypes tell.
std::optional<int> paternal_allele(int person, int father, int mother) {
  if (person != 2) return std::nullopt;
  if (father == 1 || father == 3) return father == 1 ? 1 : 2;
  if (mother == 1 || mother == 3) return mother == 1 ? 2 : 1;
  return std::nullopt;
}

struct RecombinationCount {
  long meioses = 0, recombinants = 0;
};

// Three-generation families: grandparents, their child and its spouse, ten
// grandchildren. Counts, over the parent's meioses whose grandparental origin
// the genotypes show at both markers, those where the origin changes.
RecombinationCount count_recombinants(double cm) {
  constexpr int families = 10000;
  constexpr int grandchildren = 10;
  HandPedigree hand;
  for (int f = 0; f < families; ++f) {
    const int grandfather = hand.add(no_parent, no_parent);
    const int grandmother = hand.add(no_parent, no_parent);
    const int parent = hand.add(grandfather, grandmother);
    const int spouse = hand.add(no_parent, no_parent);
    for (int k = 0; k < grandchildren; ++k) hand.add(parent, spouse);
  }
  const std::vector<MarkerRow> rows = {marker_at("7", 1, 10.0, 0.5), marker_at("7", 2, 10.0 + cm, 0.5)};
  const std::size_t n = hand.pedigree.persons();
  std::vector<std::uint8_t> codes;
  GeneDropper(hand.pedigree, genetic_map(rows), frequencies_of(rows), {static_cast<std::uint64_t>(cm * 100), 1})
      .drop(0, 2, all_typed(n, 2), codes);
  RecombinationCount count;
  const std::size_t family_size = 4 + grandchildren;
  for (std::size_t base = 0; base < n; base += family_size) {
    std::array<std::optional<int>, 2> from_grandfather;
    for (std::size_t m = 0; m < 2; ++m)
      from_grandfather[m] = paternal_allele(codes[m * n + base + 2], codes[m * n + base], codes[m * n + base + 1]);
    if (!from_grandfather[0] || !from_grandfather[1]) continue;
    for (std::size_t k = base + 4; k < base + family_size; ++k) {
      std::array<std::optional<int>, 2> allele;
      for (std::size_t m = 0; m < 2; ++m) allele[m] = transmitted_allele(codes[m * n + k], codes[m * n + base + 3]);
      if (!allele[0] || !allele[1]) continue;
      ++count.meioses;
      count.recombinants += (*allele[0] == *from_grandfather[0]) != (*allele[1] == *from_grandfather[1]);
    }
  }
  return count;
}

TEST(GeneDrop, RecombinationFollowsHaldanesMapFunction) {
  for (const double cm : {1.0, 10.0, 50.0}) {
    const RecombinationCount c = count_recombinants(cm);
    const double r = haldane_recombination(cm / 100);
    const double se = std::sqrt(r * (1 - r) / static_cast<double>(c.meioses));
    const double estimate = static_cast<double>(c.recombinants) / static_cast<double>(c.meioses);
    EXPECT_GT(c.meioses, 6000) << cm << " cM";
    EXPECT_NEAR(estimate, r, 3 * se) << cm << " cM: " << c.recombinants << " of " << c.meioses << " meioses";
  }
}

TEST(GeneDrop, MapTakesCentimorgansElseBasePairsAndLeavesUnplacedMarkersUnlinked) {
  struct Case {
    const char* what;
    std::vector<MarkerRow> rows;
    std::vector<double> morgans;
    std::vector<long> starts;
  };
  const std::vector<Case> cases = {
      {"cM where any marker of the chromosome has one",
       {marker_at("1", 5'000'000, 2.0, .5), marker_at("1", 9'000'000, 7.0, .5), marker_at("1", 9'500'000, 6.0, .5)},
       {0.0, 0.05, 0.06},
       {0, 0, 0}},
      {"bp at 1 cM per Mb without cM; a new chromosome starts anew",
       {marker_at("2", 1'000'000, 0.0, .5), marker_at("2", 11'000'000, 0.0, .5), marker_at("3", 4'000'000, std::nullopt, .5)},
       {0.0, 0.1, 0.0},
       {0, 0, 2}},
      {"chromosome 0 and markers without any place are unlinked",
       {marker_at("0", 1, 1.0, .5), marker_at("0", 2, 2.0, .5), MarkerRow{"5", std::nullopt, std::nullopt, "a", "1", "2", .5, 1},
        MarkerRow{"5", std::nullopt, std::nullopt, "b", "1", "2", .5, 1}},
       {0.0, 0.0, 0.0, 0.0},
       {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    const GeneticMap map = genetic_map(c.rows);
    ASSERT_EQ(map.morgans.size(), c.morgans.size()) << c.what;
    for (std::size_t m = 0; m < c.morgans.size(); ++m) EXPECT_NEAR(map.morgans[m], c.morgans[m], 1e-12) << c.what << ", marker " << m;
    EXPECT_EQ(map.chromosome_start, c.starts) << c.what;
  }
}

TEST(GeneDrop, ReplicatesDependOnSeedAndReplicateOnlyNotOnTheChunks) {
  const Families f = simulated_families(tools::Structure::fourgen, 1);
  std::vector<MarkerRow> rows;
  for (int m = 0; m < 60; ++m) rows.push_back(marker_at(m < 35 ? "4" : "9", 1 + 700'000LL * m, std::nullopt, 0.4));
  const GeneticMap map = genetic_map(rows);
  const DropPedigree pedigree = drop_pedigree(f.ped);
  const std::size_t n = pedigree.persons();
  const auto dropped = [&](ReplicateSeed key, std::vector<long> cuts) {
    std::vector<std::uint8_t> whole, part;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      GeneDropper(pedigree, map, frequencies_of(rows), key).drop(cuts[c], cuts[c + 1] - cuts[c], all_typed(n, cuts[c + 1] - cuts[c]), part);
      whole.insert(whole.end(), part.begin(), part.end());
    }
    return whole;
  };
  const std::vector<std::uint8_t> reference = dropped({8, 3}, {0, 60});
  EXPECT_EQ(dropped({8, 3}, {0, 60}), reference);
  EXPECT_EQ(dropped({8, 3}, {0, 17, 35, 36, 60}), reference);
  EXPECT_EQ(dropped({8, 3}, {0, 1, 2, 59, 60}), reference);
  EXPECT_NE(dropped({8, 4}, {0, 60}), reference);
  EXPECT_NE(dropped({9, 3}, {0, 60}), reference);
}

}  // namespace
