// Replicate scans end to end: simulated data with one gene linked to marker
// 4 of 12 on two chromosomes; replicates run on all cores, and run on one
// core after a kill -9, give the same simulation.tsv; p_genome is as small
// as the replicates allow at the gene and large elsewhere; the replicates do
// not depend on the chunking.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "background_run.hpp"
#include "program_runner.hpp"
#include "scan/layout.hpp"
#include "scan/simulation.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace bravik::scan;
using namespace bravik::testing;

constexpr int replicates = 12;  // enough to tell the gene from the rest in CI time

fs::path build_program(const std::string& name) { return fs::path(BRAVIK_BINARY_DIR) / name; }

std::string quoted(const fs::path& path) { return std::string(1, '\'').append(path.string()).append(1, '\''); }

RunResult run_in(const fs::path& folder, const std::string& command) {
  const std::string line = "cd '" + folder.string() + "' && " + command + " < /dev/null > cmd.stdout 2> cmd.stderr";
  const int raw = std::system(line.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(folder / "cmd.stdout"), read_file(folder / "cmd.stderr")};
}

RunResult scan(const fs::path& folder, const std::string& args) {
  return run_in(folder, quoted(build_program("bravik_scan")) + " " + args);
}

void expect_ok(const RunResult& r) { ASSERT_EQ(r.status, 0) << r.out << r.err; }

std::vector<std::vector<std::string>> table_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream f(line);
    for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// 25 three-generation families, a gene of large effect at theta 0 from
// marker 4; markers 1-6 on chromosome 1 and 7-12 on chromosome 2, 10 cM
// apart; no polygenic component in the data or the model (for time).
void write_study(const fs::path& dir) {
  expect_ok(run_in(dir, quoted(build_program("bravik_sim")) +
                            " --seed 3 --families 25 --structure threegen --theta '0.5*3,0,0.5*8' --variance 0.3"
                            " --polygenic-step 0 --untyped 0.1 study.ped"));
  std::ostringstream map;
  for (int m = 1; m <= 12; ++m)
    map << (m <= 6 ? 1 : 2) << " m" << m << ' ' << (m - 1) % 6 * 10 << ' ' << 1'000'000 + (m - 1) % 6 * 10'000'000 << '\n';
  write_file(dir / "study.map", map.str());
  expect_ok(scan(dir, "prepare --pedigree study.ped --map study.map template"));
  std::string par;
  std::istringstream in(read_file(dir / "template" / "input" / "par.inp"));
  for (std::string line; std::getline(in, line);)
    par += (line.rfind(" 7 1 ", 0) == 0 ? " 7 0 0 0.01 -1 1   polygenic component off" : line) + '\n';
  write_file(dir / "fast.inp", par);
}

Plan plan_of_folder(const fs::path& folder) { return read_plan(ScanFolder{folder}.plan().string()); }

int done_tasks(const fs::path& folder, int first, int last) {
  int done = 0;
  for (int t = first; t <= last; ++t) done += ScanFolder{folder}.state(t) == ChunkState::done;
  return done;
}

TEST(ScanSimulation, ReplicatesOnAllCoresAndAfterAKillGiveOneTableAndSmallPAtTheGene) {
  const WorkFolder work("scan_simulation");
  write_study(work.path());
  expect_ok(scan(work.path(), "prepare --pedigree study.ped --map study.map --par fast.inp --chunk-size 5 all_cores"));
  expect_ok(scan(work.path(), "simulate all_cores --replicates " + std::to_string(replicates) + " --seed 9"));
  fs::copy(work.path() / "all_cores", work.path() / "killed", fs::copy_options::recursive);
  const RunResult status = scan(work.path(), "status all_cores");
  EXPECT_NE(status.out.find("replicates 12 (robust mode, seed 9): tasks 4-39, done 0, failed 0, pending 36"),
            std::string::npos) << status.out;

  expect_ok(scan(work.path(), "run --jobs 2 all_cores"));
  const RunResult merged = scan(work.path(), "merge all_cores");
  expect_ok(merged);
  EXPECT_NE(merged.out.find("significant (reached by the genome-wide maximum in 5% of replicates): LOD"), std::string::npos)
      << merged.out;
  EXPECT_NE(read_file(work.path() / "all_cores" / "summary.txt").find(merged.out.substr(merged.out.find("genome-wide"))),
            std::string::npos);
  const std::string svg = read_file(work.path() / "all_cores" / "results.svg");
  EXPECT_NE(svg.find("<line class=\"significant\""), std::string::npos);
  EXPECT_NE(svg.find("<line class=\"suggestive\""), std::string::npos);

  const fs::path killed = work.path() / "killed";
  const pid_t pid = bravik::testing::start_in_background(build_program("bravik_scan"), work.path(), {"run", "--jobs", "1", killed.string()});
  while (done_tasks(killed, 10, 39) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGKILL);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  ASSERT_TRUE(WIFSIGNALED(wait_status));
  EXPECT_LT(done_tasks(killed, 1, 39), 39) << "the run ended before it was killed";
  expect_ok(scan(work.path(), "run --jobs 1 killed"));
  expect_ok(scan(work.path(), "merge killed"));
  for (const char* file : {"simulation.tsv", "results.tsv", "summary.txt"})
    EXPECT_EQ(read_file(killed / file), read_file(work.path() / "all_cores" / file)) << file;

  const auto simulation = table_of(read_file(killed / "simulation.tsv"));
  ASSERT_EQ(simulation.size(), replicates + 1u);
  EXPECT_EQ(simulation[0], (std::vector<std::string>{"replicate", "max_lod", "max_chr", "max_id", "max_lod_1", "max_lod_2"}));
  const auto results = table_of(read_file(killed / "results.tsv"));
  ASSERT_EQ(results.size(), 13u);
  ASSERT_EQ(results[0].back(), "p_genome");
  const double smallest = 1.0 / (1 + replicates);
  EXPECT_DOUBLE_EQ(std::stod(results[4].back()), smallest) << "marker 4, LOD " << results[4][12];
  for (std::size_t m = 1; m <= 12; ++m)
    if (m != 4) {
      EXPECT_GT(std::stod(results[m].back()), 0.3) << "marker " << m << ", LOD " << results[m][12];
    }
}

TEST(ScanSimulation, ReplicatesDoNotDependOnTheChunking) {
  const WorkFolder work("scan_simulation_chunks");
  write_study(work.path());
  for (const char* size : {"3", "5", "12"}) {
    const std::string folder = std::string("chunks_of_") + size;
    expect_ok(scan(work.path(), "prepare --pedigree study.ped --map study.map --par fast.inp --chunk-size " + std::string(size) + " " + folder));
    expect_ok(scan(work.path(), "simulate " + folder + " --fixed --replicates 30 --seed 4"));
    expect_ok(scan(work.path(), "run --fixed --jobs 2 " + folder));
    expect_ok(scan(work.path(), "merge " + folder));
  }
  const std::string reference = read_file(work.path() / "chunks_of_12" / "simulation.tsv");
  EXPECT_EQ(table_of(reference).size(), 31u);
  EXPECT_EQ(read_file(work.path() / "chunks_of_3" / "simulation.tsv"), reference);
  EXPECT_EQ(read_file(work.path() / "chunks_of_5" / "simulation.tsv"), reference);
  // A replicate with a chunk not done is left out, and said so.
  fs::remove_all(ScanFolder{work.path() / "chunks_of_3"}.chunk(task_number(plan_of_folder(work.path() / "chunks_of_3"), {7, 2})));
  const RunResult partial = scan(work.path(), "merge chunks_of_3");
  EXPECT_EQ(partial.status, 1);
  EXPECT_NE(partial.err.find("1 replicates have chunks not done and are left out"), std::string::npos) << partial.err;
  const auto rows = table_of(read_file(work.path() / "chunks_of_3" / "simulation.tsv"));
  ASSERT_EQ(rows.size(), 30u);
  EXPECT_EQ(rows[6][0], "6");
  EXPECT_EQ(rows[7][0], "8");
  const RunResult again = scan(work.path(), "simulate chunks_of_3 --replicates 30 --seed 5 --fixed");
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("replicates were run with seed 4 in the fixed mode"), std::string::npos) << again.err;
}

}  // namespace
