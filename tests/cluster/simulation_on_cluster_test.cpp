// Replicate scans submitted to the test cluster as one array over replicates
// x chunks: the merged simulation.tsv and results.tsv equal those of a local
// run on all cores.
#include <regex>

#include "../program_runner.hpp"
#include "cluster_support.hpp"

namespace bravik::testing {
namespace {

namespace fs = std::filesystem;

std::string program(const std::string& name) { return (fs::path(BRAVIK_BINARY_DIR) / name).string(); }

Shell scan(const std::string& arguments) { return shell(program("bravik_scan") + " " + arguments + " 2>&1"); }

std::string merge_job(const std::string& text) {
  std::smatch found;
  return std::regex_search(text, found, std::regex("merge job ([0-9]+)")) ? std::string(found[1]) : "";
}

TEST(SimulationOnCluster, ReplicateArrayMergesToTheTablesOfALocalRun) {
  BRAVIK_REQUIRE_CLUSTER();
  const TestFolder work("cluster-simulation");
  const fs::path pedigree = work.path() / "sim.ped";
  ASSERT_EQ(shell(program("bravik_sim") + " --seed 7 --families 15 --polygenic-step 0 --theta '0*2,0.5*6' '" +
                  pedigree.string() + "' 2>&1").status, 0);
  // Without the polygenic component, for time: its step fixed at 0.
  const fs::path par = work.path() / "fast.inp";
  ASSERT_EQ(scan("prepare --pedigree '" + pedigree.string() + "' '" + (work.path() / "template").string() + "'").status, 0);
  ASSERT_EQ(shell("sed 's/^ 7 1 .*/ 7 0 0 0.01 -1 1/' '" + (work.path() / "template" / "input" / "par.inp").string() +
                  "' > '" + par.string() + "'").status, 0);
  for (const char* name : {"local", "cluster"}) {
    const std::string folder = (work.path() / name).string();
    ASSERT_EQ(scan("prepare --pedigree '" + pedigree.string() + "' --par '" + par.string() + "' --chunk-size 4 '" + folder + "'").status, 0);
    const Shell simulated = scan("simulate '" + folder + "' --replicates 6 --seed 2");
    ASSERT_EQ(simulated.status, 0) << simulated.out;
  }
  const fs::path local = work.path() / "local";
  const fs::path cluster = work.path() / "cluster";
  ASSERT_EQ(scan("run '" + local.string() + "' --jobs 2").status, 0);
  ASSERT_EQ(scan("merge '" + local.string() + "'").status, 0);

  const Shell submitted = scan("slurm '" + cluster.string() + "' --submit --max-running 2 -- --time=10 --cpus-per-task=1");
  ASSERT_EQ(submitted.status, 0) << submitted.out;
  EXPECT_NE(submitted.out.find("chunks 1-14%2"), std::string::npos) << submitted.out;
  const std::string merge = merge_job(submitted.out);
  ASSERT_TRUE(wait_for_job(merge, std::chrono::seconds(900))) << "merge job " << merge << " never ended";
  EXPECT_EQ(job_field(merge, "JobState"), "COMPLETED") << read_file(cluster / "slurm" / ("merge_" + merge + ".out"));

  for (const char* file : {"simulation.tsv", "results.tsv"}) {
    const std::string text = read_file(cluster / file);
    ASSERT_FALSE(text.empty()) << file;
    EXPECT_EQ(text, read_file(local / file)) << file;
  }
  const Shell status = scan("status '" + cluster.string() + "'");
  EXPECT_NE(status.out.find("replicates 6 (robust mode, seed 2): tasks 3-14, done 12, failed 0, pending 0"),
            std::string::npos) << status.out;
}

}  // namespace
}  // namespace bravik::testing
