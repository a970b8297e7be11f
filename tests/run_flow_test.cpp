// Whole runs of both programs on variations of the golden inputs: how a scan
// reacts to skipped markers, impossible data, rejected starting points and
// flags, and what it leaves in its result files.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

const std::filesystem::path golden = golden_dir();

class Scan : public ::testing::Test {
 protected:
  WorkFolder work{::testing::UnitTest::GetInstance()->current_test_info()->name()};
  void use(const std::string& folder) { work.copy_inputs(golden / folder); }
  // The nuclear family with an added marker 4 at which a child coded 22 has two
  // parents coded 11.
  void use_nuclear_with_impossible_marker() {
    use("nuclear");
    write_file(file("mark.dat"), "4\n2 2 2 1\n1 2 2 1\n1 3 0 3\n2 1 1 2\n");
  }
  std::filesystem::path file(const std::string& name) const { return work.path() / name; }
  // Clears the free flag (column 4) of the seven parameter lines of par.inp.
  void fix_every_parameter() const {
    for (int i = 1; i <= 7; ++i) {
      std::string line = line_of(read_file(file("par.inp")), i);
      line[3] = '0';
      replace_line(file("par.inp"), i, line);
    }
  }
};

TEST_F(Scan, ImpossibleMarkerIsWarnedAboutAndTheScanGoesOn) {
  use_nuclear_with_impossible_marker();
  const RunResult fixed = run_program("bravik_2point", work.path());
  EXPECT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_NE(fixed.err.find("marker 4"), std::string::npos) << fixed.err;
  EXPECT_NE(fixed.err.find("family 1"), std::string::npos) << fixed.err;
  EXPECT_NE(fixed.err.find("the marker data of the family are impossible under the model"), std::string::npos)
      << fixed.err;
  const std::string lod = read_file(file("lod.out"));
  ASSERT_EQ(count_lines(lod), 4);
  const std::string expected = read_file(golden / "nuclear/expected/fixed.lod");
  EXPECT_EQ(lod.substr(0, expected.size()), expected);
  EXPECT_NE(line_of(lod, 3).find("Infinity"), std::string::npos) << lod;
}

TEST_F(Scan, ImpossibleMarkerDoesNotStopTheMaximizingScan) {
  use_nuclear_with_impossible_marker();
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("marker 4"), std::string::npos) << run.err;
  const std::string lod = read_file(file("lod.out"));
  ASSERT_EQ(count_lines(lod), 4);
  const std::string expected = read_file(golden / "nuclear/expected/max.lod");
  EXPECT_EQ(lod.substr(0, expected.size()), expected);
  EXPECT_EQ(count_lines(read_file(file("est.out"))), 8);
}

TEST_F(Scan, RejectedStartingPointNamesTheCheckAndEndsWithAnError) {
  use("threegen");
  replace_line(file("par.inp"), 6, " 6 1  0.5    0.1    0.5  10.0");  // residual variance on its lower bound
  write_file(file("lod.txt"), "old text that must not survive a run that wrote lines\n");
  const RunResult fixed = run_program("bravik_2point", work.path());
  EXPECT_EQ(fixed.status, 3);
  EXPECT_NE(fixed.err.find("par.inp, line 7: parameter 6 = 0.5 is not strictly between its bounds 0.5 and 10"),
            std::string::npos)
      << fixed.err;
  EXPECT_NE(fixed.err.find("marker 1, alternative hypothesis"), std::string::npos) << fixed.err;
  // The null pass evaluated without free parameters; nothing reached the result file.
  EXPECT_EQ(count_lines(fixed.out), 3);
  EXPECT_EQ(read_file(file("lod.txt")), "old text that must not survive a run that wrote lines\n");
}

TEST_F(Scan, MeansInTheWrongOrderAreNamedInTheMaximizingRun) {
  use("threegen");
  replace_line(file("par.inp"), 4, " 4 1  2.5    0.2   -10.0  10.0");
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("marker 1, null hypothesis"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("par.inp, lines 5 and 3: the mean of genotype 22 (parameter 4 = 2.5) exceeds the mean of "
                         "genotype 11 (parameter 2 = 2)"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(file("sigma.DAT")), "");
}

TEST_F(Scan, FixedStartingPointsAreReportedEvenWhenRejected) {
  use("nuclear");
  // Nothing free: the order check still rejects, and the value is reported.
  fix_every_parameter();
  replace_line(file("par.inp"), 4, " 4 0  3.0    0.2   -10.0  10.0");
  const RunResult run = run_program("bravik_2point", work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(line_of(read_file(file("lod.out")), 0), "   1 -0.100000E+19 -0.100000E+19    0.0000E+00");
}

TEST_F(Scan, MaximizingWithNoFreeParameterEqualsTheFixedRun) {
  use("threegen");
  fix_every_parameter();
  const RunResult fixed = run_program("bravik_2point", work.path());
  const std::string fixed_lod = read_file(file("lod.txt"));
  const RunResult max = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(max.status, 0) << max.err;
  EXPECT_EQ(read_file(file("lod.txt")), fixed_lod);
  EXPECT_EQ(max.out, fixed.out);
  EXPECT_EQ(read_file(file("sigma.DAT")), "");
  EXPECT_EQ(count_lines(read_file(file("est.txt"))), 8);
}

TEST_F(Scan, FlagsThatSumToZeroMakeAPlainEvaluation) {
  use("threegen");
  fix_every_parameter();
  const RunResult plain = run_program("bravik_2point_max", work.path());
  const std::string plain_lod = read_file(file("lod.txt"));
  replace_line(file("par.inp"), 1, " 1 1  0.25   0.05   0.0    1.0");
  replace_line(file("par.inp"), 2, " 2 -1  2.0    0.2   -10.0  10.0");
  const RunResult flagged = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(flagged.status, 0) << flagged.err;
  EXPECT_EQ(read_file(file("lod.txt")), plain_lod);
  EXPECT_EQ(read_file(file("sigma.DAT")), "");
}

TEST_F(Scan, ThreeMarkersLeaveTheReportOfTheLastOne) {
  use("nuclear");
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_lines(read_file(file("lod.out"))), 3);
  EXPECT_EQ(count_lines(read_file(file("est.out"))), 6);
  EXPECT_EQ(count_lines(read_file(file("sigma.DAT"))), 28);
}

TEST_F(Scan, SkippedMarkersLeaveNoLinesAndKeepTheEarlierReport) {
  use("nuclear");
  // Marker 2: nobody typed; marker 3: allele 2 absent.
  write_file(file("mark.dat"), "3\n2 0 1\n1 0 1\n1 0 1\n2 0 1\n");
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string lod = read_file(file("lod.out"));
  EXPECT_EQ(lod, line_of(read_file(golden / "nuclear/expected/max.lod"), 0) + "\n");
  EXPECT_EQ(count_lines(run.out), 3);
  EXPECT_EQ(count_lines(read_file(file("sigma.DAT"))), 28);
}

TEST_F(Scan, ThetaOneHalfGivesLodZero) {
  use("twofam");
  replace_line(file("par.inp"), 5, " 5 0  0.5    0.05   0.0    0.5");
  const RunResult run = run_program("bravik_2point", work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string lod = read_file(file("lod.out"));
  ASSERT_EQ(count_lines(lod), 2);
  for (int i = 0; i < 2; ++i) {
    const std::string line = line_of(lod, i);
    EXPECT_EQ(line.substr(4, 14), line.substr(18, 14));
    EXPECT_EQ(line.substr(32), "    0.0000E+00");
  }
}

// The values of a LOD result line after its marker number.
std::vector<double> lod_values(const std::string& line) {
  std::istringstream words(line);
  int imark = 0;
  words >> imark;
  std::vector<double> values;
  double value = 0.0;
  while (words >> value) values.push_back(value);
  return values;
}

// The starting log-likelihood of a console line "  K initial LH=value".
double initial_value(const std::string& line) { return std::stod(line.substr(line.find('=') + 1)); }

TEST_F(Scan, IterationLimitIsWarnedAboutAndTheBestPointIsReported) {
  use("nuclear");
  write_file(file("maxpar.inp"), "0\n1.0e-4\n0\n0.5\n1.0e-6\n");  // a limit of 0 iterations
  const RunResult limited = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(limited.status, 0) << limited.err;
  for (int imark = 1; imark <= 3; ++imark)
    for (const char* hypothesis : {"null", "alternative"}) {
      const std::string warning = "warning: marker " + std::to_string(imark) + ", " + hypothesis +
                                  " hypothesis: no maximum within 0 iterations (maxpar.inp); the best point found "
                                  "is reported\n";
      EXPECT_NE(limited.err.find(warning), std::string::npos) << limited.err;
    }
  EXPECT_EQ(count_lines(read_file(file("fort.25"))), 6);
  // The first iteration of marker 1 gains: the reported log-likelihoods are
  // those of moved points, above the starting values on the console.
  const std::vector<double> lod = lod_values(line_of(read_file(file("lod.out")), 0));
  ASSERT_EQ(lod.size(), 3U);
  EXPECT_GT(lod[0], initial_value(line_of(limited.out, 1)));
  EXPECT_GT(lod[1], initial_value(line_of(limited.out, 2)));

  write_file(file("maxpar.inp"), read_file(golden / "nuclear/maxpar.inp"));
  const RunResult converged = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(converged.status, 0) << converged.err;
  EXPECT_EQ(converged.err.find("warning"), std::string::npos) << converged.err;
  EXPECT_FALSE(std::filesystem::exists(file("fort.25")));
  EXPECT_EQ(read_file(file("lod.out")), read_file(golden / "nuclear/expected/max.lod"));
}

TEST_F(Scan, MissingInputFileIsNamedAndNotCreated) {
  use("nuclear");
  std::filesystem::remove(file("par.inp"));
  const RunResult run = run_program("bravik_2point", work.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("open: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("par.inp"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(file("par.inp")));
}

TEST_F(Scan, ThreeRecordTaskFileEndsTheMaximizingRun) {
  use("nuclear");
  write_file(file("task.inp"), "phen.dat\nmark.dat\nlod.out\n");
  const RunResult max = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(max.status, 2);
  EXPECT_NE(max.err.find("end of file"), std::string::npos) << max.err;
  const RunResult fixed = run_program("bravik_2point", work.path());
  EXPECT_EQ(fixed.status, 0) << fixed.err;
}

TEST_F(Scan, LongFileNamesAreCutToTheProgramsFieldLength) {
  use("nuclear");
  std::filesystem::rename(file("mark.dat"), file("markers_17_chars"));
  write_file(file("task.inp"), "phen.dat\nmarkers_17_chars\nlod.out\nest.out\n");
  const RunResult fixed = run_program("bravik_2point", work.path());
  EXPECT_EQ(fixed.status, 0) << fixed.err;
  const RunResult max = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(max.status, 2);
  EXPECT_NE(max.err.find("markers_17_cha"), std::string::npos) << max.err;
}

}  // namespace
}  // namespace bravik::testing
