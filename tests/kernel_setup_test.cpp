// The set-up routines: parameter checks and ties, the marker and genotype
// frequency checks with their console messages, the transmission tables.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "model/setup.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"
#include "textio/run_end.hpp"

namespace kerneltest {
namespace {

constexpr double rejected = -1.0E18;

// What a set-up call showed on the console. The pause is answered "go".
struct ConsoleRun {
  std::string out;
  int pauses = 0;
  bool run_ended = false;
};

ConsoleRun on_console(textio::Channels& io, const std::function<void()>& action) {
  ConsoleRun run;
  io.pause_answer = [&run] {
    ++run.pauses;
    return std::optional<std::string>("go");
  };
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    action();
  } catch (const textio::RunEnd&) {
    run.run_ended = true;
  }
  run.out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return run;
}

class KernelSetup : public testing::Test {
 protected:
  void SetUp() override {
    model_ = &build({{{{11.0, 1}, {9.5, 2}, {10.2, 2}}, {nuclear({1, 2, 3}, 0)}}}, Parameters{}, true);
  }
  bravik::optpar1_block& o() { return model_->optpar1; }

  // The status of the first-call set-up, or of the per-evaluation one.
  double status(bool first_call) {
    double value = 0.0;
    if (first_call) {
      bravik::stap0(*model_, io_, value);
    } else {
      bravik::stapar(*model_, value);
    }
    return value;
  }

  void free_parameter(int i, double lo, double hi) {
    o().ifree(i) = 1;
    o().parlo(i) = lo;
    o().parhi(i) = hi;
  }

  textio::Channels io_;
  bravik::Model* model_ = nullptr;
};

TEST_F(KernelSetup, HomozygoteMeansMayBeEqualButNotReversed) {
  for (bool first_call : {true, false}) {
    SCOPED_TRACE(first_call ? "stap0" : "stapar");
    o().par(2) = 10.0;
    o().par(4) = 10.0;
    EXPECT_EQ(status(first_call), 1.0);
    o().par(4) = std::nextafter(10.0, 11.0);
    EXPECT_EQ(status(first_call), rejected);
    free_parameter(2, 0.0, 20.0);
    free_parameter(4, 0.0, 20.0);
    EXPECT_EQ(status(first_call), rejected);
    SetUp();
  }
}

TEST_F(KernelSetup, FreeParametersLieStrictlyInsideTheirBounds) {
  for (bool first_call : {true, false}) {
    SCOPED_TRACE(first_call ? "stap0" : "stapar");
    free_parameter(1, 0.3, 0.5);
    o().par(1) = 0.3;
    EXPECT_EQ(status(first_call), rejected);
    o().par(1) = 0.5;
    EXPECT_EQ(status(first_call), rejected);
    o().par(1) = 0.4;
    EXPECT_EQ(status(first_call), 1.0);
    // A fixed parameter is not tested against its bounds.
    o().parlo(6) = 2.0;
    o().parhi(6) = 3.0;
    o().par(6) = 1.5;
    EXPECT_EQ(status(first_call), 1.0);
    SetUp();
  }
}

TEST_F(KernelSetup, TiesCopyInOrderAndFixTheParameter) {
  for (bool first_call : {true, false}) {
    SCOPED_TRACE(first_call ? "stap0" : "stapar");
    // 3 takes 2's value, then 4 takes 3's new value; 3's own bounds would reject it.
    model_->optpar2.link(3) = 2;
    model_->optpar2.link(4) = 3;
    free_parameter(3, 100.0, 200.0);
    o().par(2) = 12.5;
    o().par(3) = 150.0;
    o().par(4) = 8.0;
    EXPECT_EQ(status(first_call), 1.0);
    EXPECT_EQ(o().par(3), 12.5);
    EXPECT_EQ(o().par(4), 12.5);
    EXPECT_EQ(o().ifree(3), 0);
    EXPECT_EQ(o().ifree(4), 0);
    EXPECT_EQ(model_->imax.gmean(2), 12.5);
    SetUp();
  }
}

TEST_F(KernelSetup, MarkerFrequenciesOffByMoreThanTheToleranceEndTheRun) {
  o().par(8) = 0.6;
  o().par(9) = 0.41;
  const ConsoleRun bad = on_console(io_, [this] { status(true); });
  EXPECT_TRUE(bad.run_ended);
  EXPECT_EQ(bad.pauses, 1);
  const std::size_t error = bad.out.find("ERROR: sum of marker allele frequencies is not 1\n");
  ASSERT_NE(error, std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("Check PAR.INP\n", error), std::string::npos) << bad.out;

  // The tolerance is 1e-5 in single precision, slightly below 1e-5.
  o().par(8) = 0.5;
  o().par(9) = 0.5 + 9.99999987e-6;
  EXPECT_TRUE(on_console(io_, [this] { status(true); }).run_ended);
  o().par(9) = 0.5 + 9.9999e-6;
  const ConsoleRun within = on_console(io_, [this] { status(true); });
  EXPECT_FALSE(within.run_ended);
  EXPECT_EQ(within.out.find("ERROR"), std::string::npos);

  o().par(8) = 0.6;
  o().par(9) = 0.4;
  double value = 0.0;
  const ConsoleRun good = on_console(io_, [this, &value] { value = status(true); });
  EXPECT_EQ(value, 1.0);
  EXPECT_EQ(good.out, "");
  EXPECT_EQ(good.pauses, 0);
}

TEST_F(KernelSetup, OnlyAnExcessOfTheGenotypeFrequenciesIsReported) {
  o().par(8) = 0.6;
  o().par(9) = 0.400001;
  double value = 0.0;
  const ConsoleRun excess = on_console(io_, [this, &value] { value = status(true); });
  EXPECT_FALSE(excess.run_ended);
  EXPECT_EQ(value, 1.0);
  EXPECT_EQ(excess.pauses, 1);
  EXPECT_NE(excess.out.find("Sum_p.ne.1"), std::string::npos) << excess.out;
  EXPECT_EQ(model_->genot.n_pers, 3);  // the set-up went on to the genotype lists

  o().par(9) = 0.399999;
  const ConsoleRun deficit = on_console(io_, [this, &value] { value = status(true); });
  EXPECT_EQ(value, 1.0);
  EXPECT_EQ(deficit.out, "");
  EXPECT_EQ(deficit.pauses, 0);
}

TEST_F(KernelSetup, GenotypeFrequenciesFollowTheHaplotypes) {
  o().par(1) = 0.3;
  o().par(8) = 0.6;
  o().par(9) = 0.4;
  for (bool first_call : {true, false}) {
    model_->prpar.gfreq.fill(0.0);
    ASSERT_EQ(status(first_call), 1.0);
    const auto& gfreq = model_->prpar.gfreq;
    EXPECT_NEAR(gfreq(1), 0.0324, 1e-16);
    EXPECT_NEAR(gfreq(2), 0.0432, 1e-16);
    EXPECT_NEAR(gfreq(6), 0.1008, 1e-16);
    double sum = 0.0;
    for (int g = 1; g <= 10; ++g) {
      sum += gfreq(g);
      EXPECT_NEAR(gfreq(g), reference::joint_frequency(g, {0.3, 0, 0, 0, 0, 0, 0, 0.6, 0.4}), 1e-16) << g;
    }
    EXPECT_NEAR(sum, 1.0, 1e-15);
  }
}

TEST_F(KernelSetup, TransmissionMatchesHaplotypesWithRecombination) {
  for (double theta : {0.0, 0.1, 0.37, 0.5}) {
    SCOPED_TRACE("theta " + std::to_string(theta));
    o().par(5) = theta;
    ASSERT_EQ(status(true), 1.0);
    const bravik::tranc_block& t = model_->tranc;
    for (int f = 1; f <= 10; ++f) {
      for (int m = 1; m <= 10; ++m) {
        double column = 0.0;
        for (int c = 1; c <= 10; ++c) {
          column += t.tgen(c, m, f);
          EXPECT_NEAR(t.tgen(c, m, f), reference::child_genotype(c, f, m, theta), 1e-16) << c << " " << m << " " << f;
          EXPECT_EQ(t.tgen(c, m, f), t.tgen(c, f, m));
        }
        EXPECT_NEAR(column, 1.0, 1e-15);
      }
    }
  }
}

TEST_F(KernelSetup, FreeRecombinationHidesThePhase) {
  o().par(5) = 0.5;
  ASSERT_EQ(status(true), 1.0);
  const bravik::tranc_block& t = model_->tranc;
  for (int c = 1; c <= 10; ++c) {
    for (int m = 1; m <= 10; ++m) EXPECT_EQ(t.tgen(c, m, 4), t.tgen(c, m, 6)) << c << " " << m;
  }
  EXPECT_EQ(t.tgen(1, 4, 4), 1.0 / 16.0);
  EXPECT_EQ(t.tgen(4, 4, 4), 1.0 / 8.0);
  EXPECT_EQ(t.tgen(6, 4, 4), 1.0 / 8.0);

  // Without recombination the double heterozygote 4 passes only haplotypes 1 and 4.
  o().par(5) = 0.0;
  ASSERT_EQ(status(true), 1.0);
  EXPECT_EQ(t.tgen(1, 1, 4), 0.5);
  EXPECT_EQ(t.tgen(4, 1, 4), 0.5);
  EXPECT_EQ(t.tgen(2, 1, 4) + t.tgen(3, 1, 4), 0.0);
}

TEST_F(KernelSetup, RejectedFirstCallLeavesTablesAndListsAlone) {
  o().par(5) = 0.1;
  ASSERT_EQ(status(true), 1.0);
  const auto tgen = model_->tranc.tgen_store;
  const auto lists = [this] {
    std::vector<int> entries;
    for (int i = 1; i <= model_->genot.i_start(4); ++i) entries.push_back(model_->genot.l_gen(i));
    return entries;
  };
  const std::vector<int> before = lists();
  // New data and theta that would change both, with the means reversed.
  model_->ped.buf2.mgt(1, 0) = 3;
  model_->ped.buf2.mgt(3, 0) = 0;
  o().par(5) = 0.3;
  o().par(4) = o().par(2) + 1.0;
  EXPECT_EQ(status(true), rejected);
  EXPECT_EQ(model_->tranc.tgen_store, tgen);
  EXPECT_EQ(lists(), before);
}

TEST_F(KernelSetup, LaterEvaluationsRefreshTheDensityButNotTheTables) {
  o().par(5) = 0.1;
  ASSERT_EQ(status(true), 1.0);
  const auto tgen = model_->tranc.tgen_store;
  o().par(1) = 0.7;
  o().par(2) = 14.0;
  o().par(3) = 11.0;
  o().par(4) = 7.0;
  o().par(5) = 0.4;
  o().par(6) = 2.25;
  o().par(7) = -0.3;
  ASSERT_EQ(status(false), 1.0);
  EXPECT_EQ(model_->tranc.tgen_store, tgen);
  EXPECT_EQ(model_->imax.gmean(1), 14.0);
  EXPECT_EQ(model_->imax.gmean(2), 11.0);
  EXPECT_EQ(model_->imax.gmean(3), 7.0);
  EXPECT_EQ(model_->imax.sdev, 1.5);
  EXPECT_EQ(model_->imax.apol, -0.3);
  EXPECT_NEAR(model_->prpar.gfreq(1), 0.7 * 0.6 * 0.7 * 0.6, 1e-16);
}

}  // namespace
}  // namespace kerneltest
