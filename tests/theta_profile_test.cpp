// The LOD over theta: the linked share of the heterogeneity LOD, the support
// interval, the grid's parsing, and whole robust runs with a grid on simulated
// data (the grid against runs with theta fixed in par.inp, the maximum over
// theta, the interval, the heterogeneity LOD, strong linkage at theta 0, and
// the classic files unchanged by the grid).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "program_runner.hpp"
#include "run/marker_loop.hpp"
#include "run/theta_profile.hpp"
#include "simulated_scan.hpp"
#include "textio/theta_grid.hpp"
#include "tools/sim/simulate.hpp"

namespace bravik::testing {
namespace {

double brute_force_hlod(const std::vector<double>& lods) {
  double best = -INFINITY;
  for (int k = 0; k <= 100000; ++k) {
    const double alpha = k / 100000.0;
    double sum = 0.0;
    for (const double lod : lods) sum += std::log10(alpha * std::pow(10.0, lod) + 1.0 - alpha);
    best = std::max(best, sum);
  }
  return best;
}

struct ShareCase {
  const char* what;
  std::vector<double> lods;
  double alpha;  // NAN: checked against brute force only
};

TEST(LinkedShare, MaximizesTheMixtureOverAlpha) {
  const std::vector<ShareCase> cases = {
      {"all families linked", {0.8, 1.2, 0.1}, 1.0},
      {"no family linked", {-0.5, -2.0, -0.1}, 0.0},
      // log10(1 + 2 alpha) + log10(1 - alpha / 2): maximal at alpha = 3/4
      {"one for, one against", {std::log10(3.0), std::log10(0.5)}, 0.75},
      {"mixed", {2.0, -1.5, 0.3, -0.7, 1.1, -3.0}, NAN},
      {"one family decides", {5.0, -0.2, -0.2, -0.2}, NAN},
  };
  for (const ShareCase& c : cases) {
    const HeterogeneityFit fit = fit_linked_share(c.lods);
    if (!std::isnan(c.alpha)) {
      EXPECT_NEAR(fit.alpha, c.alpha, 1e-12) << c.what;
    }
    EXPECT_NEAR(fit.hlod, brute_force_hlod(c.lods), 1e-9) << c.what;
    double sum = 0.0;
    for (const double lod : c.lods) sum += lod;
    EXPECT_GE(fit.hlod, sum - 1e-12) << c.what << ": alpha = 1 is a choice";
    EXPECT_GE(fit.hlod, -1e-15) << c.what << ": alpha = 0 is a choice";
    EXPECT_GE(fit.alpha, 0.0);
    EXPECT_LE(fit.alpha, 1.0);
  }
}

TEST(LinkedShare, HugeFamilyLodsDoNotOverflow) {
  const std::vector<double> lods = {400.0, -400.0, 350.0};
  const HeterogeneityFit fit = fit_linked_share(lods);
  EXPECT_NEAR(fit.alpha, 2.0 / 3.0, 1e-9);
  EXPECT_NEAR(fit.hlod, 750.0 + 2 * std::log10(2.0 / 3.0) + std::log10(1.0 / 3.0), 1e-9);
}

struct IntervalCase {
  const char* what;
  std::vector<ProfilePoint> points;
  double theta_hat, lod_max, lo, hi;
};

TEST(SupportInterval, WhereTheProfileFallsOneBelowItsMaximum) {
  const std::vector<IntervalCase> cases = {
      {"inside the grid", {{0.0, 1.0}, {0.05, 3.0}, {0.1, 2.5}, {0.2, 1.0}, {0.5, 0.0}}, 0.05, 3.0, 0.025, 0.1 + 0.1 / 3.0},
      {"the bound 0 when the left never falls far", {{0.0, 2.8}, {0.02, 3.0}, {0.1, 1.5}, {0.5, 0.0}}, 0.02, 3.0, 0.0,
       0.02 + 0.08 * (1.0 / 1.5)},
      {"the bound 0.5 when a weak LOD never falls 1", {{0.0, 0.2}, {0.1, 0.6}, {0.3, 0.3}, {0.5, 0.0}}, 0.1, 0.6, 0.0,
       0.5},
      {"a maximum at theta 0", {{0.0, 4.0}, {0.01, 3.5}, {0.05, 2.0}, {0.5, 0.0}}, 0.0, 4.0, 0.0, 0.01 + 0.04 / 3.0},
  };
  for (const IntervalCase& c : cases) {
    const SupportInterval interval = support_interval(c.points, c.theta_hat, c.lod_max);
    EXPECT_NEAR(interval.lo, c.lo, 1e-12) << c.what;
    EXPECT_NEAR(interval.hi, c.hi, 1e-12) << c.what;
    EXPECT_LE(interval.lo, c.theta_hat) << c.what;
    EXPECT_GE(interval.hi, c.theta_hat) << c.what;
  }
}

TEST(ThetaGrid, ParsesSortsAndRejects) {
  EXPECT_EQ(textio::parse_theta_grid(textio::default_theta_grid),
            (std::vector<double>{0.0, 0.01, 0.05, 0.1, 0.2, 0.3, 0.4}));
  EXPECT_EQ(textio::parse_theta_grid("0.2,0,0.2"), (std::vector<double>{0.0, 0.2}));
  EXPECT_TRUE(textio::parse_theta_grid("none").empty());
  for (const char* bad : {"", "0,,0.1", "0.5", "-0.01", "0.1x", "nan", "0.1,"}) {
    EXPECT_THROW(textio::parse_theta_grid(bad), std::invalid_argument) << bad;
  }
  EXPECT_EQ(theta_column(0.01), "lod_t0.01");
  EXPECT_EQ(theta_table_header(std::vector<double>{0.0, 0.1}),
            "marker\tlod_t0\tlod_t0.1\ttheta_hat\tlod_max\ttheta_lo\ttheta_hi\thlod\talpha\thlod_theta");
}

// One line of the theta table, by column name.
using TableRow = std::map<std::string, double>;

std::map<int, TableRow> read_theta_table(const std::filesystem::path& path) {
  std::map<int, TableRow> rows;
  for (const auto& fields : read_table_rows(path)) {
    TableRow row;
    for (const auto& [name, field] : fields) row[name] = field == "NA" ? NAN : std::stod(field);
    rows[static_cast<int>(row.at("marker"))] = row;
  }
  return rows;
}

// Markers linked at theta 0 and 0.05 and an unlinked one, in families of 8
// to 12 children whose genotype means lie far apart; only a share of the
// families linked when asked.
void write_linkage_data(const std::filesystem::path& folder, double linked_share, int families, std::uint64_t seed) {
  tools::SimulationModel model;
  model.theta = {0.0, 0.05, 0.5};
  model.polygenic_step = 0.0;
  model.means = {4.0, 2.0, 0.0};
  model.gene_freq = 0.4;
  model.linked_share = linked_share;
  tools::SimulationDesign design;
  design.structure = tools::Structure::large;
  design.families = families;
  const tools::PedigreeFile file = tools::simulate(model, design, seed);
  tools::write_run_folder(folder, file, tools::prepare_structure(file, {tools::RootChoice::random, seed}), {});
  std::vector<ParLine> lines = read_par_lines(folder);
  lines[6].free = 0;
  lines[6].value = 0.0;
  write_par_lines(folder, lines);
}

const std::vector<double> test_grid = {0.0, 0.01, 0.05, 0.1, 0.2, 0.3, 0.4};

std::map<int, TableRow> run_with_grid(const std::filesystem::path& folder) {
  RunOptions options;
  options.robust = true;
  options.theta_grid = test_grid;
  options.theta_table = (folder / "theta.tsv").string();
  EXPECT_EQ(run_program(Program::maximizing, nullptr, options), 0);
  return read_theta_table(folder / "theta.tsv");
}

void expect_consistent_profile(int imark, const TableRow& row) {
  double best_grid = -INFINITY;
  for (const double theta : test_grid) best_grid = std::max(best_grid, row.at(theta_column(theta)));
  EXPECT_GE(row.at("hlod"), best_grid - 1e-6) << "marker " << imark;
  EXPECT_GE(row.at("lod_max"), best_grid) << "marker " << imark;
  EXPECT_LE(row.at("theta_lo"), row.at("theta_hat")) << "marker " << imark;
  EXPECT_GE(row.at("theta_hi"), row.at("theta_hat")) << "marker " << imark;
  EXPECT_GE(row.at("theta_hat"), 0.0);
  EXPECT_LE(row.at("theta_hat"), 0.5);
  EXPECT_GE(row.at("alpha"), 0.0);
  EXPECT_LE(row.at("alpha"), 1.0);
}

class ThetaProfileRun : public ::testing::Test {
 protected:
  void SetUp() override { setenv("BRAVIK_THREADS", "1", 1); }
  ScratchDir dir;
};

TEST_F(ThetaProfileRun, StrongLinkageAtThetaZeroGivesADecreasingTable) {
  write_linkage_data(dir.path(), 1.0, 30, 31);
  const std::map<int, TableRow> rows = run_with_grid(dir.path());
  ASSERT_EQ(rows.size(), 3U);
  for (const auto& [imark, row] : rows) expect_consistent_profile(imark, row);
  const TableRow& linked = rows.at(1);
  EXPECT_LT(linked.at("theta_hat"), 0.05);
  EXPECT_GT(linked.at("lod_max"), 3.0);
  for (std::size_t g = 1; g < test_grid.size(); ++g) {
    EXPECT_LT(linked.at(theta_column(test_grid[g])), linked.at(theta_column(test_grid[g - 1])))
        << "theta " << test_grid[g];
  }
  EXPECT_LT(linked.at("theta_hi"), 0.1);
  EXPECT_NEAR(linked.at("alpha"), 1.0, 0.1) << "every family is linked";
  EXPECT_GT(rows.at(3).at("theta_hat"), 0.2) << "the unlinked marker";
}

// Each grid LOD is the LOD of a robust run with theta fixed at that value in par.inp.
TEST_F(ThetaProfileRun, GridLodsEqualRunsWithThetaFixed) {
  write_linkage_data(dir.path(), 1.0, 8, 47);
  const std::vector<ParLine> par = read_par_lines(dir.path());
  const std::map<int, TableRow> rows = run_with_grid(dir.path());
  ASSERT_EQ(rows.size(), 3U);
  for (const double theta : {0.0, 0.05, 0.2}) {
    std::vector<ParLine> fixed = par;
    fixed[4].free = 0;
    fixed[4].value = theta;
    write_par_lines(dir.path(), fixed);
    RunOptions options;
    options.robust = true;
    ASSERT_EQ(run_program(Program::maximizing, nullptr, options), 0);
    std::istringstream lod_lines(read_file(dir.path() / "lod.out"));
    for (std::string line; std::getline(lod_lines, line);) {
      std::istringstream fields(line);
      int imark = 0;
      double lnl0 = 0.0;
      double lnl1 = 0.0;
      fields >> imark >> lnl0 >> lnl1;
      // lnl values are printed with 7 digits: the LOD from them is good to about 1e-4 here
      EXPECT_NEAR(rows.at(imark).at(theta_column(theta)), lod_of(lnl1, lnl0), 1e-3)
          << "marker " << imark << ", theta " << theta;
    }
  }
}

TEST_F(ThetaProfileRun, HalfOfTheFamiliesLinkedGiveAShareNearOneHalf) {
  write_linkage_data(dir.path(), 0.5, 40, 5);
  const std::map<int, TableRow> rows = run_with_grid(dir.path());
  ASSERT_EQ(rows.size(), 3U);
  for (const auto& [imark, row] : rows) expect_consistent_profile(imark, row);
  EXPECT_NEAR(rows.at(1).at("alpha"), 0.5, 0.2);
  EXPECT_LE(rows.at(1).at("hlod_theta"), 0.05);
  EXPECT_GT(rows.at(1).at("hlod"), rows.at(1).at("lod_t0") + 0.1) << "the unlinked half pulls the LOD down";
}

// The grid adds a file and leaves the classic files as they were, byte for byte.
TEST(ThetaGridOption, LeavesTheClassicFilesUnchanged) {
  WorkFolder work("theta_grid_option");
  write_linkage_data(work.path(), 1.0, 6, 11);
  const RunResult plain = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1", "--robust");
  ASSERT_EQ(plain.status, 0) << plain.err;
  std::map<std::string, std::string> before;
  for (const char* name : {"lod.out", "est.out", "sigma.DAT"}) before[name] = read_file(work.path() / name);
  const RunResult with_grid = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1",
                                          "--robust --theta-grid 0,0.1 --theta-table grid.tsv");
  ASSERT_EQ(with_grid.status, 0) << with_grid.err;
  EXPECT_EQ(with_grid.out, plain.out);
  for (const auto& [name, text] : before) EXPECT_EQ(read_file(work.path() / name), text) << name;
  const std::string table = read_file(work.path() / "grid.tsv");
  EXPECT_EQ(table.substr(0, table.find('\n')), theta_table_header(std::vector<double>{0.0, 0.1}));
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4);

  const RunResult without_robust = run_program("bravik_2point_max", work.path(), "", "--theta-grid 0,0.1");
  EXPECT_EQ(without_robust.status, 2);
  EXPECT_NE(without_robust.err.find("--theta-grid needs --robust"), std::string::npos) << without_robust.err;
  const RunResult bad = run_program("bravik_2point_max", work.path(), "", "--robust --theta-grid 0,0.7");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("'0.7'"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace bravik::testing
