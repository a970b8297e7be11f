// Whole runs on damaged inputs: every value that the likelihood or the
// maximizer cannot survive ends the run with an error naming the file, line
// and value (exit 2) before any result is written; odd but meaningful inputs
// still run; and what a run leaves in its result files and on standard error.
#include <gtest/gtest.h>

#include <string>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

const std::filesystem::path golden = golden_dir();
constexpr int whole_file = -1;

// One damage to the nuclear folder: line `line` (from 0) of `file` replaced,
// or the whole file when line is whole_file.
struct Damage {
  const char* program;
  const char* file;
  int line;
  const char* text;
  const char* message;  // expected on standard error
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.program << " with " << d.file << ": " << d.text; }

// A copy of the nuclear folder.
class RunFolder {
 public:
  explicit RunFolder(const std::string& name) : work_(name) {
    work_.copy_inputs(golden / "nuclear");
  }
  std::filesystem::path file(const std::string& name) const { return work_.path() / name; }
  const std::filesystem::path& path() const { return work_.path(); }
  void damage(const std::string& name, int line, const std::string& text) const {
    if (line == whole_file) write_file(file(name), text);
    else replace_line(file(name), line, text);
  }

 private:
  WorkFolder work_;
};

const char* const stale = "lines of an earlier run\n";

class RefusedInput : public ::testing::TestWithParam<Damage> {};

TEST_P(RefusedInput, EndsWithTheFileLineAndValueAndWritesNothing) {
  const Damage& d = GetParam();
  RunFolder folder("refused_input");
  folder.damage(d.file, d.line, d.text);
  for (const char* result : {"lod.out", "est.out"}) write_file(folder.file(result), stale);
  const std::string damaged = read_file(folder.file(d.file));
  const std::string markers = read_file(folder.file("mark.dat"));

  const RunResult run = run_program(d.program, folder.path());
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find(d.message), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("nan"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(folder.file("lod.out")), stale);
  EXPECT_EQ(read_file(folder.file("est.out")), stale);
  EXPECT_EQ(read_file(folder.file(d.file)), damaged);
  EXPECT_EQ(read_file(folder.file("mark.dat")), markers);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedInput,
    ::testing::Values(
        Damage{"bravik_2point", "par.inp", 2, " 0 1  2.0 0.2 -10.0 10.0",
               "par.inp, line 3: parameter 2: tie target 0 is not a parameter number 1 to 7"},
        Damage{"bravik_2point_max", "par.inp", 2, " -1 1  2.0 0.2 -10.0 10.0", "parameter 2: tie target -1 is not"},
        Damage{"bravik_2point", "par.inp", 7, " 2147483647 0 0.2 0.05 -1 1", "line 8: parameter 7: tie target 2147483647"},
        Damage{"bravik_2point_max", "par.inp", 1, " 1 2147483647 0.3 0.05 0.0 1.0",
               "par.inp, line 2: parameter 1: free flag 2147483647 is outside -1000 to 1000"},
        Damage{"bravik_2point_max", "par.inp", 3, " 3 -2147483648 1.0 0.2 -10 10", "free flag -2147483648 is outside"},
        Damage{"bravik_2point", "par.inp", 6, " 6 0 -1.0 0.2 0.0 10.0",
               "par.inp, line 7: parameter 6: residual variance -1 is not positive"},
        Damage{"bravik_2point_max", "par.inp", 6, " 4 0 1.0 0.2 0.0 10.0",
               "parameter 6: residual variance 0 (tied to parameter 4) is not positive"},
        Damage{"bravik_2point", "par.inp", 3, " 3 0 1d400 0.2 -10 10",
               "par.inp, line 4: parameter 3: value = inf is not a finite number"},
        Damage{"bravik_2point_max", "par.inp", 4, " 4 1 0.0 1e309 -10 10", "parameter 4: step = inf is not a finite"},
        Damage{"bravik_2point", "phen.dat", whole_file, "1.0 1d400 2.0 0.5\n",
               "phen.dat, line 1: the trait value of person 2 is not finite (read as +Infinity)"},
        Damage{"bravik_2point_max", "phen.dat", whole_file, "1.0\n2.0\n0.5\n1e309\n",
               "phen.dat, line 4: the trait value of person 4 is not finite"},
        Damage{"bravik_2point", "phen.dat", whole_file, "-1e400 1 2 3\n", "person 1 is not finite (read as -Infinity)"},
        Damage{"bravik_2point_max", "maxpar.inp", 3, "50", "maxpar.inp, line 4: shrink factor rlx = 50 is outside 0 to 1"},
        Damage{"bravik_2point_max", "maxpar.inp", 3, "-2147483649", "shrink factor rlx = -2147483649 is outside 0 to 1"},
        Damage{"bravik_2point_max", "maxpar.inp", 1, "1d400", "maxpar.inp, line 2: epsx = inf is not a finite number"},
        Damage{"bravik_2point_max", "maxpar.inp", 4, "-1e999", "maxpar.inp, line 5: epsf = -inf is not a finite number"},
        Damage{"bravik_2point", "task.inp", whole_file, "phen.dat\nmark.dat\nmark.dat\n",
               "task.inp: the LOD result file mark.dat is the same file as the marker file mark.dat"},
        Damage{"bravik_2point_max", "task.inp", whole_file, "phen.dat\nmark.dat\nlod.out\npar.inp\n",
               "the estimate file par.inp is the same file as the parameter file par.inp"},
        Damage{"bravik_2point", "task.inp", whole_file, "phen.dat\nmark.dat\n'./phen.dat'\n",
               "the LOD result file ./phen.dat is the same file as the phenotype file phen.dat"},
        Damage{"bravik_2point_max", "task.inp", whole_file, "phen.dat\nmark.dat\nIWAY.DAT\nest.out\n",
               "the LOD result file IWAY.DAT is the same file as the pedigree description"},
        Damage{"bravik_2point_max", "task.inp", whole_file, "phen.dat\nmark.dat\nlod.out\nlod.out\n",
               "the estimate file lod.out is the same file as the LOD result file lod.out"},
        Damage{"bravik_2point_max", "task.inp", whole_file, "phen.dat\nmark.dat\nsigma.DAT\nest.out\n",
               "the maximizer report sigma.DAT is the same file as the LOD result file sigma.DAT"}));

TEST(RefusedResultFile, AnotherNameOfAnInputIsRefused) {
  RunFolder folder("result_is_a_link");
  std::filesystem::create_symlink("mark.dat", folder.file("alias.out"));
  write_file(folder.file("task.inp"), "phen.dat\nmark.dat\nalias.out\n");
  const std::string markers = read_file(folder.file("mark.dat"));
  const RunResult run = run_program("bravik_2point", folder.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("the LOD result file alias.out is the same file as the marker file mark.dat"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(folder.file("mark.dat")), markers);
}

// Inputs the checks must keep accepting, with the golden results.
struct Accepted {
  const char* file;
  int line;
  const char* text;
};

void PrintTo(const Accepted& a, std::ostream* os) { *os << a.file << ": " << a.text; }

class AcceptedInput : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedInput, GivesTheGoldenResults) {
  RunFolder folder("accepted_input");
  folder.damage(GetParam().file, GetParam().line, GetParam().text);
  const RunResult run = run_program("bravik_2point_max", folder.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(folder.file("lod.out")), read_file(golden / "nuclear/expected/max.lod"));
  EXPECT_EQ(read_file(folder.file("est.out")), read_file(golden / "nuclear/expected/max.est"));
}

INSTANTIATE_TEST_SUITE_P(Values, AcceptedInput,
                         ::testing::Values(Accepted{"par.inp", 1, " 1 2  0.3    0.05   0.0    1.0"},
                                           Accepted{"par.inp", 2, " 2 1000  2.0    0.2   -10.0  10.0"},
                                           Accepted{"par.inp", 4, " 4 -1  0.0    0.2   -10.0  10.0"},
                                           Accepted{"par.inp", 3, " 3 0  1.0    0.2   -1d400  1e400"}));

TEST(AcceptedInput, ShrinkFactorsAtTheEndsOfTheirRangeRun) {
  for (const char* rlx : {"0", "1.0"}) {
    RunFolder folder("accepted_shrink_factor");
    folder.damage("maxpar.inp", 3, rlx);
    const RunResult run = run_program("bravik_2point_max", folder.path());
    EXPECT_EQ(run.status, 0) << rlx << ": " << run.err;
    EXPECT_EQ(count_lines(read_file(folder.file("lod.out"))), 3) << rlx;
  }
}

// Marker files whose complete rows are not one per person: a warning with
// both counts, and the results the rows give.
TEST(MarkerRows, FewerRowsThanPersonsAreNamedAndCountAsUntyped) {
  RunFolder folder("fewer_marker_rows");
  // The second of four rows deleted: persons 2 and 3 take the codes of 3 and 4.
  folder.damage("mark.dat", whole_file, "3\n2 2 2\n1 3 0\n2 1 1\n");
  const RunResult run = run_program("bravik_2point", folder.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: mark.dat has 3 complete rows of marker codes for the 4 persons of IWAY.DAT; "
                         "person 4 without a row: untyped at every marker"),
            std::string::npos)
      << run.err;
  RunFolder untyped("fourth_person_untyped");
  untyped.damage("mark.dat", whole_file, "3\n2 2 2\n1 3 0\n2 1 1\n0 0 0\n");
  const RunResult reference = run_program("bravik_2point", untyped.path());
  EXPECT_EQ(reference.err.find("complete rows"), std::string::npos) << reference.err;
  EXPECT_EQ(read_file(folder.file("lod.out")), read_file(untyped.file("lod.out")));
}

TEST(MarkerRows, RowsBeyondThePersonsAreNamedAndUnused) {
  RunFolder folder("extra_marker_rows");
  folder.damage("mark.dat", whole_file, read_file(golden / "nuclear/mark.dat") + "3 3 3\n1 1 1\n");
  const RunResult run = run_program("bravik_2point", folder.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("mark.dat has 6 complete rows of marker codes for the 4 persons of IWAY.DAT; "
                         "rows 5 to 6 beyond the persons: not used"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(folder.file("lod.out")), read_file(golden / "nuclear/expected/fixed.lod"));
}

// A run that analyses no marker leaves every result file empty and says why.
struct NoMarker {
  const char* program;
  const char* markers;
  const char* reason;
};

void PrintTo(const NoMarker& n, std::ostream* os) { *os << n.program << " on " << n.markers; }

class NoMarkerAnalysed : public ::testing::TestWithParam<NoMarker> {};

TEST_P(NoMarkerAnalysed, LeavesEmptyResultFilesAndSaysWhy) {
  const NoMarker& n = GetParam();
  RunFolder folder("no_marker_analysed");
  folder.damage("mark.dat", whole_file, n.markers);
  for (const char* result : {"lod.out", "est.out", "sigma.DAT"}) write_file(folder.file(result), stale);
  const RunResult run = run_program(n.program, folder.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find(std::string("no marker was analysed: ") + n.reason + "; the result files are left empty"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(read_file(folder.file("lod.out")), "");
  const bool maximizing = std::string(n.program) == "bravik_2point_max";
  for (const char* result : {"est.out", "sigma.DAT"}) EXPECT_EQ(read_file(folder.file(result)), maximizing ? "" : stale);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NoMarkerAnalysed,
    ::testing::Values(NoMarker{"bravik_2point", "0\n\n\n\n\n", "mark.dat holds no marker"},
                      NoMarker{"bravik_2point_max", "0\n\n\n\n\n", "mark.dat holds no marker"},
                      NoMarker{"bravik_2point", "1\n0\n0\n0\n0\n", "its only marker was skipped (see the note above)"},
                      NoMarker{"bravik_2point_max", "2\n0 1\n0 1\n0 1\n0 1\n",
                               "all 2 markers were skipped (see the notes above)"}));

TEST(SkippedMarker, EachGetsANoteWithTheAlleleAndItsFrequency) {
  RunFolder folder("skipped_marker_notes");
  // Marker 2: nobody typed; marker 3: allele 2 absent; marker 4: allele 1 absent.
  folder.damage("mark.dat", whole_file, "4\n2 0 1 3\n1 0 1 3\n1 0 1 3\n2 0 1 3\n");
  const RunResult run = run_program("bravik_2point", folder.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "note: marker 2 is skipped: no person is typed\n"
            "note: marker 3 is skipped: allele 2 has frequency 0, below 0.001\n"
            "note: marker 4 is skipped: allele 1 has frequency 0, below 0.001\n");
  EXPECT_EQ(count_lines(read_file(folder.file("lod.out"))), 1);
}

TEST(NonFiniteStart, BlamesTheMarkerDataOnlyWhenTheyAreTheCause) {
  RunFolder folder("non_finite_start");
  folder.damage("par.inp", 1, " 1 1  1.5    0.05   0.0    1.0");  // a gene frequency above 1, fixed in the null pass
  const RunResult run = run_program("bravik_2point", folder.path());
  EXPECT_NE(run.err.find("warning: marker 1, null hypothesis: the log-likelihood of family 1 is not finite (NaN); "
                         "the starting parameters give it no finite value"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("impossible"), std::string::npos) << run.err;
}

TEST(RejectedStart, NamesParInpItsLineAndTheParameter) {
  RunFolder folder("rejected_start_line");
  folder.damage("par.inp", 3, " 3 1  1.0    0.2    0.2  -10.0");
  const RunResult run = run_program("bravik_2point_max", folder.path());
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("par.inp, line 4: parameter 3 = 1 is not strictly between its bounds 0.2 and -10"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace bravik::testing
