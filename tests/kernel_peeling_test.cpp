// The family likelihood (mmpfam), the objective (genmmp) and what both do
// with pedigrees that break Mendel's rules.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "model/density.hpp"
#include "model/literal/mmpfam.hpp"
#include "model/setup.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"

namespace kerneltest {
namespace {

constexpr double relative = 1e-13;

const Family informative_trio{{{11.8, 2}, {9.3, 1}, {10.4, 2}}, {nuclear({1, 2, 3}, 0)}};
const Family three_generations{{{12.1, 3}, {9.7, 0}, {10.4, 0}, {8.9, 2}, {11.3, 2}},
                               {nuclear({1, 2, 3}, 3), nuclear({3, 4, 5}, 0)}};
// Trait follows the father's marker allele: evidence of linkage.
const Family linked_sibship{{{12.0, 2}, {8.0, 1}, {12.1, 2}, {8.2, 1}, {11.9, 2}, {8.1, 1}},
                            {nuclear({1, 2, 3, 4, 5, 6}, 0)}};
// The mother (11) cannot pass marker allele 2 to the child (22).
const Family impossible_trio{{{10.0, 0}, {9.0, 1}, {11.0, 3}}, {nuclear({1, 2, 3}, 0)}};

class KernelPeeling : public testing::Test {
 protected:
  double evaluate_families(const std::vector<Family>& families, bool polygenic = true) {
    prepare(model_, families, parameters_, polygenic);
    return evaluate(model_, io_);
  }
  // massix and mmpfam for one family, after a set-up.
  double family_likelihood(int f) {
    bravik::massix(model_, io_, f);
    double lf = 0.0;
    bravik::mmpfam(model_, f, lf);
    return lf;
  }
  double slot_total(int p) const {
    double total = 0.0;
    const int base = model_.genot.i_start(1);
    for (int k = 1; k <= model_.genot.n_gen(p); ++k) {
      for (int c = 1; c <= model_.pg.npol; ++c) total += model_.xx.xx(c, model_.genot.i_start(p) - base + k);
    }
    return total;
  }

  textio::Channels io_;
  bravik::Model& model_ = shared_model();
  Parameters parameters_;
};

TEST_F(KernelPeeling, ObjectiveAddsTheFamiliesInOrder) {
  const double total = evaluate_families({informative_trio, three_generations, informative_trio});
  double sum = 0.0;
  for (int f = 1; f <= 3; ++f) sum = sum + family_likelihood(f);
  EXPECT_EQ(total, sum);
  EXPECT_EQ(evaluate_families({}), 0.0);
}

TEST_F(KernelPeeling, UnconnectedPartsAddAndLonePersonsCountNothing) {
  const Family second_trio{{{8.7, 0}, {10.9, 3}, {9.9, 2}}, {nuclear({1, 2, 3}, 0)}};
  const double apart = evaluate_families({informative_trio, second_trio});
  Family together = informative_trio;
  for (const Person& p : second_trio.persons) together.persons.push_back(p);
  together.nuclear.push_back(nuclear({4, 5, 6}, 0));
  EXPECT_NEAR(evaluate_families({together}), apart, relative * std::fabs(apart));

  Family with_lone_person = informative_trio;
  with_lone_person.persons.push_back({10.5, 2});
  EXPECT_EQ(evaluate_families({with_lone_person}), evaluate_families({informative_trio}));
  EXPECT_EQ(evaluate_families({{{{10.5, 2}}, {}}}), 0.0);
}

// One terminal nuclear family: the father is the connector, rescaled to a
// total of 1; nobody else's entries change.
TEST_F(KernelPeeling, TerminalNuclearFamilyPeelsIntoTheFather) {
  evaluate_families({informative_trio});
  bravik::massix(model_, io_, 1);
  const auto before = std::vector<double>(model_.xx.store.data(), model_.xx.store.data() + 7 * model_.genot.i_start(4));
  double lf = 0.0;
  bravik::mmpfam(model_, 1, lf);
  EXPECT_NEAR(lf, reference::log_likelihood({informative_trio}, parameters_, 7), relative * std::fabs(lf));
  EXPECT_NEAR(slot_total(1), 1.0, 1e-15);
  const int father_slots = 7 * model_.genot.n_gen(1);
  for (int e = father_slots + 1; e <= 7 * model_.genot.i_start(4); ++e) {
    EXPECT_EQ(model_.xx.store(e), before[static_cast<std::size_t>(e - 1)]) << e;
  }
}

// A nuclear family listing no child: the product over children is empty, so
// the connector's sum is its spouse's total. Genotype elimination expects a
// child, so the lists come from the description with one.
TEST_F(KernelPeeling, NuclearFamilyWithoutChildrenMultipliesTheParentTotals) {
  Family childless{{{11.8, 0}, {9.3, 0}, {10.4, 0}}, {nuclear({1, 2, 3}, 0)}};
  evaluate_families({childless});
  childless.nuclear = {nuclear({1, 2}, 1)};
  describe(model_, {childless});
  bravik::massix(model_, io_, 1);
  const double father = slot_total(1);
  const double mother = slot_total(2);
  double lf = 0.0;
  bravik::mmpfam(model_, 1, lf);
  EXPECT_NEAR(lf, std::log(father * mother), relative * std::fabs(lf));
}

TEST_F(KernelPeeling, RecombinationIsFixedForTheWholeSeries) {
  parameters_.theta = 0.02;
  const double tight = evaluate_families({three_generations, linked_sibship});
  EXPECT_EQ(model_.imax.ifirst, -1);
  model_.optpar1.par(5) = 0.4;
  model_.imax.ifirst = 1;
  double later = 0.0;
  bravik::genmmp(model_, io_, later);
  EXPECT_EQ(later, tight);
  model_.imax.ifirst = -1;
  bravik::genmmp(model_, io_, later);
  parameters_.theta = 0.4;
  EXPECT_NEAR(later, reference::log_likelihood({three_generations, linked_sibship}, parameters_, 7),
              relative * std::fabs(later));
  EXPECT_GT(std::fabs(later - tight), 1e-3);
}

// A rejected vector gives the single-precision -1e18 widened, and no family
// is evaluated: xx keeps what was there.
TEST_F(KernelPeeling, RejectedVectorGivesTheFixedValueWithoutEvaluating) {
  evaluate_families({informative_trio});
  for (int series_start : {-1, 1}) {
    SCOPED_TRACE(series_start == -1 ? "first call" : "later call");
    for (int e = 1; e <= 100; ++e) model_.xx.store(e) = -5.0;
    model_.optpar1.par(4) = model_.optpar1.par(2) + 0.5;
    model_.imax.ifirst = series_start;
    double value = 0.0;
    bravik::genmmp(model_, io_, value);
    EXPECT_EQ(value, -999999984306749440.0);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value), 0xC3ABC16D60000000u);
    EXPECT_GT(value, -1.0E18);
    EXPECT_LE(value, -1.0E17);
    for (int e = 1; e <= 100; ++e) EXPECT_EQ(model_.xx.store(e), -5.0);
    model_.optpar1.par(4) = parameters_.mean22;
  }
}

// Marker data against Mendel: a connector without admissible genotypes gives
// minus infinity; an impossible child among several leaves the parents their
// genotypes, and the zero sum then gives not-a-number when rescaled in a
// terminal nuclear family, minus infinity otherwise. The objective passes the
// value on and names the first family that was not finite.
TEST_F(KernelPeeling, MendelianInconsistencyIsNotFinite) {
  EXPECT_EQ(evaluate_families({informative_trio, impossible_trio, impossible_trio}), -INFINITY);
  EXPECT_EQ(model_.first_nonfinite_family, 2);
  EXPECT_EQ(reference::log_likelihood({impossible_trio}, parameters_, 7), -INFINITY);

  const std::vector<Person> one_bad_child{{10.0, 0}, {9.0, 1}, {11.0, 3}, {10.5, 1}};
  EXPECT_TRUE(std::isnan(evaluate_families({informative_trio, three_generations, {one_bad_child, {nuclear({1, 2, 3, 4}, 0)}}})));
  EXPECT_EQ(model_.first_nonfinite_family, 3);
  EXPECT_EQ(evaluate_families({{one_bad_child, {nuclear({1, 2, 3, 4}, 2)}}}, false), -INFINITY);
  EXPECT_EQ(model_.first_nonfinite_family, 1);

  EXPECT_TRUE(std::isfinite(evaluate_families({informative_trio})));
  EXPECT_EQ(model_.first_nonfinite_family, 0);
}

}  // namespace
}  // namespace kerneltest
