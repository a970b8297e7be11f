// The status line of a scan: drawn on standard error only when it is a
// terminal, and never mixed into standard output or the result files.
#include <gtest/gtest.h>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

const std::filesystem::path golden = std::filesystem::path(BRAVIK_SOURCE_DIR) / "tests/golden";

TEST(ProgressLine, IsDrawnOnATerminalAndLeavesTheOutputsAlone) {
  WorkFolder work("progress-terminal");
  work.copy_inputs(golden / "threegen");
  const std::string exe = (std::filesystem::path(BRAVIK_BINARY_DIR) / "bravik_2point_max").string();
  // `script` gives the program a terminal as standard error; standard output goes to a file.
  const std::string command = "cd '" + work.path().string() + "' && script -qec \"'" + exe +
                              "' > run.stdout\" /dev/null < /dev/null > terminal.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string terminal = read_file(work.path() / "terminal.txt");
  EXPECT_NE(terminal.find("marker 4 of 4, alternative pass, evaluations so far: "), std::string::npos);
  EXPECT_NE(terminal.find("\r\033[K"), std::string::npos);
  EXPECT_EQ(read_file(work.path() / "run.stdout"), read_file(golden / "threegen/expected/max.stdout"));
  EXPECT_EQ(read_file(work.path() / "lod.txt"), read_file(golden / "threegen/expected/max.lod"));
  EXPECT_EQ(read_file(work.path() / "sigma.DAT"), read_file(golden / "threegen/expected/max.sigma"));
}

TEST(ProgressLine, IsNotWrittenWhenStandardErrorIsNotATerminal) {
  WorkFolder work("progress-redirected");
  work.copy_inputs(golden / "threegen");
  const RunResult run = run_program("bravik_2point_max", work.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace bravik::testing
