// The job scripts of a scan on SLURM: the array range, the user's options as
// #SBATCH lines, and what the scripts run, checked by running them with bash
// against a stand-in for bravik_scan that records its arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pedfile/input_error.hpp"
#include "program_runner.hpp"
#include "scan/slurm_scripts.hpp"
#include "shell_command.hpp"

namespace bravik::testing {
namespace {

using scan::SlurmJob;

struct RangeCase {
  std::vector<int> chunks;
  int max_running;
  std::string range;
};

TEST(SlurmScripts, ArrayRangeJoinsRunsOfConsecutiveChunks) {
  const std::vector<RangeCase> cases = {
      {{1}, 0, "1"},
      {{1, 2, 3}, 0, "1-3"},
      {{1, 2, 3, 5, 7, 8}, 4, "1-3,5,7-8%4"},
      {{2, 4, 6}, 1, "2,4,6%1"},
      {{9, 10, 11, 12, 40}, 0, "9-12,40"},
  };
  for (const RangeCase& c : cases) EXPECT_EQ(scan::array_range(c.chunks, c.max_running), c.range);
}

struct LinesCase {
  std::vector<std::string> options;
  std::vector<std::string> lines;
};

TEST(SlurmScripts, UserOptionsBecomeOneLinePerOptionWithItsValue) {
  const std::vector<LinesCase> cases = {
      {{"--partition=long", "--time=2:00:00"}, {"--partition=long", "--time=2:00:00"}},
      {{"-p", "long", "-A", "proj1", "--mem=4G"}, {"-p long", "-A proj1", "--mem=4G"}},
      {{"--comment=two words", "-c", "4"}, {"\"--comment=two words\"", "-c 4"}},
      {{"long"}, {"long"}},
  };
  for (const LinesCase& c : cases) EXPECT_EQ(scan::sbatch_lines(c.options), c.lines);
}

TEST(SlurmScripts, OptionsNoSbatchLineCanHoldAreRefused) {
  for (const std::string bad : {"--comment=a\nb", "--comment=say \"hi\" there"}) {
    EXPECT_THROW(scan::sbatch_lines({bad}), tools::InputError) << bad;
  }
}

TEST(SlurmScripts, ShellQuotingSurvivesBash) {
  for (const std::string text : {"plain/path-1.2", "with space", "it's", "$HOME `x` \"y\"", "a%b*?"}) {
    const Shell echoed = shell("printf %s " + scan::shell_quoted(text));
    EXPECT_EQ(echoed.out, text);
  }
}

// A scan folder whose path needs quoting everywhere, and a stand-in program
// that appends its arguments, one a line, to a file beside it.
class SlurmScriptRun : public ::testing::Test {
 protected:
  SlurmScriptRun() {
    std::filesystem::create_directories(job_.folder / "slurm");
    std::filesystem::create_directories(job_.scan_program.parent_path());
    write_file(job_.scan_program,
               "#!/bin/bash\nprintf '%s\\n' \"$@\" >> \"$0.calls\"\n");
    std::filesystem::permissions(job_.scan_program, std::filesystem::perms::owner_all);
  }

  std::string calls() const { return read_file(job_.scan_program.string() + ".calls"); }

  // Writes the script and runs it with bash as array task `task`.
  int run(const std::string& script, int task) const {
    const std::filesystem::path file = job_.folder / "slurm" / "job.sbatch";
    write_file(file, script);
    return shell("SLURM_ARRAY_TASK_ID=" + std::to_string(task) + " bash " + scan::shell_quoted(file.string())).status;
  }

  const TestFolder work_{"slurm-script-run"};
  SlurmJob job_{work_.path() / "bin dir" / "bravik_scan", work_.path() / "it's 100% scan", {1, 2, 4}, 5,
                "--classic", 2, {"-p", "long", "--comment=two words"}};
};

TEST_F(SlurmScriptRun, ScriptsPassBashSyntaxCheck) {
  for (const std::string& script : {scan::array_script(job_), scan::merge_script(job_)}) {
    const std::filesystem::path file = job_.folder / "slurm" / "check.sbatch";
    write_file(file, script);
    EXPECT_EQ(shell("bash -n " + scan::shell_quoted(file.string()) + " 2>&1").status, 0) << script;
  }
}

// sbatch reads #SBATCH lines only up to the first command of the script.
TEST_F(SlurmScriptRun, EverySbatchLineComesBeforeTheFirstCommand) {
  for (const std::string& script : {scan::array_script(job_), scan::merge_script(job_)}) {
    std::istringstream lines(script);
    std::string line;
    bool commands_started = false;
    int sbatch_lines = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("#SBATCH ", 0) == 0) {
        EXPECT_FALSE(commands_started) << line;
        ++sbatch_lines;
      } else if (!line.empty() && line[0] != '#') {
        commands_started = true;
      }
    }
    EXPECT_GE(sbatch_lines, 4) << script;
    EXPECT_NE(script.find("#SBATCH -p long\n"), std::string::npos);
    EXPECT_NE(script.find("#SBATCH \"--comment=two words\"\n"), std::string::npos);
  }
  EXPECT_NE(scan::array_script(job_).find("#SBATCH --array=1-2,4%2\n"), std::string::npos);
}

TEST_F(SlurmScriptRun, ArrayTaskRunsItsChunkInTheScanFolderWithTheMode) {
  ASSERT_EQ(run(scan::array_script(job_), 4), 0);
  EXPECT_EQ(calls(), "task\n" + job_.folder.string() + "\n4\n--classic\n");
}

TEST_F(SlurmScriptRun, ArrayTaskOfTheDefaultModeGivesNoModeOption) {
  job_.mode.clear();
  ASSERT_EQ(run(scan::array_script(job_), 1), 0);
  EXPECT_EQ(calls(), "task\n" + job_.folder.string() + "\n1\n");
}

TEST_F(SlurmScriptRun, MergeJobMergesThenReportsTheChunks) {
  ASSERT_EQ(run(scan::merge_script(job_), 0), 0);
  EXPECT_EQ(calls(), "merge\n" + job_.folder.string() + "\nstatus\n" + job_.folder.string() + "\n");
}

TEST_F(SlurmScriptRun, LogFilesAreNamedByJobAndTaskInTheScanFolder) {
  const std::string folder = job_.folder.string();
  const std::string escaped = folder.substr(0, folder.find('%')) + "%%" + folder.substr(folder.find('%') + 1);
  EXPECT_NE(scan::array_script(job_).find("#SBATCH \"--output=" + escaped + "/slurm/scan_%A_%a.out\"\n"),
            std::string::npos);
  EXPECT_NE(scan::array_script(job_).find("#SBATCH \"--error=" + escaped + "/slurm/scan_%A_%a.err\"\n"),
            std::string::npos);
  EXPECT_NE(scan::merge_script(job_).find("#SBATCH \"--output=" + escaped + "/slurm/merge_%j.out\"\n"),
            std::string::npos);
}

}  // namespace
}  // namespace bravik::testing

namespace bravik::testing {
namespace {

// The text indented by four spaces, as a README code block shows it.
std::string indented(const std::string& text) {
  std::istringstream lines(text);
  std::string block, line;
  while (std::getline(lines, line)) block += "    " + line + "\n";
  return block;
}

TEST(SlurmScripts, ReadmeShowsTheScriptsAsWrittenAndTheyPassBashSyntaxCheck) {
  SlurmJob job{"/opt/bravik/bin/bravik_scan", "/data/scan", {}, 200, "", 50,
               {"--partition=long", "--account=gen123", "--time=2:00:00", "--mem=4G", "--cpus-per-task=2"}};
  for (int k = 1; k <= 200; ++k)
    if (k < 18 || k > 20) job.chunks.push_back(k);
  const std::string readme = read_file(std::filesystem::path(BRAVIK_SOURCE_DIR) / "README.md");
  const WorkFolder work("slurm-readme");
  for (const std::string& script : {scan::array_script(job), scan::merge_script(job)}) {
    EXPECT_NE(readme.find(indented(script)), std::string::npos) << script;
    write_file(work.path() / "job.sbatch", script);
    EXPECT_EQ(shell("bash -n '" + (work.path() / "job.sbatch").string() + "' 2>&1").status, 0) << script;
  }
}

}  // namespace
}  // namespace bravik::testing
