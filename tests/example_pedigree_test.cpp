// The bundled example's pedigree file, prepared by bravik_prep, describes the
// same families as the hand-written run folder.
#include <gtest/gtest.h>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

TEST(ExamplePedigreeFile, PreparesTheSameScanAsTheHandWrittenFolder) {
  const std::filesystem::path source(BRAVIK_SOURCE_DIR);
  WorkFolder work("example-pedigree");
  const std::string prep = (std::filesystem::path(BRAVIK_BINARY_DIR) / "bravik_prep").string();
  const std::string command = "'" + prep + "' --quiet '" + (source / "examples/pedigree.txt").string() + "' '" +
                              (work.path() / "run").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::filesystem::copy_file(source / "examples/par.inp", work.path() / "run/par.inp",
                             std::filesystem::copy_options::overwrite_existing);
  const RunResult run = run_program("bravik_2point", work.path() / "run");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(read_file(work.path() / "run/lod.out"), read_file(golden_dir() / "example/fixed.lod"));
  EXPECT_EQ(run.out, read_file(golden_dir() / "example/fixed.stdout"));
}

}  // namespace
}  // namespace bravik::testing
