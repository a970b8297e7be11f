// The install step: `cmake --install` of the build puts the six programs in
// PREFIX/bin, where they run by themselves.
#include <gtest/gtest.h>

#include <string>

#include "program_runner.hpp"

namespace bravik::testing {
namespace {

TEST(Install, PutsEveryProgramInPrefixBin) {
  WorkFolder work("install_prefix");
  const std::string command = std::string("'") + BRAVIK_CMAKE_COMMAND + "' --install '" + BRAVIK_BINARY_DIR +
                              "' --prefix '" + work.path().string() + "' > '" + (work.path() / "log").string() +
                              "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << read_file(work.path() / "log");
  for (const char* program : {"bravik_2point", "bravik_2point_max", "bravik_prep", "bravik_sim", "bravik_plot", "bravik_scan"}) {
    const std::filesystem::path installed = work.path() / "bin" / program;
    ASSERT_TRUE(std::filesystem::exists(installed)) << installed;
    const std::string version = "'" + installed.string() + "' --help > '" + (work.path() / "help").string() + "'";
    EXPECT_EQ(std::system(version.c_str()), 0) << program;
    EXPECT_EQ(read_file(work.path() / "help").rfind(std::string("usage: ") + program, 0), 0u) << program;
  }
}

}  // namespace
}  // namespace bravik::testing
