// The simulator: reproducibility, family structures, missingness and the
// genetic model (trait distribution and linkage of the markers).
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "pedfile/structure.hpp"
#include "tools/sim/simulate.hpp"
#include "tools_test_support.hpp"

namespace {

using namespace bravik::tools;

PedigreeFile simulated(Structure s, int families, std::uint64_t seed, SimulationModel model = {}) {
  return simulate(model, SimulationDesign{s, families, false}, seed);
}

// Generation of each row: 1 for founders, else one more than the older parent.
std::vector<int> generations(const PedigreeFile& file) {
  std::map<std::pair<std::string, std::string>, int> generation;
  std::vector<int> out;
  for (const PedigreeRow& row : file.rows) {  // parents come before their children
    const int g = row.father == "0" ? 1
                                    : 1 + std::max(generation.at({row.family, row.father}),
                                                   generation.at({row.family, row.mother}));
    generation[{row.family, row.person}] = g;
    out.push_back(g);
  }
  return out;
}

TEST(Simulator, SameSeedSameDataOtherSeedOtherData) {
  const std::string a = bravik::testing::pedigree_text(simulated(Structure::mixed, 20, 7));
  EXPECT_EQ(a, bravik::testing::pedigree_text(simulated(Structure::mixed, 20, 7)));
  EXPECT_NE(a, bravik::testing::pedigree_text(simulated(Structure::mixed, 20, 8)));
}

TEST(Simulator, FamilyStructures) {
  struct Expected {
    Structure structure;
    int generations;
    std::size_t min_children, max_children;  // per nuclear family
  };
  for (const Expected& e : {Expected{Structure::nuclear, 2, 1, 6}, Expected{Structure::large, 2, 8, 12},
                            Expected{Structure::threegen, 3, 1, 4}, Expected{Structure::fourgen, 4, 1, 4}}) {
    SCOPED_TRACE(structure_name(e.structure));
    const PedigreeFile file = simulated(e.structure, 30, 3);
    std::map<std::string, int> deepest;
    const std::vector<int> g = generations(file);
    for (std::size_t r = 0; r < file.rows.size(); ++r) deepest[file.rows[r].family] = std::max(deepest[file.rows[r].family], g[r]);
    ASSERT_EQ(deepest.size(), 30u);
    for (const auto& [family, depth] : deepest) EXPECT_EQ(depth, e.generations) << family;
    const PreparedPedigree ped = prepare_structure(file, {});
    std::size_t fewest = 100, most = 0;
    for (const Family& f : ped.families)
      for (const NuclearFamily& n : f.nuclear) {
        fewest = std::min(fewest, n.children.size());
        most = std::max(most, n.children.size());
      }
    EXPECT_GE(fewest, e.min_children);
    EXPECT_LE(most, e.max_children);
  }
}

TEST(Simulator, FourGenerationsHaveSeveralSpousesAndHalfSibs) {
  const PedigreeFile file = simulated(Structure::fourgen, 30, 5);
  std::map<std::string, std::set<std::string>> spouses;
  for (const PedigreeRow& row : file.rows)
    if (row.father != "0") {
      spouses[row.family + "/" + row.father].insert(row.mother);
      spouses[row.family + "/" + row.mother].insert(row.father);
    }
  int remarried = 0;
  for (const auto& [person, partners] : spouses) remarried += partners.size() > 1;
  EXPECT_GT(remarried, 5);
  const double per_family = static_cast<double>(file.rows.size()) / 30;
  EXPECT_TRUE(per_family > 30 && per_family < 50) << per_family << " persons a family";
}

TEST(Simulator, DisjointFamiliesHaveTwoPartsAndALonePerson) {
  const PedigreeFile file = simulated(Structure::disjoint, 5, 2);
  const PreparedPedigree ped = prepare_structure(file, {});
  ASSERT_EQ(ped.families.size(), 6u);
  for (std::size_t f = 0; f < 5; ++f) {
    int terminal = 0;
    for (const NuclearFamily& n : ped.families[f].nuclear) terminal += n.connector < 0;
    EXPECT_EQ(terminal, 2) << "family " << f + 1;
  }
  EXPECT_EQ(ped.families[5].rows.size(), 5u);
}

TEST(Simulator, MissingnessRatesAndUntypedGrandparents) {
  SimulationModel model;
  model.theta = {0.1, 0.2, 0.3, 0.4};
  model.untyped_rate = 0.3;
  model.trait_missing_rate = 0.2;
  const PedigreeFile file = simulate(model, SimulationDesign{Structure::large, 200, false}, 11);
  int untyped = 0, missing = 0;
  for (std::size_t r = 0; r < file.rows.size(); ++r) {
    missing += !file.rows[r].trait.has_value();
    for (int m = 0; m < file.markers; ++m) untyped += file.code(r, m) == 0;
  }
  const double rows = static_cast<double>(file.rows.size());
  EXPECT_NEAR(untyped / (4 * rows), 0.3, 0.02);
  EXPECT_NEAR(missing / rows, 0.2, 0.02);

  const PedigreeFile three = simulate(SimulationModel{}, SimulationDesign{Structure::threegen, 20, true}, 4);
  const std::vector<int> g = generations(three);
  for (std::size_t r = 0; r < three.rows.size(); ++r) {
    const bool grandparent = g[r] == 1 && (three.rows[r].person == "1" || three.rows[r].person == "2");
    EXPECT_EQ(!three.rows[r].trait.has_value(), grandparent) << "row " << r;
    if (grandparent) {
      EXPECT_EQ(three.code(r, 0), 0);
    }
  }
}

// With every person of major genotype 11 the trait is the mean of 11 plus the
// polygenic shift (variance 1.5 step^2 for six alleles of chance 1/2) plus the residual.
TEST(Simulator, TraitHasTheModelMeanAndVariance) {
  SimulationModel model;
  model.gene_freq = 1.0;
  model.means = {5.0, 1.0, 0.0};
  model.variance = 1.0;
  model.polygenic_step = 0.8;
  const PedigreeFile file = simulate(model, SimulationDesign{Structure::large, 600, false}, 21);
  double sum = 0, squares = 0;
  for (const PedigreeRow& row : file.rows) {
    sum += *row.trait;
    squares += *row.trait * *row.trait;
  }
  const double n = static_cast<double>(file.rows.size());
  const double mean = sum / n;
  EXPECT_NEAR(mean, 5.0, 0.05);
  EXPECT_NEAR(squares / n - mean * mean, 1.0 + 1.5 * 0.64, 0.08);
}

// A father heterozygous at the major gene (trait 0 of means 10, 0, -10) and at
// the marker, with a doubly homozygous mother, shows what he passed to each
// child at both loci. Two children received the same major-gene allele from
// him exactly as often as the same marker allele when no recombination occurs
// in either of them: (1 - theta)^2 + theta^2 of the pairs.
double concordant_sib_pairs(double theta) {
  SimulationModel model;
  model.gene_freq = 0.5;
  model.means = {10.0, 0.0, -10.0};
  model.variance = 1e-6;
  model.polygenic_step = 0.0;
  model.theta = {theta};
  const PedigreeFile file = simulate(model, SimulationDesign{Structure::large, 1500, false}, 5);
  // Copies of allele 2 at the major gene (from the trait) and at the marker (from its code).
  const auto major = [](double trait) { return static_cast<int>(std::lround(-trait / 10.0)) + 1; };
  const auto marker = [&file](std::size_t row) { return file.code(row, 0) - 1; };
  int pairs = 0, concordant = 0;
  for (std::size_t first = 0; first < file.rows.size();) {
    std::size_t end = first + 1;
    while (end < file.rows.size() && file.rows[end].family == file.rows[first].family) ++end;
    const std::size_t father = first, mother = first + 1;
    const int mother_major = major(*file.rows[mother].trait);
    const int mother_marker = marker(mother);
    if (major(*file.rows[father].trait) == 1 && marker(father) == 1 && mother_major != 1 && mother_marker != 1) {
      std::vector<std::pair<int, int>> passed;  // allele 2 from the father at major gene, marker
      for (std::size_t child = first + 2; child < end; ++child)
        passed.emplace_back(major(*file.rows[child].trait) - mother_major / 2, marker(child) - mother_marker / 2);
      for (std::size_t i = 0; i < passed.size(); ++i)
        for (std::size_t j = i + 1; j < passed.size(); ++j) {
          ++pairs;
          concordant += (passed[i].first == passed[j].first) == (passed[i].second == passed[j].second);
        }
    }
    first = end;
  }
  EXPECT_GT(pairs, 1000);
  return static_cast<double>(concordant) / pairs;
}

TEST(Simulator, MarkersAreLinkedAtTheirRecombinationFractions) {
  EXPECT_EQ(concordant_sib_pairs(0.0), 1.0);
  EXPECT_NEAR(concordant_sib_pairs(0.2), 0.68, 0.03);
  EXPECT_NEAR(concordant_sib_pairs(0.5), 0.5, 0.03);
}

TEST(Simulator, RejectsQuantitiesOutsideTheirRanges) {
  SimulationModel model;
  model.theta = {0.1, 0.6};
  EXPECT_NE(bravik::testing::error_of([&] { check_simulation(model, {}); }).find("recombination fraction"),
            std::string::npos);
  model.theta = {0.1, 0.2, 0.3};
  model.marker_freq = {0.5, 0.5};
  EXPECT_NE(bravik::testing::error_of([&] { check_simulation(model, {}); })
                .find("2 marker allele frequencies for 3 markers"),
            std::string::npos);
  EXPECT_NE(bravik::testing::error_of([] { parse_structure("pentagon"); }).find("unknown family structure"),
            std::string::npos);
}

}  // namespace
