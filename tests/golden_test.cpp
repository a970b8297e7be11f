// Whole runs of both programs compared byte for byte with checked-in outputs.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

struct GoldenCase {
  std::string program;
  std::string folder;
  std::vector<std::pair<std::string, std::string>> outputs;  // produced, expected
};

std::vector<GoldenCase> load_cases() {
  std::vector<GoldenCase> cases;
  std::ifstream in(golden_dir() / "cases.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    GoldenCase c;
    words >> c.program >> c.folder;
    std::string pair;
    while (words >> pair) {
      const auto eq = pair.find('=');
      c.outputs.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
    }
    cases.push_back(c);
  }
  return cases;
}

std::string case_name(const ::testing::TestParamInfo<GoldenCase>& info) {
  std::string name = info.param.program + "_" + std::filesystem::path(info.param.folder).filename().string();
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

// Test listings show the case by its program and folder.
void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.program << " on " << c.folder; }

class GoldenRun : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenRun, ReproducesEveryExpectedFile) {
  const GoldenCase& c = GetParam();
  const std::filesystem::path source(BRAVIK_SOURCE_DIR);
  const std::filesystem::path input = source / c.folder;
  WorkFolder work("golden-" + case_name({c, 0}));
  work.copy_inputs(input);
  const RunResult run = run_program(c.program, work.path());
  EXPECT_EQ(run.status, 0) << run.err;
  for (const auto& [produced, expected] : c.outputs) {
    const std::filesystem::path expected_path =
        expected.rfind("tests/", 0) == 0 ? source / expected : input / expected;
    const std::string got = produced == "stdout" ? run.out : read_file(work.path() / produced);
    EXPECT_EQ(got, read_file(expected_path)) << c.program << " " << c.folder << ": " << produced;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenRun, ::testing::ValuesIn(load_cases()), case_name);

}  // namespace
}  // namespace bravik::testing
