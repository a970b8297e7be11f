// A scan submitted to the test cluster with `bravik_scan slurm --submit`: its
// merged results equal those of a local run, and a chunk whose array task was
// cancelled is reported by `status` and is the only one submitted again (not
// before the first array has left the queue).
#include <regex>

#include "../program_runner.hpp"
#include "cluster_support.hpp"

namespace bravik::testing {
namespace {

namespace fs = std::filesystem;

std::string program(const std::string& name) { return (fs::path(BRAVIK_BINARY_DIR) / name).string(); }

// Runs bravik_scan with the arguments; standard error joins standard output.
Shell scan(const std::string& arguments) { return shell(program("bravik_scan") + " " + arguments + " 2>&1"); }

// The number after `label` in text, as printed by `slurm --submit`.
std::string job_id(const std::string& text, const std::string& label) {
  std::smatch found;
  if (!std::regex_search(text, found, std::regex(label + " job ([0-9]+)"))) return "";
  return found[1];
}

class ScanOnCluster : public ::testing::Test {
 protected:
  // A simulated data set of 12 markers in `families` families prepared into a
  // scan folder of chunks of `chunk_size` markers.
  fs::path prepare(const std::string& name, int chunk_size, int families = 20) const {
    const fs::path pedigree = work_.path() / "sim.ped";
    if (!fs::exists(pedigree)) {
      const Shell sim = shell(program("bravik_sim") + " --seed 7 --families " + std::to_string(families) +
                              " --theta '0*3,0.1*3,0.5*6' '" + pedigree.string() + "' 2>&1");
      EXPECT_EQ(sim.status, 0) << sim.out;
    }
    const fs::path folder = work_.path() / name;
    const Shell prepared =
        scan("prepare --pedigree '" + pedigree.string() + "' --chunk-size " + std::to_string(chunk_size) + " '" +
             folder.string() + "'");
    EXPECT_EQ(prepared.status, 0) << prepared.out;
    return folder;
  }

  // Submits the chunks left to do and waits for the merge job; returns what slurm printed.
  std::string submit_and_wait(const fs::path& folder, const std::string& options) const {
    const Shell submitted = scan("slurm '" + folder.string() + "' --submit " + options);
    EXPECT_EQ(submitted.status, 0) << submitted.out;
    const std::string merge = job_id(submitted.out, "merge");
    EXPECT_FALSE(merge.empty()) << submitted.out;
    EXPECT_TRUE(wait_for_job(merge, std::chrono::seconds(600))) << "merge job " << merge << " never ended";
    EXPECT_EQ(job_field(merge, "JobState"), "COMPLETED") << read_file(folder / "slurm" / ("merge_" + merge + ".out"));
    return submitted.out;
  }

  const TestFolder work_{"cluster-scan"};
};

TEST_F(ScanOnCluster, SubmittedScanMergesToTheResultsOfALocalRun) {
  BRAVIK_REQUIRE_CLUSTER();
  const fs::path local = prepare("local", 3);
  const fs::path cluster = prepare("cluster", 3);
  ASSERT_EQ(scan("run '" + local.string() + "' --jobs 2").status, 0);
  ASSERT_EQ(scan("merge '" + local.string() + "'").status, 0);

  const std::string submitted =
      submit_and_wait(cluster, "--max-running 2 -- --time=10 --cpus-per-task=1 --job-name=scan-test");
  EXPECT_NE(submitted.find("chunks 1-4%2"), std::string::npos) << submitted;

  const std::string results = read_file(cluster / "results.tsv");
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results, read_file(local / "results.tsv"));
  const std::string array = job_id(submitted, "array");
  EXPECT_EQ(read_file(cluster / "slurm" / "jobs.tsv"),
            "array\t" + array + "\t1-4%2\nmerge\t" + job_id(submitted, "merge") + "\n");
  EXPECT_EQ(job_field(array + "_4", "JobName"), "scan-test");
  const Shell status = scan("status '" + cluster.string() + "'");
  EXPECT_NE(status.out.find("done 4 (12 markers): 1-4\nfailed 0\npending 0\n"), std::string::npos) << status.out;
}

// Cancels array task `task` of the job as soon as it runs.
void cancel_when_running(const std::string& array, int task) {
  const std::string id = array + "_" + std::to_string(task);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (job_field(id, "JobState") != "RUNNING") {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << id << " never ran";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(shell("scancel " + id).status, 0);
}

TEST_F(ScanOnCluster, CancelledChunkIsReportedAndSubmittedAgainAlone) {
  BRAVIK_REQUIRE_CLUSTER();
  // Chunks of several seconds each (50 families), so that the cancel lands
  // while chunk 2's program runs even on a loaded machine.
  const fs::path folder = prepare("scan", 4, 50);
  const Shell submitted = scan("slurm '" + folder.string() + "' --submit --max-running 1");
  ASSERT_EQ(submitted.status, 0) << submitted.out;
  const std::string array = job_id(submitted.out, "array");
  const Shell twice = scan("slurm '" + folder.string() + "' --submit");
  EXPECT_EQ(twice.status, 2) << twice.out;
  EXPECT_NE(twice.out.find("array job " + array + " of this scan still has"), std::string::npos) << twice.out;
  cancel_when_running(array, 2);
  ASSERT_TRUE(wait_for_job(job_id(submitted.out, "merge"), std::chrono::seconds(600)));

  EXPECT_EQ(job_field(array + "_2", "JobState"), "CANCELLED");
  EXPECT_FALSE(fs::exists(folder / "chunks" / "2"));
  const Shell status = scan("status '" + folder.string() + "'");
  EXPECT_NE(status.out.find("done 2 (8 markers): 1,3\n"), std::string::npos) << status.out;
  // Cancelled while its program ran, the chunk is failed when the task saw the
  // program end before it was stopped itself, and pending otherwise.
  EXPECT_TRUE(std::regex_search(status.out, std::regex("\nfailed 1: 2\n|\npending 1: 2\n"))) << status.out;
  const std::regex cancelled("  chunk 2, task scan_" + array + "_2.err: [^\n]*CANCELLED[^\n]*\n");
  EXPECT_TRUE(std::regex_search(status.out, cancelled)) << status.out;

  const auto chunk1_written = fs::last_write_time(folder / "chunks" / "1");
  const std::string again = submit_and_wait(folder, "--max-running 1");
  EXPECT_NE(again.find("(1 of 3 chunks: 2%1)"), std::string::npos) << again;
  EXPECT_NE(read_file(folder / "slurm" / "scan.sbatch").find("#SBATCH --array=2%1\n"), std::string::npos);
  EXPECT_EQ(fs::last_write_time(folder / "chunks" / "1"), chunk1_written);
  const Shell done = scan("status '" + folder.string() + "'");
  EXPECT_NE(done.out.find("done 3 (12 markers): 1-3\nfailed 0\npending 0\n"), std::string::npos) << done.out;
  EXPECT_EQ(read_file(folder / "results.tsv").find("\tfailed\t"), std::string::npos);
}

}  // namespace
}  // namespace bravik::testing
