// The command lines of the data tools run as a person would: help, refused
// output names, and the output rules of bravik_plot.
#include <gtest/gtest.h>

#include <string>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

namespace fs = std::filesystem;

const char* const lod_lines = "   1 -0.896686E+01 -0.879332E+01    0.7545E-01\n   2 -0.880432E+01 -0.883058E+01   -0.1142E-01\n";
const char* const map_lines = "1 D1S1 0.0\n2 D1S2 10.0\n";

// A folder with a LOD file and a map file.
class ToolFolder : public ::testing::Test {
 protected:
  ToolFolder() {
    write_file(work.path() / "lod.out", lod_lines);
    write_file(work.path() / "map.txt", map_lines);
  }
  RunResult run(const std::string& program, const std::string& arguments) const {
    return run_program(program, work.path(), "", arguments);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work.path())) names.push_back(entry.path().filename().string());
    return names;
  }
  WorkFolder work{"tools"};
};

TEST_F(ToolFolder, ShortHelpIsHelpAndWritesNoFile) {
  for (const char* program : {"bravik_sim", "bravik_prep", "bravik_plot"}) {
    const RunResult help = run(program, "-h");
    EXPECT_EQ(help.status, 0) << program << ": " << help.err;
    EXPECT_EQ(help.out.rfind(std::string("usage: ") + program, 0), 0u) << help.out;
    EXPECT_FALSE(fs::exists(work.path() / "-h")) << program;
  }
}

TEST_F(ToolFolder, OutputNamesStartingWithADashAreRefused) {
  for (const auto& [program, arguments] : {std::pair{"bravik_sim", "-out.ped"}, std::pair{"bravik_sim", "--families 2 -x"},
                                           std::pair{"bravik_prep", "lod.out -folder"},
                                           std::pair{"bravik_plot", "lod.out -plot.svg"}}) {
    const RunResult refused = run(program, arguments);
    EXPECT_EQ(refused.status, 1) << program << " " << arguments;
    EXPECT_NE(refused.err.find("unknown option '-"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("usage: "), std::string::npos) << refused.err;
  }
  EXPECT_EQ(files().size(), 4u);  // the two inputs and the run's output captures
}

TEST_F(ToolFolder, PlotWritesOnlyToANewSvgName) {
  struct Case {
    const char* arguments;
    const char* error;
  };
  fs::create_symlink("map.txt", work.path() / "map.svg");
  write_file(work.path() / "lod.out.svg", map_lines);
  for (const Case& c : {Case{"lod.out map.txt", "the output name 'map.txt' does not end in .svg"},
                        Case{"lod.out plot.png", "the output name 'plot.png' does not end in .svg"},
                        Case{"lod.out ./lod.out.svg lod.out.svg", "the output 'lod.out.svg' is the input './lod.out.svg'"},
                        Case{"lod.out map.txt ./map.svg", "the output './map.svg' is the input 'map.txt'"}}) {
    const RunResult refused = run("bravik_plot", c.arguments);
    EXPECT_EQ(refused.status, 1) << c.arguments;
    EXPECT_NE(refused.err.find(c.error), std::string::npos) << c.arguments << ": " << refused.err;
  }
  EXPECT_EQ(read_file(work.path() / "lod.out"), lod_lines);
  EXPECT_EQ(read_file(work.path() / "map.txt"), map_lines);
  EXPECT_FALSE(fs::exists(work.path() / "plot.png"));
  const RunResult drawn = run("bravik_plot", "lod.out map.txt plot.svg");
  EXPECT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(read_file(work.path() / "plot.svg").find("D1S2"), std::string::npos);
}

}  // namespace
}  // namespace bravik::testing
