// The polygenic transmission table, the class weights and the arithmetic
// routines behind them; and the marker allele frequencies by gene counting.
#include <gtest/gtest.h>

#include "model/freq.hpp"
#include "model/polygenic.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"

namespace kerneltest {
namespace {

TEST(KernelArithmetic, FactorialsAndBinomialCoefficients) {
  EXPECT_EQ(bravik::fac(0), 1.0);
  EXPECT_EQ(bravik::fac(-2), 1.0);
  EXPECT_EQ(bravik::fac(1), 1.0);
  EXPECT_EQ(bravik::fac(6), 720.0);
  EXPECT_EQ(bravik::cnk(6, 3), 20.0);
  EXPECT_EQ(bravik::cnk(6, 6), 1.0);
  EXPECT_EQ(bravik::cnk(6, 0), 1.0);
  EXPECT_EQ(bravik::cnk(6, 1), 6.0);
  EXPECT_EQ(bravik::cnk(3, 5), 0.0);
  EXPECT_EQ(bravik::cnk(0, 0), 1.0);
}

// Both programs build the same table; the fixed one from the counts its main
// flow has set, the maximizing one sets them itself.
class KernelPolygenicTable : public testing::TestWithParam<bravik::Program> {
 protected:
  void SetUp() override {
    model_->tranc.tpol_store.fill(0.0);
    model_->prpar.wpol.fill(0.0);
    if (GetParam() == bravik::Program::fixed) {
      model_->pg.nhalf = 3;
      model_->pg.npol = 7;
    }
    bravik::fom_bep(*model_);
    bravik::set_class_weights(*model_);
  }
  double tpol(int c, int f, int m) const { return model_->tranc.tpol(c, f, m); }
  ProgramScope program_{GetParam()};
  bravik::Model* model_ = &shared_model();
};

TEST_P(KernelPolygenicTable, KnownEntries) {
  EXPECT_EQ(model_->pg.nhalf, 3);
  EXPECT_EQ(model_->pg.npol, 7);
  EXPECT_EQ(tpol(0, 0, 0), 1.0);
  EXPECT_EQ(tpol(6, 6, 6), 1.0);
  EXPECT_NEAR(tpol(3, 3, 3), 0.41, 1e-15);
  EXPECT_NEAR(tpol(0, 3, 3), 0.0025, 1e-17);
  for (int c = 0; c <= 6; ++c) {
    EXPECT_EQ(tpol(c, 0, 6), c == 3 ? 1.0 : 0.0) << c;
    EXPECT_EQ(tpol(c, 6, 0), c == 3 ? 1.0 : 0.0) << c;
  }
}

TEST_P(KernelPolygenicTable, HypergeometricTransmissionOfBothParents) {
  for (int m = 0; m <= 6; ++m) {
    for (int f = 0; f <= 6; ++f) {
      double column = 0.0;
      for (int c = 0; c <= 6; ++c) {
        column += tpol(c, f, m);
        EXPECT_NEAR(tpol(c, f, m), reference::child_class(c + 1, f + 1, m + 1), 1e-15) << c << f << m;
        EXPECT_NEAR(tpol(c, f, m), tpol(c, m, f), 1e-16);
      }
      EXPECT_NEAR(column, 1.0, 1e-15) << f << m;
    }
  }
}

TEST_P(KernelPolygenicTable, BinomialWeightsStayStationary) {
  const double counts[7] = {1, 6, 15, 20, 15, 6, 1};
  const auto& wpol = model_->prpar.wpol;
  for (int k = 1; k <= 7; ++k) EXPECT_EQ(wpol(k), counts[k - 1] / 64.0) << k;
  for (int c = 0; c <= 6; ++c) {
    double child = 0.0;
    for (int f = 0; f <= 6; ++f) {
      for (int m = 0; m <= 6; ++m) child += wpol(f + 1) * wpol(m + 1) * tpol(c, f, m);
    }
    EXPECT_NEAR(child, wpol(c + 1), 1e-15) << c;
  }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, KernelPolygenicTable,
                         testing::Values(bravik::Program::fixed, bravik::Program::maximizing));

TEST(KernelPolygenicSwitch, OneClassOnlyForAZeroStepThatStaysFixed) {
  for (bravik::Program program : {bravik::Program::fixed, bravik::Program::maximizing}) {
    for (double step : {0.0, 0.25}) {
      for (int free : {0, 1}) {
        ProgramScope scope(program);
        bravik::Model* model = &shared_model();
        set_parameters(*model, Parameters{});
        model->optpar1.par(7) = step;
        model->optpar1.ifree(7) = free;
        set_polygenic(*model, true);
        bravik::apply_polygenic_switch(*model);
        const bool expect_switch = step == 0.0 && (program == bravik::Program::fixed || free == 0);
        EXPECT_EQ(model->pg.npol, expect_switch ? 1 : 7) << step << " " << free;
        EXPECT_EQ(model->prpar.wpol(1), expect_switch ? 1.0 : 1.0 / 64.0);
      }
    }
  }
}

class KernelFreq : public testing::Test {
 protected:
  // One family of the given marker codes; a person beyond it is typed too.
  void typed(const std::vector<int>& codes) {
    std::vector<Person> persons;
    for (int code : codes) persons.push_back({10.0, code});
    describe(model_, {{persons, {}}});
    model_.ped.buf2.mgt(static_cast<int>(codes.size()) + 1, 0) = 3;
  }
  bravik::Model& model_ = shared_model();
  double pm1_ = -1.0;
  double pm2_ = -1.0;
  int notyp_ = -1;
};

TEST_F(KernelFreq, CountsEveryTypedPersonOnce) {
  typed({1, 2, 0, 2, 3});
  bravik::freq(model_, pm1_, pm2_, notyp_);
  EXPECT_EQ(notyp_, 0);
  EXPECT_EQ(pm1_, 0.5);
  EXPECT_EQ(pm2_, 0.5);

  typed({1, 1, 2, 0, 3, 1});
  bravik::freq(model_, pm1_, pm2_, notyp_);
  EXPECT_EQ(pm1_, 7.0 / 10.0);
  EXPECT_EQ(pm2_, 3.0 / 10.0);

  typed({1, 1, 1});
  bravik::freq(model_, pm1_, pm2_, notyp_);
  EXPECT_EQ(pm1_, 1.0);
  EXPECT_EQ(pm2_, 0.0);
}

TEST_F(KernelFreq, NobodyTypedLeavesTheFrequenciesUnwritten) {
  typed({0, 0, 0});
  bravik::freq(model_, pm1_, pm2_, notyp_);
  EXPECT_EQ(notyp_, 1);
  EXPECT_EQ(pm1_, -1.0);
  EXPECT_EQ(pm2_, -1.0);
}

}  // namespace
}  // namespace kerneltest
