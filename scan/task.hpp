#pragma once
// One chunk of a scan, from its inputs to its results in the scan folder: the
// unit that `run` starts for each chunk and a cluster array task runs alone.
#include <filesystem>
#include <string>

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
// In the robust mode the program also writes the standard errors (se.tsv) and,
// with a theta grid in the scan's inputs, the LOD over theta (lod_theta.tsv).
std::vector<std::string> analysis_arguments(AnalysisMode mode, const ScanFolder& folder);


// Writes chunk k's run folder into `dir` (which exists): the shared inputs,
// the marker file of its markers with every Mendelian inconsistency set
// untyped in its nuclear family, and mendel.tsv (per marker of the chunk: the
// nuclear families set untyped and the persons typed after).
void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const std::filesystem::path& dir);

// Sets BRAVIK_THREADS from SLURM_CPUS_PER_TASK when the scheduler gave one.
void use_cluster_cores();

enum class TaskOutcome { done, already_done, failed };

// Runs chunk k unless it is done. On status 0 its results are moved into the
// scan folder in one rename and any earlier failure record is removed; on
// failure (set-up, start or program) the failure is recorded.
TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options);

// Who carries the major gene: runs the maximizing program in its robust mode
// on marker `marker` of the scan alone, in a scratch folder, and copies the
// posterior table it writes (at the null maximum, or with `at_alternative` at
// the marker's alternative maximum) to `to`. Throws InputError when the
// program fails or leaves no table (a marker it skips).
void write_posteriors(const ScanFolder& folder, long marker, bool at_alternative, const std::filesystem::path& to,
                      const TaskOptions& options);

}  // namespace bravik::scan
