#include "scan/commands.hpp"

#include <iostream>

#include "scan/layout.hpp"
#include "scan/plan.hpp"
#include "scan/prepare.hpp"
#include "scan/slurm.hpp"
#include "scan/status.hpp"
#include "scan/task.hpp"
#include "tools/pedfile/command_line.hpp"
#include "tools/pedfile/input_error.hpp"

namespace bravik::scan {
namespace {

// The markers of a pedigree file, in its order.
class PedigreeFileMarkers final : public genotypes::GenotypeSource {
 public:
  explicit PedigreeFileMarkers(const tools::PedigreeFile& file) : file_(file) {}
  bool next(genotypes::MarkerInfo& info, std::span<std::uint8_t> codes) override {
    if (next_ >= file_.markers) return false;
    info = genotypes::MarkerInfo{};
    info.id = std::to_string(next_ + 1);
    for (std::size_t row = 0; row < file_.rows.size(); ++row) codes[row] = file_.code(row, next_);
    ++next_;
    return true;
  }

 private:
  const tools::PedigreeFile& file_;
  int next_ = 0;
};

void add_peeling_options(tools::CommandLine& cl, tools::PeelingOptions& peeling) {
  cl.option("--root", "first|last|random", "nuclear family peeled last in each connected part (default first)",
            [&peeling](std::string_view v) {
              if (v == "first") peeling.root = tools::RootChoice::first;
              else if (v == "last") peeling.root = tools::RootChoice::last;
              else if (v == "random") peeling.root = tools::RootChoice::random;
              else throw tools::InputError("'" + std::string(v) + "' is not first, last or random");
            });
  cl.option("--seed", "N", "seed of --root random (default 1)", [&peeling](std::string_view v) {
    peeling.seed = static_cast<std::uint64_t>(tools::parse_int(v, "seed", 0, 2'000'000'000));
  });
}

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

}  // namespace

void add_mode_options(tools::CommandLine& cl, AnalysisMode& mode) {
  cl.option("--classic", "", "the maximizing program in its classic mode (default: its robust mode)",
            [&mode](std::string_view) { mode = AnalysisMode::classic; });
  cl.option("--fixed", "", "evaluate at the values of par.inp (bravik_2point) instead of maximizing",
            [&mode](std::string_view) { mode = AnalysisMode::fixed; });
}

int chunk_number(const std::string& text) { return tools::parse_int(text, "chunk number", 1, 2'000'000'000); }

int prepare_command(const std::vector<std::string>& args) {
  PrepareSettings settings;
  std::string pedigree;
  tools::CommandLine cl("bravik_scan prepare", "[options] OUT",
                        "Reads the pedigree and the genotypes, checks them once, and writes the scan folder OUT:\n"
                        "the shared inputs, the table of selected markers, a compact copy of their genotypes and\n"
                        "the plan of chunks.");
  cl.option("--pedigree", "FILE", "pedigree file with the persons, their trait and their markers",
            [&](std::string_view v) { pedigree = v; });
  cl.option("--par", "FILE", "par.inp of every chunk (default: starting values from the measured traits)",
            [&](std::string_view v) { settings.par = v; });
  cl.option("--maxpar", "FILE", "maxpar.inp of every chunk (default: the preparation tool's)",
            [&](std::string_view v) { settings.maxpar = v; });
  cl.option("--chunk-size", "N", "markers per chunk, 1 to 500 (default 500)", [&](std::string_view v) {
    settings.chunk_size = tools::parse_int(v, "chunk size", 1, max_chunk_size);
  });
  add_peeling_options(cl, settings.peeling);
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 1, "the scan folder OUT")) return 0;
  if (pedigree.empty()) throw tools::InputError("no data: give --pedigree FILE\n" + cl.usage());
  const tools::PedigreeFile file = tools::read_pedigree_file(pedigree);
  PedigreeFileMarkers source(file);
  std::cout << prepare_scan(file, source, settings, positional[0]);
  return 0;
}

int task_command(const std::vector<std::string>& args) {
  TaskOptions options;
  tools::CommandLine cl("bravik_scan task", "[options] OUT K",
                        "Runs chunk K of the scan folder OUT in a scratch folder and moves its results into OUT\n"
                        "when its program ended with status 0; records the failure otherwise. SLURM_CPUS_PER_TASK,\n"
                        "when set, gives the program's threads (BRAVIK_THREADS).");
  add_mode_options(cl, options.mode);
  cl.option("--scratch", "DIR", "folder for the chunk's working files (default $TMPDIR, else /tmp)",
            [&](std::string_view v) { options.scratch = v; });
  std::vector<std::string> positional;
  if (!parse_arguments(cl, args, positional, 2, "the scan folder OUT and the chunk number K")) return 0;
  use_cluster_cores();
  const int k = chunk_number(positional[1]);
  const TaskOutcome outcome = run_task(ScanFolder{positional[0]}, k, options);
  if (outcome == TaskOutcome::already_done) std::cout << "chunk " << k << " is done already\n";
  if (outcome != TaskOutcome::failed) return 0;
  const ChunkFailure failure = read_failure(ScanFolder{positional[0]}, k);
  std::cerr << "bravik_scan: chunk " << k << " failed (" << failure.ending << "): " << failure.first_error_line << '\n';
  return exit_chunks_failed;
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

}  // namespace bravik::scan
