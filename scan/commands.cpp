#include "scan/commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "genotypes/pedigree_input.hpp"
#include "genotypes/sources.hpp"
#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "scan/genome_plot.hpp"
#include "scan/layout.hpp"
#include "scan/merge.hpp"
#include "scan/mode_options.hpp"
#include "scan/plan.hpp"
#include "scan/prepare.hpp"
#include "scan/process.hpp"
#include "scan/run.hpp"
#include "scan/significance.hpp"
#include "scan/slurm.hpp"
#include "scan/status.hpp"
#include "scan/task.hpp"

namespace bravik::scan {
namespace {

// Parses the command line; true when the command should go on (no --help).
bool parse_arguments(tools::CommandLine& cl, const std::vector<std::string>& args, std::vector<std::string>& positional,
                     std::size_t expected, const char* names) {
  positional = cl.parse(args);
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return false;
  }
  if (positional.size() != expected) throw tools::InputError(std::string("expected ") + names + "\n" + cl.usage());
  return true;
}

struct DataOptions {
  std::string bfile, vcf, fam, pedigree, map;
  genotypes::TraitOptions trait;
};

void add_data_options(tools::CommandLine& cl, DataOptions& d) {
  cl.option("--bfile", "PREFIX", "PLINK 1 binary files PREFIX.bed, .bim and .fam",
            [&d](std::string_view v) { d.bfile = v; });
  cl.option("--vcf", "FILE", "VCF or BCF file (plain or compressed); needs --fam or --pedigree",
            [&d](std::string_view v) { d.vcf = v; });
  cl.option("--fam", "FILE", "the pedigree and trait of --vcf as a PLINK .fam", [&d](std::string_view v) { d.fam = v; });
  cl.option("--pedigree", "FILE", "the project's pedigree file: the persons (and, without --vcf, the markers)",
            [&d](std::string_view v) { d.pedigree = v; });
  cl.option("--map", "FILE", "PLINK .map naming the markers of --pedigree (chromosome, id, cM, bp)",
            [&d](std::string_view v) { d.map = v; });
  cl.option("--pheno", "FILE", "take the trait from this table (header line; FID, IID, trait columns)",
            [&d](std::string_view v) { d.trait.pheno_path = v; });
  cl.option("--pheno-name", "NAME", "the column of --pheno that holds the trait",
            [&d](std::string_view v) { d.trait.pheno_name = v; });
  cl.option("--missing-phenotype", "VALUE", "trait value that means not measured (default -9)",
            [&d](std::string_view v) { d.trait.missing_value = tools::parse_real(v, "missing phenotype"); });
}

void add_selection_options(tools::CommandLine& cl, genotypes::MarkerFilter& f) {
  cl.option("--chr", "LIST", "analyse only these chromosomes (comma-separated)", [&f](std::string_view v) {
    for (std::size_t start = 0; start <= v.size();) {
      const std::size_t comma = std::min(v.find(',', start), v.size());
      f.chromosomes.emplace_back(v.substr(start, comma - start));
      start = comma + 1;
    }
  });
  cl.option("--from-bp", "N", "analyse only markers at or after this position",
            [&f](std::string_view v) { f.from_bp = tools::parse_int(v, "from-bp", 0, 2'000'000'000); });
  cl.option("--to-bp", "N", "analyse only markers at or before this position",
            [&f](std::string_view v) { f.to_bp = tools::parse_int(v, "to-bp", 0, 2'000'000'000); });
  cl.option("--extract", "FILE", "analyse only the marker ids listed (first word of each line)",
            [&f](std::string_view v) { f.extract_path = v; });
  cl.option("--exclude", "FILE", "leave out the marker ids listed", [&f](std::string_view v) { f.exclude_path = v; });
  cl.option("--maf", "X", "leave out markers whose minor allele frequency is below X",
            [&f](std::string_view v) { f.min_maf = tools::parse_real_in(v, "maf", 0.0, 0.5); });
  cl.option("--max-missing", "X", "leave out markers with a larger share of missing calls",
            [&f](std::string_view v) { f.max_missing = tools::parse_real_in(v, "max-missing", 0.0, 1.0); });
}

struct OpenedData {
  genotypes::LoadedPedigree persons;
  std::unique_ptr<genotypes::GenotypeSource> source;
};

OpenedData open_data(const DataOptions& d, const std::string& usage) {
  const int sources = !d.bfile.empty() + !d.vcf.empty() + (d.vcf.empty() && !d.pedigree.empty());
  if (sources != 1 || (!d.vcf.empty() && d.fam.empty() == d.pedigree.empty()))
    throw tools::InputError("give one source: --bfile PREFIX, --vcf FILE with --fam FILE or --pedigree FILE, or "
                            "--pedigree FILE with marker columns\n" + usage);
  OpenedData opened;
  if (!d.bfile.empty()) {
    opened.persons = genotypes::load_pedigree(d.bfile + ".fam", true, d.trait);
    opened.source = genotypes::open_bed(d.bfile, opened.persons.persons);
  } else if (!d.vcf.empty()) {
    opened.persons = genotypes::load_pedigree(d.fam.empty() ? d.pedigree : d.fam, !d.fam.empty(), d.trait);
    opened.source = genotypes::open_vcf(d.vcf, opened.persons.persons);
  } else {
    opened.persons = genotypes::load_pedigree(d.pedigree, false, d.trait);
    opened.source = genotypes::open_pedigree_file(d.pedigree, opened.persons.persons, d.map);
  }
  return opened;
}

}  // namespace

int chunk_number(const std::string& text) { return tools::parse_int(text, "chunk number", 1, 2'000'000'000); }

int prepare_command(const std::vector<std::string>& args) {
  PrepareSettings settings;
  DataOptions data;
  tools::CommandLine cl("bravik_scan prepare", "[options] OUT",
                        "Reads the pedigree and the genotypes, checks them once, and writes the scan folder OUT:\n"
                        "the shared inputs, the table of selected markers, a compact copy of their genotypes and\n"
                        "the plan of chunks. Data: --bfile PREFIX (its .fam gives the pedigree and the trait), or\n"
                        "--vcf FILE with --fam FILE or --pedigree FILE, or --pedigree FILE with marker columns.\n"
                        "A trait of -9 (--missing-phenotype), NA, x, . or -998 and below is not measured.");
  add_data_options(cl, data);
  add_selection_options(cl, settings.filter);
  cl.option("--par", "FILE", "par.inp of every chunk (default: starting values from the measured traits)",
            [&](std::string_view v) { settings.par = v; });
  cl.option("--maxpar", "FILE", "maxpar.inp of every chunk (default: the preparation tool's)",
            [&](std::string_view v) { settings.maxpar = v; });
  cl.option("--chunk-size", "N", "markers per chunk, 1 to 500 (default: four chunks per core, 25 to 500 markers)",
            [&](std::string_view v) {
    settings.chunk_size = tools::parse_int(v, "chunk size", 1, max_chunk_size);
  });
  tools::add_peeling_options(cl, settings.peeling);
  cl.option("--theta-grid", "LIST",
            "the robust mode's LOD over theta at these thetas (default " + std::string(textio::default_theta_grid) +
                "; none: off): results.tsv gains lod_t..., theta_hat, lod_max, the support interval and the HLOD",
            [&](std::string_view v) { settings.theta_grid = v; });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the scan folder OUT")) return 0;
  OpenedData opened = open_data(data, cl.usage());
  settings.input_checker = analysis_program(AnalysisMode::robust);
  const PrepareReport report = prepare_scan(opened.persons, *opened.source, settings, positional[0]);
  std::cout << report.summary;
  std::cerr << report.notes;
  return 0;
}

int task_command(const std::vector<std::string>& args) {
  TaskOptions options;
  tools::CommandLine cl("bravik_scan task", "[options] OUT K",
                        "Runs chunk K of the scan folder OUT in a scratch folder and moves its results into OUT\n"
                        "when its program ended with status 0; records the failure otherwise. A K beyond the plan's\n"
                        "chunks runs a chunk of a replicate scan (see simulate), in the mode given to simulate.\n"
                        "SLURM_CPUS_PER_TASK, when set, gives the program's threads (BRAVIK_THREADS).");
  add_mode_options(cl, options.mode);
  cl.option("--scratch", "DIR", "folder for the chunk's working files (default $TMPDIR, else /tmp)",
            [&](std::string_view v) { options.scratch = v; });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 2, "the scan folder OUT and the chunk number K")) return 0;
  use_cluster_cores();
  const int k = chunk_number(positional[1]);
  TaskOutcome outcome = TaskOutcome::failed;
  try {
    outcome = run_task(ScanFolder{positional[0]}, k, options);
  } catch (const TaskStopped& stopped) {
    std::cerr << "bravik_scan: chunk " << k << " stopped by signal " << stopped.signal
              << "; its scratch folder is removed and the chunk stays to do\n";
    StopSignals::end_as_stopped();
  }
  if (outcome == TaskOutcome::already_done) std::cout << "chunk " << k << " is done already\n";
  if (outcome == TaskOutcome::markers_failed) {
    std::cerr << "bravik_scan: " << failed_markers_summary(ScanFolder{positional[0]}, k) << '\n';
    return exit_chunks_failed;
  }
  if (outcome != TaskOutcome::failed) return 0;
  const ChunkFailure failure = read_failure(ScanFolder{positional[0]}, k);
  std::cerr << "bravik_scan: chunk " << k << " failed (" << failure.ending << "): " << failure.first_error_line << '\n';
  return exit_chunks_failed;
}

int run_command(const std::vector<std::string>& args) {
  RunOptions options;
  tools::CommandLine cl("bravik_scan run", "[options] OUT",
                        "Runs the pending and failed chunks of the scan folder OUT, N at a time, each as a task.\n"
                        "Stop it at any moment (even kill -9): finished chunks stay done, and the next run does the\n"
                        "rest. A second run on the same folder refuses while one is running. On a terminal, a\n"
                        "progress line shows chunks and markers done, markers per minute and the time left.");
  add_mode_options(cl, options.mode);
  cl.option("--jobs", "N", "chunks at once (default: one per core); each chunk's program then gets cores/N threads "
            "unless BRAVIK_THREADS is set",
            [&](std::string_view v) { options.jobs = tools::parse_int(v, "jobs", 1, 4096); });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the scan folder OUT")) return 0;
  options.progress = isatty(STDERR_FILENO) != 0;
  const ScanFolder folder{positional[0]};
  const int failed = run_scan(folder, options);
  const Plan plan = read_plan(folder.plan().string());
  std::cout << status_text(folder, plan);
  return failed > 0 || !count_chunks(folder, plan).failed_markers.empty() ? exit_chunks_failed : 0;
}

int status_command(const std::vector<std::string>& args) {
  tools::CommandLine cl("bravik_scan status", "OUT", "Shows the done, failed and pending chunks of the scan folder OUT.");
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the scan folder OUT")) return 0;
  const ScanFolder folder{positional[0]};
  const Plan plan = read_plan(folder.plan().string());
  std::cout << status_text(folder, plan) << submission_status_text(folder, plan);
  return 0;
}

int posteriors_command(const std::vector<std::string>& args) {
  TaskOptions options;
  std::string marker_id;
  tools::CommandLine cl("bravik_scan posteriors", "[options] OUT",
                        "Writes OUT/posteriors.tsv: for every person (fid iid as given), at the null maximum of the\n"
                        "robust mode, the posterior probabilities of the major-gene genotypes 11, 12, 22 and the\n"
                        "posterior mean polygenic effect (fid iid p11 p12 p22 polygenic_mean measured).");
  cl.option("--marker", "ID", "at this marker's alternative maximum instead (the marker's information added); the\n"
            "file is then OUT/posteriors_ID.tsv",
            [&](std::string_view v) { marker_id = v; });
  cl.option("--scratch", "DIR", "folder for the working files (default $TMPDIR, else /tmp)",
            [&](std::string_view v) { options.scratch = v; });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the scan folder OUT")) return 0;
  const ScanFolder folder{positional[0]};
  long marker = 1;
  if (!marker_id.empty()) {
    const std::vector<MarkerRow> markers = read_marker_table(folder.markers().string());
    const auto found = std::find_if(markers.begin(), markers.end(), [&](const MarkerRow& m) { return m.id == marker_id; });
    if (found == markers.end()) throw tools::InputError(folder.markers().string() + ": no marker " + marker_id);
    marker = static_cast<long>(found - markers.begin()) + 1;
  }
  const fs::path to = folder.posteriors(marker_id);
  write_posteriors(folder, marker, !marker_id.empty(), to, options);
  std::cout << "bravik_scan posteriors: " << to.string() << '\n';
  return 0;
}

int merge_command(const std::vector<std::string>& args) {
  tools::CommandLine cl("bravik_scan merge", "FOLDER",
                        "Writes FOLDER/results.tsv (one row per marker, tab-separated, NA for a missing value) and\n"
                        "FOLDER/results.svg (the genome-wide plot). FOLDER is a scan folder, or a run folder of\n"
                        "bravik_prep after its program has run (markers then named by their number).");
  std::string plotted = "lod";
  cl.option("--plot", "COLUMN", "the column results.svg draws: lod (default), lod_max or hlod (with a theta grid)",
            [&](std::string_view v) { plotted = v; });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the FOLDER")) return 0;
  const fs::path folder = positional[0];
  if (!fs::is_directory(folder)) throw tools::InputError(folder.string() + ": no such folder");
  const bool scan = fs::exists(ScanFolder{folder}.plan());
  const MergedResults merged = scan ? scan_results(folder) : run_folder_results(folder);
  const std::vector<ResultRow>& rows = merged.rows;
  // The column drawn is checked before anything is written.
  const bool lod_plotted = plotted == "lod";
  const std::vector<ResultRow> other_column = lod_plotted ? std::vector<ResultRow>{} : rows_plotting(merged, plotted);
  for (const DamagedChunk& damaged : merged.damaged_chunks)
    std::cerr << "bravik_scan merge: " << damaged.reason << "; its markers count as failed: remove "
              << ScanFolder{folder}.chunk(damaged.number).string() << " and run the chunk again\n";
  const ScanFolder out{folder};
  const SignificanceOutput significance =
      scan ? write_significance(out, rows, results_table_text(rows, merged.extra_columns))
           : SignificanceOutput{results_table_text(rows, merged.extra_columns), "", {}, 0};
  write_file_atomically(out.results_table(), significance.table);
  // The replicates' thresholds are of the LOD at the configured theta.
  write_file_atomically(out.results_plot(),
                        render_genome_svg(lod_plotted ? rows : other_column,
                                          (lod_plotted ? "LOD scores" : plotted) + ": " + folder.filename().string(),
                                          lod_plotted ? significance.levels : std::vector<double>{}));
  long unfinished = 0;
  for (const ResultRow& r : rows) unfinished += r.status == "failed" || r.status == "pending";
  std::cout << "bravik_scan merge: " << rows.size() << " markers written to " << out.results_table().string() << " and "
            << out.results_plot().string() << '\n' << significance.text;
  if (unfinished > 0)
    std::cerr << "bravik_scan merge: " << unfinished
              << " markers have status failed or pending (the column reason of " << out.results_table().string()
              << " says why; bravik_scan status lists them)\n";
  if (significance.incomplete > 0)
    std::cerr << "bravik_scan merge: " << significance.incomplete << " replicates have chunks not done and are left out\n";
  return unfinished > 0 || significance.incomplete > 0 ? exit_chunks_failed : 0;
}

}  // namespace bravik::scan
