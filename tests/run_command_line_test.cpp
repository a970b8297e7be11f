// The command lines of the analysis programs: help and version, refused
// arguments, and the hint when an input file is missing.
#include <gtest/gtest.h>

#include <string>

#include "program_runner.hpp"
#include "run/command_line.hpp"

namespace bravik::testing {
namespace {

struct Line {
  const char* program;
  const char* arguments;
  int status;
  const char* out;  // expected in standard output
  const char* err;  // expected in standard error
};

void PrintTo(const Line& l, std::ostream* os) { *os << l.program << " " << l.arguments; }

class ProgramCommandLine : public ::testing::TestWithParam<Line> {};

// Run in an empty folder: help and version need no input, and a refused
// argument must stop the run before any input is looked for.
TEST_P(ProgramCommandLine, AnswersWithoutReadingAnyFile) {
  const Line& l = GetParam();
  WorkFolder work("empty");
  const RunResult run = run_program(l.program, work.path(), "", l.arguments);
  EXPECT_EQ(run.status, l.status) << run.err;
  EXPECT_NE(run.out.find(l.out), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(l.err), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("apparent state"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgramCommandLine,
    ::testing::Values(
        Line{"bravik_2point", "--help", 0, "usage: bravik_2point [OPTION]...", ""},
        Line{"bravik_2point_max", "-h", 0, "maxpar.inp", ""},
        Line{"bravik_2point", "-h", 0, "bravik_prep PEDIGREE_FILE FOLDER makes every input file", ""},
        Line{"bravik_2point_max", "--version", 0, "bravik_2point_max 1.", ""},
        Line{"bravik_2point", "--robust", 2, "", "bravik_2point: unknown option '--robust'\nusage: bravik_2point"},
        Line{"bravik_2point_max", "-x", 2, "", "unknown option '-x'"},
        Line{"bravik_2point", "lod.out", 2, "", "unexpected argument 'lod.out' (the input files are read from"}));

TEST(ProgramHelp, NamesEveryFileAndVariableEachProgramUses) {
  for (const Program program : {Program::fixed, Program::maximizing}) {
    const std::string help = help_text(program);
    for (const char* word : {"task.inp", "par.inp", "IWAY.DAT", "phenotype", "marker", "LOD result file",
                             "BRAVIK_KERNEL", "BRAVIK_THREADS", "bravik_prep", "--version", "-h, --help"})
      EXPECT_NE(help.find(word), std::string::npos) << word;
    const bool maximizing = program == Program::maximizing;
    for (const char* word : {"maxpar.inp", "sigma.DAT", "estimate file"})
      EXPECT_EQ(help.find(word) != std::string::npos, maximizing) << word;
  }
}

TEST(ProgramCommandLine, ParsesEachSpellingOfAnOption) {
  EXPECT_TRUE(parse_command_line(Program::fixed, {"-h"}).help);
  EXPECT_TRUE(parse_command_line(Program::maximizing, {"--help"}).help);
  const ProgramRequest both = parse_command_line(Program::fixed, {"--version", "-h"});
  EXPECT_TRUE(both.version && both.help);
  EXPECT_FALSE(parse_command_line(Program::fixed, {}).help);
  EXPECT_THROW(parse_command_line(Program::fixed, {"--help=yes"}), std::invalid_argument);
  EXPECT_THROW(parse_command_line(Program::fixed, {"-"}), std::invalid_argument);
}

TEST(MissingInput, LastLineNamesTheFileTheFolderAndBravikPrep) {
  WorkFolder work("missing_input");
  work.copy_inputs(golden_dir() / "nuclear");
  std::filesystem::remove(work.path() / "IWAY.DAT");
  const RunResult run = run_program("bravik_2point", work.path());
  EXPECT_EQ(run.status, 2);
  const std::string last_line = "bravik_2point expected the input file IWAY.DAT in the folder " +
                                std::filesystem::canonical(work.path()).string() +
                                "; bravik_prep PEDIGREE_FILE FOLDER makes every input file of a run (see --help)\n";
  ASSERT_GE(run.err.size(), last_line.size()) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - last_line.size()), last_line);
  EXPECT_NE(run.err.find("open: can't read file"), std::string::npos) << run.err;
}

TEST(MissingInput, AnEmptyFolderAsksForTaskInp) {
  WorkFolder work("empty_folder");
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("bravik_2point_max expected the input file maxpar.inp in the folder"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace bravik::testing
