// The robust maximizing mode on simulated scans of several family structures,
// with and without the polygenic component, run from random starting points:
// the same maxima from every start, never below the classic mode's, and with
// theta free no negative LOD score.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "optimize/multistart.hpp"
#include "program_runner.hpp"
#include "run/marker_loop.hpp"
#include "simulated_scan.hpp"

namespace bravik::testing {
namespace {

// Under the sanitizers every evaluation is many times slower: fewer starts and
// one structure there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int random_starts = 2;
const std::vector<tools::Structure> structures = {tools::Structure::nuclear};
#else
constexpr int random_starts = 10;
const std::vector<tools::Structure> structures = {tools::Structure::nuclear, tools::Structure::threegen,
                                                  tools::Structure::fourgen};
#endif

constexpr double lod_divisor = static_cast<double>(4.6f);

// Null and alternative log-likelihood of each analysed marker, in full precision.
class PassValues final : public PassObserver {
 public:
  void pass_evaluated(int, int, double) override {}
  void pass_finished(int imark, int ihyp, double flnl) override { (ihyp == 1 ? null : alternative)[imark] = flnl; }
  double lod(int imark) const { return (alternative.at(imark) - null.at(imark)) * 2.0 / lod_divisor; }
  std::map<int, double> null, alternative;
};

// With the programs' robust settings unless others are given.
PassValues run_here(bool robust, const RobustSettings* settings = nullptr) {
  RunOptions options;
  options.robust = robust;
  if (settings != nullptr) options.robust_settings = *settings;
  PassValues values;
  EXPECT_EQ(run_program(Program::maximizing, &values, options), 0);
  return values;
}

// Starting points inside the bounds of the free parameters, par(4) <= par(2).
std::vector<std::vector<ParLine>> random_starting_points(const std::vector<ParLine>& lines, std::uint64_t seed,
                                                         int count = random_starts) {
  std::mt19937_64 bits(seed);
  std::vector<std::vector<ParLine>> points;
  for (int s = 0; s < count; ++s) {
    std::vector<ParLine> start = lines;
    for (ParLine& p : start)
      if (p.free != 0) p.value = p.low + (p.high - p.low) * (0.01 + 0.98 * open_unit(bits));
    if (start[3].value > start[1].value) std::swap(start[1].value, start[3].value);
    points.push_back(start);
  }
  return points;
}

struct Spread {
  double low = INFINITY, high = -INFINITY;
  void add(double v) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
  double width() const { return high - low; }
};

struct DataCase {
  tools::Structure structure;
  bool polygenic;
};

void PrintTo(const DataCase& c, std::ostream* out) {
  *out << tools::structure_name(c.structure) << (c.polygenic ? ", polygenic" : ", no polygenic component");
}

std::vector<DataCase> data_cases() {
  std::vector<DataCase> cases;
  for (const tools::Structure s : structures)
    for (const bool polygenic : {true, false}) cases.push_back({s, polygenic});
  return cases;
}

class RobustScan : public ::testing::TestWithParam<DataCase> {
 protected:
  void SetUp() override {
    setenv("BRAVIK_THREADS", "1", 1);  // the scans are small; tests run side by side
    ScanDesign design;
    design.structure = GetParam().structure;
    design.polygenic = GetParam().polygenic;
    design.families = 8;
    design.seed = 100 + static_cast<std::uint64_t>(GetParam().structure) * 2 + (GetParam().polygenic ? 1 : 0);
    write_simulated_scan(dir.path(), design);
    par = read_par_lines(dir.path());
  }
  ScratchDir dir;
  std::vector<ParLine> par;
};

// Runs both modes from each starting point; checks that no robust
// log-likelihood is below the classic mode's from the same start and returns
// how far the robust results, and the classic ones, spread over the starts.
struct ModeComparison {
  std::map<int, Spread> null, alternative, lod;
  std::map<int, Spread> classic_null, classic_alternative;
};

ModeComparison compare_modes(const std::filesystem::path& folder, const std::vector<std::vector<ParLine>>& starts) {
  ModeComparison spread;
  for (const std::vector<ParLine>& start : starts) {
    write_par_lines(folder, start);
    const PassValues robust = run_here(true);
    const PassValues classic = run_here(false);
    EXPECT_EQ(robust.null.size(), 20U);
    EXPECT_EQ(classic.alternative.size(), 20U);
    for (const auto& [imark, value] : robust.null) {
      spread.null[imark].add(value);
      spread.alternative[imark].add(robust.alternative.at(imark));
      spread.lod[imark].add(robust.lod(imark));
      spread.classic_null[imark].add(classic.null.at(imark));
      spread.classic_alternative[imark].add(classic.alternative.at(imark));
      EXPECT_GE(value, classic.null.at(imark) - 1e-6) << "marker " << imark;
      EXPECT_GE(robust.alternative.at(imark), classic.alternative.at(imark) - 1e-6) << "marker " << imark;
    }
  }
  return spread;
}

TEST_P(RobustScan, NeverBelowTheClassicModeFromTheSameStart) {
  compare_modes(dir.path(), random_starting_points(par, 7, std::min(random_starts, 3)));
}

// The same maxima from ten random starts, never below the best the classic
// mode reaches from any of them. Met on the data sets of the first two lists
// (those of the second take minutes each); not yet on the third's (run it with
// --gtest_also_run_disabled_tests): on the mixed families with the polygenic
// component one marker's alternative ends 0.029 higher from one of the ten
// par.inp starts, whose own search reaches a narrow basin that none of the
// robust mode's other starts reach (nor 100 spread over the box).
class RobustSameMaxima : public RobustScan {};
// Under the sanitizers it is not instantiated (every run takes minutes there).
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RobustSameMaxima);

// Below the best of the classic mode from any start by no more than the
// printed precision of the LOD file, 2e-6 of the value.
void expect_not_below(const Spread& robust, const Spread& classic, const char* what, int imark) {
  EXPECT_GE(robust.low, classic.high - 2e-6 * std::fabs(classic.high)) << what << ", marker " << imark;
}

TEST_P(RobustSameMaxima, FromEveryStartAndNeverBelowTheClassicMode) {
  const ModeComparison spread = compare_modes(dir.path(), random_starting_points(par, 7));
  for (const auto& [imark, null] : spread.null) {
    EXPECT_LE(null.width(), 1e-3) << "null, marker " << imark;
    EXPECT_LE(spread.alternative.at(imark).width(), 1e-3) << "alternative, marker " << imark;
    EXPECT_LE(spread.lod.at(imark).width(), 0.01) << "LOD, marker " << imark;
    expect_not_below(null, spread.classic_null.at(imark), "null", imark);
    expect_not_below(spread.alternative.at(imark), spread.classic_alternative.at(imark), "alternative", imark);
  }
}

TEST_P(RobustScan, ThetaFreeUpToOneHalfGivesNoNegativeLod) {
  par[4].free = 1;
  par[4].low = 0.0;
  par[4].high = 0.5;
  // With theta free every evaluation rebuilds the transmission tables and the
  // genotype lists: with seven polygenic classes one start keeps the run time
  // within bounds.
  const int starts = GetParam().polygenic ? 1 : std::min(random_starts, 3);
  for (const std::vector<ParLine>& start : random_starting_points(par, 8, starts)) {
    write_par_lines(dir.path(), start);
    const PassValues robust = run_here(true);
    ASSERT_EQ(robust.null.size(), 20U);
    for (const auto& [imark, value] : robust.null) EXPECT_GE(robust.lod(imark), -1e-6) << "marker " << imark;
  }
}

// The box search evaluates points whose means are out of order (with a
// penalty): the points it reports, the null maximum among them, must be
// evaluated with the means in order, which the objective accepts.
TEST_P(RobustScan, BoxSearchReportsMaximaWithTheMeansInOrder) {
  if (GetParam().polygenic) GTEST_SKIP() << "seven polygenic classes take long; one class shows it";
  write_par_lines(dir.path(), random_starting_points(par, 7, 1).front());
  RobustSettings settings;
  settings.with_step.local = LocalSearchKind::box;
  settings.with_step.spread_starts = 8;
  settings.without_step = settings.with_step;
  const PassValues robust = run_here(true, &settings);
  ASSERT_EQ(robust.null.size(), 20U);
  for (const auto& [imark, value] : robust.null) {
    EXPECT_GT(value, -1e17) << "null, marker " << imark;
    EXPECT_GT(robust.alternative.at(imark), -1e17) << "alternative, marker " << imark;
  }
}

INSTANTIATE_TEST_SUITE_P(Structures, RobustScan, ::testing::ValuesIn(data_cases()));

#if !defined(__SANITIZE_ADDRESS__)
INSTANTIATE_TEST_SUITE_P(Structures, RobustSameMaxima,
                         ::testing::Values(DataCase{tools::Structure::nuclear, true},
                                           DataCase{tools::Structure::nuclear, false},
                                           DataCase{tools::Structure::large, false},
                                           DataCase{tools::Structure::disjoint, false},
                                           DataCase{tools::Structure::mixed, false},
                                           DataCase{tools::Structure::threegen, false},
                                           DataCase{tools::Structure::fourgen, false}));
INSTANTIATE_TEST_SUITE_P(Long, RobustSameMaxima,
                         ::testing::Values(DataCase{tools::Structure::threegen, true},
                                           DataCase{tools::Structure::fourgen, true},
                                           DataCase{tools::Structure::large, true},
                                           DataCase{tools::Structure::disjoint, true}));
INSTANTIATE_TEST_SUITE_P(DISABLED_NotYetMet, RobustSameMaxima,
                         ::testing::Values(DataCase{tools::Structure::mixed, true}));
#endif

int count_lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// The program with the option: the classic files and layouts, the iteration
// counts of sigma.DAT being the numbers of starts.
TEST(RobustOption, WritesTheFilesOfTheClassicMode) {
  WorkFolder work("robust_option");
  work.copy_inputs(golden_dir() / "threegen");
  const RunResult classic = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1");
  ASSERT_EQ(classic.status, 0) << classic.err;
  const std::string classic_lod = read_file(work.path() / "lod.txt");
  const RunResult run = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1", "--robust");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, classic.out) << "the console lines hold the starting values, as in the classic mode";
  const std::string lod = read_file(work.path() / "lod.txt");
  ASSERT_EQ(count_lines(lod), count_lines(classic_lod));
  EXPECT_EQ(lod.size(), classic_lod.size());
  EXPECT_EQ(count_lines(read_file(work.path() / "est.txt")), 2 * count_lines(lod));
  const std::string sigma = read_file(work.path() / "sigma.DAT");
  EXPECT_EQ(count_lines(sigma), 28);
  // The null pass of the last marker reused the trait part's maximum; the
  // alternative ran from one to four null maxima, the par.inp start, the
  // previous marker's alternative maximum and four starts spread over the box.
  const std::string iterations = "Number of iteration =";
  const std::size_t null_count = sigma.find(iterations);
  ASSERT_NE(null_count, std::string::npos) << sigma;
  const std::size_t alternative_count = sigma.find(iterations, null_count + 1);
  ASSERT_NE(alternative_count, std::string::npos) << sigma;
  EXPECT_EQ(std::stoi(sigma.substr(null_count + iterations.size(), 4)), 0);
  const int starts = std::stoi(sigma.substr(alternative_count + iterations.size(), 4));
  EXPECT_GE(starts, 7);
  EXPECT_LE(starts, 10);
}

// A start that reaches the local search's limit is warned about as in the
// classic mode, with how many of the pass's starts reached it; the null is
// searched at the first marker only. The gradient search has a limit of its
// own; the pattern search takes that of maxpar.inp.
struct LimitCase {
  const char* name;
  LocalSearchKind local;
  const char* limit;      // as the warning names it
  const char* null_starts;  // par.inp, the trait distribution's, and the spread ones
};

void PrintTo(const LimitCase& c, std::ostream* out) { *out << c.name; }

class RobustLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(RobustLimit, IsWarnedWithTheStartsThatReachedIt) {
  const LimitCase c = GetParam();
  ScratchDir dir;
  for (const char* file : {"IWAY.DAT", "mark.dat", "par.inp", "phen.dat", "task.inp"}) {
    std::filesystem::copy_file(golden_dir() / "nuclear" / file, dir.path() / file);
  }
  write_file(dir.path() / "maxpar.inp", "0\n1.0e-4\n0\n0.5\n1.0e-6\n");  // a limit of 0 iterations
  setenv("BRAVIK_THREADS", "1", 1);
  RunOptions options;
  options.robust = true;
  // The data's polygenic step is fixed: the robust mode's own choice for such
  // passes is the gradient search; the pattern search is set for every pass.
  if (c.local == LocalSearchKind::pattern) options.robust_settings.without_step = options.robust_settings.with_step;
  options.robust_settings.gradient.evaluation_limit = 1;
  options.robust_settings.gradient.join_radius = 0.0;  // no start ends at another's maximum before the limit
  ::testing::internal::CaptureStderr();
  PassValues values;
  const int status = run_program(Program::maximizing, &values, options);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(status, 0) << err;
  const std::string tail = std::string(" hypothesis: no maximum within ") + c.limit +
                           " from ([0-9]+) of ([0-9]+) starts; the best point found is reported\n";
  const std::regex warning("warning: marker ([0-9]+), (null|alternative)" + tail);
  std::vector<std::string> warned;
  for (auto it = std::sregex_iterator(err.begin(), err.end(), warning); it != std::sregex_iterator(); ++it) {
    const std::smatch& match = *it;
    warned.push_back(match[1].str() + " " + match[2].str());
    EXPECT_EQ(match[3].str(), match[4].str()) << "every start stops at the limit";
    if (match[2] == "null") {
      EXPECT_EQ(match[4].str(), c.null_starts);
    }
  }
  EXPECT_EQ(warned, (std::vector<std::string>{"1 null", "1 alternative", "2 alternative", "3 alternative"})) << err;
}

// The trait part's maxima saved by one run and given to another: the same
// result files, the null searched in neither pass of the second run (0 starts
// in sigma.DAT as for every marker after the first); bad files and the
// options without --robust are refused.
TEST(RobustOption, TraitMaximaFromAFileGiveTheSameResults) {
  WorkFolder work("robust_trait_maxima");
  work.copy_inputs(golden_dir() / "threegen");
  const RunResult saved = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1", "--robust --save-trait-maxima maxima.txt");
  ASSERT_EQ(saved.status, 0) << saved.err;
  const std::string maxima = read_file(work.path() / "maxima.txt");
  ASSERT_GE(count_lines(maxima), 1);
  const std::string lod = read_file(work.path() / "lod.txt");
  const std::string estimates = read_file(work.path() / "est.txt");
  const RunResult reused = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1", "--robust --trait-maxima maxima.txt");
  ASSERT_EQ(reused.status, 0) << reused.err;
  EXPECT_EQ(read_file(work.path() / "lod.txt"), lod);
  EXPECT_EQ(read_file(work.path() / "est.txt"), estimates);
  EXPECT_EQ(reused.err.find("trait part, kept for every marker"), std::string::npos) << reused.err;

  struct Bad {
    std::string file, arguments, message;
  };
  for (const Bad& b : {Bad{"0.3 1 0.5 0 0.5 1\n", "--robust --trait-maxima bad.txt", "bad.txt:1: expected 7 parameters, read 6"},
                       Bad{"0.3 1 0.5 0 0.5 1 x\n", "--robust --trait-maxima bad.txt", "bad.txt:1: 'x' is not a finite number"},
                       Bad{"", "--robust --trait-maxima bad.txt", "bad.txt: holds no maximum"},
                       Bad{maxima, "--trait-maxima bad.txt", "--trait-maxima and --save-trait-maxima need --robust"},
                       Bad{maxima, "--robust --trait-maxima", "option '--trait-maxima' needs a value"}}) {
    write_file(work.path() / "bad.txt", b.file);
    const RunResult run = run_program("bravik_2point_max", work.path(), "BRAVIK_THREADS=1", b.arguments);
    EXPECT_EQ(run.status, 2) << b.arguments;
    EXPECT_NE(run.err.find(b.message), std::string::npos) << run.err;
  }
}
INSTANTIATE_TEST_SUITE_P(
    Searches, RobustLimit,
    ::testing::Values(LimitCase{"gradient", LocalSearchKind::gradient, "1 evaluations of value and gradient", "53"},
                      LimitCase{"pattern", LocalSearchKind::pattern, "0 iterations \\(maxpar.inp\\)", "401"}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bravik::testing
