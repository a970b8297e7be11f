// The test cluster itself: a job array whose tasks run with their own index,
// throttled, one of them failing, and a job that waits for the whole array with
// an afterany dependency, as the scan's merge job does.
#include <set>

#include "../program_runner.hpp"
#include "cluster_support.hpp"

namespace bravik::testing {
namespace {

TEST(SlurmCluster, AfteranyJobRunsOnceEveryArrayTaskEndedWhateverItsStatus) {
  BRAVIK_REQUIRE_CLUSTER();
  const WorkFolder work("cluster-array");
  const std::string in = "cd '" + work.path().string() + "' && ";
  const Shell array = shell(in +
                            "sbatch --parsable --array=1-4%2 --output='task_%A_%a.out' "
                            "--wrap 'echo $SLURM_ARRAY_TASK_ID > ended_$SLURM_ARRAY_TASK_ID; "
                            "test $SLURM_ARRAY_TASK_ID -ne 3'");
  ASSERT_EQ(array.status, 0) << array.out;
  const std::string array_id = first_line(array.out);
  const Shell after = shell(in + "sbatch --parsable --output=after.out --dependency=afterany:" + array_id +
                            " --wrap 'cat ended_* | sort | tr \"\\n\" \" \"'");
  ASSERT_EQ(after.status, 0) << after.out;
  const std::string after_id = first_line(after.out);

  ASSERT_TRUE(wait_for_job(after_id, std::chrono::seconds(120))) << "the dependent job never ended";
  EXPECT_EQ(job_field(after_id, "JobState"), "COMPLETED");
  EXPECT_EQ(read_file(work.path() / "after.out"), "1 2 3 4 ");
  EXPECT_EQ(job_field(array_id + "_3", "JobState"), "FAILED");
  EXPECT_EQ(job_field(array_id + "_2", "JobState"), "COMPLETED");
  for (const char* task : {"1", "2", "3", "4"}) {
    EXPECT_TRUE(std::filesystem::exists(work.path() / ("task_" + array_id + "_" + task + ".out"))) << task;
  }
}

}  // namespace
}  // namespace bravik::testing
