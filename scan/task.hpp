#pragma once
// One chunk of a scan, from its inputs to its results in the scan folder: the
// unit that `run` starts for each chunk and a cluster array task runs alone.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"
#include "scan/layout.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

// robust: the maximizing program in its robust mode; classic: the same
// program without it; fixed: the program that evaluates at par.inp's values.
enum class AnalysisMode { robust, classic, fixed };

struct TaskOptions {
  AnalysisMode mode = AnalysisMode::robust;
  std::filesystem::path scratch;  // empty: $TMPDIR, else /tmp
};

// The program and its arguments for a mode, from the folder of the scan's own executable.
std::filesystem::path analysis_program(AnalysisMode mode);
std::vector<std::string> analysis_arguments(AnalysisMode mode);

// Replaces the chunk's codes after the Mendelian check (a replicate's
// genotypes); `order` gives the file row of each person in pedigree order.
using CodeReplacement =
    std::function<void(tools::PedigreeFile& file, const tools::PreparedPedigree& ped, const std::vector<std::size_t>& order)>;

// Writes chunk k's run folder into `dir` (which exists): the shared inputs,
// the marker file of its markers with every Mendelian inconsistency set
// untyped in its nuclear family (then replaced when `replace` is given), and
// mendel.tsv (per marker of the chunk: the nuclear families set untyped and
// the persons typed after).
void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const std::filesystem::path& dir,
                  const CodeReplacement& replace = {});

// Sets BRAVIK_THREADS from SLURM_CPUS_PER_TASK when the scheduler gave one.
void use_cluster_cores();

enum class TaskOutcome { done, already_done, failed };

// Runs task k (a chunk of the data or of a replicate) unless it is done. On status 0 its results are moved into the
// scan folder in one rename and any earlier failure record is removed; on
// failure (set-up, start or program) the failure is recorded.
TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options);

}  // namespace bravik::scan
