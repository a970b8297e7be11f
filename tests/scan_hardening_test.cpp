// bravik_scan on data and folders that used to give a scan with nothing to
// show or with nonsense: each case runs the commands a user would and checks
// the refusal, the failure or the note they get.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "program_runner.hpp"
#include "scan/process.hpp"
#include "scan_commands.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace bravik::testing;

// Ten persons in three families, two markers each; person F8 22 is the one a
// VCF sample names twice below.
const std::string ten_persons =
    "F8 21 0 0 1 1.2  1 2  1 1\nF8 22 0 0 2 0.7  2 2  1 2\nF8 23 21 22 1 1.9  1 2  1 2\nF8 24 21 22 2 0.3  2 2  1 1\n"
    "F9 31 0 0 1 0.1  1 1  2 2\nF9 32 0 0 2 1.1  1 2  1 2\nF9 33 31 32 1 0.8  1 2  1 2\n"
    "F7 41 0 0 1 0.4  1 2  1 2\nF7 42 0 0 2 1.6  1 1  1 1\nF7 43 41 42 2 1.0  1 1  1 2\n";

std::string vcf_with(const std::string& contig, const std::vector<std::string>& samples) {
  std::string text = "##fileformat=VCFv4.2\n##contig=<ID=" + contig +
                     ">\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
                     "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (const std::string& s : samples) text += "\t" + s;
  text += '\n';
  for (const char* record : {"100\trs1\tA\tG", "200\trs2\tC\tT"}) {
    text += contig + "\t" + record + "\t.\t.\t.\tGT";
    for (std::size_t s = 0; s < samples.size(); ++s) text += s % 2 == 0 ? "\t0/1" : "\t1/1";
    text += '\n';
  }
  return text;
}

// A simulated study whose one trait value is 999, a missing code of many
// cohort files, with the par.inp of the clean data: its family's likelihood
// underflows at every marker.
TEST(ScanHardening, TraitFarOutsideMakesEveryMarkerFailWithItsFamily) {
  const WorkFolder work("scan_nonfinite");
  ASSERT_EQ(run_in(work.path(), quoted(build_program("bravik_sim")) +
                                    " --seed 3 --families 6 --structure nuclear --theta '0.05*3,0.5*3' s.ped")
                .status,
            0);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree s.ped clean").status, 0);
  std::string bad;
  std::vector<std::string> rows = lines_of(read_file(work.path() / "s.ped"));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::vector<std::string> w = words_of(rows[r]);
    if (r == 3) w[5] = "999";
    for (const std::string& word : w) bad += word + ' ';
    bad += '\n';
  }
  write_file(work.path() / "bad.ped", bad);
  const RunResult prepared = scan_command(work.path(), "prepare --pedigree bad.ped --par clean/input/par.inp bad");
  ASSERT_EQ(prepared.status, 0) << prepared.err;
  EXPECT_EQ(prepared.out.find("note:"), std::string::npos) << prepared.out;
  EXPECT_NE(prepared.err.find("1 trait values lie more than 8 robust standard deviations"), std::string::npos)
      << prepared.err;
  EXPECT_NE(prepared.err.find("1 trait values look like missing codes; if they mean not measured, give "
                              "--missing-phenotype VALUE or set them to NA: family F2, person 1: 999"),
            std::string::npos)
      << prepared.err;

  const RunResult run = scan_command(work.path(), "run --fixed bad");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("bravik_scan: chunk 1: 6 markers failed, the first marker 1: null hypothesis: the "
                         "log-likelihood of family 2 (F2) is not finite"),
            std::string::npos)
      << run.err;
  const RunResult status = scan_command(work.path(), "status bad");
  EXPECT_NE(status.out.find("markers failed 6 (in done chunks"), std::string::npos) << status.out;
  const RunResult merged = scan_command(work.path(), "merge bad");
  EXPECT_EQ(merged.status, 1);
  const std::vector<std::string> table = lines_of(read_file(work.path() / "bad" / "results.tsv"));
  ASSERT_EQ(table.size(), 7u);
  for (std::size_t r = 1; r < table.size(); ++r) {
    const std::vector<std::string> f = fields_of(table[r]);
    ASSERT_EQ(f.size(), 29u);
    EXPECT_EQ(f[9], "failed") << table[r];
    EXPECT_EQ(f[27], "fixed");
    EXPECT_NE(f[28].find("the log-likelihood of family 2 (F2) is not finite"), std::string::npos) << f[28];
  }
  EXPECT_EQ(read_file(work.path() / "bad" / "results.svg").find("nan"), std::string::npos);
}

// What prepare accepted before and no later command could use, and commands
// that gave no hint of what was wrong.
TEST(ScanHardening, RefusalsNameTheFileTheValueAndWhatToDo) {
  const WorkFolder work("scan_refusals");
  write_file(work.path() / "p.ped", ten_persons);
  write_file(work.path() / "m.map", "1 rs1 0 100\n1 rs2 0.5 200\n");
  std::string untraited;
  for (const std::string& line : lines_of(ten_persons)) {
    std::vector<std::string> w = words_of(line);
    w[5] = "x";
    for (const std::string& word : w) untraited += word + ' ';
    untraited += '\n';
  }
  write_file(work.path() / "none.ped", untraited);
  write_file(work.path() / "nan.map", "1 rs1 0 100\n1 rs2 nan 200\n");
  write_file(work.path() / "neg.map", "1 rs1 0 -5\n1 rs2 0.5 200\n");
  write_file(work.path() / "huge.map", "1 rs1 0 100\n1 rs2 0.5 3000000000\n");
  write_file(work.path() / "pheno.txt", "FID IID bmi\nZ1 1 20\nZ2 2 21\n");
  write_file(work.path() / "twice.vcf", vcf_with("1", {"F8_22", "22", "23"}));
  write_file(work.path() / "nobody.vcf", vcf_with("1", {"X1", "X2"}));
  fs::create_directories(work.path() / "leftover" / "chunks" / "1");
  write_file(work.path() / "short.inp", " heading\n 1 1 0.5 0.05 0 1\n 2 1 1 0.1 -9 10\n");
  struct Case {
    const char* what;
    std::string args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"nobody measured", "prepare --pedigree none.ped --map m.map a",
       "none.ped: no person has a measured trait, so every LOD would be 0"},
      {"phenotype table of nobody", "prepare --pedigree p.ped --map m.map --pheno pheno.txt --pheno-name bmi b",
       "pheno.txt matches only 0 of the 10 persons of p.ped (a person is matched by FID and IID); p.ped names persons "
       "like F8 21, F8 22, F8 23, ..., pheno.txt has rows like Z1 1, Z2 2"},
      {"one person twice in a VCF", "prepare --vcf twice.vcf --pedigree p.ped c",
       "twice.vcf: samples F8_22 and 22 are both family F8, person 22 of p.ped; keep one of them"},
      {"a VCF of nobody", "prepare --vcf nobody.vcf --pedigree p.ped d",
       "the genotypes hold no person of p.ped\n  nobody.vcf: 2 of 2 samples match no person of p.ped"},
      {"cM not a number", "prepare --pedigree p.ped --map nan.map e", "nan.map:2: cM position 'nan' is not a finite number"},
      {"negative position", "prepare --pedigree p.ped --map neg.map f", "neg.map:1: bp position '-5' is not from 0 to"},
      {"position past 2^31", "prepare --pedigree p.ped --map huge.map g",
       "huge.map:2: bp position '3000000000' is not from 0 to 2147483646"},
      {"chunks of another preparation", "prepare --pedigree p.ped --map m.map leftover",
       "leftover: holds a prepared scan already (leftover/chunks)"},
      {"column without a table", "prepare --pedigree p.ped --pheno-name bmi h",
       "--pheno-name needs --pheno FILE, the table that holds the column"},
      {"merge of nothing", "merge nowhere", "nowhere: no such folder"},
      {"par.inp cut short", "prepare --pedigree p.ped --map m.map --par short.inp i",
       "short.inp (par.inp), maxpar.inp (the template): bravik_2point_max refuses them (exit 2), so every chunk would "
       "fail:\n  list in: end of file\n  apparent state: unit 1 named par.inp\n  lately reading sequential formatted "
       "external IO\n  at the end of par.inp after line 3"},
  };
  for (const Case& c : cases) {
    const RunResult r = scan_command(work.path(), c.args);
    EXPECT_EQ(r.status, 2) << c.what << ": " << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
  }
}

// A trait measured around 1,000,000 with a spread of 1: the par.inp template
// keeps the digits that set its means and bounds apart, and its chunk runs.
TEST(ScanHardening, ParTemplateOfALargeTraitKeepsItsValuesApart) {
  const WorkFolder work("scan_large_trait");
  std::string ped;
  for (const std::string& line : lines_of(ten_persons)) {
    std::vector<std::string> w = words_of(line);
    w[5] = "100000" + w[5];
    for (const std::string& word : w) ped += word + ' ';
    ped += '\n';
  }
  write_file(work.path() / "p.ped", ped);
  const RunResult prepared = scan_command(work.path(), "prepare --pedigree p.ped s");
  ASSERT_EQ(prepared.status, 0) << prepared.err;
  const std::vector<std::string> par = lines_of(read_file(work.path() / "s" / "input" / "par.inp"));
  ASSERT_GE(par.size(), 8u);
  for (std::size_t line = 2; line <= 4; ++line) {
    const std::vector<std::string> w = words_of(par[line]);
    EXPECT_LT(std::stod(w[4]), std::stod(w[2])) << par[line];
    EXPECT_LT(std::stod(w[2]), std::stod(w[5])) << par[line];
  }
  EXPECT_LT(std::stod(words_of(par[4])[2]), std::stod(words_of(par[2])[2]));
  const RunResult task = scan_command(work.path(), "task --fixed s 1");
  EXPECT_EQ(task.status, 0) << task.err;
}

// A family name of a million characters in the notes of bravik_prep and of
// prepare: quoted cut, once per note.
TEST(ScanHardening, NotesQuoteLongTokensCut) {
  const WorkFolder work("scan_long_tokens");
  const std::string huge(1'000'000, 'F');
  write_file(work.path() / "long.ped", ten_persons + huge + " 1 0 0 1 1.0  1 2  1 2\n" + huge +
                                           " 2 0 0 2 1.0  1 1  1 1\n" + huge + " 3 1 2 1 x  2 2  1 2\n");
  const RunResult prep = run_in(work.path(), quoted(build_program("bravik_prep")) +
                                                 " --untype-inconsistent long.ped out");
  EXPECT_EQ(prep.status, 0) << prep.err.substr(0, 500);
  EXPECT_NE(prep.err.find("family '" + std::string(40, 'F') + "...' (1000000 characters): Mendelian inconsistency"),
            std::string::npos)
      << prep.err.substr(0, 500);
  EXPECT_LT(prep.err.size(), 1000u) << prep.err.substr(0, 500);
  const RunResult scan = scan_command(work.path(), "prepare --pedigree long.ped s");
  EXPECT_EQ(scan.status, 0) << scan.err.substr(0, 500);
  EXPECT_LT(scan.err.size() + scan.out.size(), 1000u) << scan.err.substr(0, 500);
}

// A trial task in one mode and the real run in another would merge LODs of
// two modes into one table.
TEST(ScanHardening, OneScanIsOfOneModeAndItsTableSaysWhich) {
  const WorkFolder work("scan_one_mode");
  write_file(work.path() / "p.ped", ten_persons);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree p.ped --chunk-size 1 s").status, 0);
  ASSERT_EQ(scan_command(work.path(), "task --fixed s 1").status, 0);
  const RunResult robust = scan_command(work.path(), "run s");
  EXPECT_EQ(robust.status, 2);
  EXPECT_NE(robust.err.find("s: the scan runs in fixed mode (s/mode.txt), in which chunks 1 are done; this command asks "
                            "robust mode. Go on with --fixed, or remove s/chunks and s/mode.txt"),
            std::string::npos)
      << robust.err;
  EXPECT_FALSE(fs::exists(work.path() / "s" / "chunks" / "2"));
  EXPECT_EQ(scan_command(work.path(), "run --fixed s").status, 0);
  ASSERT_EQ(scan_command(work.path(), "merge s").status, 0);
  for (const std::string& row : lines_of(read_file(work.path() / "s" / "results.tsv")))
    EXPECT_EQ(fields_of(row)[27], row.rfind("chr\t", 0) == 0 ? "mode" : "fixed") << row;

  write_file(work.path() / "s" / "chunks" / "2" / "mode.txt", "classic\n");
  const RunResult mixed = scan_command(work.path(), "merge s");
  EXPECT_EQ(mixed.status, 2);
  EXPECT_NE(mixed.err.find("chunk 2 was done in classic mode, the scan runs in fixed mode"), std::string::npos)
      << mixed.err;
}

// Files saved by a Windows editor start with a byte-order mark; ids of a
// marker list that match nothing are counted and named.
TEST(ScanHardening, ByteOrderMarksAreDroppedAndUnmatchedListIdsNamed) {
  const WorkFolder work("scan_byte_order_mark");
  const std::string mark = "\xEF\xBB\xBF";
  write_file(work.path() / "p.ped", mark + ten_persons);
  write_file(work.path() / "m.map", mark + "1 rs1 0 100\n1 rs2 0.5 200\n");
  write_file(work.path() / "keep.txt", mark + "rs1\nrs2\nrs_typo\nrs9\n");
  const RunResult r = scan_command(work.path(), "prepare --pedigree p.ped --map m.map --extract keep.txt s");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("markers_kept 2\n"), std::string::npos) << r.out;
  const std::vector<std::string> markers = lines_of(read_file(work.path() / "s" / "markers.tsv"));
  ASSERT_EQ(markers.size(), 3u);
  EXPECT_EQ(markers[1].rfind("1\t100\t0\trs1\t", 0), 0u) << markers[1];
  EXPECT_NE(r.err.find("note: --extract keep.txt: 2 of 4 ids match no marker of the data: rs9, rs_typo\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(work.path() / "s" / "pedigree.txt").find(mark), std::string::npos);
}

// A VCF whose samples are mostly other persons, with a contig name holding a
// blank (htslib only warns): one summarizing note, and a folder that every
// later command reads.
TEST(ScanHardening, FewMatchingSamplesAreSummarizedAndABlankInAContigKeepsThePlanReadable) {
  const WorkFolder work("scan_few_samples");
  write_file(work.path() / "p.ped", ten_persons);
  std::vector<std::string> samples = {"F8_21", "23", "F7_43"};
  for (int s = 1; s <= 40; ++s) samples.push_back("S" + std::to_string(s));
  write_file(work.path() / "few.vcf", vcf_with("chr 1", samples));
  const RunResult r = scan_command(work.path(), "prepare --vcf few.vcf --pedigree p.ped s");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("note:"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("note: few.vcf: 40 of 43 samples match no person of p.ped and are ignored (a sample name is "
                       "FID_IID or an IID that one person carries): S1, S2, S3, ...\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("note: few.vcf matches only 3 of the 10 persons of p.ped (a sample name is FID_IID or an IID "
                       "that one person carries); p.ped names persons like F8_21, F8_22, F8_23, ..., few.vcf has "
                       "samples like S1, S2, S3, ...\n"),
            std::string::npos)
      << r.err;
  EXPECT_LT(lines_of(r.err).size(), 6u) << r.err;
  const RunResult status = scan_command(work.path(), "status s");
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("pending 1: 1\n"), std::string::npos) << status.out;
  EXPECT_NE(read_file(work.path() / "s" / "plan.txt").find("chunk 1 1 2 chr_1:100 chr_1:200\n"), std::string::npos);
}

}  // namespace

namespace {

std::string bravik_host() { return bravik::scan::host_name(); }

// The first running record of the scan: its task's process id; 0 while none.
long running_task(const fs::path& scan) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(scan / "running", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".new") == std::string::npos) return std::stol(name.substr(name.rfind('.') + 1));
  }
  return 0;
}

// A task stopped by SIGTERM (a scheduler's time limit) removes its scratch
// folder and leaves its chunk to do; the next try removes the scratch folders
// of its chunk whose owner is gone, and no other.
TEST(ScanHardening, StoppedTaskLeavesNothingBehindAndTheNextTryClearsStaleScratch) {
  const WorkFolder work("scan_stopped_task");
  write_file(work.path() / "p.ped", ten_persons);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree p.ped s").status, 0);
  // A copy of bravik_scan beside a program that waits until it is stopped.
  const fs::path bin = work.path() / "bin";
  fs::create_directories(bin);
  fs::copy_file(build_program("bravik_scan"), bin / "bravik_scan");
  write_file(bin / "bravik_2point", "#!/bin/sh\nexec sleep 60\n");
  fs::permissions(bin / "bravik_2point", fs::perms::owner_all);
  const fs::path scratch = work.path() / "scratch";
  fs::create_directories(scratch / "bravik-chunk-1-stale1");
  write_file(scratch / "bravik-chunk-1-stale1" / "owner", bravik_host() + " 999999999\n");
  fs::create_directories(scratch / "bravik-chunk-1-alive1");
  write_file(scratch / "bravik-chunk-1-alive1" / "owner", bravik_host() + " " + std::to_string(getpid()) + "\n");

  ASSERT_EQ(std::system(("cd " + quoted(work.path()) + " && (bin/bravik_scan task --fixed --scratch scratch s 1 "
                         "> t.out 2> t.err; echo $? > t.rc) &")
                            .c_str()),
            0);
  long task = 0;
  for (int tries = 0; tries < 1000 && task == 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    task = running_task(work.path() / "s");
  }
  ASSERT_GT(task, 0) << read_file(work.path() / "t.err");
  const RunResult status = scan_command(work.path(), "status s");
  EXPECT_NE(status.out.find("running 1 (0 of 2 markers done in them): chunk 1 on " + bravik_host() + " 0 of 2\n"),
            std::string::npos)
      << status.out;
  EXPECT_FALSE(fs::exists(scratch / "bravik-chunk-1-stale1"));
  EXPECT_TRUE(fs::exists(scratch / "bravik-chunk-1-alive1"));
  kill(static_cast<pid_t>(task), SIGTERM);
  for (int tries = 0; tries < 1000 && !fs::exists(work.path() / "t.rc"); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(read_file(work.path() / "t.rc"), "143\n");
  EXPECT_NE(read_file(work.path() / "t.err").find("bravik_scan: chunk 1 stopped by signal 15; its scratch folder is "
                                                  "removed and the chunk stays to do"),
            std::string::npos);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(scratch)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"bravik-chunk-1-alive1"});
  EXPECT_TRUE(fs::is_empty(work.path() / "s" / "running"));
  EXPECT_NE(scan_command(work.path(), "status s").out.find("failed 0\npending 1: 1\n"), std::string::npos);
}

// A task that cannot even make its scratch folder records why, and run and
// status show that line.
TEST(ScanHardening, FailureOutsideTheProgramIsShownByRunAndStatus) {
  const WorkFolder work("scan_no_scratch");
  write_file(work.path() / "p.ped", ten_persons);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree p.ped s").status, 0);
  const RunResult run = run_in(work.path(), "TMPDIR=/nonexistent/scratch " + quoted(build_program("bravik_scan")) +
                                                " run --fixed s");
  EXPECT_EQ(run.status, 1);
  const std::string line = "/nonexistent/scratch: cannot make a scratch folder there: No such file or directory";
  EXPECT_NE(run.err.find("bravik_scan: chunk 1 failed (task): " + line), std::string::npos) << run.err;
  const RunResult status = scan_command(work.path(), "status s");
  EXPECT_NE(status.out.find("failed 1: 1\n  chunk 1: task: " + line + "\n"), std::string::npos) << status.out;
}


// A chunk's results damaged after its run (a marker twice, one outside the
// chunk, a value not finite that the program never reported) fail that chunk
// at merge, named by file and line; a prepared file changed after prepare
// stops task and merge.
TEST(ScanHardening, DamagedChunkResultsAndChangedFilesAreRefusedWithTheirPlace) {
  const WorkFolder work("scan_damaged_results");
  write_file(work.path() / "p.ped", ten_persons);
  ASSERT_EQ(scan_command(work.path(), "prepare --pedigree p.ped --chunk-size 1 s").status, 0);
  ASSERT_EQ(scan_command(work.path(), "run --fixed s").status, 0);
  const fs::path chunk = work.path() / "s" / "chunks" / "2";
  const std::string lod = read_file(chunk / "lod.out");
  const std::string estimates = read_file(chunk / "est.out");
  std::string not_finite = lod;
  not_finite.replace(not_finite.rfind(' ') + 1, std::string::npos, "NaN\n");
  std::string outside = lod;
  outside[outside.find('1')] = '2';
  const std::string estimate_not_finite =
      "   1          NaN 0.132232E+01 0.132038E+01 0.132148E+01 0.672475E+00-0.161274E-03\n";
  const struct {
    std::string file, text, fault;
  } damages[] = {
      {"lod.out", lod + lod, "lod.out:2: marker 1 again (first on line 1)"},
      {"lod.out", outside, "lod.out:1: marker 2 is not one of the run's markers 1 to 1"},
      {"lod.out", not_finite, "lod.out:1: marker 1: a value is not finite and the program gave no reason for it"},
      {"est.out", estimate_not_finite, "est.out:1: estimate 1 is not finite"},
  };
  for (const auto& damage : damages) {
    write_file(chunk / damage.file, damage.text);
    const RunResult merged = scan_command(work.path(), "merge s");
    EXPECT_EQ(merged.status, 1) << damage.fault;
    EXPECT_NE(merged.err.find("bravik_scan merge: chunk 2: s/chunks/2/" + damage.fault), std::string::npos)
        << merged.err;
    EXPECT_NE(merged.err.find("; its markers count as failed: remove s/chunks/2 and run the chunk again"),
              std::string::npos);
    const std::vector<std::string> rows = lines_of(read_file(work.path() / "s" / "results.tsv"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(fields_of(rows[1])[9], "analysed");
    EXPECT_EQ(fields_of(rows[2])[9], "failed");
    EXPECT_NE(fields_of(rows[2])[28].find(damage.fault), std::string::npos) << rows[2];
    write_file(chunk / "lod.out", lod);
    write_file(chunk / "est.out", estimates);
  }
  ASSERT_EQ(scan_command(work.path(), "merge s").status, 0);

  const std::string plan = read_file(work.path() / "s" / "plan.txt");
  EXPECT_NE(plan.find("\nfile markers.tsv "), std::string::npos) << plan;
  EXPECT_NE(plan.find("\nfile genotypes.bin "), std::string::npos) << plan;
  std::string genotypes = read_file(work.path() / "s" / "genotypes.bin");
  genotypes[0] = static_cast<char>(genotypes[0] ^ 1);
  write_file(work.path() / "s" / "genotypes.bin", genotypes);
  const std::string changed = "s/genotypes.bin: checksum ";
  const RunResult merged = scan_command(work.path(), "merge s");
  EXPECT_EQ(merged.status, 2);
  EXPECT_NE(merged.err.find(changed), std::string::npos) << merged.err;
  EXPECT_NE(merged.err.find("the file changed after prepare"), std::string::npos) << merged.err;
  fs::remove_all(chunk);
  const RunResult task = scan_command(work.path(), "task --fixed s 2");
  EXPECT_EQ(task.status, 2);
  EXPECT_NE(task.err.find(changed), std::string::npos) << task.err;
  write_file(work.path() / "s" / "markers.tsv", read_file(work.path() / "s" / "markers.tsv") + "\n");
  EXPECT_NE(scan_command(work.path(), "merge s").err.find("markers.tsv: "), std::string::npos);
}

}  // namespace
