// `bravik_scan slurm` without a cluster: which chunks its array covers, the
// scripts and the submit command it writes, its refusals, and what `status`
// adds from the record of a submission.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "program_runner.hpp"
#include "scan/layout.hpp"
#include "scan/plan.hpp"
#include "scan/slurm.hpp"
#include "shell_command.hpp"

namespace bravik::testing {
namespace {

namespace fs = std::filesystem;

Shell scan(const std::string& arguments) {
  return shell((fs::path(BRAVIK_BINARY_DIR) / "bravik_scan").string() + " " + arguments + " 2>&1");
}

// A prepared scan folder of 5 chunks (10 markers, 2 each): chunk 1 done,
// chunk 3 failed, the others pending, as the folder's files say.
class SlurmCommand : public ::testing::Test {
 protected:
  SlurmCommand() {
    const fs::path pedigree = work_.path() / "sim.ped";
    const std::string sim = (fs::path(BRAVIK_BINARY_DIR) / "bravik_sim").string();
    EXPECT_EQ(shell(sim + " --seed 2 --families 4 --theta '0.1*10' '" + pedigree.string() + "' 2>&1").status, 0);
    const Shell prepared = scan("prepare --pedigree '" + pedigree.string() + "' --chunk-size 2 '" + out().string() + "'");
    EXPECT_EQ(prepared.status, 0) << prepared.out;
    fs::create_directories(out() / "chunks" / "1");
    fs::create_directories(out() / "failed");
    write_file(out() / "failed" / "3", "exit 1\nbravik_2point_max: no convergence\n");
  }

  fs::path out() const { return work_.path() / "scan"; }
  std::string slurm_file(const std::string& name) const { return read_file(out() / "slurm" / name); }

  const TestFolder work_{"slurm-command"};
};

TEST_F(SlurmCommand, ArrayCoversFailedAndPendingChunksAndCommandSubmitsBothScripts) {
  const Shell written = scan("slurm '" + out().string() + "' --fixed --max-running 3 -- -p long --mem=2G");
  ASSERT_EQ(written.status, 0) << written.out;
  EXPECT_NE(written.out.find("(4 of 5 chunks: 2-5%3)"), std::string::npos) << written.out;
  const std::string array = slurm_file("scan.sbatch");
  EXPECT_NE(array.find("#SBATCH --array=2-5%3\n"), std::string::npos) << array;
  EXPECT_NE(array.find(" task " + out().string() + " \"$SLURM_ARRAY_TASK_ID\" --fixed\n"), std::string::npos) << array;
  EXPECT_NE(array.find("/bravik_scan task"), std::string::npos);
  EXPECT_NE(array.find("#SBATCH -p long\n#SBATCH --mem=2G\n"), std::string::npos) << array;
  EXPECT_NE(slurm_file("merge.sbatch").find("#SBATCH -p long\n#SBATCH --mem=2G\n"), std::string::npos);
  const std::string scripts = (out() / "slurm").string();
  EXPECT_NE(written.out.find("jid=$(sbatch --parsable " + scripts + "/scan.sbatch) && sbatch --dependency=afterany:$jid " +
                             scripts + "/merge.sbatch\n"),
            std::string::npos)
      << written.out;
  for (const char* script : {"scan.sbatch", "merge.sbatch"})
    EXPECT_EQ(shell("bash -n '" + (out() / "slurm" / script).string() + "' 2>&1").status, 0) << script;
  EXPECT_FALSE(fs::exists(out() / "slurm" / "jobs.tsv")) << "nothing was submitted";
}

TEST_F(SlurmCommand, FolderGivenRelativeIsWrittenAbsolute) {
  const Shell written = shell("cd '" + work_.path().string() + "' && " +
                              (fs::path(BRAVIK_BINARY_DIR) / "bravik_scan").string() + " slurm scan/ 2>&1");
  ASSERT_EQ(written.status, 0) << written.out;
  EXPECT_NE(slurm_file("scan.sbatch").find(" task " + out().string() + " "), std::string::npos);
  EXPECT_NE(slurm_file("merge.sbatch").find(" merge " + out().string() + "\n"), std::string::npos)
      << slurm_file("merge.sbatch");
}

TEST_F(SlurmCommand, NothingIsWrittenWhenEveryChunkIsDone) {
  for (int k = 2; k <= 5; ++k) fs::create_directories(out() / "chunks" / std::to_string(k));
  const Shell written = scan("slurm '" + out().string() + "' --submit");
  EXPECT_EQ(written.status, 0) << written.out;
  EXPECT_NE(written.out.find("all 5 chunks are done: nothing to submit"), std::string::npos) << written.out;
  EXPECT_FALSE(fs::exists(out() / "slurm"));
}

TEST_F(SlurmCommand, BadCommandLinesEndWithStatus2) {
  for (const std::string args : {"--max-running 0", "--max-running x", "--unknown", "-- --comment='a\nb'"}) {
    const Shell refused = scan("slurm '" + out().string() + "' " + args);
    EXPECT_EQ(refused.status, 2) << args << ": " << refused.out;
    EXPECT_NE(refused.out.find("bravik_scan"), std::string::npos) << refused.out;
  }
  EXPECT_EQ(scan("slurm").status, 2);
  EXPECT_EQ(scan("slurm '" + (work_.path() / "nowhere").string() + "'").status, 2);
}

TEST_F(SlurmCommand, StatusShowsTheFirstErrorLineOfTheLastSubmissionsTasks) {
  fs::create_directories(out() / "slurm");
  write_file(out() / "slurm" / "jobs.tsv", "array\t41\t2-5\nmerge\t42\narray\t57\t2,4%1\nmerge\t58\n");
  write_file(out() / "slurm" / "scan_57_2.err", "slurmstepd: error: *** JOB 60 CANCELLED DUE TO TIME LIMIT ***\nmore\n");
  write_file(out() / "slurm" / "scan_57_4.err", "");
  write_file(out() / "slurm" / "scan_41_5.err", "an older submission\n");
  const Shell status = scan("status '" + out().string() + "'");
  ASSERT_EQ(status.status, 0) << status.out;
  EXPECT_NE(status.out.find("  chunk 3: exit 1: bravik_2point_max: no convergence\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("last submission: array job 57 (chunks 2,4%1), merge job 58\n"), std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("  chunk 2, task scan_57_2.err: slurmstepd: error: *** JOB 60 CANCELLED DUE TO TIME LIMIT ***\n"),
            std::string::npos)
      << status.out;
  EXPECT_EQ(status.out.find("chunk 4, task"), std::string::npos) << status.out;
  EXPECT_EQ(status.out.find("older submission"), std::string::npos) << status.out;
}

TEST_F(SlurmCommand, StatusOfAScanNeverSubmittedSaysNothingOfSlurm) {
  const Shell status = scan("status '" + out().string() + "'");
  ASSERT_EQ(status.status, 0) << status.out;
  EXPECT_EQ(status.out.find("submission"), std::string::npos) << status.out;
  EXPECT_FALSE(scan::last_submission(scan::ScanFolder{out()}).has_value());
}

}  // namespace
}  // namespace bravik::testing
