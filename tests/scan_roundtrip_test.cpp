// Whole scans with bravik_scan on data written by the real PLINK 1.9 and
// bcftools: four sources give the same result lines, equal to the programs
// run by hand on each chunk's markers; an interrupted run and a failed chunk
// end, after a rerun, in the table of an undisturbed scan.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "background_run.hpp"
#include "program_runner.hpp"
#include "results/lod_file.hpp"
#include "scan/layout.hpp"
#include "scan/marker_table.hpp"
#include "scan/plan.hpp"
#include "scan_commands.hpp"
#include "test_support.hpp"


namespace {

namespace fs = std::filesystem;
using bravik::testing::read_file;
using bravik::testing::RunResult;
using bravik::testing::WorkFolder;
using bravik::testing::write_file;
using namespace bravik::testing;
using namespace bravik::scan;

// A simulated study of 115 persons (not a multiple of 4) in 9 three-generation
// families, 23 markers (5 linked) with missing calls, converted by PLINK 1.9
// to .bed (allele 1 kept as allele 1) and VCF, and by bcftools to BCF. The
// VCF gains a sample that is nobody of the pedigree, a multi-allelic and a
// haploid record.
class StudyData {
 public:
  explicit StudyData(const fs::path& dir) : dir_(dir) {
    expect_ok(run_in(dir, quoted(build_program("bravik_sim")) +
                              " --seed 11 --families 9 --structure threegen --theta '0.02*5,0.5*18' --untyped 0.1"
                              " --trait-missing 0.1 sim.ped"));
    std::string ped, map, a1;
    for (const std::string& line : lines_of(read_file(dir / "sim.ped"))) {
      std::vector<std::string> w = words_of(line);
      if (w[5] == "x") w[5] = "-9";
      for (const std::string& t : w) ped += t + ' ';
      ped += '\n';
    }
    for (int m = 1; m <= markers; ++m) {
      map += std::to_string(m <= 12 ? 1 : 2) + " rs" + std::to_string(m) + ' ' + std::to_string(0.5 * m) + ' ' +
             std::to_string(100000 * m) + '\n';
      a1 += "rs" + std::to_string(m) + " 1\n";
    }
    write_file(dir / "s.ped", ped);
    write_file(dir / "s.map", map);
    write_file(dir / "a1.txt", a1);
    expect_ok(run_in(dir, "plink1.9 --file s --keep-allele-order --a1-allele a1.txt 2 1 --make-bed --out b"));
    expect_ok(run_in(dir, "plink1.9 --bfile b --keep-allele-order --recode vcf --out v"));
    write_file(dir / "w.vcf", widened_vcf(read_file(dir / "v.vcf")));
    expect_ok(run_in(dir, "bcftools view -Ob -o w.bcf w.vcf"));
  }

  static constexpr int markers = 23;
  const fs::path& dir() const { return dir_; }

 private:
  static void expect_ok(const RunResult& r) { ASSERT_EQ(r.status, 0) << r.out << r.err; }

  static std::string widened_vcf(const std::string& vcf) {
    std::string out;
    std::size_t samples = 0;
    for (const std::string& line : lines_of(vcf)) {
      if (line.rfind("##", 0) == 0) {
        out += line + '\n';
      } else if (line.rfind("#CHROM", 0) == 0) {
        samples = fields_of(line).size() - 9;
        out += line + "\tNOBODY_1\n";
      } else {
        out += line + "\t0/1\n";
      }
    }
    std::string multi = "2\t2400000\trsmulti\t2\t1,3\t.\t.\t.\tGT";
    std::string haploid = "2\t2500000\trshaploid\t2\t1\t.\t.\t.\tGT";
    for (std::size_t s = 0; s <= samples; ++s) {
      multi += "\t0/2";
      haploid += "\t1";
    }
    return out + multi + '\n' + haploid + '\n';
  }

  fs::path dir_;
};

// fast.inp: the par.inp that the preparation writes for the study, with the
// polygenic component off (a fast scan).
void write_fast_par(const fs::path& dir) {
  ASSERT_EQ(scan_command(dir, "prepare --bfile b template").status, 0);
  std::string text;
  for (const std::string& line : lines_of(read_file(dir / "template" / "input" / "par.inp")))
    text += (line.rfind(" 7 1 ", 0) == 0 ? " 7 0 0 0.01 -1 1   polygenic component off" : line) + '\n';
  write_file(dir / "fast.inp", text);
}

// The table without its cM column (a VCF has no genetic positions).
std::string without_centimorgans(const std::string& table) {
  std::string out;
  for (const std::string& line : lines_of(table)) {
    const std::size_t second = line.find('\t', line.find('\t') + 1);
    out += line.substr(0, second) + line.substr(line.find('\t', second + 1)) + '\n';
  }
  return out;
}

// The chunk's markers of the pedigree file, prepared and run by hand.
fs::path run_chunk_by_hand(const fs::path& dir, const Chunk& chunk, const fs::path& scan) {
  std::string ped;
  for (const std::string& line : lines_of(read_file(dir / "sim.ped"))) {
    const std::vector<std::string> w = words_of(line);
    for (int i = 0; i < 6; ++i) ped += w[static_cast<std::size_t>(i)] + ' ';
    for (long m = chunk.first; m <= chunk.last; ++m)
      ped += w[static_cast<std::size_t>(4 + 2 * m)] + ' ' + w[static_cast<std::size_t>(5 + 2 * m)] + ' ';
    ped += '\n';
  }
  const fs::path folder = dir / ("hand" + std::to_string(chunk.number));
  write_file(dir / "chunk.ped", ped);
  const RunResult prep = run_in(dir, quoted(build_program("bravik_prep")) + " --untype-inconsistent chunk.ped " +
                                         quoted(folder));
  EXPECT_EQ(prep.status, 0) << prep.err;
  fs::copy_file(scan / "input" / "par.inp", folder / "par.inp", fs::copy_options::overwrite_existing);
  fs::copy_file(scan / "input" / "maxpar.inp", folder / "maxpar.inp", fs::copy_options::overwrite_existing);
  const RunResult run = bravik::testing::run_program("bravik_2point_max", folder);
  EXPECT_EQ(run.status, 0) << run.err;
  return folder;
}

TEST(ScanRoundTrip, FourSourcesAndHandRunsGiveTheSameLines) {
  const WorkFolder work("scan_four_sources");
  const StudyData data(work.path());
  write_fast_par(work.path());
  const std::vector<std::pair<std::string, std::string>> scans = {
      {"ped", "--pedigree sim.ped --map s.map"},
      {"bed", "--bfile b"},
      {"vcf", "--vcf w.vcf --fam b.fam"},
      {"bcf", "--vcf w.bcf --pedigree sim.ped"},
  };
  for (const auto& [name, source] : scans) {
    const RunResult prepared = scan_command(work.path(), "prepare " + source + " --chunk-size 10 --par fast.inp " + name);
    ASSERT_EQ(prepared.status, 0) << name << ": " << prepared.err;
    EXPECT_NE(prepared.out.find("persons 115\n"), std::string::npos) << name;
    EXPECT_NE(prepared.out.find("markers_kept 23\n"), std::string::npos) << name;
    const RunResult run = scan_command(work.path(), "run --classic --jobs 2 " + name);
    EXPECT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_NE(run.out.find("done 3 (23 markers): 1-3\n"), std::string::npos) << name << ": " << run.out;
    const RunResult merged = scan_command(work.path(), "merge " + name);
    EXPECT_EQ(merged.status, 0) << name << ": " << merged.err;
  }
  const std::string vcf_summary = read_file(work.path() / "vcf" / "summary.txt");
  EXPECT_NE(vcf_summary.find("markers_read 23\n"), std::string::npos) << vcf_summary;
  EXPECT_NE(vcf_summary.find("skipped 1 multi-allelic\n"), std::string::npos) << vcf_summary;
  EXPECT_NE(vcf_summary.find("skipped 1 not diploid\n"), std::string::npos) << vcf_summary;
  EXPECT_NE(vcf_summary.find("w.vcf: 1 of 116 samples match no person of b.fam and are ignored (a sample name is "
                             "FID_IID or an IID that one person carries): NOBODY_1\n"),
            std::string::npos)
      << vcf_summary;

  const Plan plan = read_plan((work.path() / "ped" / "plan.txt").string());
  ASSERT_EQ(plan.chunks.size(), 3u);
  const std::vector<std::string> table = lines_of(read_file(work.path() / "ped" / "results.tsv"));
  ASSERT_EQ(table.size(), 1u + StudyData::markers);
  for (const Chunk& chunk : plan.chunks) {
    const fs::path hand = run_chunk_by_hand(work.path(), chunk, work.path() / "ped");
    const std::string lod = read_file(hand / "lod.out");
    const std::string estimates = read_file(hand / "est.out");
    EXPECT_FALSE(lod.empty());
    for (const auto& [name, source] : scans) {
      const fs::path done = work.path() / name / "chunks" / std::to_string(chunk.number);
      EXPECT_EQ(read_file(done / "lod.out"), lod) << name << ", chunk " << chunk.number;
      EXPECT_EQ(read_file(done / "est.out"), estimates) << name << ", chunk " << chunk.number;
    }
    // Each LOD line lands on its marker's row of the table.
    for (const std::string& line : lines_of(lod)) {
      std::istringstream in(line);
      int marker = 0;
      std::string lnl0, lnl1, lod_score;
      in >> marker >> lnl0 >> lnl1 >> lod_score;
      const std::vector<std::string> row = fields_of(table[static_cast<std::size_t>(chunk.first + marker - 1)]);
      EXPECT_EQ(row[3], "rs" + std::to_string(chunk.first + marker - 1));
      EXPECT_EQ(row[9], "analysed");
      EXPECT_EQ(row[12], full_precision(bravik::results::parse_result_real(lod_score))) << line;
    }
  }
  const std::string expected = read_file(work.path() / "ped" / "results.tsv");
  EXPECT_EQ(read_file(work.path() / "bed" / "results.tsv"), expected);
  for (const char* name : {"vcf", "bcf"})
    EXPECT_EQ(without_centimorgans(read_file(work.path() / name / "results.tsv")), without_centimorgans(expected)) << name;
}

TEST(ScanRoundTrip, MergeOfARunFolderGivesTheScansTable) {
  const WorkFolder work("scan_merge_run_folder");
  const StudyData data(work.path());
  write_fast_par(work.path());
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree sim.ped --chunk-size 23 --par fast.inp whole").status, 0);
  ASSERT_EQ(scan_command(work.path(), "run --classic whole").status, 0);
  ASSERT_EQ(scan_command(work.path(), "merge whole").status, 0);
  const fs::path folder = work.path() / "folder";
  ASSERT_EQ(run_in(work.path(), quoted(build_program("bravik_prep")) + " --untype-inconsistent sim.ped folder").status, 0);
  fs::copy_file(work.path() / "fast.inp", folder / "par.inp", fs::copy_options::overwrite_existing);
  ASSERT_EQ(bravik::testing::run_program("bravik_2point_max", folder).status, 0);
  const RunResult merged = scan_command(work.path(), "merge folder");
  EXPECT_EQ(merged.status, 0) << merged.err;

  const std::vector<std::string> scan_rows = lines_of(read_file(work.path() / "whole" / "results.tsv"));
  const std::vector<std::string> folder_rows = lines_of(read_file(folder / "results.tsv"));
  ASSERT_EQ(folder_rows.size(), scan_rows.size());
  EXPECT_EQ(folder_rows[0], scan_rows[0]);
  for (std::size_t r = 1; r < scan_rows.size(); ++r) {
    const std::vector<std::string> scan_row = fields_of(scan_rows[r]);
    const std::vector<std::string> folder_row = fields_of(folder_rows[r]);
    ASSERT_EQ(folder_row.size(), scan_row.size()) << folder_rows[r];
    // Place, names and Mendel counts are unknown to a run folder; the rest is equal.
    EXPECT_EQ(folder_row[0] + folder_row[1] + folder_row[2], "NANANA");
    EXPECT_EQ(folder_row[3], std::to_string(r));
    EXPECT_EQ(folder_row[8], "NA");
    for (std::size_t c = 4; c <= 24; ++c)
      if (c != 8) {
        EXPECT_EQ(folder_row[c], scan_row[c]) << "row " << r << ", column " << c + 1;
      }
    EXPECT_EQ(folder_row[25] + folder_row[26], "NANA");
  }
  EXPECT_NE(read_file(folder / "results.svg").find("data-chr=\"NA\""), std::string::npos);
}

// The robust mode's LOD over theta: the theta grid of prepare reaches every
// chunk's program, merge joins the chunks' theta tables as columns and can
// plot one of them; with --theta-grid none the table has no such column.
TEST(ScanRoundTrip, ThetaGridColumnsReachTheTable) {
  const WorkFolder work("scan_theta_grid");
  const StudyData data(work.path());
  write_fast_par(work.path());
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree sim.ped --map s.map --chunk-size 12 --par fast.inp "
                                      "--theta-grid 0,0.1,0.3 grid").status, 0);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree sim.ped --map s.map --chunk-size 12 --par fast.inp "
                                      "--theta-grid none plain").status, 0);
  const RunResult bad = scan_command(work.path(), "prepare --pedigree sim.ped --theta-grid 0,0.6 bad");
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("'0.6'"), std::string::npos) << bad.err;
  for (const char* name : {"grid", "plain"}) ASSERT_EQ(scan_command(work.path(), std::string("run ") + name).status, 0);
  ASSERT_EQ(scan_command(work.path(), "merge --plot hlod grid").status, 0);
  EXPECT_NE(scan_command(work.path(), "merge --plot hlod plain").status, 0) << "no hlod column to draw";
  EXPECT_FALSE(fs::exists(work.path() / "plain" / "results.tsv")) << "a refused merge writes nothing";
  ASSERT_EQ(scan_command(work.path(), "merge plain").status, 0);

  const std::vector<std::string> table = lines_of(read_file(work.path() / "grid" / "results.tsv"));
  const std::vector<std::string> plain = lines_of(read_file(work.path() / "plain" / "results.tsv"));
  ASSERT_EQ(table.size(), plain.size());
  // Both robust scans end with the standard errors' columns; the grid's adds
  // the LOD over theta before them.
  const std::size_t se_columns = 15;
  const std::size_t first_extra = fields_of(plain[0]).size() - se_columns;
  EXPECT_EQ(fields_of(plain[0])[first_extra], "null_se_gene_freq");
  const std::string theta_columns = "lod_t0\tlod_t0.1\tlod_t0.3\ttheta_hat\tlod_max\ttheta_lo\ttheta_hi\thlod\talpha\thlod_theta\t";
  std::string expected_header = plain[0];
  expected_header.insert(expected_header.find("null_se_gene_freq"), theta_columns);
  EXPECT_EQ(table[0], expected_header);
  const Plan plan = read_plan((work.path() / "grid" / "plan.txt").string());
  for (const Chunk& chunk : plan.chunks) {
    const std::vector<std::string> chunk_table =
        lines_of(read_file(work.path() / "grid" / "chunks" / std::to_string(chunk.number) / "lod_theta.tsv"));
    ASSERT_GT(chunk_table.size(), 1u) << "chunk " << chunk.number;
    for (std::size_t l = 1; l < chunk_table.size(); ++l) {
      const std::vector<std::string> w = fields_of(chunk_table[l]);
      const std::size_t row = static_cast<std::size_t>(chunk.first) + std::stoul(w[0]) - 1;
      std::vector<std::string> fields = fields_of(table[row]);
      ASSERT_EQ(fields.size(), fields_of(plain[row]).size() + w.size() - 1);
      for (std::size_t c = 1; c < w.size(); ++c) EXPECT_EQ(fields[first_extra + c - 1], w[c]) << table[row];
      // Without the theta columns, the row of the scan without a grid.
      fields.erase(fields.begin() + static_cast<long>(first_extra), fields.begin() + static_cast<long>(first_extra + w.size() - 1));
      EXPECT_EQ(fields, fields_of(plain[row]));
    }
  }
  EXPECT_NE(read_file(work.path() / "grid" / "results.svg").find("hlod: grid"), std::string::npos);

  // Who carries the major gene: a line per person, with the pedigree file's ids.
  ASSERT_EQ(scan_command(work.path(), "posteriors grid").status, 0);
  ASSERT_EQ(scan_command(work.path(), "posteriors --marker rs3 grid").status, 0);
  EXPECT_NE(scan_command(work.path(), "posteriors --marker nosuch grid").status, 0);
  std::vector<std::string> people;
  for (const std::string& line : lines_of(read_file(work.path() / "sim.ped"))) {
    const std::vector<std::string> w = words_of(line);
    people.push_back(w[0] + " " + w[1]);
  }
  for (const char* name : {"posteriors.tsv", "posteriors_rs3.tsv"}) {
    const std::vector<std::string> rows = lines_of(read_file(work.path() / "grid" / name));
    ASSERT_EQ(rows.size(), people.size() + 1) << name;
    EXPECT_EQ(rows[0], "fid\tiid\tp11\tp12\tp22\tpolygenic_mean\tmeasured");
    std::vector<std::string> ids;
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const std::vector<std::string> f = fields_of(rows[r]);
      ids.push_back(f[0] + " " + f[1]);
      EXPECT_NEAR(std::stod(f[2]) + std::stod(f[3]) + std::stod(f[4]), 1.0, 1e-5) << rows[r];
    }
    std::sort(ids.begin(), ids.end());
    std::vector<std::string> expected = people;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected) << name;
  }
}

TEST(ScanRoundTrip, PrepareRefusesAPreparedFolderAndAMissingSource) {
  const WorkFolder work("scan_prepare_refusals");
  const StudyData data(work.path());
  ASSERT_EQ(scan_command(work.path(), "prepare --bfile b out").status, 0);
  const RunResult again = scan_command(work.path(), "prepare --bfile b out");
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("out: holds a prepared scan already"), std::string::npos) << again.err;
  const RunResult none = scan_command(work.path(), "prepare --vcf w.vcf other");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("give one source"), std::string::npos) << none.err;
  const RunResult task = scan_command(work.path(), "task out 2");
  EXPECT_EQ(task.status, 2);
  EXPECT_NE(task.err.find("chunk 2 is not in the plan (chunks 1 to 1)"), std::string::npos) << task.err;
}

int done_chunks(const fs::path& scan, int chunks) {
  int done = 0;
  for (int k = 1; k <= chunks; ++k) done += ScanFolder{scan}.state(k) == ChunkState::done;
  return done;
}

TEST(ScanRoundTrip, RunKilledMidScanEndsAfterARerunWithTheUndisturbedTable) {
  const WorkFolder work("scan_interrupted");
  const StudyData data(work.path());
  write_fast_par(work.path());
  for (const char* name : {"whole", "killed"})
    ASSERT_EQ(scan_command(work.path(), std::string("prepare --bfile b --chunk-size 2 --par fast.inp ") + name).status, 0);
  ASSERT_EQ(scan_command(work.path(), "run --classic --jobs 1 whole").status, 0);
  ASSERT_EQ(scan_command(work.path(), "merge whole").status, 0);

  const fs::path killed = work.path() / "killed";
  const pid_t pid = bravik::testing::start_in_background(build_program("bravik_scan"), work.path(), {"run", "--classic", "--jobs", "1", killed.string()});
  while (done_chunks(killed, 12) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const RunResult second = scan_command(work.path(), "run --classic killed");
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("another bravik_scan run is working on this folder"), std::string::npos) << second.err;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const int done = done_chunks(killed, 12);
  EXPECT_LT(done, 12) << "the run ended before it was killed";
  for (int k = 1; k <= 12; ++k)
    if (ScanFolder{killed}.state(k) == ChunkState::done) {
      EXPECT_TRUE(fs::exists(ScanFolder{killed}.chunk(k) / "timing.txt")) << "chunk " << k << " is half there";
    }
  const RunResult status_text = scan_command(work.path(), "status killed");
  EXPECT_NE(status_text.out.find("pending " + std::to_string(12 - done)), std::string::npos) << status_text.out;

  const RunResult rerun = scan_command(work.path(), "run --classic killed");
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  ASSERT_EQ(scan_command(work.path(), "merge killed").status, 0);
  EXPECT_EQ(read_file(killed / "results.tsv"), read_file(work.path() / "whole" / "results.tsv"));
}

TEST(ScanRoundTrip, FailedChunkIsReportedAndRunAgain) {
  const WorkFolder work("scan_failed_chunk");
  const StudyData data(work.path());
  // bravik_scan starts the programs beside itself: a copy beside a program
  // that fails in chunk 2 while the file FAIL exists, and otherwise runs the
  // real one (after telling its threads).
  const fs::path bin = work.path() / "bin";
  fs::create_directories(bin);
  fs::copy_file(build_program("bravik_scan"), bin / "bravik_scan");
  write_file(bin / "bravik_2point_max",
             "#!/bin/sh\n"
             "echo \"threads $BRAVIK_THREADS\" >&2\n"
             "case \"$PWD\" in */bravik-chunk-2-*) if [ -e " + quoted(work.path() / "FAIL") + " ]; then\n"
             "  echo 'injected failure in chunk 2' >&2; exit 3; fi;; esac\n"
             "exec " + quoted(build_program("bravik_2point_max")) + " \"$@\"\n");
  fs::permissions(bin / "bravik_2point_max", fs::perms::owner_all);
  const std::string scan = quoted(bin / "bravik_scan");
  write_fast_par(work.path());
  for (const char* name : {"clean", "flaky"})
    ASSERT_EQ(scan_command(work.path(), std::string("prepare --bfile b --chunk-size 10 --par fast.inp ") + name).status, 0);
  ASSERT_EQ(scan_command(work.path(), "run --classic clean").status, 0);
  ASSERT_EQ(scan_command(work.path(), "merge clean").status, 0);

  write_file(work.path() / "FAIL", "");
  const RunResult run = run_in(work.path(), scan + " run --classic --jobs 2 flaky");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("bravik_scan: chunk 2 failed (exit 3): threads 1\n"), std::string::npos) << run.err;
  const RunResult status = run_in(work.path(), scan + " status flaky");
  EXPECT_NE(status.out.find("done 2 (13 markers): 1,3\nfailed 1: 2\n  chunk 2: exit 3: threads 1\npending 0\n"),
            std::string::npos)
      << status.out;
  const RunResult partial = run_in(work.path(), scan + " merge flaky");
  EXPECT_EQ(partial.status, 1);
  const std::vector<std::string> rows = lines_of(read_file(work.path() / "flaky" / "results.tsv"));
  ASSERT_EQ(rows.size(), 24u);
  EXPECT_EQ(fields_of(rows[11])[9], "failed");
  EXPECT_EQ(fields_of(rows[20])[9], "failed");
  EXPECT_NE(fields_of(rows[21])[9], "failed");

  fs::remove(work.path() / "FAIL");
  const RunResult task = run_in(work.path(), "SLURM_CPUS_PER_TASK=3 " + scan + " task --classic flaky 2");
  EXPECT_EQ(task.status, 0) << task.err;
  EXPECT_EQ(read_file(work.path() / "flaky" / "chunks" / "2" / "stderr.txt").rfind("threads 3\n", 0), 0u);
  EXPECT_FALSE(fs::exists(ScanFolder{work.path() / "flaky"}.failure(2)));
  EXPECT_EQ(run_in(work.path(), scan + " merge flaky").status, 0);
  EXPECT_EQ(read_file(work.path() / "flaky" / "results.tsv"), read_file(work.path() / "clean" / "results.tsv"));
}

}  // namespace
