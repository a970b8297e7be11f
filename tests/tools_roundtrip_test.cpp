// From a pedigree file to LOD scores: bravik_prep output read by both analysis
// programs, whatever the order of the file's lines and the chosen roots.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "pedfile/mendel.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "program_runner.hpp"
#include "results/lod_file.hpp"
#include "tools/sim/simulate.hpp"
#include "tools_test_support.hpp"

namespace {

using namespace bravik::results;
using namespace bravik::tools;
using bravik::testing::read_file;
using bravik::testing::write_file;
namespace fs = std::filesystem;

// Runs a program of the build tree with arguments in a folder.
bravik::testing::RunResult run_tool(const std::string& program, const fs::path& folder, const std::string& args) {
  const fs::path exe = fs::path(BRAVIK_BINARY_DIR) / program;
  const std::string command =
      "cd '" + folder.string() + "' && '" + exe.string() + "' " + args + " < /dev/null > tool.stdout 2> tool.stderr";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(folder / "tool.stdout"), read_file(folder / "tool.stderr")};
}

std::vector<LodPoint> scan(const std::string& program, const fs::path& folder) {
  const bravik::testing::RunResult run = bravik::testing::run_program(program, folder);
  EXPECT_EQ(run.status, 0) << program << " in " << folder << ":\n" << run.err;
  return parse_lod_text(read_file(folder / "lod.out"), "lod.out");
}

// Equal to the rounding of the result file: six digits of the log-likelihoods, four of the LOD.
void expect_same_scan(const std::vector<LodPoint>& a, const std::vector<LodPoint>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].marker, b[i].marker);
    EXPECT_NEAR(a[i].null_lnl, b[i].null_lnl, 1.01e-6 * std::abs(a[i].null_lnl) + 1e-12) << "marker " << a[i].marker;
    EXPECT_NEAR(a[i].alt_lnl, b[i].alt_lnl, 1.01e-6 * std::abs(a[i].alt_lnl) + 1e-12) << "marker " << a[i].marker;
    EXPECT_NEAR(a[i].lod, b[i].lod, 1.01e-4 * std::abs(a[i].lod) + 1e-9) << "marker " << a[i].marker;
  }
}

void prepare_into(const fs::path& folder, const std::string& pedigree_text, PeelingOptions options) {
  PedigreeFile file = parse_pedigree_text(pedigree_text, "sim.ped");
  const PreparedPedigree ped = prepare_structure(file, options);
  check_mendelian(file, ped, false);
  write_run_folder(folder, file, ped, RunFileNames{});
}

// The three-generation family of the whole-run tests as a pedigree file: the
// preparation peels it from the grandparents down through the mother 3.
const char* const three_generations =
    "T 1 0 0 1 1.8   1 2  1 1  1 2  0 0\n"
    "T 2 0 0 2 -0.3  1 1  2 2  1 1  1 2\n"
    "T 3 1 2 2 2.1   1 2  1 2  1 1  1 1\n"
    "T 4 1 2 1 0.9   1 2  1 2  1 2  1 2\n"
    "T 5 0 0 1 x     1 1  1 2  1 1  1 1\n"
    "T 6 5 3 1 1.7   1 1  1 2  1 1  1 1\n"
    "T 7 5 3 2 2.6   1 2  1 2  1 1  0 0\n";

TEST(ToolsRoundTrip, GoldenThreeGenerationFamilyGivesTheExpectedScan) {
  const fs::path golden = bravik::testing::golden_dir() / "threegen";
  const std::vector<LodPoint> expected = parse_lod_text(read_file(golden / "expected/fixed.lod"), "fixed.lod");
  for (const char* root : {"first", "last"}) {
    SCOPED_TRACE(root);
    bravik::testing::WorkFolder work(std::string("roundtrip_threegen_") + root);
    write_file(work.path() / "ped.txt", three_generations);
    const bravik::testing::RunResult prep = run_tool("bravik_prep", work.path(), std::string("--root ") + root + " ped.txt run");
    ASSERT_EQ(prep.status, 0) << prep.err;
    EXPECT_NE(prep.out.find("bravik_prep: 1 families, 7 persons, 2 nuclear families, 4 markers written to run in "),
              std::string::npos) << prep.out;
    fs::copy_file(golden / "par.inp", work.path() / "run/par.inp", fs::copy_options::overwrite_existing);
    expect_same_scan(scan("bravik_2point", work.path() / "run"), expected);
  }
}

TEST(ToolsRoundTrip, LikelihoodsDoNotDependOnLineOrderOrRoot) {
  for (const Structure s : {Structure::threegen, Structure::fourgen, Structure::large, Structure::disjoint,
                            Structure::mixed}) {
    SCOPED_TRACE(structure_name(s));
    SimulationModel model;
    model.theta = {0.0, 0.2};
    model.untyped_rate = 0.2;
    model.trait_missing_rate = 0.1;
    const std::string text =
        bravik::testing::pedigree_text(simulate(model, SimulationDesign{s, s == Structure::fourgen ? 3 : 5, true}, 17));
    const struct Variant {
      std::uint64_t shuffle;  // 0 keeps the file's order
      PeelingOptions peeling;
    } variants[] = {{0, {RootChoice::first, 1}}, {1, {RootChoice::last, 1}}, {2, {RootChoice::random, 3}}};
    std::vector<LodPoint> reference;
    for (const Variant& v : variants) {
      bravik::testing::WorkFolder work(std::string("roundtrip_") + structure_name(s) + std::to_string(v.shuffle));
      prepare_into(work.path(), v.shuffle ? bravik::testing::shuffled_lines(text, v.shuffle) : text, v.peeling);
      const std::vector<LodPoint> result = scan("bravik_2point", work.path());
      ASSERT_EQ(result.size(), 2u) << "both markers analysed";
      if (reference.empty()) reference = result;
      else expect_same_scan(result, reference);
    }
  }
}

TEST(ToolsRoundTrip, BothProgramsReadTheWrittenFiles) {
  const std::string text = bravik::testing::pedigree_text(
      simulate(SimulationModel{}, SimulationDesign{Structure::nuclear, 8, false}, 5));
  bravik::testing::WorkFolder work("roundtrip_both_programs");
  prepare_into(work.path(), text, {});
  const std::vector<LodPoint> fixed = scan("bravik_2point", work.path());
  ASSERT_EQ(fixed.size(), 5u);

  // Every parameter fixed: the maximizing program evaluates and must agree.
  std::ifstream in(work.path() / "par.inp");
  std::string line, fixed_par;
  std::getline(in, line);
  fixed_par = line + '\n';
  while (std::getline(in, line)) {
    line[3] = '0';  // " i f value ...": the free flag
    fixed_par += line + '\n';
  }
  write_file(work.path() / "par.inp", fixed_par);
  expect_same_scan(scan("bravik_2point_max", work.path()), fixed);
  EXPECT_EQ(read_file(work.path() / "est.out").empty(), false) << "the fourth name of task.inp was read";

  // The plot of the scan has a point per analysed marker.
  write_file(work.path() / "map.txt", "1 M1 0\n2 M2 5\n3 M3 10\n4 M4 20\n5 M5 50\n");
  const bravik::testing::RunResult plot = run_tool("bravik_plot", work.path(), "lod.out map.txt scan.svg");
  ASSERT_EQ(plot.status, 0) << plot.err;
  const std::string svg = read_file(work.path() / "scan.svg");
  int points = 0;
  for (std::size_t at = svg.find("class=\"lod-point\""); at != std::string::npos; at = svg.find("class=\"lod-point\"", at + 1))
    ++points;
  EXPECT_EQ(points, 5);
}

TEST(ToolsPrograms, ReportErrorsWithStatusAndUsage) {
  bravik::testing::WorkFolder work("tools_programs");
  write_file(work.path() / "bad.ped", "F 1 0 0 1 x 1 1\nF 2 1 0 1 x 1 1\n");
  const bravik::testing::RunResult bad = run_tool("bravik_prep", work.path(), "bad.ped out");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "bravik_prep: bad.ped:2: family F, person 2: only one parent known (father 1, mother 0); "
                     "give both parents or neither\n");
  EXPECT_FALSE(fs::exists(work.path() / "out/IWAY.DAT"));

  const bravik::testing::RunResult missing = run_tool("bravik_prep", work.path(), "bad.ped");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("expected PEDIGREE_FILE and OUTPUT_FOLDER\nusage: bravik_prep"), std::string::npos);

  const bravik::testing::RunResult help = run_tool("bravik_sim", work.path(), "--help");
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--seed", "--families", "--structure", "--gene-freq", "--means", "--variance",
                             "--polygenic-step", "--theta", "--marker-freq", "--untyped", "--trait-missing"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;

  const bravik::testing::RunResult unknown = run_tool("bravik_plot", work.path(), "--colour red a b");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("unknown option '--colour'"), std::string::npos);
}

TEST(ToolsPrograms, PrepReadsMinusNineOrTheGivenValueAsMissingTrait) {
  bravik::testing::WorkFolder work("tools_prep_missing_phenotype");
  write_file(work.path() / "p.ped", "F a 0 0 1 -9  1 2\nF b 0 0 2 0  1 1\nF c a b 1 -9.0  1 2\nF d a b 2 2.5  1 1\n");
  struct Case {
    const char* options;
    const char* phenotypes;
  };
  for (const Case& c : {Case{"", "-999\n0\n-999\n2.5\n"}, Case{"--missing-phenotype 0", "-9\n-999\n-9\n2.5\n"},
                        Case{"--missing-phenotype=2.50", "-9\n0\n-9\n-999\n"}}) {
    fs::remove_all(work.path() / "out");
    const bravik::testing::RunResult prep = run_tool("bravik_prep", work.path(), std::string(c.options) + " p.ped out");
    ASSERT_EQ(prep.status, 0) << c.options << ": " << prep.err;
    EXPECT_EQ(read_file(work.path() / "out/phen.dat"), c.phenotypes) << c.options;
  }
  const bravik::testing::RunResult bad = run_tool("bravik_prep", work.path(), "--missing-phenotype none p.ped out");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("none"), std::string::npos) << bad.err;
}

}  // namespace
