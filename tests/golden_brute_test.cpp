// The starting log-likelihoods of the fixed-parameter run against sums over
// every genotype and class computed without peeling, and against the same
// families described with other connectors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <unistd.h>

#include "program_runner.hpp"
#include "run/marker_loop.hpp"

namespace bravik::testing {
namespace {

const std::filesystem::path golden = golden_dir();

// (marker, pass) -> starting value.
using PassValues = std::map<std::pair<int, int>, double>;

class Recorder : public PassObserver {
 public:
  void pass_evaluated(int imark, int ihyp, double finit) override { values[{imark, ihyp}] = finit; }
  PassValues values;
};

// Runs bravik_2point in-process in a copy of a golden folder, optionally with
// IWAY.DAT replaced by another description of the same families.
PassValues fixed_run_values(const std::string& folder, const std::string& description = "IWAY.DAT") {
  WorkFolder work("brute-" + folder + "-" + description);
  work.copy_inputs(golden / folder);
  std::filesystem::copy_file(golden / folder / description, work.path() / "IWAY.DAT",
                             std::filesystem::copy_options::overwrite_existing);
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(work.path());
  Recorder recorder;
  const int status = run_program(Program::fixed, &recorder);
  std::filesystem::current_path(here);
  EXPECT_EQ(status, 0);
  return recorder.values;
}

PassValues brute_values(const std::string& folder) {
  PassValues values;
  std::ifstream in(golden / folder / "expected/brute.vals");
  int imark;
  double null_value;
  double alternative_value;
  while (in >> imark >> null_value >> alternative_value) {
    values[{imark, 1}] = null_value;
    values[{imark, 2}] = alternative_value;
  }
  return values;
}

void expect_relatively_close(const PassValues& got, const PassValues& expected, double tolerance) {
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [key, value] : expected) {
    ASSERT_EQ(got.count(key), 1u);
    EXPECT_NEAR(got.at(key), value, tolerance * std::fabs(value)) << "marker " << key.first << " pass " << key.second;
  }
}

class BruteForce : public ::testing::TestWithParam<std::string> {};

TEST_P(BruteForce, PeelingAgreesWithTheSumOverEveryGenotypeAndClass) {
  expect_relatively_close(fixed_run_values(GetParam()), brute_values(GetParam()), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Golden, BruteForce, ::testing::Values("nuclear", "threegen", "twofam"));

class OtherConnectors : public ::testing::TestWithParam<std::string> {};

TEST_P(OtherConnectors, GiveTheSameLogLikelihoods) {
  expect_relatively_close(fixed_run_values(GetParam(), "IWAY_alt.DAT"), fixed_run_values(GetParam()), 1e-13);
}

INSTANTIATE_TEST_SUITE_P(Golden, OtherConnectors, ::testing::Values("threegen", "twofam"));

}  // namespace
}  // namespace bravik::testing
