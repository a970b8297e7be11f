// Standard errors from the observed information: the inversion of the
// information on the free positions, and whole robust runs that write the
// standard errors (NA for fixed parameters and estimates on a bound, with the
// reason) and who carries the major gene.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "run/carrier_posteriors.hpp"
#include "run/marker_loop.hpp"
#include "run/standard_errors.hpp"
#include "simulated_scan.hpp"
#include "test_support.hpp"
#include "tools/sim/simulate.hpp"

namespace bravik::testing {
namespace {

struct InversionCase {
  const char* what;
  std::vector<double> hessian;  // row-major, of the log-likelihood (negative definite at a maximum)
  bool positive_definite;
};

TEST(InverseInformation, InvertsTheNegativeHessianOrRefuses) {
  const std::vector<InversionCase> cases = {
      {"one parameter", {-4.0}, true},
      {"two, correlated", {-4.0, 1.5, 1.5, -2.0}, true},
      {"three, asymmetric by round-off", {-5.0, 1.0, 0.5, 1.0 + 1e-9, -3.0, 0.2, 0.5, 0.2 - 1e-9, -1.0}, true},
      {"a saddle", {-1.0, 0.0, 0.0, 0.5}, false},
      {"singular", {-1.0, -1.0, -1.0, -1.0}, false},
  };
  for (const InversionCase& c : cases) {
    const auto n = static_cast<std::size_t>(std::lround(std::sqrt(static_cast<double>(c.hessian.size()))));
    const std::vector<double> inverse = inverse_information(c.hessian, n);
    ASSERT_EQ(!inverse.empty(), c.positive_definite) << c.what;
    if (inverse.empty()) continue;
    // (-H) x inverse = identity, with H symmetrized.
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) sum += -0.5 * (c.hessian[i * n + k] + c.hessian[k * n + i]) * inverse[k * n + j];
        EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-9) << c.what << " (" << i << ", " << j << ")";
      }
    }
  }
}

using Table = std::vector<std::map<std::string, std::string>>;

// Markers linked at theta 0.05 and unlinked, large sibships, a strong major gene.
std::vector<tools::TrueState> write_data(const std::filesystem::path& folder, int families, std::uint64_t seed) {
  tools::SimulationModel model;
  model.theta = {0.05, 0.5};
  model.polygenic_step = 0.0;
  model.means = {4.0, 2.0, 0.0};
  model.gene_freq = 0.4;
  tools::SimulationDesign design;
  design.structure = tools::Structure::large;
  design.families = families;
  std::vector<tools::TrueState> truth;
  const tools::PedigreeFile file = tools::simulate(model, design, seed, &truth);
  tools::write_run_folder(folder, file, tools::prepare_structure(file, {tools::RootChoice::random, seed}), {});
  std::vector<ParLine> lines = read_par_lines(folder);
  lines[4] = {5, 1, 0.1, 0.05, 0.0, 0.5};  // theta estimated
  lines[6].free = 0;
  lines[6].value = 0.0;
  write_par_lines(folder, lines);
  return truth;
}

class EstimateRun : public ::testing::Test {
 protected:
  void SetUp() override { setenv("BRAVIK_THREADS", "1", 1); }
  ScratchDir dir;
};

TEST_F(EstimateRun, StandardErrorsAreGivenForFreeEstimatesInsideTheirBounds) {
  write_data(dir.path(), 25, 3);
  RunOptions options;
  options.robust = true;
  options.standard_errors = "se.tsv";
  ASSERT_EQ(run_program(Program::maximizing, nullptr, options), 0);
  const Table rows = read_table_rows(dir.path() / "se.tsv");
  ASSERT_EQ(rows.size(), 2U);
  for (const auto& row : rows) {
    EXPECT_EQ(row.at("null_se_polygenic_step"), "NA") << "fixed";
    EXPECT_EQ(row.at("alt_se_polygenic_step"), "NA") << "fixed";
    EXPECT_EQ(row.at("null_se_theta"), "NA") << "0.5 in the null";
    for (const char* pass : {"null", "alt"}) {
      for (const char* name : {"gene_freq", "mean11", "mean12", "mean22", "variance"}) {
        const std::string se = row.at(std::string(pass) + "_se_" + name);
        ASSERT_NE(se, "NA") << pass << " " << name << ", note " << row.at("se_note");
        EXPECT_GT(std::stod(se), 0.0);
        EXPECT_LT(std::stod(se), 1.0) << pass << " " << name;
      }
    }
  }
  // The linked marker's theta inside (0, 0.5) has a standard error; the
  // unlinked marker's at the bound 0.5 has none, and the note says why.
  ASSERT_NE(rows[0].at("alt_se_theta"), "NA") << rows[0].at("se_note");
  EXPECT_LT(std::stod(rows[0].at("alt_se_theta")), 0.1);
  if (rows[1].at("alt_se_theta") == "NA") {
    EXPECT_EQ(rows[1].at("se_note"), "alt:theta_on_a_bound");
  }
}

// At the null maximum, the most probable genotype of most persons with a
// strong major gene is the true one; the probabilities of each sum to 1, the
// ids are the user's.
TEST_F(EstimateRun, PosteriorsNameTheCarriersWithTheUsersIds) {
  const std::vector<tools::TrueState> truth = write_data(dir.path(), 12, 5);
  RunOptions options;
  options.robust = true;
  options.posteriors = "post.tsv";
  ASSERT_EQ(run_program(Program::maximizing, nullptr, options), 0);
  const Table rows = read_table_rows(dir.path() / "post.tsv");
  ASSERT_EQ(rows.size(), truth.size());
  std::map<std::pair<std::string, std::string>, int> genotype_of;
  for (const tools::TrueState& t : truth) genotype_of[{t.family, t.person}] = t.genotype;
  int right = 0;
  double expected_right = 0.0;
  for (const auto& row : rows) {
    const auto true_genotype = genotype_of.find({row.at("fid"), row.at("iid")});
    ASSERT_NE(true_genotype, genotype_of.end()) << row.at("fid") << " " << row.at("iid");
    const double p11 = std::stod(row.at("p11"));
    const double p12 = std::stod(row.at("p12"));
    const double p22 = std::stod(row.at("p22"));
    EXPECT_NEAR(p11 + p12 + p22, 1.0, 1e-5);
    const double best = std::max({p11, p12, p22});
    const int called = best == p11 ? 11 : best == p12 ? 12 : 22;
    right += called == true_genotype->second;
    expected_right += best;
    EXPECT_EQ(row.at("polygenic_mean"), "0") << "no polygenic component";
    EXPECT_EQ(row.at("measured"), "yes");
  }
  const double n = static_cast<double>(rows.size());
  EXPECT_GT(right / n, 0.8);
  EXPECT_NEAR(right / n, expected_right / n, 0.1) << "calibrated";

  options.posteriors = "post_marker.tsv";
  options.posteriors_marker = 1;
  ASSERT_EQ(run_program(Program::maximizing, nullptr, options), 0);
  EXPECT_EQ(read_table_rows(dir.path() / "post_marker.tsv").size(), truth.size());
  EXPECT_NE(read_file(dir.path() / "post_marker.tsv"), read_file(dir.path() / "post.tsv")) << "the marker adds information";
}

}  // namespace
}  // namespace bravik::testing
