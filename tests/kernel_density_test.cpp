// Phenotype densities: fen for one person, genotype and class, and the
// per-family table that massix fills with density-times-prior factors.
#include <gtest/gtest.h>

#include <cmath>

#include "model/density.hpp"
#include "model/setup.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"

namespace kerneltest {
namespace {

class KernelDensity : public testing::Test {
 protected:
  // Describes the families, runs the first-call set-up and fills xx for family f.
  void fill(const std::vector<Family>& families, int f, bool polygenic = true) {
    families_ = families;
    family_ = f;
    setup(families, polygenic);
    bravik::massix(model_, io_, f);
  }
  void setup(const std::vector<Family>& families, bool polygenic) {
    prepare(model_, families, parameters_, polygenic);
    double status = 0.0;
    bravik::stap0(model_, io_, status);
    ASSERT_EQ(status, 1.0);
  }

  int global(int local) const { return model_.ped.buf1.ifst(family_) + local; }
  int genotypes(int local) const { return model_.genot.n_gen(global(local)); }
  int code(int local, int kk) const { return model_.genot.l_gen(model_.genot.i_start(global(local)) + kk); }
  int slot(int local, int kk) const {
    return model_.genot.i_start(global(local)) - model_.genot.i_start(model_.ped.buf1.ifst(family_) + 1) + kk;
  }
  double xx(int local, int kk, int j) const { return model_.xx.xx(j, slot(local, kk)); }
  const Person& person(int local) const {
    return families_[static_cast<std::size_t>(family_ - 1)].persons[static_cast<std::size_t>(local - 1)];
  }

  // Every slot of a person against the density alone or density x priors.
  void expect_factors(int local, bool with_priors) {
    const int npol = model_.pg.npol;
    ASSERT_GT(genotypes(local), 0);
    for (int kk = 1; kk <= genotypes(local); ++kk) {
      const int g = code(local, kk);
      for (int j = 1; j <= npol; ++j) {
        double expected = person(local).trait <= -1e7 ? 1.0 : reference::own_factor(person(local), g, j, parameters_);
        if (with_priors) expected *= reference::joint_frequency(g, parameters_) * reference::class_weight(j, npol);
        EXPECT_NEAR(xx(local, kk, j), expected, 1e-14 * expected) << "person " << local << " genotype " << g << " class " << j;
      }
    }
  }

  textio::Channels io_;
  bravik::Model& model_ = shared_model();
  Parameters parameters_;
  std::vector<Family> families_;
  int family_ = 1;
};

TEST_F(KernelDensity, MissingTraitsAndMarkerContradictions) {
  parameters_.mean11 = -996.0;
  parameters_.mean12 = -997.0;
  parameters_.mean22 = -999.0;
  setup({{{{-998.0, 0}, {-998.0, 2}, {10.0, 3}, {-1e7, 3}, {-997.9, 0}}, {}}}, true);
  for (int k = 1; k <= 7; ++k) {
    for (int g = 1; g <= 10; ++g) EXPECT_EQ(bravik::fen(model_, 1, g, k), 1.0);
    EXPECT_EQ(bravik::fen(model_, 2, 4, k), 1.0);
    EXPECT_EQ(bravik::fen(model_, 2, 5, k), 0.0);
    EXPECT_EQ(bravik::fen(model_, 3, 4, k), 0.0);
    EXPECT_EQ(bravik::fen(model_, 4, 4, k), 0.0);
    EXPECT_EQ(bravik::fen(model_, 4, 7, k), 1.0);
  }
  // Just above -998 the trait counts as measured.
  const Person measured{-997.9, 0};
  EXPECT_NEAR(bravik::fen(model_, 5, 6, 2), reference::own_factor(measured, 6, 2, parameters_), 1e-15);
  EXPECT_NE(bravik::fen(model_, 5, 6, 2), 1.0);
}

TEST_F(KernelDensity, NormalDensityWithoutItsConstant) {
  parameters_.variance = 4.0;
  parameters_.step = 0.5;
  setup({{{{11.0, 0}}, {}}}, true);
  // At its mean, with the class shift (k-4) x step, the density is 1/sd.
  const double means[3] = {parameters_.mean11, parameters_.mean12, parameters_.mean22};
  for (int g = 1; g <= 10; ++g) {
    for (int k = 1; k <= 7; ++k) {
      model_.ped.buf2.yph(1) = means[reference::trait_class(g) - 1] + (k - 4) * 0.5;
      EXPECT_EQ(bravik::fen(model_, 1, g, k), 0.5) << g << " " << k;
      model_.ped.buf2.yph(1) = 11.0;
      EXPECT_NEAR(bravik::fen(model_, 1, g, k), reference::own_factor({11.0, 0}, g, k, parameters_), 1e-16);
    }
  }
}

// Family 2 has three generations and a lone person; family 1 shifts its slots.
TEST_F(KernelDensity, FoundersCarryPriorsAndChildrenTheirDensityAlone) {
  fill({{{{10.0, 1}, {9.0, 0}, {11.0, 2}}, {nuclear({1, 2, 3}, 0)}},
        {{{12.1, 3}, {9.7, 0}, {10.4, 0}, {8.9, 2}, {11.3, 2}, {10.8, 1}}, {nuclear({1, 2, 3}, 3), nuclear({3, 4, 5}, 0)}}},
       2);
  expect_factors(1, true);
  expect_factors(2, true);
  expect_factors(3, false);  // child above, parent below
  expect_factors(4, true);
  expect_factors(5, false);
  expect_factors(6, true);  // in no nuclear family
}

TEST_F(KernelDensity, ParentOfTwoNuclearFamiliesIsFilledOnce) {
  fill({{{{10.0, 0}, {9.0, 0}, {11.0, 0}, {12.0, 0}, {8.5, 0}}, {nuclear({1, 2, 4}, 1), nuclear({1, 3, 5}, 0)}}}, 1);
  for (int p = 1; p <= 3; ++p) expect_factors(p, true);
  expect_factors(4, false);
  expect_factors(5, false);
}

TEST_F(KernelDensity, SkippedTraitLeavesPriorsOrOne) {
  fill({{{{-1e7, 2}, {-2e7, 0}, {-1e7, 1}, {-999.0, 2}}, {nuclear({1, 2, 3, 4}, 0)}}}, 1);
  expect_factors(1, true);
  expect_factors(2, true);
  expect_factors(3, false);
  expect_factors(4, false);
  EXPECT_EQ(xx(3, 1, 1), 1.0);
}

// A nuclear family of a single member: that member counts as a parent unless
// it is a child elsewhere. Genotype elimination expects children, so the
// lists come from the description without it.
TEST_F(KernelDensity, OneMemberNuclearFamily) {
  const std::vector<Person> persons{{10.0, 0}, {9.0, 0}, {11.0, 0}, {12.0, 0}};
  for (int single : {3, 4}) {
    families_ = {{persons, {nuclear({1, 2, 3}, 0), nuclear({single}, 0)}}};
    setup({{persons, {nuclear({1, 2, 3}, 0)}}}, true);
    describe(model_, families_);
    bravik::massix(model_, io_, 1);
    expect_factors(3, false);
    expect_factors(4, true);
  }
}

TEST_F(KernelDensity, OneClassUsesTheFirstRowAndItsShift) {
  parameters_.step = 0.5;
  const std::vector<Family> families{{{{10.0, 0}, {9.0, 2}, {11.0, 0}}, {nuclear({1, 2, 3}, 0)}}};
  setup(families, false);
  const double untouched = 123.0;
  for (int e = 1; e <= 7 * 31; ++e) model_.xx.store(e) = untouched;
  families_ = families;
  bravik::massix(model_, io_, 1);
  expect_factors(1, true);  // class 1: mean shifted by -3 x step
  expect_factors(3, false);
  const int slots = model_.genot.i_start(4);
  for (int s = 1; s <= slots; ++s) {
    for (int j = 2; j <= 7; ++j) EXPECT_EQ(model_.xx.xx(j, s), untouched) << s << " " << j;
  }
  EXPECT_EQ(model_.xx.xx(1, slots + 1), untouched);
}

}  // namespace
}  // namespace kerneltest
